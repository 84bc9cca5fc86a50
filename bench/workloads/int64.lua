-- 64-bit integers: a multiplicative generator whose products pass 2^31 (x * 48271 with
-- x below 2^31), a sum of its values that passes 2^31 after a few steps, and a hash of
-- them modulo a prime near 10^15; every value stays below 2^63, so no engine wraps.
local n = math.tointeger(tonumber(arg[1]))
local x, sum, h = 1, 0, 0
local i = 0
while i < n do
  x = x * 48271 % 2147483647
  sum = sum + x
  h = (h * 31 + (x ~ (sum >> 7))) % 1000000000000037
  i = i + 1
end
print(sum .. " " .. h)
