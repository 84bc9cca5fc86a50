-- A dispatch loop over eight cases, as an if/elseif chain (case 6 falls into case 7).
local n = math.tointeger(tonumber(arg[1]))
local i, acc = 0, 0
while i < n do
  local k = i % 8
  if k == 0 then acc = acc + 1
  elseif k == 1 then acc = acc + 3
  elseif k == 2 then acc = acc * 2 % 1000003
  elseif k == 3 then acc = acc + 11
  elseif k == 4 then acc = acc + i % 13
  elseif k == 5 then acc = acc ~ 5
  elseif k == 6 then acc = (acc + 7) % 1000003
  elseif k == 7 then acc = acc % 1000003
  end
  i = i + 1
end
print(acc)
