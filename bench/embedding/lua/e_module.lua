-- Asks for a module, which this host does not allow.
local net = require("net")
return net.fetch("example")
