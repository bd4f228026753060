-- Pin script: the live pins of the chip behind the adapter.
--
-- Opens the adapter, names the chip from its product id through `pn`, and
-- on every refresh reads the port, mode, pull and multi-function registers
-- in one table read (as few adapter exchanges as the adapter's multi-access
-- limit allows), then describes every pin: level, direction, pull-up and
-- the active function. Knows the GX32M412VE / GX32P100 (Cortex-M) and the
-- GX8051T24 (8051 1T) register maps, and the chips that the adapter
-- emulator runs in QEMU: GX32M330QE (its GPIO ports A-G) and GX32M030QB
-- (its one 32-pin port), and in ucsim: GX8051U08 (ports P0-P3 of a plain
-- 8051, no mode registers).
--
-- Without an adapter the information line says so and the script tries
-- again on every refresh; an adapter that goes away and comes back is picked
-- up again without a restart.
--
-- No adapter at all? The made-up demo chip is in gadrel_demo.lua: start
-- with GADREL_DEMO=1 in the environment (or set GADREL_DEMO = true in a
-- pin script of your own before running this file).

if GADREL_DEMO or os.getenv("GADREL_DEMO") == "1" then
  dofile((SCRIPT_DIRECTORY or ".") .. "/gadrel_demo.lua")
  return
end

-- State kept across refreshes and across reloads of this file.
live = live or {open = false, chip = nil, reads = 0}

local BLACK, NAVY, RED, GREY = 0xFF000000, 0xFF000080, 0xFFD00000, 0xFF404040
local BG_HIGH, BG_LOW, BG_SUPPLY, BG_GROUND = 0xFFFFE0E0, 0xFFE0F0FF, 0xFFFFD8B0, 0xFFC8C8C8
local HIGH, LOW = 65, 66
local DIR_IN, DIR_OUT, DIR_OD, DIR_BOTH = 1, 2, 3, 4
local DIR_NAMES = {[0] = "none", "input", "output", "open drain", "bidirectional"}

local band, rshift, lshift = ext.band, ext.rshift, ext.lshift

local function bits(word, shift, width)
  return band(rshift(word, shift), lshift(1, width) - 1)
end

---------------------------------------------------------------------------
-- Cortex-M: GX32M412VE and GX32P100
---------------------------------------------------------------------------

local CM_PORTS = {"A", "B", "C", "D", "E", "F"}
local CM_GPIO, CM_MFP = 0x40004000, 0x40000030
-- Functions by pin and multi-function value (0 is always the GPIO).
local CM_FUNCS = {
  PA12 = {[3] = "UART0_RXD"}, PA13 = {[3] = "UART0_TXD"},
  PA14 = {[4] = "I2C0_SDA"}, PA15 = {[4] = "I2C0_SCL"},
  PB2 = {[1] = "ADC0_CH2"}, PB3 = {[1] = "ADC0_CH3"}, PB4 = {[1] = "ADC0_CH4"},
  PB5 = {[1] = "ADC0_CH5"}, PB6 = {[1] = "ADC0_CH6"}, PB7 = {[1] = "ADC0_CH7"},
  PC0 = {[4] = "SPI0_MOSI"}, PC1 = {[4] = "SPI0_MISO"}, PC2 = {[4] = "SPI0_CLK"}, PC3 = {[4] = "SPI0_SS"},
  PF0 = {[10] = "X32_OUT"}, PF1 = {[10] = "X32_IN"},
  PF2 = {[14] = "ICE_DAT"}, PF3 = {[14] = "ICE_CLK"},
}
local CM_MODE_DIR = {[0] = DIR_IN, DIR_OUT, DIR_OD, DIR_BOTH}
local CM_MODE_NAMES = {[0] = "input", "push-pull", "open drain", "quasi-bidirectional"}
-- LQFP100: every 25th pin is a supply pin, the port pins fill the rest.
local CM_SUPPLY = {[25] = "VDD", [50] = "VSS", [75] = "AVDD", [100] = "AVSS"}

