-- Picture: the marks of a pin. Bottom row: direction 0 to 4, then 1 to 3
-- with the pull-up; top row: levels, colours and the highlighted function.
local BOTTOM = {
  {texts = {"dir 0"}, direction = 0}, {texts = {"dir 1 in"}, direction = 1},
  {texts = {"dir 2 out"}, direction = 2}, {texts = {"dir 3"}, direction = 3},
  {texts = {"dir 4 both"}, direction = 4},
  {texts = {"1 pull-up"}, direction = 1, pullup = true}, {texts = {"2 pull-up"}, direction = 2, pullup = true},
  {texts = {"3 pull-up"}, direction = 3, pullup = true},
  {texts = {"status 65"}, status = 65}, {texts = {"status 66"}, status = 66},
}
local TOP = {
  {texts = {"GPIO", "TXD", "PWM1"}, highlight_text = "TXD", highlight_color = 0xFFD00000},
  {texts = {"GPIO", "RXD"}, highlight_text = "GPIO", highlight_color = 0xFFD00000},
  {texts = {"AIN3"}, highlight_text = "AIN3", highlight_color = 0xFF008000},
  {texts = {"VDD"}, highlight_text = "VDD", pin_bg_color = 0xFFFFD8B0},
  {texts = {"VSS"}, highlight_text = "VSS", pin_bg_color = 0xFFC8C8C8},
  {texts = {"H, in"}, status = 65, direction = 1, pin_bg_color = 0xFFFFE0E0},
  {texts = {"L, out"}, status = 66, direction = 2, pin_bg_color = 0xFFE0F0FF},
  {texts = {"pin_no_color"}, pin_no_color = 0xFFD00000},
  {texts = {"normal_color"}, normal_color = 0xFF0000D0},
  {texts = {"none active"}, highlight_text = "x"},
}

function get_status()
  local pins = {}
  for i, p in ipairs(BOTTOM) do p.pin_no = i; pins[#pins + 1] = p end
  for i, p in ipairs(TOP) do p.pin_no = 10 + i; pins[#pins + 1] = p end
  for _, p in ipairs(pins) do
    p.highlight_text = p.highlight_text or p.texts[1]
    p.highlight_color = p.highlight_color or 0xFF000000
    p.information = table.concat(p.texts, ", ")
  end
  return {name = "MARKS", name_color = 0xFF000080, information = "", pins = pins,
          processor = {information = "pin marks"}, pkg_frame = 1}
end
