-- A minimal pin script: a small chip in a 14-pin DIP, drawn with fixed
-- pin data and no adapter.
--
--   gadrel --pin-script examples/pins_dip14.lua
--   gadrel --pin-script examples/pins_dip14.lua --render dip14.png
--
-- The view calls get_status at every refresh and draws the table it
-- returns. A two-sided package (pkg_frame = 1) takes 10, 14, 20 or 28 pins:
-- pin 1 at the bottom left, counting to the right along the bottom row and
-- back along the top row.

local PINS = {
  -- pin name and its functions, in the datasheet's order (pin 1 first)
  {"VDD"}, {"PA5", "TXD"}, {"PA4", "RXD"}, {"PA3", "RESET"}, {"PC5", "SCL"}, {"PC4", "SDA"}, {"PC3"},
  {"PD6", "AIN6"}, {"PD5", "AIN5"}, {"PD4", "AIN4"}, {"PD3", "AIN3"}, {"PD2"}, {"PD1", "SWIM"}, {"VSS"},
}

function get_status()
  local pins = {}
  for no, texts in ipairs(PINS) do
    pins[no] = {
      pin_no = no,
      texts = texts,            -- every function the pin has
      highlight_text = texts[1], -- the one active now, drawn in highlight_color
      highlight_color = 0xFFD00000,
      information = "Pin " .. no .. ": " .. table.concat(texts, ", "), -- the tooltip
    }
  end
  return {
    name = "DEMO14",
    name_color = 0xFF000080,   -- needed: the table is read in order and stops at a missing key
    information = "",          -- the red line above the package; empty: none
    pins = pins,
    processor = {information = "DEMO14, 14-pin DIP"}, -- the package name's tooltip
    pkg_frame = 1,
  }
end
