-- Picture: a two-sided package (pkg_frame = 1), 14 pins.
function get_status()
  local pins = {}
  for no = 1, 14 do
    pins[no] = {pin_no = no, texts = {"P" .. no}, highlight_text = "P" .. no,
                pin_bg_color = no == 1 and 0xFFFFE0A0 or 0xFFFFFFFF, information = "pin " .. no}
  end
  return {name = "DIP14", name_color = 0xFF000080, information = "", pins = pins,
          processor = {information = "two-sided"}, pkg_frame = 1}
end
