-- The live pins of the emulator's demo chip, the GX32M412VE in an LQFP100:
-- the worked example of docs/pin-scripts.md.
--
--   build/bin/volink-sim &
--   build/bin/gadrel --pin-script examples/pins_demo_chip.lua
--   build/bin/volink-sim ctl pin demo PB8 1      # PB8, pin 26, shows H

-- The GPIO registers, from the chip's register map: six ports of 16 pins,
-- one block of registers each.
local GPIO_BASE, PORT_STRIDE = 0x40004000, 0x40
local MODE, PIN, PUSEL = 0x00, 0x10, 0x30    -- offsets in a port's block
local PORTS = {"A", "B", "C", "D", "E", "F"}

-- The pin-out of the LQFP100: four supply pins, the 96 port pins in order
-- (PA0 is pin 1, PB8 pin 26) around them.
local SUPPLIES = {[25] = "VDD", [50] = "VSS", [75] = "AVDD", [100] = "AVSS"}
local LAYOUT = {}
do
  local port, bit = 1, 0
  for no = 1, 100 do
    if SUPPLIES[no] then
      LAYOUT[no] = {supply = SUPPLIES[no]}
    else
      LAYOUT[no] = {port = port, bit = bit, name = "P" .. PORTS[port] .. bit}
      bit = bit + 1
      if bit == 16 then port, bit = port + 1, 0 end
    end
  end
end

-- Every register one refresh needs, in one list: MODE, PIN and PUSEL of
-- each port.
local ADDRESSES = {}
for p = 1, #PORTS do
  local base = GPIO_BASE + (p - 1) * PORT_STRIDE
  ADDRESSES[#ADDRESSES + 1] = base + MODE
  ADDRESSES[#ADDRESSES + 1] = base + PIN
  ADDRESSES[#ADDRESSES + 1] = base + PUSEL
end

local function bits(word, shift, width)
  return ext.band(ext.rshift(word, shift), ext.lshift(1, width) - 1)
end

local function message(text)
  return {name = "", name_color = 0xFF000000, information = text}
end

-- Opens the adapter and names the chip from its product id.
local function connect()
  local found = ice:OpenPort()
  if not found then return nil end
  ice:MCUConnect(ice.RESET_NONE, ice.CONNECT_NORMAL)   -- attach, leave the chip running
  local pid = ice:ReadDbgID(1)
  local name = pn:GetPartNumByPID(pn.CORE_CM, pid)
  return {name = name, pid = pid}
end

-- MODE holds two bits a pin: 0 input, 1 push-pull, 2 open drain,
-- 3 quasi-bidirectional; the view's direction marks are 1 to 4.
local DIRECTION = {[0] = 1, 2, 3, 4}
local MODE_NAMES = {[0] = "input", "push-pull", "open drain", "quasi-bidirectional"}

local function port_pin(no, pin, regs)
  local mode = bits(regs.mode, 2 * pin.bit, 2)
  local high = bits(regs.level, pin.bit, 1) == 1
  local pullup = bits(regs.pull, 2 * pin.bit, 2) == 1
  return {
    pin_no = no, texts = {pin.name}, highlight_text = pin.name,
    highlight_color = 0xFFD00000, pin_no_color = 0xFF000080,
    pin_bg_color = high and 0xFFFFE0E0 or 0xFFE0F0FF,
    direction = DIRECTION[mode], pullup = pullup,
    status = high and 65 or 66,                          -- 65 draws H, 66 draws L
    information = string.format("<b>Pin %d: %s</b><br>%s%s, %s", no, pin.name, MODE_NAMES[mode],
                                pullup and " with pull-up" or "", high and "high" or "low"),
  }
end

local function supply_pin(no, name)
  return {pin_no = no, texts = {name}, highlight_text = name, highlight_color = 0xFF804000,
          pin_bg_color = name:match("VSS") and 0xFFC8C8C8 or 0xFFFFD8B0, information = name}
end

local function read_package()
  local words = ice:ReadMemMulti(ADDRESSES)        -- as few exchanges as the adapter allows
  local regs = {}
  for p = 1, #PORTS do
    regs[p] = {mode = words[3 * p - 2], level = words[3 * p - 1], pull = words[3 * p]}
  end
  local pins = {}
  for no, pin in ipairs(LAYOUT) do
    pins[no] = pin.supply and supply_pin(no, pin.supply) or port_pin(no, pin, regs[pin.port])
  end
  return {
    name = chip.name, name_color = 0xFF000080, information = "",
    pins = pins,
    processor = {information = chip.name .. ", product id 0x" .. ext.tohex(chip.pid)},
    pkg_frame = 0,
  }
end

-- `chip` is a global: it keeps the open chip from one refresh to the next,
-- and across reloads of this file.
function get_status()
  if chip == nil then
    local ok, result = pcall(connect)
    if not ok then
      pcall(ice.ClosePort, ice)
      return message("Adapter: " .. tostring(result) .. "; trying again")
    end
    if result == nil then return message("No adapter found; trying again") end
    chip = result
  end
  local ok, result = pcall(read_package)
  if not ok then                                    -- unplugged, or the target went away
    chip = nil
    pcall(ice.ClosePort, ice)
    return message("Adapter lost: " .. tostring(result) .. "; trying again")
  end
  return result
end

function disconnect()
  if chip ~= nil then pcall(ice.ClosePort, ice) end
  chip = nil
end
