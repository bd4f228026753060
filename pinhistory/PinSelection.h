// Choosing pins of a recorded package: by a list of numbers and names (the
// command line's --pins), and by port (all pins whose names share the
// prefix before their trailing digits).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "pinhistory/PinHistory.h"

// "PB12" -> "PB", "P0.5" -> "P0."; empty when the name has no trailing
// digits or nothing before them ("VDD", "12").
std::string PortPrefix(const std::string& name);

// The pins whose names have the port prefix `prefix`, in pin-number order.
std::vector<size_t> PinsOfPort(const std::vector<RecordedPin>& pins, const std::string& prefix);

// All pins in pin-number order.
std::vector<size_t> AllPinsInOrder(const std::vector<RecordedPin>& pins);

// A comma-separated list of pin numbers ("26"), names ("PB8", any case) and
// ports ("PB*") -> pin indices in the order given, each once. False with
// `error` naming the first entry that matches no pin.
bool SelectPins(const std::vector<RecordedPin>& pins, const std::string& list, std::vector<size_t>& out,
                std::string& error);
