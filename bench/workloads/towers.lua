-- Towers of Hanoi: 14 disks are stacked on the first pile, then the top 13 are moved to
-- the second, 8191 moves. Each pile is a linked list of disk records; the records are
-- parallel arrays: disk d has the size size[d] and the disk below it below[d] (0: none),
-- and piles[p] is the top disk of pile p (p = 1, 2, 3). state[1] counts the moves and
-- state[2] the disk records made.

local function pushDisk(piles, size, below, disk, pile)
  local top = piles[pile]
  if top ~= 0 then
    if size[disk] >= size[top] then
      print("cannot put a big disk onto a smaller one")
      os.exit(1)
    end
  end
  below[disk] = top
  piles[pile] = disk
end

local function popDiskFrom(piles, below, pile)
  local top = piles[pile]
  if top == 0 then
    print("cannot take a disk from an empty pile")
    os.exit(1)
  end
  piles[pile] = below[top]
  below[top] = 0
  return top
end

local function moveTopDisk(piles, size, below, state, from, to)
  pushDisk(piles, size, below, popDiskFrom(piles, below, from), to)
  state[1] = state[1] + 1
end

local function buildTowerAt(piles, size, below, state, pile, disks)
  local i = disks
  while i >= 0 do
    local disk = state[2] + 1
    state[2] = disk
    size[disk] = i
    below[disk] = 0
    pushDisk(piles, size, below, disk, pile)
    i = i - 1
  end
end

local function moveDisks(piles, size, below, state, disks, from, to)
  if disks == 1 then
    moveTopDisk(piles, size, below, state, from, to)
  else
    local other = 6 - from - to
    moveDisks(piles, size, below, state, disks - 1, from, other)
    moveTopDisk(piles, size, below, state, from, to)
    moveDisks(piles, size, below, state, disks - 1, other, to)
  end
end

local function benchmark()
  local piles, size, below, state = {0, 0, 0}, {}, {}, {0, 0}
  buildTowerAt(piles, size, below, state, 1, 13)
  moveDisks(piles, size, below, state, 13, 1, 2)
  return state[1]
end

-- Runs the benchmark n times; prints its result, or "wrong" and the result when a run
-- does not give 8191.
local n = math.tointeger(tonumber(arg[1]))
local result, verified = 0, true
local i = 0
while i < n do
  result = benchmark()
  if result ~= 8191 then verified = false end
  i = i + 1
end
print(verified and result or "wrong " .. result)
