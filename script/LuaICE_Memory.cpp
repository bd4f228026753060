// ice methods: core registers, target memory and the adapter's own memory.
#include <algorithm>
#include <cstring>
#include <vector>

#include <lua.hpp>

#include "ice/CICE.h"
#include "script/LuaICE.h"

namespace {

constexpr unsigned kMultiArgs = 4;  // addresses (or pairs) of the argument forms

// Counts the consecutive number arguments from `first`, at most `limit`,
// converting them into `out`.
unsigned NumberArgs(lua_State* L, int first, unsigned limit, uint32_t* out) {
  unsigned n = 0;
  while (n < limit && ArgU32(L, first + static_cast<int>(n), out[n])) ++n;
  return n;
}

// A scratch buffer owned by the script state (a userdata left on the stack),
// so no C++ object is alive when a script error is raised after it.
uint8_t* ScratchBuffer(lua_State* L, size_t bytes) {
  auto* p = static_cast<uint8_t*>(lua_newuserdata(L, bytes == 0 ? 1 : bytes));
  std::memset(p, 0, bytes == 0 ? 1 : bytes);
  return p;
}

// The address table of the table forms; an empty one is an argument error.
std::vector<uint32_t> AddressTable(lua_State* L, int idx) {
  std::vector<uint32_t> addresses = TableNumbers(L, idx);
  if (addresses.empty()) ArgumentError();
  return addresses;
}

enum class Space { Target, Adapter };

// The table form of ReadMemMulti / ReadICEMemMulti: every address, read in
// as many multi-access commands as the adapter's per-command limit needs.
int ReadWordTable(CICE& ice, lua_State* L, Space space) {
  const std::vector<uint32_t> addresses = AddressTable(L, 2);
  std::vector<uint32_t> values(addresses.size());
  const auto n = static_cast<unsigned>(addresses.size());
  if (space == Space::Target)
    ice.ReadMemMulti(n, addresses.data(), values.data());
  else
    ice.ReadICEMemMulti(addresses.data(), n, values.data());
  PushWordTable(L, values);
  return 1;
}

// The argument form: 1 to 4 addresses, one result each.
int ReadWordArgs(CICE& ice, lua_State* L, Space space) {
  uint32_t addresses[kMultiArgs] = {};
  uint32_t values[kMultiArgs] = {};
  const unsigned n = NumberArgs(L, 2, kMultiArgs, addresses);
  if (n == 0) ArgumentError();
  if (space == Space::Target)
    ice.ReadMemMulti(n, addresses, values);
  else
    ice.ReadICEMemMulti(addresses, n, values);
  for (unsigned i = 0; i < n; ++i) PushU32(L, values[i]);
  return static_cast<int>(n);
}

// ReadMem / ReadFlash: address and length, a byte table back.
int ReadBytes(CICE& ice, lua_State* L, bool flash) {
  uint32_t address = 0, length = 0;
  if (!ArgU32(L, 2, address) || !ArgU32(L, 3, length) || length > kScriptMaxTransfer)
    ArgumentError();
  const size_t rounded = (static_cast<size_t>(length) + 3) & ~size_t{3};
  uint8_t* buffer = ScratchBuffer(L, rounded);
  if (length != 0) {
    if (flash)
      ice.ReadFlashBlock(address, buffer, length);
    else
      ice.ReadMem(address, buffer, length, true, false);
  }
  PushByteTable(L, {buffer, length});
  lua_remove(L, -2);
  return 1;
}

void WriteByteTable(CICE& ice, lua_State* L, uint32_t address) {
  const std::vector<uint32_t> values = TableNumbers(L, 3);
  if (values.empty()) return;
  std::vector<uint8_t> bytes(values.size());
  std::transform(values.begin(), values.end(), bytes.begin(),
                 [](uint32_t v) { return static_cast<uint8_t>(v); });
  ice.WriteMem(address, bytes.data(), static_cast<unsigned>(bytes.size()), true);
}

}  // namespace

