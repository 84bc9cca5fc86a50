-- Real arithmetic in a loop: a series for pi and a damped recurrence.
local n = math.tointeger(tonumber(arg[1]))
local i, sum, sign, x = 0, 0.0, 1.0, 0.5
while i < n do
  sum = sum + sign / (2 * i + 1)
  sign = -sign
  x = x * 1.0000001 + 0.25 / (x + 1.0)
  i = i + 1
end
print(string.format("%.6f %.6f", sum * 4.0, x))
