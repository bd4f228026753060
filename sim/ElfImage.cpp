#include "sim/ElfImage.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace sim {
namespace {

constexpr size_t kMaxFile = 64u << 20;

uint32_t Le32(const std::vector<uint8_t>& f, size_t o) {
  uint32_t v = 0;
  std::memcpy(&v, &f[o], 4);
  return v;
}
uint16_t Le16(const std::vector<uint8_t>& f, size_t o) {
  uint16_t v = 0;
  std::memcpy(&v, &f[o], 2);
  return v;
}
bool Fits(const std::vector<uint8_t>& f, uint64_t offset, uint64_t size) {
  return offset <= f.size() && size <= f.size() - offset;
}

}  // namespace

std::optional<uint32_t> ElfImage::Symbol(const std::string& name) const {
  const auto it = symbols.find(name);
  if (it == symbols.end()) return std::nullopt;
  return it->second;
}

std::vector<uint32_t> ElfImage::BreakpointInstructions() const {
  std::vector<uint32_t> out;
  for (const auto& s : segments) {
    if (!s.executable) continue;
    for (size_t i = (s.address & 1); i + 1 < s.bytes.size(); i += 2)
      if (s.bytes[i + 1] == 0xBE) out.push_back(s.address + static_cast<uint32_t>(i));
  }
  return out;
}

std::optional<ElfImage> ReadElf(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return std::nullopt;
  }
  in.seekg(0, std::ios::end);
  const auto size = static_cast<uint64_t>(in.tellg());
  if (size > kMaxFile) {
    error = path + " is larger than 64 MiB";
    return std::nullopt;
  }
  in.seekg(0);
  std::vector<uint8_t> f(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(f.data()), static_cast<std::streamsize>(f.size()));
  if (f.size() < 52 || std::memcmp(f.data(), "\x7f" "ELF", 4) != 0 || f[4] != 1 || f[5] != 1) {
    error = path + " is not a 32-bit little-endian ELF file";
    return std::nullopt;
  }
  ElfImage image;
  const uint32_t phoff = Le32(f, 28), shoff = Le32(f, 32);
  const uint16_t phentsize = Le16(f, 42), phnum = Le16(f, 44), shentsize = Le16(f, 46), shnum = Le16(f, 48);
  if ((phnum && (phentsize < 32 || !Fits(f, phoff, uint64_t{phentsize} * phnum))) ||
      (shnum && (shentsize < 40 || !Fits(f, shoff, uint64_t{shentsize} * shnum)))) {
    error = path + ": headers outside the file";
    return std::nullopt;
  }
  for (uint16_t i = 0; i < phnum; ++i) {
    const size_t o = phoff + size_t{i} * phentsize;
    if (Le32(f, o) != 1) continue;  // PT_LOAD
    const uint32_t offset = Le32(f, o + 4), paddr = Le32(f, o + 12), filesz = Le32(f, o + 16), flags = Le32(f, o + 24);
    if (!Fits(f, offset, filesz)) {
      error = path + ": a segment lies outside the file";
      return std::nullopt;
    }
    image.segments.push_back({paddr, (flags & 1) != 0, {f.begin() + offset, f.begin() + offset + filesz}});
  }
  for (uint16_t i = 0; i < shnum; ++i) {
    const size_t o = shoff + size_t{i} * shentsize;
    if (Le32(f, o + 4) != 2) continue;  // SHT_SYMTAB
    const uint32_t off = Le32(f, o + 16), sz = Le32(f, o + 20), link = Le32(f, o + 24), entsize = Le32(f, o + 36);
    if (link >= shnum || entsize < 16 || !Fits(f, off, sz)) continue;
    const size_t so = shoff + size_t{link} * shentsize;
    const uint32_t stroff = Le32(f, so + 16), strsz = Le32(f, so + 20);
    if (!Fits(f, stroff, strsz)) continue;
    for (uint32_t e = 0; e + entsize <= sz; e += entsize) {
      const size_t eo = off + e;
      const uint32_t name = Le32(f, eo), value = Le32(f, eo + 4);
      const uint8_t type = f[eo + 12] & 0xF;
      if (type > 2 || name == 0 || name >= strsz) continue;  // objects, functions, plain labels
      const char* begin = reinterpret_cast<const char*>(&f[stroff + name]);
      const size_t len = strnlen(begin, strsz - name);
      if (begin[0] == '$') continue;  // mapping symbols ($t, $d)
      image.symbols.emplace(std::string(begin, len), type == 2 ? value & ~1u : value);
    }
  }
  return image;
}

}  // namespace sim
