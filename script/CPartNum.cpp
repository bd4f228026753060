// Lookups over the constant part tables of data/PartTables.h.
#include "script/CPartNum.h"

#include <cstdio>
#include <cstring>

#include "data/PartTables.h"

namespace {

using gadrel::data::MaskedPartRecord;
using gadrel::data::PartRecord;

constexpr uint32_t kExactSecondId = 0x42D;

std::string NameOf(const char (&name)[32]) { return std::string(name, strnlen(name, sizeof name)); }

// "[%08x]": the name of a chip whose id is in no table.
std::string BracketedLower(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "[%08x]", static_cast<unsigned>(id));
  return text;
}

std::string BracketedUpper(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "[%08X]", static_cast<unsigned>(id));
  return text;
}

std::string FindByPid(std::span<const PartRecord> table, uint32_t pid, uint32_t& family) {
  for (const PartRecord& r : table) {
    if (r.pid == pid) {
      family = r.family;
      return NameOf(r.name);
    }
  }
  family = 0;
  return BracketedLower(pid);
}

}  // namespace

std::string CPartNum::GetPartNumByPID(uint32_t pid, bool is8051, uint32_t& family) const {
  return FindByPid(is8051 ? gadrel::data::Parts8051() : gadrel::data::CortexMParts(), pid, family);
}

std::string CPartNum::GetPartNumByPID2(uint32_t pid, uint32_t secondId, uint32_t& family) const {
  if (secondId == kExactSecondId) return FindByPid(gadrel::data::PloskExactParts(), pid, family);

  const uint32_t pidKey = pid & gadrel::data::kMaskedPidMask;
  const uint32_t idKey = secondId & gadrel::data::kMaskedSecondIdMask;
  for (const MaskedPartRecord& r : gadrel::data::PloskMaskedParts()) {
    if (r.pidKey == pidKey && r.secondIdKey == idKey) {
      family = r.family;
      return NameOf(r.name);
    }
  }
  family = 0;
  return gadrel::data::kPloskDefaultName;
}

std::string CPartNum::GetPartNumByUCID(const uint32_t w[4], uint32_t pid) const {
  if (w[0] == 0xFFFFFFFFu && w[1] == 0xFFFFFFFFu && w[2] == 0xFFFFFFFFu && w[3] == 0xFFFFFFFFu) return {};

  const uint32_t t = (w[3] >> 28) & 3;
  if (t == 2) return {};
  if (t == 0) return BracketedUpper(pid);

  // The name sits right-aligned in w2, w1, w0 (most significant byte first),
  // padded in front with 0xFF bytes. Every 0xFF byte counts as padding.
  char text[13] = {};
  size_t skip = 0;
  for (int j = 0; j < 3; ++j) {
    const uint32_t word = w[2 - j];
    for (int k = 0; k < 4; ++k) {
      const auto byte = static_cast<unsigned char>((word >> (24 - 8 * k)) & 0xFF);
      if (byte == 0xFF)
        ++skip;
      else
        text[4 * j + k] = static_cast<char>(byte);
    }
  }
  std::memmove(text, text + skip, 12 - skip);
  text[12 - skip] = '\0';
  return std::string(text);
}

bool CPartNum::IsSupportedPID_8051(uint32_t value) {
  switch (value & 0xFF) {
    case 0x47: case 0x48: case 0x49: case 0x4B: case 0x52:
    case 0x53: case 0x57: case 0x63: case 0x67: case 0x72:
      return true;
    default:
      return false;
  }
}

size_t PartFamilyCount() { return gadrel::data::kFamilyCount; }

const char* PartFamilyName(size_t index) {
  return index < gadrel::data::kFamilyCount ? gadrel::data::kFamilyNames[index] : "";
}
