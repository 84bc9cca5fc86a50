-- Eight queens, solved ten times per run of the benchmark by backtracking over columns.
-- Rows, columns and diagonals count from 1: rows[r] says row r is free, maxs[c + r] and
-- mins[c - r + 8] that the two diagonals through (r, c) are, and queenRows[r] is the
-- column of the queen in row r. The result is the columns of the last solution.

local function isFree(rows, maxs, mins, r, c)
  if not rows[r] then return false end
  if not maxs[c + r] then return false end
  return mins[c - r + 8]
end

local function setFree(rows, maxs, mins, r, c, v)
  rows[r] = v
  maxs[c + r] = v
  mins[c - r + 8] = v
end

local function placeQueen(rows, maxs, mins, queenRows, c)
  local r = 1
  while r <= 8 do
    if isFree(rows, maxs, mins, r, c) then
      queenRows[r] = c
      setFree(rows, maxs, mins, r, c, false)
      if c == 8 then return true end
      if placeQueen(rows, maxs, mins, queenRows, c + 1) then return true end
      setFree(rows, maxs, mins, r, c, true)
    end
    r = r + 1
  end
  return false
end

-- Places eight queens on an empty board; returns whether it did, and leaves their
-- columns in queenRows.
local function queens(queenRows)
  local rows, maxs, mins = {}, {}, {}
  local i = 1
  while i <= 16 do
    rows[i] = true
    maxs[i] = true
    mins[i] = true
    queenRows[i] = 0
    i = i + 1
  end
  return placeQueen(rows, maxs, mins, queenRows, 1)
end

local function benchmark(queenRows)
  local result = true
  local i = 0
  while i < 10 do
    if not queens(queenRows) then result = false end
    i = i + 1
  end
  return result
end

-- Runs the benchmark n times; prints the last solution's columns, or "wrong" before
-- them when a run found no solution.
local n = math.tointeger(tonumber(arg[1]))
local queenRows = {}
local i = 1
while i <= 16 do
  queenRows[i] = 0
  i = i + 1
end
local verified = true
i = 0
while i < n do
  if not benchmark(queenRows) then verified = false end
  i = i + 1
end
local line = ""
local r = 1
while r <= 8 do
  line = line .. queenRows[r]
  r = r + 1
end
print((verified and "queens " or "wrong ") .. line)
