-- A pin script for a chip in a 6 x 6 ball grid, drawn with fixed ball data
-- and no adapter.
--
--   gadrel --pin-script examples/pins_bga36.lua --render bga36.png
--
-- A ball grid (pkg_frame = 3) is a square of side x side balls, side being
-- the whole part of the square root of the pin count (at least 5). Columns
-- are lettered A, B, C, ... from the left (I, O, Q, S, X and Z are skipped),
-- rows numbered from 1 at the bottom. The balls are taken in pin_no order,
-- column by column: pin_no 1 is A1, 2 is A2, ... side + 1 is B1. pin_no must
-- therefore be a number: a text such as "A1" sorts as 0.
--
-- A ball is drawn only when its texts list is not empty, so a ball that the
-- package does not have is a pin with no texts. Its label is highlight_text
-- (two lines of at most five characters); its outline is pin_no_color and
-- its fill pin_bg_color.

local SIDE = 6
local LETTERS = "ABCDEFGHJKLMNPRTUVWY"

-- Ball name -> signal; balls not listed are not populated.
local BALLS = {
  A1 = "VSS", A2 = "PA0", A3 = "PA1", A4 = "PA2", A5 = "PA3", A6 = "VDD",
  B1 = "PB0", B2 = "PB1", B3 = "PA4", B4 = "PA5", B5 = "PA6", B6 = "PA7",
  C1 = "PB2", C2 = "PB3", C5 = "SWCLK", C6 = "SWDIO",
  D1 = "PB4", D2 = "PB5", D5 = "NRST", D6 = "BOOT0",
  E1 = "PC0", E2 = "PC1", E3 = "PC2", E4 = "PC3", E5 = "XIN", E6 = "XOUT",
  F1 = "VDD", F2 = "PC4", F3 = "PC5", F4 = "VDDA", F5 = "VSSA", F6 = "VSS",
}

local function fill(signal)
  if signal:match("^VSS") then return 0xFFC8C8C8 end
  if signal:match("^VDD") then return 0xFFFFD8B0 end
  return 0xFFE0F0FF
end

function get_status()
  local pins = {}
  for column = 1, SIDE do
    for row = 1, SIDE do
      local ball = LETTERS:sub(column, column) .. row
      local signal = BALLS[ball]
      local pin = {pin_no = (column - 1) * SIDE + row, texts = {}}
      if signal then
        pin.texts = {signal}
        pin.highlight_text = signal
        pin.pin_no_color = 0xFF000080
        pin.pin_bg_color = fill(signal)
        pin.information = ball .. ": " .. signal
      end
      pins[#pins + 1] = pin
    end
  end
  return {
    name = "DEMO36B", name_color = 0xFF000080, information = "",
    pins = pins, processor = {information = "DEMO36B, 6 x 6 ball grid, 0.8 mm pitch"},
    pkg_frame = 3,
  }
end
