-- Picture: a four-sided package (pkg_frame = 0), 32 pins, 8 a side.
function get_status()
  local pins = {}
  for no = 1, 32 do
    pins[no] = {pin_no = no, texts = {"P" .. no}, highlight_text = "P" .. no,
                pin_bg_color = no == 1 and 0xFFFFE0A0 or 0xFFFFFFFF, information = "pin " .. no}
  end
  return {name = "QFN32", name_color = 0xFF000080, information = "", pins = pins,
          processor = {information = "four-sided"}, pkg_frame = 0}
end
