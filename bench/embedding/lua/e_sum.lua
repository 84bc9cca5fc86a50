-- Stays well inside the budgets.
local sum = 0
for i = 1, 100 do sum = sum + i end
print("sum: " .. sum)
