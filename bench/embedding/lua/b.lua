-- Uses the host's functions mean(a, b) and words(text).
print("mean: " .. mean(3, 4))
for i, word in ipairs(words("the quick  brown fox")) do
  print(i .. ": " .. word)
end
