-- Linked lists: three lists of 15, 10 and 6 elements and the recursive "tail" function
-- over them, which walks the lists many times; the result is the length of the list it
-- returns (10). The elements are parallel arrays: element e holds the value val[e] and
-- the next element next[e] (0: none); state[1] counts the elements made.

local function makeList(val, next, state, length)
  if length == 0 then return 0 end
  local e = state[1] + 1
  state[1] = e
  val[e] = length
  next[e] = makeList(val, next, state, length - 1)
  return e
end

local function listLength(next, e)
  if next[e] == 0 then return 1 end
  return 1 + listLength(next, next[e])
end

local function isShorterThan(next, x, y)
  local xTail, yTail = x, y
  while yTail ~= 0 do
    if xTail == 0 then return true end
    xTail = next[xTail]
    yTail = next[yTail]
  end
  return false
end

local function tail(next, x, y, z)
  if isShorterThan(next, y, x) then
    return tail(next, tail(next, next[x], y, z), tail(next, next[y], z, x),
                tail(next, next[z], x, y))
  end
  return z
end

local function benchmark()
  local val, next, state = {}, {}, {0}
  next[0] = 0
  local result = tail(next, makeList(val, next, state, 15), makeList(val, next, state, 10),
                      makeList(val, next, state, 6))
  return listLength(next, result)
end

-- Runs the benchmark n times; prints its result, or "wrong" and the result when a run
-- does not give 10.
local n = math.tointeger(tonumber(arg[1]))
local result, verified = 0, true
local i = 0
while i < n do
  result = benchmark()
  if result ~= 10 then verified = false end
  i = i + 1
end
print(verified and result or "wrong " .. result)
