-- A counting loop of n passes with integer arithmetic.
local n = math.tointeger(tonumber(arg[1]))
local i, s = 0, 0
while i < n do
  s = (s + i * 3 + (i & 7) + i % 11) % 1000003
  i = i + 1
end
print(s)
