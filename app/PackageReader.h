// Reads the package table a pin script returns into a PackageInfo, and asks
// the pin script for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PackageInfo.h"

struct lua_State;

// Limits on the text a package table may bring in: one text keeps at most
// kMaxTextBytes; once all texts of the package have used up
// kMaxPackageTextBytes, every further text keeps at most kMinTextBytes.
constexpr size_t kMaxTextBytes = 64 * 1024;
constexpr size_t kMaxPackageTextBytes = 16 * 1024 * 1024;
constexpr size_t kMinTextBytes = 64;

// Script number -> 32-bit value: rounds half away from zero and keeps the
// low 32 bits of the integer. NaN and infinities give 0.
uint32_t ScriptNumberToU32(double x);

// Reads the table at stack index `idx` into `info` (which is reset first).
// A value that is not a table leaves the defaults. Never raises a script
// error into the caller: metamethods that fail end the reading as a wrong
// type would. The stack is left as it was.
void ReadPackageTable(lua_State* L, int idx, PackageInfo& info);

// Calls the global `get_status(arg)` in protected mode and reads its result.
// `info` is reset first; it keeps the defaults when the state is null, the
// function is missing or fails. Returns true when the call succeeded.
bool GetPinStatus(lua_State* L, PackageInfo& info, bool arg);
