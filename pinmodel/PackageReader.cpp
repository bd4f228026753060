#include "pinmodel/PackageReader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// Everything below runs inside a protected call (see GetPinStatus): any
// allocation may run a script's finaliser, and an error raised there, or by
// a metamethod, leaves these frames with a jump. They hold no object with a
// destructor while they call the interpreter; what they have read is
// already stored in the PackageInfo, so an error ends the reading where it
// happens and keeps the fields read before it.

// What one package may bring in. A script can hand the same long string, or
// the same long list, to thousands of pins at no cost of its own; copied
// out, it would not fit in memory.
struct ReadBudget {
  size_t textBytes = kMaxPackageTextBytes;
  size_t entries = kMaxPackageEntries;
};

// String value at `idx` (a string or a number), cut to what the budget
// allows; converts a number in place, so never use it on a key that lua_next
// still needs.
std::string ValueString(lua_State* L, int idx, ReadBudget& budget) {
  size_t len = 0;
  const char* s = lua_tolstring(L, idx, &len);
  if (s == nullptr) return {};
  len = std::min(len, kMaxTextBytes);
  if (len > budget.textBytes) len = std::min(len, kMinTextBytes);
  budget.textBytes -= std::min(budget.textBytes, len);
  return std::string(s, len);
}

// lua_next within the entry budget: false at the end of the table, and also
// when the budget is used up (the key is then popped as at the end).
bool NextEntry(lua_State* L, int tableIdx, ReadBudget& budget) {
  if (budget.entries == 0) {
    lua_pop(L, 1);
    return false;
  }
  --budget.entries;
  return lua_next(L, tableIdx) != 0;
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

void ReadTexts(lua_State* L, int tableIdx, std::vector<std::string>& texts, ReadBudget& budget) {
  texts.clear();
  lua_pushnil(L);
  while (NextEntry(L, tableIdx, budget)) {
    if (IsNumericKey(L, -2) && IsStringOrNumber(L, -1)) texts.push_back(ValueString(L, -1, budget));
    lua_pop(L, 1);
  }
}

void ReadPin(lua_State* L, int tableIdx, PinInfo& pin, ReadBudget& budget) {
  pin = PinInfo{};
  lua_pushnil(L);
  while (NextEntry(L, tableIdx, budget)) {
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

void ReadPins(lua_State* L, int tableIdx, std::vector<PinInfo>& pins, ReadBudget& budget) {
  pins.clear();
  lua_pushnil(L);
  while (NextEntry(L, tableIdx, budget)) {
    if (IsNumericKey(L, -2) && lua_istable(L, -1)) {
      if (pins.size() == kMaxPackagePins) {
        lua_pop(L, 2);
        break;
      }
      pins.emplace_back();
      ReadPin(L, lua_gettop(L), pins.back(), budget);
    }
    lua_pop(L, 1);
  }
}

// Reads the package table at `idx` into `info`, key by key in order, each
// with an ordinary read (metamethods apply); the first key of the wrong type
// ends the reading.
void ReadPackageTable(lua_State* L, int idx, PackageInfo& info) {
  if (!lua_istable(L, idx)) return;
  luaL_checkstack(L, 16, "package table");
  ReadBudget budget;
  lua_getfield(L, idx, "name");
  if (!lua_isstring(L, -1)) return;
  info.name = ValueString(L, -1, budget);
  lua_getfield(L, idx, "name_color");
  if (!lua_isnumber(L, -1)) return;
  info.name_color = NumberAt(L, -1);
  lua_getfield(L, idx, "information");
  if (!lua_isstring(L, -1)) return;
  info.information = ValueString(L, -1, budget);
  lua_getfield(L, idx, "pins");
  if (!lua_istable(L, -1)) return;
  ReadPins(L, lua_gettop(L), info.pins, budget);
  lua_getfield(L, idx, "processor");
  if (!lua_istable(L, -1)) return;
  lua_getfield(L, lua_gettop(L), "information");
  if (!lua_isstring(L, -1)) return;
  info.processor = ValueString(L, -1, budget);
  lua_getfield(L, idx, "pkg_frame");
  if (!lua_isnumber(L, -1)) return;
  info.pkg_frame = static_cast<int32_t>(NumberAt(L, -1));
}

}  // namespace

int CallGetStatus(lua_State* L) {
  auto& c = *static_cast<PinStatusCall*>(lua_touserdata(L, 1));
  lua_getglobal(L, "get_status");
  lua_pushboolean(L, c.arg ? 1 : 0);
  lua_call(L, 1, 1);
  c.called = true;
  try {
    ReadPackageTable(L, lua_gettop(L), *c.info);
  } catch (...) {
    // Out of memory while copying: the reading ends there. Nothing may
    // unwind through the interpreter.
  }
  return 0;
}

uint32_t ScriptNumberToU32(double x) {
  if (!std::isfinite(x)) return 0;
  const double rounded = std::trunc(x > 0 ? x + 0.5 : x - 0.5);
  // The low 32 bits of the integer, also for magnitudes beyond 64 bits.
  double low = std::fmod(rounded, 4294967296.0);
  if (low < 0) low += 4294967296.0;
  return static_cast<uint32_t>(low);
}

bool GetPinStatus(lua_State* L, PackageInfo& info, bool arg) {
  info.Reset();
  if (L == nullptr) return false;
  PinStatusCall call{&info, arg, false};
  const int top = lua_gettop(L);
  lua_cpcall(L, CallGetStatus, &call);
  lua_settop(L, top);
  return call.called;
}
