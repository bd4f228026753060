// Reads the package table a pin script returns into a PackageInfo, and asks
// the pin script for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pinmodel/PackageInfo.h"
#include "pinmodel/PackageLayout.h"

struct lua_State;

// Limits on what a package table may bring in, so that reading it costs a
// small multiple of what can be drawn. One text keeps at most
// kMaxTextBytes; once all texts of the package have used up
// kMaxPackageTextBytes, every further text keeps at most kMinTextBytes. The
// reading visits at most kMaxPackageEntries table entries in all (pins, pin
// fields and list entries) and keeps at most kMaxPackagePins pins, the
// largest ball grid drawn; entries past either limit are not read.
constexpr size_t kMaxTextBytes = 64 * 1024;
constexpr size_t kMaxPackageTextBytes = 16 * 1024 * 1024;
constexpr size_t kMinTextBytes = 64;
constexpr size_t kMaxPackageEntries = 256 * 1024;
constexpr size_t kMaxPackagePins = static_cast<size_t>(kMaxGridSide) * kMaxGridSide;

// Script number -> 32-bit value: rounds half away from zero and keeps the
// low 32 bits of the integer. NaN and infinities give 0.
uint32_t ScriptNumberToU32(double x);

// Calls the global `get_status(arg)` in protected mode and reads its result
// (a table; anything else leaves the defaults). `info` is reset first; it
// keeps the defaults when the state is null or the function is missing or
// fails. A metamethod that raises while the table is read ends the reading
// as a wrong type would: the fields read before it stay. Returns true when
// get_status returned. The stack is left as it was.
bool GetPinStatus(lua_State* L, PackageInfo& info, bool arg);

// What a protected call of CallGetStatus fills in.
struct PinStatusCall {
  PackageInfo* info;
  bool arg;
  bool called;  // get_status returned; the reading may still have stopped early
};

// The protected body of GetPinStatus, for a host that runs it under its own
// protection and limits: the light userdata at stack index 1 is a
// PinStatusCall whose `info` the caller has reset. Calls `get_status(arg)`
// and reads its table into `info`.
int CallGetStatus(lua_State* L);
