-- Functions that a host calls by name.
function area(width, height) return width * height end

function label(name, count) return count .. " x " .. name end

function squares(n)
  local result = {}
  for i = 1, n do result[i] = i * i end
  return result
end
