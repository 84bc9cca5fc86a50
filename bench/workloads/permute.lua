-- Permutations: visits every arrangement of six elements by recursive swaps, counting
-- the calls of permute (8660 per run of the benchmark). state[1] is the count.

local function swap(v, i, j)
  local tmp = v[i]
  v[i] = v[j]
  v[j] = tmp
end

local function permute(v, state, n)
  state[1] = state[1] + 1
  if n ~= 0 then
    local n1 = n - 1
    permute(v, state, n1)
    local i = n1
    while i >= 0 do
      swap(v, n1, i)
      permute(v, state, n1)
      swap(v, n1, i)
      i = i - 1
    end
  end
end

local function benchmark()
  local v, state = {}, {0}
  local i = 0
  while i < 6 do
    v[i] = 0
    i = i + 1
  end
  permute(v, state, 6)
  return state[1]
end

-- Runs the benchmark n times; prints its result, or "wrong" and the result when a run
-- does not give 8660.
local n = math.tointeger(tonumber(arg[1]))
local result, verified = 0, true
local i = 0
while i < n do
  result = benchmark()
  if result ~= 8660 then verified = false end
  i = i + 1
end
print(verified and result or "wrong " .. result)
