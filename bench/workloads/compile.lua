-- Writes a large Lua chunk to be compiled: the same n functions, groups and main as the
-- other two languages' generators.
local n = math.tointeger(tonumber(arg[1]))
local out = {}
local function put(text) out[#out + 1] = text end
for k = 0, n - 1 do
  put("function f" .. k .. "(a, b)\n")
  put("  local x = a * " .. (k % 13 + 1) .. " + b\n")
  put("  if x % 3 == 0 then x = x + " .. (k % 17) .. " else x = x - 1 end\n")
  put("  local y = 0\n")
  put("  while y < 3 do y = y + 1; x = x + y * " .. (k % 5) .. " end\n")
  put("  local m = x % 4\n")
  put("  if m == 0 then x = x + 2\n")
  put("  elseif m == 1 then x = x * 2\n")
  put("  else x = x + 1 end\n")
  put("  local s = \"f\" .. " .. k .. "\n")
  put("  return x % 1000 + #s\n")
  put("end\n")
end
local g = 0
while g * 100 < n do
  put("function g" .. g .. "()\n")
  put("  local t = 0\n")
  local k = g * 100
  while k < n and k < g * 100 + 100 do
    put("  t = t + f" .. k .. "(" .. (k % 7 + 1) .. ", " .. (k % 11) .. ")\n")
    k = k + 1
  end
  put("  return t\n")
  put("end\n")
  g = g + 1
end
put("local total = 0\n")
g = 0
while g * 100 < n do
  put("total = total + g" .. g .. "()\n")
  g = g + 1
end
put("print(total)\n")
io.write(table.concat(out))
