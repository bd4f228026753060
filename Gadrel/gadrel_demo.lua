-- Demo pin script: a made-up chip whose pins change on every refresh, so
-- the pin view can be tried without an adapter.
--
-- The package frame comes from the global DEMO_FRAME (0 four-sided, 1
-- two-sided, 2 the 48-pin frame, 3 ball grid), else from the environment
-- variable GADREL_DEMO_FRAME, else 0. A pin script of your own can set the
-- global and run this file:
--   DEMO_FRAME = 3
--   dofile(SCRIPT_APP_DIR .. "/../Gadrel/gadrel_demo.lua")

demo_tick = demo_tick or 0

local function frame_kind()
  local f = DEMO_FRAME or tonumber(os.getenv("GADREL_DEMO_FRAME") or "")
  return tonumber(f) or 0
end

local PORT_FUNCS = {
  {"UART0_TX", "SPI0_MOSI", "TIM1_CH1"},
  {"UART0_RX", "SPI0_MISO", "TIM1_CH2"},
  {"I2C0_SCL", "SPI0_SCK", "ADC_IN3"},
  {"I2C0_SDA", "SPI0_SS", "ADC_IN4"},
  {"PWM0", "ADC_IN5"},
  {"CLKO"},
  {"ACMP0_P", "INT0", "ADC_IN6"},
  {"ACMP0_N", "INT1", "ADC_IN7"},
}

local function power_name(i)
  local names = {"VDD", "VSS", "AVDD", "AVSS", "VREF"}
  return names[(i - 1) % #names + 1]
end

-- One pin: port pins get functions, a level and a direction that change
-- with the tick; every eighth pin is a supply pin.
local function make_pin(no, tick)
  local pin = {pin_no = no}
  if no % 8 == 0 then
    local name = power_name(no / 8)
    pin.texts = {name}
    pin.highlight_text = name
    pin.highlight_color = 0xFF804000
    pin.pin_bg_color = name:find("VSS") and 0xFFB0B0B0 or 0xFFFFB0B0
    pin.information = "<b>" .. name .. "</b><br>Supply pin"
    return pin
  end
  local port = string.format("P%d.%d", math.floor(no / 8) % 4, no % 8)
  local texts = {port}
  for _, f in ipairs(PORT_FUNCS[no % #PORT_FUNCS + 1]) do texts[#texts + 1] = f end
  pin.texts = texts
  local active = texts[(math.floor(tick / 2) + no + math.floor(no / 8)) % #texts + 1]
  pin.highlight_text = active
  pin.normal_color = 0xFF404040
  pin.highlight_color = 0xFFD00000
  pin.pin_no_color = 0xFF000080
  pin.direction = (no + math.floor(tick / 3)) % 5
  pin.pullup = (no + tick) % 3 == 0
  local high = (no * 7 + tick) % 4 < 2
  pin.status = high and 65 or 66
  pin.pin_bg_color = high and 0xFFFFE0E0 or 0xFFE0F0FF
  if no == 5 then pin.pin_bg_color = 0x00000000 end -- a transparent fill shows nothing
  local dir_names = {[0] = "none", "input", "output", "open drain", "bidirectional"}
  pin.information = string.format(
    "<b>Pin %d: %s</b><br>Function: <font color=\"#d00000\">%s</font><br>Direction: %s%s<br>Level: %s",
    no, port, active, dir_names[pin.direction], pin.pullup and " (pull-up)" or "",
    high and "high" or "low")
  return pin
end

local FRAMES = {
  [0] = {count = 64, name = "GDX32 LQFP64"},
  [1] = {count = 28, name = "GDX8 SOP28"},
  [2] = {count = 48, name = "GDX32 LQFP48"},
  [3] = {count = 64, name = "GDX32 BGA64"},
}

function get_status(_)
  demo_tick = demo_tick + 1
  local kind = frame_kind()
  local frame = FRAMES[kind] or FRAMES[0]
  local pins = {}
  for no = 1, frame.count do
    local pin = make_pin(no, demo_tick)
    if kind == 3 then
      -- Balls are labelled with their active function.
      pin.pin_no_color = pin.status == 65 and 0xFFD00000 or 0xFF202020
    end
    pins[#pins + 1] = pin
  end
  return {
    name = frame.name,
    name_color = 0xFF000080,
    information = string.format("Demo %s, refresh %d", tostring(CHIP_SERIES), demo_tick),
    pins = pins,
    processor = {information = "<b>" .. frame.name .. "</b><br>Demo chip: 32 KB flash, 4 KB RAM"},
    pkg_frame = kind,
  }
end

function disconnect()
end
