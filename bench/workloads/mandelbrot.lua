-- Mandelbrot: the set on an n by n grid over [-1.5, 0.5] x [-1, 1], at most 50 steps per
-- point, with each row's points packed eight to a byte as the bitmap format does; the
-- result is the exclusive or of all the bytes (50 for n = 750, 191 for n = 500).
local function mandelbrot(size)
  local sum, byteAcc, bitNum = 0, 0, 0
  local y = 0
  while y < size do
    local ci = (2.0 * y / size) - 1.0
    local x = 0
    while x < size do
      local zrzr, zi, zizi = 0.0, 0.0, 0.0
      local cr = (2.0 * x / size) - 1.5
      local z = 0
      local notDone = true
      local escape = 0
      while notDone and z < 50 do
        local zr = zrzr - zizi + cr
        zi = 2.0 * zr * zi + ci
        zrzr = zr * zr
        zizi = zi * zi
        if zrzr + zizi > 4.0 then
          notDone = false
          escape = 1
        end
        z = z + 1
      end
      byteAcc = (byteAcc << 1) + escape
      bitNum = bitNum + 1
      if bitNum == 8 then
        sum = sum ~ byteAcc
        byteAcc = 0
        bitNum = 0
      elseif x == size - 1 then
        byteAcc = byteAcc << (8 - bitNum)
        sum = sum ~ byteAcc
        byteAcc = 0
        bitNum = 0
      end
      x = x + 1
    end
    y = y + 1
  end
  return sum
end

print(mandelbrot(math.tointeger(tonumber(arg[1]))))
