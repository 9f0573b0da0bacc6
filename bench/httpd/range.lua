-- 64 KiB ranges at random offsets of the 1 GiB file. A headers table given to
-- wrk.format replaces the command line's -H headers, so they are copied in:
-- without them nginx kept its connections open while ours closed after each.
local size = 1024 * 1024 * 1024
local chunk = 64 * 1024
math.randomseed(42)
request = function()
  local start = math.random(0, size / chunk - 1) * chunk
  local headers = {}
  for name, value in pairs(wrk.headers) do headers[name] = value end
  headers["Range"] = "bytes=" .. start .. "-" .. (start + chunk - 1)
  return wrk.format("GET", wrk.path, headers)
end
