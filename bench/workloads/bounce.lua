-- Bouncing balls: 100 balls at random places with random speeds move 50 steps in a box
-- of 500 by 500, and the benchmark counts their bounces off the walls (1331). The balls
-- are parallel arrays x, y, xVel, yVel indexed by ball. The random numbers come from a
-- linear congruential generator whose seed is random[1].

local abs = math.abs

local function nextRandom(random)
  local seed = (random[1] * 1309 + 13849) & 65535
  random[1] = seed
  return seed
end

local function bounce(x, y, xVel, yVel, b)
  local xLimit, yLimit = 500, 500
  local bounced = false
  x[b] = x[b] + xVel[b]
  y[b] = y[b] + yVel[b]
  if x[b] > xLimit then
    x[b] = xLimit
    xVel[b] = 0 - abs(xVel[b])
    bounced = true
  end
  if x[b] < 0 then
    x[b] = 0
    xVel[b] = abs(xVel[b])
    bounced = true
  end
  if y[b] > yLimit then
    y[b] = yLimit
    yVel[b] = 0 - abs(yVel[b])
    bounced = true
  end
  if y[b] < 0 then
    y[b] = 0
    yVel[b] = abs(yVel[b])
    bounced = true
  end
  return bounced
end

local function benchmark()
  local random, x, y, xVel, yVel = {74755}, {}, {}, {}, {}
  local ballCount = 100
  local b = 1
  while b <= ballCount do
    x[b] = nextRandom(random) % 500
    y[b] = nextRandom(random) % 500
    xVel[b] = nextRandom(random) % 300 - 150
    yVel[b] = nextRandom(random) % 300 - 150
    b = b + 1
  end
  local bounces = 0
  local i = 0
  while i < 50 do
    b = 1
    while b <= ballCount do
      if bounce(x, y, xVel, yVel, b) then bounces = bounces + 1 end
      b = b + 1
    end
    i = i + 1
  end
  return bounces
end

-- Runs the benchmark n times; prints its result, or "wrong" and the result when a run
-- does not give 1331.
local n = math.tointeger(tonumber(arg[1]))
local result, verified = 0, true
local i = 0
while i < n do
  result = benchmark()
  if result ~= 1331 then verified = false end
  i = i + 1
end
print(verified and result or "wrong " .. result)
