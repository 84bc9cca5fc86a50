-- Never ends: the step budget stops it inside wait().
local function wait(n)
  while n > 0 do n = n + 1 end
end

local function poll()
  wait(1)
end

poll()
