-- 64 KiB ranges at random offsets of the 1 GiB file.
local size = 1024 * 1024 * 1024
local chunk = 64 * 1024
math.randomseed(42)
request = function()
  local start = math.random(0, size / chunk - 1) * chunk
  return wrk.format("GET", wrk.path, { ["Range"] = "bytes=" .. start .. "-" .. (start + chunk - 1) })
end
