-- Recursive calls: the naive Fibonacci recursion.
local function fib(k)
  if k < 2 then return k end
  return fib(k - 1) + fib(k - 2)
end

local n = math.tointeger(tonumber(arg[1]))
print(fib(n))
