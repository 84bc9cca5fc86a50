-- Matching over many short texts. Lua has no wildcard matcher: the wildcard *e*=* is
-- written as the anchored pattern it stands for.
local n = math.tointeger(tonumber(arg[1]))
local letters = "abcdefghijklmnopqrstuvwxyz"
local i, hits, sum = 0, 0, 0
while i < n do
  local k = i % 26
  local s = string.sub(letters, k + 1, k + 3) .. "=" .. i % 1000
  if string.find(s, "^.-e.-=.-$") then hits = hits + 1 end
  local name, num = string.match(s, "^(%l+)=(%d+)$")
  if name then sum = (sum + math.tointeger(tonumber(num)) + #name) % 1000003 end
  i = i + 1
end
print(hits .. " " .. sum)
