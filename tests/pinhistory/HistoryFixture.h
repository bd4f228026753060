// Small packages for the pin history tests.
#pragma once

#include <string>
#include <vector>

#include "pinmodel/PackageInfo.h"

// A pin named `name`, number `no`, at level 'H', 'L' or '-' (no mark).
inline PinInfo MakePin(const std::string& no, const std::string& name, char level, int direction = 1,
                       const std::string& function = "") {
  PinInfo p;
  p.pin_no = no;
  p.texts = {name};
  p.highlight_text = function.empty() ? name : function;
  p.direction = direction;
  p.status = level == 'H' ? 65 : level == 'L' ? 66 : 64;
  return p;
}

// A package "CHIP" whose pins are named P0, P1, ... with the given levels.
inline PackageInfo MakePackage(const std::string& levels, const std::string& name = "CHIP") {
  PackageInfo pkg;
  pkg.name = name;
  for (size_t i = 0; i < levels.size(); ++i)
    pkg.pins.push_back(MakePin(std::to_string(i + 1), "P" + std::to_string(i), levels[i]));
  return pkg;
}
