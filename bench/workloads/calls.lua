-- Calls with several parameters and locals: each pass of the loop calls a function of
-- five parameters and four locals, which calls a function of three parameters and one
-- local. Every value stays below 2^31.
local function mix(a, b, c)
  local t = a * 31 + b
  return (t ~ c) & 65535
end

local function step(a, b, c, d, e)
  local s = a + b
  local p = c * 7 + d
  local q = mix(s, p, e)
  local r = (q + s + p) % 9973
  return r
end

local n = math.tointeger(tonumber(arg[1]))
local acc = 0
local i = 0
while i < n do
  acc = (acc + step(i & 1023, acc, i % 7, 3, i >> 3)) % 1000003
  i = i + 1
end
print(acc)
