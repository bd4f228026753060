-- A user script for the command line: gadrel -run_script examples/sample_cmdline.lua
-- No window and no adapter. print() goes to the output pane of the window,
-- so without one this script writes to standard output with io.write.
local out = io.write

out("Gadrel command-line script\n")
out("  host:      ", SCRIPT_APP_HOST, "\n")
out("  directory: ", SCRIPT_DIRECTORY, "\n")

-- 32-bit register arithmetic with ext's bit operations.
local moder = 0x5A5A0F0F
out("  MODER:     0x", ext.tohex(moder, -8), "\n")
local names = {[0] = "input", "output", "alternate", "analog"}
for pin = 0, 7 do
  local mode = ext.band(ext.rshift(moder, pin * 2), 3)
  out(string.format("  pin %d:     %s\n", pin, names[mode]))
end
out("done\n")
