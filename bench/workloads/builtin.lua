-- Calls of a library function from a loop: two calls of math.abs per pass.
local n = math.tointeger(tonumber(arg[1]))
local i, s = 0, 0
while i < n do
  s = (s + math.abs(i % 1000 - 500) + math.abs(250 - i % 501)) % 1000003
  i = i + 1
end
print(s)
