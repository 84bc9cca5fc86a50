-- Array fill and sum: n elements under 1..n, summed in order, then read back in reverse.
local n = math.tointeger(tonumber(arg[1]))
local a = {}
local i = 1
while i <= n do
  a[i] = i * 2 + 1
  i = i + 1
end
local s = 0
i = 1
while i <= n do
  s = (s + a[i]) % 1000000007
  i = i + 1
end
local w = 0
i = n
while i >= 1 do
  w = (w * 31 + a[i] % 1000) % 1000003
  i = i - 1
end
print(s .. " " .. w)
