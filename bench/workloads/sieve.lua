-- The sieve of Eratosthenes over 5000 flags, once per run of the benchmark: counts the
-- primes up to 5000 (669). flags[k] says k may still be prime.

local function sieve(flags, size)
  local primeCount = 0
  local i = 2
  while i <= size do
    if flags[i] then
      primeCount = primeCount + 1
      local k = i + i
      while k <= size do
        flags[k] = false
        k = k + i
      end
    end
    i = i + 1
  end
  return primeCount
end

local function benchmark()
  local flags = {}
  local i = 1
  while i <= 5000 do
    flags[i] = true
    i = i + 1
  end
  return sieve(flags, 5000)
end

-- Runs the benchmark n times; prints its result, or "wrong" and the result when a run
-- does not give 669.
local n = math.tointeger(tonumber(arg[1]))
local result, verified = 0, true
local i = 0
while i < n do
  result = benchmark()
  if result ~= 669 then verified = false end
  i = i + 1
end
print(verified and result or "wrong " .. result)
