-- A pin script for a chip in a QFN32 with an exposed thermal pad, drawn with
-- fixed pin data and no adapter.
--
--   gadrel --pin-script examples/pins_qfn32.lua --render qfn32.png
--
-- A four-sided package (pkg_frame = 0) takes 4 x k pins with k one of 5, 6,
-- 8, 9, 11, 12, 16, 17, 20, 22, 25, 32, 36, 44 or 54: here k = 8. Pin 1 is at
-- the bottom left; the count runs counter-clockwise (bottom row left to
-- right, right side upwards, top row right to left, left side downwards).
--
-- The view draws pins on the sides only: the exposed pad under the chip has
-- no place in the drawing. Do not list it as pin 33 (it would be left out
-- and the pins after it shifted); say what it is in the package's tooltip.

local SUPPLY_BG, GROUND_BG, PORT_BG = 0xFFFFD8B0, 0xFFC8C8C8, 0xFFFFFFFF
local IN, OUT = 1, 2

-- name, functions after the port name, direction (0 none, 1 in, 2 out)
local PINS = {
  {"PA0", {"ADC0"}, IN}, {"PA1", {"ADC1"}, IN}, {"PA2", {"TXD0"}, OUT}, {"PA3", {"RXD0"}, IN},
  {"VDD"}, {"VSS"}, {"PA4", {"SPI_CS"}, OUT}, {"PA5", {"SPI_CLK"}, OUT},
  {"PA6", {"SPI_MISO"}, IN}, {"PA7", {"SPI_MOSI"}, OUT}, {"PB0", {"PWM0"}, OUT}, {"PB1", {"PWM1"}, OUT},
  {"PB2"}, {"VDDIO"}, {"PB3", {"SWCLK"}, IN}, {"PB4", {"SWDIO"}, IN},
  {"PB5", {"SCL"}, OUT}, {"PB6", {"SDA"}, OUT}, {"PB7"}, {"NRST"},
  {"PC0", {"XIN"}}, {"PC1", {"XOUT"}}, {"VDDA"}, {"VSSA"},
  {"PC2", {"ADC2"}, IN}, {"PC3", {"ADC3"}, IN}, {"PC4"}, {"PC5"},
  {"PC6", {"CAN_RX"}, IN}, {"PC7", {"CAN_TX"}, OUT}, {"BOOT0"}, {"VCAP"},
}

local function background(name)
  if name:match("^VSS") then return GROUND_BG end
  if name:match("^VDD") or name == "VCAP" then return SUPPLY_BG end
  return PORT_BG
end

function get_status()
  local pins = {}
  for no, p in ipairs(PINS) do
    local name, functions, direction = p[1], p[2] or {}, p[3] or 0
    local texts = {name}
    for _, f in ipairs(functions) do texts[#texts + 1] = f end
    -- The first function after the port name is the active one here.
    local active = texts[2] or name
    pins[no] = {
      pin_no = no, texts = texts, highlight_text = active,
      normal_color = 0xFF404040, highlight_color = 0xFFD00000, pin_no_color = 0xFF000080,
      pin_bg_color = background(name), direction = direction,
      information = string.format("<b>Pin %d: %s</b><br>Active: %s", no, name, active),
    }
  end
  return {
    name = "DEMO32Q", name_color = 0xFF000080, information = "",
    pins = pins,
    processor = {information = "<b>DEMO32Q</b>, QFN32 5 x 5 mm<br>Exposed pad: VSS, solder it to ground"},
    pkg_frame = 0,
  }
end
