// Writes a pin history as a Value Change Dump: one 1-bit wire per pin,
// named after the pin's function text and number; 1, 0 and x for "H", "L"
// and no mark (or not recorded); times in microseconds from the moment the
// history is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "pinhistory/PinHistory.h"

struct VcdHeader {
  std::string date;     // empty: now, local time
  std::string version;  // the program and its version
};

// `text` as a VCD identifier: letters, digits and "_", every run of other
// bytes (spaces, punctuation, non-ASCII) one "_"; never empty ("pin") and
// never starting with a digit.
std::string VcdIdentifier(std::string_view text);

// The wire names of `pins`: the escaped function text the pin had when the
// history became complete (its name when that is empty), "_pin" and the
// escaped pin number; repeated names get "_2", "_3", ...
std::vector<std::string> VcdWireNames(const PinHistory& history, const std::vector<size_t>& pins);

// The identifier code of wire `index`: printable ASCII from "!" to "~", more
// characters beyond the first 94 wires.
std::string VcdCode(size_t index);

// Writes the dump of `pins`; false when the stream failed.
bool WriteVcd(std::ostream& out, const PinHistory& history, const std::vector<size_t>& pins,
              const VcdHeader& header);
