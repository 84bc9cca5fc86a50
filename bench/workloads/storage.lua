-- Storage: builds a tree of arrays seven levels deep, each inner node four arrays and
-- each leaf an array of 1 to 10 elements at random, and counts the arrays (5461). The
-- random numbers come from a linear congruential generator whose seed is random[1];
-- count[1] is the count.

local function nextRandom(random)
  local seed = (random[1] * 1309 + 13849) & 65535
  random[1] = seed
  return seed
end

local function buildTreeDepth(depth, random, count)
  count[1] = count[1] + 1
  local node = {}
  if depth == 1 then
    local length = nextRandom(random) % 10 + 1
    local i = 1
    while i <= length do
      node[i] = 0
      i = i + 1
    end
  else
    local i = 1
    while i <= 4 do
      node[i] = buildTreeDepth(depth - 1, random, count)
      i = i + 1
    end
  end
  return node
end

local function benchmark()
  local random, count = {74755}, {0}
  buildTreeDepth(7, random, count)
  return count[1]
end

-- Runs the benchmark n times; prints its result, or "wrong" and the result when a run
-- does not give 5461.
local n = math.tointeger(tonumber(arg[1]))
local result, verified = 0, true
local i = 0
while i < n do
  result = benchmark()
  if result ~= 5461 then verified = false end
  i = i + 1
end
print(verified and result or "wrong " .. result)
