-- Moves money between two accounts of the host's class ACCOUNT.
local function transfer(from, to, amount)
  from.balance = from.balance - amount
  to.balance = to.balance + amount
end

local a = account("ann", 100)
local b = account("bob", 20)
transfer(a, b, 30)
print(a.owner .. ": " .. a.balance .. ", " .. b.owner .. ": " .. b.balance)
a.owner = "eve" -- owner cannot be written: an error
