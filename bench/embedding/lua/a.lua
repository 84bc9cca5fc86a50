-- Greets its first argument and returns the length of the greeting.
local name = ...
local greeting = "Hello, " .. name .. "!"
print(greeting)
return #greeting
