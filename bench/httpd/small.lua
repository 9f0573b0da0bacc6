-- Round robin over the 100 small files.
local i = 0
request = function()
  i = i % 100 + 1
  return wrk.format("GET", wrk.path .. "f" .. i .. ".bin")
end
