#include "pinhistory/PinSelection.h"

#include <algorithm>
#include <cctype>
#include <numeric>

#include "pinmodel/PackageInfo.h"

namespace {

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Trim(const std::string& s) {
  const auto a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

void SortByNumber(const std::vector<RecordedPin>& pins, std::vector<size_t>& idx) {
  std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
    return PinNumberValue(pins[a].number) < PinNumberValue(pins[b].number);
  });
}

}  // namespace

std::string PortPrefix(const std::string& name) {
  size_t end = name.size();
  while (end > 0 && std::isdigit(static_cast<unsigned char>(name[end - 1]))) --end;
  if (end == name.size() || end == 0) return {};
  return name.substr(0, end);
}

std::vector<size_t> PinsOfPort(const std::vector<RecordedPin>& pins, const std::string& prefix) {
  std::vector<size_t> out;
  if (prefix.empty()) return out;
  for (size_t i = 0; i < pins.size(); ++i)
    if (EqualsNoCase(PortPrefix(pins[i].name), prefix)) out.push_back(i);
  SortByNumber(pins, out);
  return out;
}

std::vector<size_t> AllPinsInOrder(const std::vector<RecordedPin>& pins) {
  std::vector<size_t> out(pins.size());
  std::iota(out.begin(), out.end(), size_t{0});
  SortByNumber(pins, out);
  return out;
}

bool SelectPins(const std::vector<RecordedPin>& pins, const std::string& list, std::vector<size_t>& out,
                std::string& error) {
  out.clear();
  auto add = [&](size_t i) {
    if (std::find(out.begin(), out.end(), i) == out.end()) out.push_back(i);
  };
  size_t pos = 0;
  while (pos <= list.size()) {
    const size_t comma = std::min(list.find(',', pos), list.size());
    const std::string item = Trim(list.substr(pos, comma - pos));
    pos = comma + 1;
    if (item.empty()) continue;
    std::vector<size_t> found;
    if (item.size() > 1 && item.back() == '*') {
      found = PinsOfPort(pins, item.substr(0, item.size() - 1));
    } else {
      for (size_t i = 0; i < pins.size(); ++i)
        if (pins[i].number == item || EqualsNoCase(pins[i].name, item)) found.push_back(i);
    }
    if (found.empty()) {
      error = "no pin '" + item + "' on this package";
      return false;
    }
    for (size_t i : found) add(i);
  }
  if (out.empty()) {
    error = "no pins named";
    return false;
  }
  return true;
}
