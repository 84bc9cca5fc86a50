-- String building and string functions on short words; the line is emptied every 60 bytes.
local n = math.tointeger(tonumber(arg[1]))
local letters = "abcdefghijklmnopqrstuvwxyz"
local i, total, chars, line = 0, 0, 0, ""
while i < n do
  local k = i % 26
  local w = string.sub(letters, k + 1, k + 3) .. "-" .. i % 100
  local u = string.upper(w)
  total = total + string.find(u, "-", 1, true) + #w
  line = line .. string.sub(u, 1, 2)
  if #line >= 60 then
    chars = chars + #line
    total = total + (string.find(line, "XY", 1, true) or 0)
    line = ""
  end
  i = i + 1
end
print(total .. " " .. chars .. " <" .. line .. ">")
