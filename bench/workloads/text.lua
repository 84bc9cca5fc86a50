-- Text building: appends n lines of about 10 bytes to one string, the naive way, then
-- prints its length and a checksum of 64 lines sampled evenly through it.
local n = math.tointeger(tonumber(arg[1]))
local s = ""
local i = 0
while i < n do
  local line = "item" .. i .. "."
  s = s .. line .. "\n"
  i = i + 1
end
local samples = 64
local step = #s // samples
local checksum = 0
local j = 0
while j < samples do
  local p = string.find(s, "item", j * step + 1, true) or 0
  local number = 0
  if p > 0 then
    number = math.tointeger(tonumber(string.sub(s, p + 4, string.find(s, ".", p, true) - 1)))
  end
  checksum = (checksum * 31 + p + number) % 1000003
  j = j + 1
end
print(#s .. " " .. checksum)