int CLuaICE::ReadReg(lua_State* L) {
  uint32_t reg = 0;
  if (!ArgU32(L, 2, reg)) ArgumentError();
  PushU32(L, m_pICE->ReadReg(reg));
  return 1;
}

int CLuaICE::WriteReg(lua_State* L) {
  uint32_t reg = 0, value = 0;
  if (!ArgU32(L, 2, reg) || !ArgU32(L, 3, value)) ArgumentError();
  m_pICE->WriteReg(reg, value);
  return 0;
}

int CLuaICE::ReadMem32(lua_State* L) {
  uint32_t address = 0, count = 0;
  if (!ArgU32(L, 2, address)) ArgumentError();
  if (!ArgU32(L, 3, count)) {
    PushU32(L, m_pICE->ReadMem32(address, true));
    return 1;
  }
  if (count > kScriptMaxWords) ArgumentError();
  if (count == 0) return 0;
  uint32_t words[kScriptMaxWords] = {};
  // One block when it fits one reply; the layer splits longer ones.
  m_pICE->ReadMem(address, words, count * 4, true, false);
  lua_checkstack(L, static_cast<int>(count));
  for (uint32_t i = 0; i < count; ++i) PushU32(L, words[i]);
  return static_cast<int>(count);
}

int CLuaICE::WriteMem32(lua_State* L) {
  uint32_t address = 0;
  uint32_t words[kScriptMaxWords + 1] = {};
  if (!ArgU32(L, 2, address) || !ArgU32(L, 3, words[0])) ArgumentError();
  if (!lua_isnumber(L, 4)) {
    m_pICE->WriteMem32(address, words[0], true, nullptr, nullptr, 0);
    return 0;
  }
  const unsigned n = NumberArgs(L, 3, kScriptMaxWords + 1, words);
  if (n > kScriptMaxWords) ArgumentError();
  // One block when it fits one request; more on adapters with short packets.
  const unsigned chunkWords = std::max(1u, m_pICE->GetMaxBlockData() / 4);
  for (unsigned i = 0; i < n; i += chunkWords) {
    const unsigned k = std::min(chunkWords, n - i);
    m_pICE->WriteBlock(address + i * 4, k * 4, words + i, true);
  }
  return 0;
}

int CLuaICE::ReadMemMulti(lua_State* L) {
  if (lua_istable(L, 2)) return ReadWordTable(*m_pICE, L, Space::Target);
  return ReadWordArgs(*m_pICE, L, Space::Target);
}

int CLuaICE::WriteMemMulti(lua_State* L) {
  uint32_t addresses[kMultiArgs] = {};
  uint32_t values[kMultiArgs] = {};
  unsigned n = 0;
  while (n < kMultiArgs && ArgU32(L, 2 + 2 * static_cast<int>(n), addresses[n]) &&
         ArgU32(L, 3 + 2 * static_cast<int>(n), values[n]))
    ++n;
  if (n == 0) ArgumentError();
  m_pICE->WriteMemMulti(n, addresses, values);
  return 0;
}

int CLuaICE::ReadMem(lua_State* L) { return ReadBytes(*m_pICE, L, false); }

int CLuaICE::ReadFlash(lua_State* L) { return ReadBytes(*m_pICE, L, true); }

int CLuaICE::WriteMem(lua_State* L) {
  uint32_t address = 0;
  if (!ArgU32(L, 2, address) || !lua_istable(L, 3)) ArgumentError();
  WriteByteTable(*m_pICE, L, address);
  return 0;
}

int CLuaICE::ReadICEMem32(lua_State* L) {
  uint32_t address = 0;
  if (!ArgU32(L, 2, address)) ArgumentError();
  PushU32(L, m_pICE->ReadICEMem32(address));
  return 1;
}

int CLuaICE::ReadICEMemMulti(lua_State* L) {
  if (lua_istable(L, 2)) return ReadWordTable(*m_pICE, L, Space::Adapter);
  return ReadWordArgs(*m_pICE, L, Space::Adapter);
}
