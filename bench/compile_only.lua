-- Compiles a Lua file without running it: the Lua side of the compile benchmark.
local file = assert(io.open(arg[1], "rb"))
local text = file:read("a")
file:close()
assert(load(text, "=" .. arg[1]))
