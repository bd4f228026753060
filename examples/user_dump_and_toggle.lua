-- A user script for the window (File > Run script...): dumps a memory range
-- of the target and toggles a GPIO, through VoLink, the adapter object that
-- the pin view has opened. Its output goes to the output pane.
--
-- Written for the emulator's core-model demo chip, the GX32M412VE
-- (VOLINK_SIM_DEMO=model scripts/run.sh, or volink-sim without options): the
-- dump shows the start of its flash (the initial stack pointer and the reset
-- vector of a Cortex-M), the toggle drives PB1, a push-pull output, through
-- the port's DOUT register and reads its level back from PIN. The adapter's
-- own output pin 0 follows. On another chip the script dumps and stops.

local FLASH, DUMP_BYTES = 0x00000000, 64
local GPIOB = 0x40004040               -- port B: MODE +0x00, DOUT +0x08, PIN +0x10
local DOUT, PIN = GPIOB + 0x08, GPIOB + 0x10
local BIT = 1                          -- PB1
local PRODUCT_ID, DEMO_CHIP = 0x40000000, 0x00D41200

if VoLink == nil then
  print("No adapter object: run this script from the window (File > Run script...)")
  return
end

-- The dump: 16 words in one command (ReadMem32 takes up to 32).
local words = {VoLink:ReadMem32(FLASH, DUMP_BYTES / 4)}
for line = 0, #words / 4 - 1 do
  local text = {}
  for i = 1, 4 do text[i] = ext.tohex(words[4 * line + i]) end
  print(string.format("%08X: %s", FLASH + 16 * line, table.concat(text, " ")))
end

if VoLink:ReadMem32(PRODUCT_ID) ~= DEMO_CHIP then
  print("Not the demo chip: no GPIO toggled")
  return
end

-- The toggle: flip the DOUT bit, read the pin, twice (back where it was).
local function level()
  return ext.band(ext.rshift(VoLink:ReadMem32(PIN), BIT), 1) == 1 and "H" or "L"
end
local seen = {level()}
for _ = 1, 2 do
  VoLink:WriteMem32(DOUT, ext.bxor(VoLink:ReadMem32(DOUT), ext.lshift(1, BIT)))
  VoLink:GpioOutput(0, seen[#seen] == "L" and 1 or 0)   -- the adapter's pin 0 follows PB1
  seen[#seen + 1] = level()
end
print("PB" .. BIT .. ": " .. table.concat(seen, " -> "))
