#include "PackageReader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "script/ScriptBinding.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// Runs inside lua_pcall: pushes table[key] for the table in argument 1 and
// the key in argument 2 with an ordinary (metamethod-aware) read. Holds no
// C++ object, so an error raised by a metamethod unwinds nothing that needs
// a destructor.
int FetchField(lua_State* L) {
  lua_settop(L, 2);
  lua_gettable(L, 1);
  return 1;
}

// Pushes table[key] (table at absolute index `table`); false with nothing
// pushed when the read raised an error.
bool Fetch(lua_State* L, int table, const char* key) {
  lua_pushcfunction(L, FetchField);
  lua_pushvalue(L, table);
  lua_pushstring(L, key);
  if (lua_pcall(L, 2, 1, 0) != 0) {
    lua_pop(L, 1);
    return false;
  }
  return true;
}

// Bytes of text one package may hold. A script can hand the same long
// string to thousands of pins at no cost of its own; copied out, it would
// not fit in memory. Past the budget, texts are cut short.
struct TextBudget {
  size_t remaining = kMaxPackageTextBytes;
};

// String value at `idx` (a string or a number), cut to what the budget
// allows; converts a number in place, so never use it on a key that lua_next
// still needs.
std::string ValueString(lua_State* L, int idx, TextBudget& budget) {
  size_t len = 0;
  const char* s = lua_tolstring(L, idx, &len);
  if (s == nullptr) return {};
  len = std::min(len, kMaxTextBytes);
  if (len > budget.remaining) len = std::min(len, kMinTextBytes);
  budget.remaining -= std::min(budget.remaining, len);
  return std::string(s, len);
}

bool IsStringOrNumber(lua_State* L, int idx) {
  const int t = lua_type(L, idx);
  return t == LUA_TSTRING || t == LUA_TNUMBER;
}

// A key that counts as a list index: a number or a numeric string.
bool IsNumericKey(lua_State* L, int idx) {
  const int t = lua_type(L, idx);
  return t == LUA_TNUMBER || (t == LUA_TSTRING && lua_isnumber(L, idx));
}

uint32_t NumberAt(lua_State* L, int idx) { return ScriptNumberToU32(lua_tonumber(L, idx)); }

void ReadTexts(lua_State* L, int tableIdx, std::vector<std::string>& texts, TextBudget& budget) {
  texts.clear();
  lua_pushnil(L);
  while (lua_next(L, tableIdx) != 0) {
    if (IsNumericKey(L, -2) && IsStringOrNumber(L, -1)) texts.push_back(ValueString(L, -1, budget));
    lua_pop(L, 1);
  }
}

void ReadPin(lua_State* L, int tableIdx, PinInfo& pin, TextBudget& budget) {
  pin = PinInfo{};
  lua_pushnil(L);
  while (lua_next(L, tableIdx) != 0) {
    if (lua_type(L, -2) == LUA_TSTRING) {
      size_t len = 0;
      const char* k = lua_tolstring(L, -2, &len);
      const std::string_view key(k, len);
      const int v = lua_gettop(L);
      const bool text = IsStringOrNumber(L, v);
      const bool number = lua_isnumber(L, v) != 0;
      if (key == "pin_no") {
        if (text) pin.pin_no = ValueString(L, v, budget);
      } else if (key == "highlight_text") {
        if (text) pin.highlight_text = ValueString(L, v, budget);
      } else if (key == "information") {
        if (text) pin.information = ValueString(L, v, budget);
      } else if (key == "texts") {
        if (lua_istable(L, v)) ReadTexts(L, v, pin.texts, budget);
      } else if (key == "pin_no_color") {
        if (number) pin.pin_no_color = NumberAt(L, v);
      } else if (key == "normal_color") {
        if (number) pin.normal_color = NumberAt(L, v);
      } else if (key == "highlight_color") {
        if (number) pin.highlight_color = NumberAt(L, v);
      } else if (key == "pin_bg_color") {
        if (number) pin.pin_bg_color = NumberAt(L, v);
      } else if (key == "direction") {
        if (number) pin.direction = static_cast<int32_t>(NumberAt(L, v));
      } else if (key == "status") {
        if (number) pin.status = static_cast<int32_t>(NumberAt(L, v));
      } else if (key == "pullup") {
        if (lua_isboolean(L, v)) pin.pullup = lua_toboolean(L, v) != 0;
      }
    }
    lua_pop(L, 1);
  }
}

void ReadPins(lua_State* L, int tableIdx, std::vector<PinInfo>& pins, TextBudget& budget) {
  pins.clear();
  lua_pushnil(L);
  while (lua_next(L, tableIdx) != 0) {
    if (IsNumericKey(L, -2) && lua_istable(L, -1)) {
      pins.emplace_back();
      ReadPin(L, lua_gettop(L), pins.back(), budget);
    }
    lua_pop(L, 1);
  }
}

}  // namespace

uint32_t ScriptNumberToU32(double x) {
  if (!std::isfinite(x)) return 0;
  const double rounded = std::trunc(x > 0 ? x + 0.5 : x - 0.5);
  // The low 32 bits of the integer, also for magnitudes beyond 64 bits.
  double low = std::fmod(rounded, 4294967296.0);
  if (low < 0) low += 4294967296.0;
  return static_cast<uint32_t>(low);
}

void ReadPackageTable(lua_State* L, int idx, PackageInfo& info) {
  info.Reset();
  if (!lua_istable(L, idx)) return;
  if (!lua_checkstack(L, 16)) return;
  const int top = lua_gettop(L);
  const int table = idx > 0 || idx <= LUA_REGISTRYINDEX ? idx : top + idx + 1;

  // Each key in order; the first of the wrong type (or whose read fails)
  // ends the reading.
  TextBudget budget;
  [&] {
    if (!Fetch(L, table, "name") || !lua_isstring(L, -1)) return;
    info.name = ValueString(L, -1, budget);
    if (!Fetch(L, table, "name_color") || !lua_isnumber(L, -1)) return;
    info.name_color = NumberAt(L, -1);
    if (!Fetch(L, table, "information") || !lua_isstring(L, -1)) return;
    info.information = ValueString(L, -1, budget);
    if (!Fetch(L, table, "pins") || !lua_istable(L, -1)) return;
    ReadPins(L, lua_gettop(L), info.pins, budget);
    if (!Fetch(L, table, "processor") || !lua_istable(L, -1)) return;
    if (!Fetch(L, lua_gettop(L), "information") || !lua_isstring(L, -1)) return;
    info.processor = ValueString(L, -1, budget);
    if (!Fetch(L, table, "pkg_frame") || !lua_isnumber(L, -1)) return;
    info.pkg_frame = static_cast<int32_t>(NumberAt(L, -1));
  }();
  lua_settop(L, top);
}

bool GetPinStatus(lua_State* L, PackageInfo& info, bool arg) {
  info.Reset();
  if (L == nullptr) return false;
  const int top = lua_gettop(L);
  PushGlobalProtected(L, "get_status");
  lua_pushboolean(L, arg ? 1 : 0);
  if (lua_pcall(L, 1, 1, 0) != 0) {
    lua_settop(L, top);
    return false;
  }
  ReadPackageTable(L, -1, info);
  lua_settop(L, top);
  return true;
}

int64_t PinNumberValue(const std::string& pinNo) {
  size_t i = 0;
  while (i < pinNo.size() && std::isspace(static_cast<unsigned char>(pinNo[i]))) ++i;
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