-- The registers one refresh reads, in table order: per port MODE, PIN,
-- PUSEL, then per port MFPL, MFPH.
local function cm_addresses()
  local a = {}
  for p = 0, #CM_PORTS - 1 do
    local base = CM_GPIO + 0x40 * p
    a[#a + 1] = base + 0x00
    a[#a + 1] = base + 0x10
    a[#a + 1] = base + 0x30
  end
  for p = 0, #CM_PORTS - 1 do
    a[#a + 1] = CM_MFP + 8 * p
    a[#a + 1] = CM_MFP + 8 * p + 4
  end
  return a
end

local function cm_identify()
  local pid = ice:ReadDbgID(1)
  local name = pn:GetPartNumByPID(pn.CORE_CM, pid)
  -- An unknown product id comes back as "[pid]": the chip may be one of
  -- those named by the product id and a second id.
  if name == nil or name == "" or name:sub(1, 1) == "[" then
    name = pn:GetPartNumByPID(pn.CORE_CM_PLOSK, pid, ice:ReadMem32(0x40000004))
  end
  return pid, name
end

local function cm_pins(words)
  local nports = #CM_PORTS
  local pins, port_pins = {}, {}
  for p = 0, nports - 1 do
    local mode, level, pull = words[3 * p + 1], words[3 * p + 2], words[3 * p + 3]
    local mfpl, mfph = words[3 * nports + 2 * p + 1], words[3 * nports + 2 * p + 2]
    for n = 0, 15 do
      local name = "P" .. CM_PORTS[p + 1] .. n
      local mfp = n < 8 and bits(mfpl, 4 * n, 4) or bits(mfph, 4 * (n - 8), 4)
      local m = bits(mode, 2 * n, 2)
      local funcs = CM_FUNCS[name] or {}
      local texts, active = {name}, name
      for value, f in pairs(funcs) do
        texts[#texts + 1] = f
        if value == mfp then active = f end
      end
      if mfp ~= 0 and active == name then
        active = string.format("%s_MFP%d", name, mfp)
        texts[#texts + 1] = active
      end
      port_pins[#port_pins + 1] = {
        name = name, texts = texts, active = active,
        high = bits(level, n, 1) == 1,
        direction = CM_MODE_DIR[m], mode_name = CM_MODE_NAMES[m],
        pullup = bits(pull, 2 * n, 2) == 1,
      }
    end
  end
  local next_port = 1
  for no = 1, 100 do
    if CM_SUPPLY[no] then
      pins[no] = {supply = CM_SUPPLY[no]}
    else
      pins[no] = port_pins[next_port]
      next_port = next_port + 1
    end
  end
  return pins
end

---------------------------------------------------------------------------
-- GX32M330QE: ports A-G, each DATA (all pins), DIR, AFSEL, PUR, DEN
---------------------------------------------------------------------------

local M330_PORTS = {A = 0x40004000, B = 0x40005000, C = 0x40006000, D = 0x40007000,
                    E = 0x40024000, F = 0x40025000, G = 0x40026000}
local M330_ORDER = {"A", "B", "C", "D", "E", "F", "G"}
local M330_OFFSETS = {0x3FC, 0x400, 0x420, 0x510, 0x51C}
-- LQFP48 (our layout): the ports' pins with supplies in between.
local M330_LAYOUT = {
  "PA0", "PA1", "PA2", "PA3", "PA4", "PA5", "PA6", "PA7", "VDD", "VSS",
  "PB0", "PB1", "PB2", "PB3", "PB4", "PB5", "PB6", "PB7",
  "PC0", "PC1", "PC2", "PC3", "PC4", "PC5", "PC6", "PC7", "VDD", "VSS",
  "PD0", "PD1", "PD2", "PD3", "PD4", "PD5", "PD6", "PD7",
  "PE0", "PE1", "PE2", "PE3", "PF0", "PF1", "PF2", "PF3", "PG0", "PG1", "RST", "AVSS",
}

local function m330_addresses()
  local a = {}
  for _, port in ipairs(M330_ORDER) do
    for _, off in ipairs(M330_OFFSETS) do a[#a + 1] = M330_PORTS[port] + off end
  end
  return a
end

local function m330_pins(words)
  local regs = {}
  for i, port in ipairs(M330_ORDER) do
    local b = 5 * (i - 1)
    regs[port] = {data = words[b + 1], dir = words[b + 2], afsel = words[b + 3],
                  pur = words[b + 4], den = words[b + 5]}
  end
  local pins = {}
  for no, name in ipairs(M330_LAYOUT) do
    local port, n = name:match("^P(%u)(%d)$")
    if port then
      local r = regs[port]
      n = tonumber(n)
      local out, alt = bits(r.dir, n, 1) == 1, bits(r.afsel, n, 1) == 1
      local active = alt and (name .. "_ALT") or name
      local mode = bits(r.den, n, 1) == 0 and "digital off" or (out and "output" or "input")
      pins[no] = {
        name = name, texts = alt and {name, active} or {name}, active = active,
        high = bits(r.data, n, 1) == 1,
        direction = out and DIR_OUT or DIR_IN, mode_name = mode,
        pullup = bits(r.pur, n, 1) == 1,
      }
    else
      pins[no] = {supply = name}
    end
  end
  return pins
end

---------------------------------------------------------------------------
-- GX32M030QB: one port P0.0-P0.31 (OUT, IN, DIR and a configuration word a pin)
---------------------------------------------------------------------------

local M030_GPIO = 0x50000000
-- QFN48 (our layout).
local M030_LAYOUT = {"VDD"}
for n = 0, 7 do M030_LAYOUT[#M030_LAYOUT + 1] = "P0." .. n end
M030_LAYOUT[#M030_LAYOUT + 1] = "VSS"
for n = 8, 15 do M030_LAYOUT[#M030_LAYOUT + 1] = "P0." .. n end
for _, s in ipairs({"VDD", "VSS", "DEC1", "DEC2"}) do M030_LAYOUT[#M030_LAYOUT + 1] = s end
for n = 16, 23 do M030_LAYOUT[#M030_LAYOUT + 1] = "P0." .. n end
for _, s in ipairs({"SWDIO", "SWDCLK", "AVDD", "VSS"}) do M030_LAYOUT[#M030_LAYOUT + 1] = s end
for n = 24, 31 do M030_LAYOUT[#M030_LAYOUT + 1] = "P0." .. n end
for _, s in ipairs({"XC1", "XC2", "AVDD", "VSS", "ANT1", "ANT2", "VDD", "VSS"}) do
  M030_LAYOUT[#M030_LAYOUT + 1] = s
end

local function m030_addresses()
  local a = {M030_GPIO + 0x504, M030_GPIO + 0x510, M030_GPIO + 0x514}
  for n = 0, 31 do a[#a + 1] = M030_GPIO + 0x700 + 4 * n end
  return a
end

local function m030_pins(words)
  local outw, inw, dirw = words[1], words[2], words[3]
  local pins = {}
  for no, name in ipairs(M030_LAYOUT) do
    local n = name:match("^P0%.(%d+)$")
    if n then
      n = tonumber(n)
      local out = bits(dirw, n, 1) == 1
      local cnf = words[4 + n]
      pins[no] = {
        name = name, texts = {name}, active = name,
        high = bits(out and outw or inw, n, 1) == 1,
        direction = out and DIR_OUT or DIR_IN, mode_name = out and "output" or "input",
        pullup = bits(cnf, 2, 2) == 3,
      }
    else
      pins[no] = {supply = name}
    end
  end
  return pins
end

-- Cortex-M chips whose registers differ from the GX32M412VE's, by part name.
local CM_BOARDS = {
  GX32M330QE = {addresses = m330_addresses, pins = m330_pins, package = "LQFP48"},
  GX32M030QB = {addresses = m030_addresses, pins = m030_pins, package = "QFN48"},
}

---------------------------------------------------------------------------
-- 8051 1T: GX8051T24 and GX8051U08 (the same SFR map; ucsim has no mode registers)
---------------------------------------------------------------------------

local SFR = 0x03000000
-- Words read (each holds four consecutive special function registers):
-- 1 P0, 2 P1, 3 P2, 4 P3 .. P1M1, 5 P1M2 .. P2M2, 6 P3M1 P3M2, 7 SCON,
-- 8 ADCCON1 (byte 1), 9 PWMCON0.
local C51_WORDS = {0x80, 0x90, 0xA0, 0xB0, 0xB4, 0xAC, 0x98, 0xE0, 0xD8}
local C51_MODE_DIR = {[0] = DIR_BOTH, DIR_OUT, DIR_IN, DIR_OD} -- by M1 * 2 + M2
local C51_MODE_NAMES = {[0] = "quasi-bidirectional", "push-pull", "input only", "open drain"}
-- LQFP44, the 8051's usual quad layout: the DIP40's pins in their order,
-- starting at P1.5, with four pins not connected.
local C51_LAYOUT = {
  "P1.5", "P1.6", "P1.7", "RST", "P3.0", "NC", "P3.1", "P3.2", "P3.3", "P3.4", "P3.5",
  "P3.6", "P3.7", "XTAL2", "XTAL1", "VSS", "NC", "P2.0", "P2.1", "P2.2", "P2.3", "P2.4",
  "P2.5", "P2.6", "P2.7", "PSEN", "ALE", "NC", "EA", "P0.7", "P0.6", "P0.5", "P0.4",
  "P0.3", "P0.2", "P0.1", "P0.0", "VDD", "NC", "P1.0", "P1.1", "P1.2", "P1.3", "P1.4",
}

local function c51_addresses()
  local a = {}
  for i, w in ipairs(C51_WORDS) do a[i] = SFR + w end
  return a
end

local function c51_identify()
  local pid = band(ice:ReadDbgID(1), 0xFFFF)
  return pid, pn:GetPartNumByPID(pn.CORE_C51, pid)
end

local function c51_pins(w)
  local byte = function(word, i) return bits(word, 8 * i, 8) end
  local level = {[0] = byte(w[1], 0), byte(w[2], 0), byte(w[3], 0), byte(w[4], 0)}
  local m1 = {[0] = byte(w[4], 1), byte(w[4], 3), byte(w[5], 1), byte(w[6], 0)}
  local m2 = {[0] = byte(w[4], 2), byte(w[5], 0), byte(w[5], 2), byte(w[6], 1)}
  local uart = bits(w[7], 6, 1) == 1
  local adc = bits(w[8], 8, 1) == 1
  local pwm = bits(w[9], 7, 1) == 1
  local funcs = {
    ["P3.0"] = {"RXD", uart}, ["P3.1"] = {"TXD", uart},
    ["P0.0"] = {"AIN0", adc}, ["P0.1"] = {"AIN1", adc}, ["P0.2"] = {"AIN2", adc}, ["P0.3"] = {"AIN3", adc},
    ["P1.0"] = {"PWM0", pwm}, ["P1.1"] = {"PWM1", pwm}, ["P1.2"] = {"PWM2", pwm}, ["P1.3"] = {"PWM3", pwm},
  }
  local pins = {}
  for no, name in ipairs(C51_LAYOUT) do
    local port, n = name:match("^P(%d)%.(%d)$")
    if port then
      port, n = tonumber(port), tonumber(n)
      local mode = bits(m1[port], n, 1) * 2 + bits(m2[port], n, 1)
      local f = funcs[name]
      local texts = {name, f and f[1] or nil}
      pins[no] = {
        name = name, texts = texts, active = (f and f[2]) and f[1] or name,
        high = bits(level[port], n, 1) == 1,
        direction = C51_MODE_DIR[mode], mode_name = C51_MODE_NAMES[mode],
        pullup = mode == 0,
      }
    else
      pins[no] = {supply = name}
    end
  end
  return pins
end

---------------------------------------------------------------------------
-- Chip series, connection and the package table
---------------------------------------------------------------------------

local SERIES = {
  CORTEX_M = {addresses = cm_addresses, identify = cm_identify, pins = cm_pins,
              frame = 0, package = "LQFP100", unknown = "Cortex-M chip"},
  ["8051_1T"] = {addresses = c51_addresses, identify = c51_identify, pins = c51_pins,
                 frame = 0, package = "LQFP44", unknown = "8051 1T chip"},
}

local function series()
  return SERIES[CHIP_SERIES] or SERIES.CORTEX_M
end

local function message(text)
  return {name = "", name_color = BLACK, information = text}
end

-- Opens the adapter and names the chip; false and a reason when it fails.
local function connect()
  local found, version = ice:OpenPort()
  if not found then return false, "No adapter found (Vo-Link); trying again" end
  -- Attach without resetting the running chip.
  ice:MCUConnect(ice.RESET_NONE, ice.CONNECT_NORMAL)
  local s = series()
  local pid, name = s.identify()
  local board = (s == SERIES.CORTEX_M) and CM_BOARDS[name] or nil
  live.chip = {pid = pid, name = (name ~= nil and name ~= "") and name or s.unknown,
               firmware = version, board = board,
               addresses = board and board.addresses() or s.addresses()}
  live.open = true
  return true
end

local function supply_pin(no, name)
  if name == "NC" then
    return {pin_no = no, texts = {name}, highlight_text = name, highlight_color = GREY,
            pin_no_color = NAVY, information = "<b>NC</b>: not connected"}
  end
  local ground = name == "VSS" or name == "AVSS"
  return {
    pin_no = no, texts = {name}, highlight_text = name,
    highlight_color = 0xFF804000, pin_no_color = NAVY,
    pin_bg_color = ground and BG_GROUND or BG_SUPPLY,
    information = "<b>" .. name .. "</b>",
  }
end

local function port_pin(no, p)
  local state = p.high and "high" or "low"
  return {
    pin_no = no, texts = p.texts, highlight_text = p.active,
    normal_color = GREY, highlight_color = RED, pin_no_color = NAVY,
    pin_bg_color = p.high and BG_HIGH or BG_LOW,
    direction = p.direction, status = p.high and HIGH or LOW, pullup = p.pullup,
    information = string.format(
      "<b>Pin %d: %s</b><br>Function: <font color=\"#d00000\">%s</font><br>Mode: %s%s<br>Level: %s",
      no, p.name, p.active, p.mode_name, p.pullup and " (pull-up)" or "", state),
  }
end

local function package()
  local s, chip = series(), live.chip
  local words = ice:ReadMemMulti(chip.addresses)
  live.reads = live.reads + 1
  local pins = {}
  for no, p in ipairs((chip.board or s).pins(words)) do
    pins[#pins + 1] = p.supply and supply_pin(no, p.supply) or port_pin(no, p)
  end
  return {
    name = chip.name,
    name_color = NAVY,
    information = "",
    pins = pins,
    processor = {information = string.format(
      "<b>%s</b> (%s)<br>Product id: 0x%s<br>Adapter firmware: %d<br>Registers a refresh: %d",
      chip.name, (chip.board or s).package, ext.tohex(chip.pid), chip.firmware, #chip.addresses)},
    pkg_frame = s.frame,
  }
end

-- Lets go of the adapter after a failure, so the next refresh starts over.
local function lost()
  live.open = false
  live.chip = nil
  pcall(ice.ClosePort, ice)
end

function get_status(_)
  if ice == nil then return message("No adapter object for this chip series") end
  if not live.open then
    local ok, connected, reason = pcall(connect)
    if not ok then
      lost()
      return message("Adapter: " .. tostring(connected) .. "; trying again")
    end
    if not connected then return message(reason) end
  end
  local ok, result = pcall(package)
  if not ok then
    lost()
    return message("Adapter lost: " .. tostring(result) .. "; trying again")
  end
  return result
end

function disconnect()
  if ice ~= nil and live.open then pcall(ice.ClosePort, ice) end
  live.open = false
end
