-- Picture: a ball grid (pkg_frame = 3), 5 x 5 balls; the centre ball is not
-- populated (no texts).
function get_status()
  local pins, letters = {}, "ABCDE"
  for column = 1, 5 do
    for row = 1, 5 do
      local no = (column - 1) * 5 + row
      local ball = letters:sub(column, column) .. row
      local pin = {pin_no = no, texts = {}}
      if ball ~= "C3" then
        pin.texts, pin.highlight_text, pin.information = {ball}, ball, "pin_no " .. no
        pin.pin_bg_color = no == 1 and 0xFFFFE0A0 or 0xFFE0F0FF
      end
      pins[no] = pin
    end
  end
  return {name = "BGA25", name_color = 0xFF000080, information = "", pins = pins,
          processor = {information = "ball grid"}, pkg_frame = 3}
end
