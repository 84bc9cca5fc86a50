-- Doubles a string until the memory budget refuses it.
local s = "0123456789"
while true do
  s = s .. s
end
