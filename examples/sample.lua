-- A user script for the window: File > Run script... (Ctrl+R) runs it beside
-- the pin view, and print() writes to the output pane on the right. (On the
-- command line there is no pane: see sample_cmdline.lua.)

print("Gadrel user script")
print("  host:      " .. tostring(SCRIPT_APP_HOST))
print("  directory: " .. tostring(SCRIPT_DIRECTORY))

-- 32-bit register arithmetic with ext's bit operations.
local moder = 0x5A5A0F0F
print("  MODER:     0x" .. ext.tohex(moder, -8))
local names = {[0] = "input", "output", "alternate", "analog"}
for pin = 0, 7 do
  local mode = ext.band(ext.rshift(moder, pin * 2), 3)
  print(string.format("  pin %d:     %s", pin, names[mode]))
end

-- VoLink is the adapter object of the pin view's chip series (the same
-- adapter the view reads); this sample leaves it alone.
print("  VoLink:    " .. (VoLink ~= nil and "present" or "absent"))
print("done")
