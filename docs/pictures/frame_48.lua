-- Picture: the 48-pin frame (pkg_frame = 2): 10 pins at the bottom and top,
-- 14 on the right and left.
function get_status()
  local pins = {}
  for no = 1, 48 do
    pins[no] = {pin_no = no, texts = {"P" .. no}, highlight_text = "P" .. no,
                pin_bg_color = no == 1 and 0xFFFFE0A0 or 0xFFFFFFFF, information = "pin " .. no}
  end
  return {name = "PKG48", name_color = 0xFF000080, information = "", pins = pins,
          processor = {information = "48-pin frame"}, pkg_frame = 2}
end
