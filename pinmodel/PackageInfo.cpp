#include "pinmodel/PackageInfo.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <utility>

int64_t PinNumberValue(const std::string& pinNo) {
  // Digits after an optional sign, right at the start: a leading blank makes
  // the text one without leading digits.
  size_t i = 0;
  bool negative = false;
  if (i < pinNo.size() && (pinNo[i] == '+' || pinNo[i] == '-')) negative = pinNo[i++] == '-';
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t value = 0;
  for (; i < pinNo.size() && std::isdigit(static_cast<unsigned char>(pinNo[i])); ++i) {
    const int digit = pinNo[i] - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return negative ? -value : value;
}

std::vector<const PinInfo*> SortedPinOrder(const std::vector<PinInfo>& pins) {
  std::vector<std::pair<int64_t, const PinInfo*>> keyed;
  keyed.reserve(pins.size());
  for (const PinInfo& p : pins) keyed.emplace_back(PinNumberValue(p.pin_no), &p);
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<const PinInfo*> order;
  order.reserve(pins.size());
  for (const auto& k : keyed) order.push_back(k.second);
  return order;
}

std::vector<PinInfo> SortedPins(const std::vector<PinInfo>& pins) {
  std::vector<PinInfo> sorted;
  sorted.reserve(pins.size());
  for (const PinInfo* p : SortedPinOrder(pins)) sorted.push_back(*p);
  return sorted;
}
