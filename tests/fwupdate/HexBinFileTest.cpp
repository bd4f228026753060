// The image loader: Intel HEX records and their addressing, the binary
// fallback, hostile files, and the sums, checked against objcopy and zlib.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/MemoryFileIO.h"
#include "fwupdate/CHexBinFile.h"

namespace fs = std::filesystem;

namespace {

// One HEX record line with its checksum.
std::string Rec(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> raw = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                              static_cast<uint8_t>(address), type};
  raw.insert(raw.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : raw) sum = static_cast<uint8_t>(sum + b);
  raw.push_back(static_cast<uint8_t>(-sum));
  std::string line = ":";
  char hex[3];
  for (uint8_t b : raw) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line + "\r\n";
}
const std::string kEnd = ":00000001FF\n";

std::vector<uint8_t> Bytes(uint8_t first, size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

uint32_t ZlibCrc(const std::vector<uint8_t>& v) {
  return static_cast<uint32_t>(crc32(0L, v.data(), static_cast<uInt>(v.size())));
}

class TempDir {
 public:
  TempDir() {
    std::string t = (fs::temp_directory_path() / "hexbin-XXXXXX").string();
    if (!::mkdtemp(t.data())) throw std::runtime_error("mkdtemp");
    m_path = t;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  std::string Write(const std::string& name, const std::string& content) const {
    const fs::path p = m_path / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }
  fs::path Path(const std::string& name) const { return m_path / name; }

 private:
  fs::path m_path;
};

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

TEST(HexBinFile, RecordsAtTwoAddressesLoadWithTheGapFilled) {
  TempDir dir;
  const std::string path =
      dir.Write("two.hex", Rec(0, 0x1000, Bytes(0x10, 16)) + Rec(0, 0x1800, Bytes(0x80, 16)) + kEnd);
  CHexBinFile f(0x10000);
  ASSERT_TRUE(f.Load(path, 0xFF, 4)) << f.Error();
  EXPECT_TRUE(f.IsHex());
  EXPECT_EQ(f.StartAddress(), 0x1000u);
  ASSERT_EQ(f.Size(), 0x810u);
  EXPECT_EQ(f.Data()[0], 0x10);
  EXPECT_EQ(f.Data()[15], 0x1F);
  for (size_t i = 16; i < 0x800; ++i) ASSERT_EQ(f.Data()[i], 0xFF) << i;
  EXPECT_EQ(f.Data()[0x800], 0x80);
  EXPECT_EQ(f.Data()[0x80F], 0x8F);
  // Not contiguous: two segments.
  ASSERT_EQ(f.Segments().size(), 2u);
  EXPECT_EQ(f.Segments()[0].start, 0x1000u);
  EXPECT_EQ(f.Segments()[0].length, 16u);
  EXPECT_EQ(f.Segments()[1].start, 0x1800u);
  EXPECT_EQ(f.Segments()[1].length, 16u);

  // The fill byte fills the holes; padding stays 0xFF.
  ASSERT_TRUE(f.Load(path, 0x00, 4));
  EXPECT_EQ(f.Data()[0x100], 0x00);
}

// Segment tables of small literal files (checksums written out by hand):
// records that do not continue the previous one, and every data record after
// an extended linear address record, open a segment.
TEST(HexBinFile, SegmentTablesOfLiteralFiles) {
  TempDir dir;
  using Table = std::vector<std::pair<uint32_t, uint32_t>>;
  const struct {
    const char* name;
    const char* text;
    uint32_t start, size;
    Table segments;
  } cases[] = {
      {"two records apart",
       ":10100000000102030405060708090A0B0C0D0E0F68\n"
       ":10180000101112131415161718191A1B1C1D1E1F60\n"
       ":00000001FF\n",
       0x1000, 0x810, {{0x1000, 16}, {0x1800, 16}}},
      {"contiguous records",
       ":10100000000102030405060708090A0B0C0D0E0F68\n"
       ":10101000101112131415161718191A1B1C1D1E1F58\n"
       ":00000001FF\n",
       0x1000, 0x20, {{0x1000, 32}}},
      {"extended linear addresses",
       ":10100000000102030405060708090A0B0C0D0E0F68\n"
       ":020000040000FA\n"                               // same base: still a new segment
       ":10101000101112131415161718191A1B1C1D1E1F58\n"
       ":041020002021222346\n"                           // continues the second
       ":020000040001F9\n"                               // base 0x10000
       ":02000000AABB99\n"
       ":00000001FF\n",
       0x1000, 0xF002, {{0x1000, 16}, {0x1010, 20}, {0x10000, 2}}},
      {"a record going back",
       ":10101000101112131415161718191A1B1C1D1E1F58\n"
       ":10100000000102030405060708090A0B0C0D0E0F68\n"
       ":00000001FF\n",
       0x1000, 0x20, {{0x1010, 16}, {0x1000, 16}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CHexBinFile f(0x100000);
    ASSERT_TRUE(f.Load(dir.Write("s.hex", c.text))) << f.Error();
    EXPECT_TRUE(f.IsHex());
    EXPECT_EQ(f.StartAddress(), c.start);
    EXPECT_EQ(f.Size(), c.size);
    Table got;
    for (const CHexBinFile::Segment& s : f.Segments()) got.emplace_back(s.start, s.length);
    EXPECT_EQ(got, c.segments);
  }
}

TEST(HexBinFile, ExtendedAddressesAndTheSegmentLimit) {
  TempDir dir;
  // 04 0x0800 -> 0x08000000; 02 0x1000 -> 0x10000.
  const std::string text = Rec(4, 0, {0x08, 0x00}) + Rec(0, 0x0000, Bytes(1, 8)) + Rec(0, 0x0100, Bytes(0x40, 4)) + kEnd;
  CHexBinFile f(0x1000);
  ASSERT_TRUE(f.Load(dir.Write("ext.hex", text))) << f.Error();
  EXPECT_EQ(f.StartAddress(), 0x08000000u);
  EXPECT_EQ(f.Size(), 0x104u);
  EXPECT_EQ(f.Data()[7], 8);
  EXPECT_EQ(f.Data()[0x100], 0x40);

  const std::string seg = Rec(2, 0, {0x10, 0x00}) + Rec(0, 0x0004, {0xAA, 0xBB}) + Rec(5, 0, {0, 0, 1, 0}) + kEnd;
  ASSERT_TRUE(f.Load(dir.Write("seg.hex", seg))) << f.Error();
  EXPECT_EQ(f.StartAddress(), 0x10004u);
  EXPECT_EQ(f.Size(), 2u);

  // Thirty-three segments are refused and thirty-two load, whether each run
  // follows its own extended address record or the records merely leave gaps.
  std::string linear, gaps;
  for (uint16_t i = 0; i < 33; ++i) {
    linear += Rec(4, 0, {0, static_cast<uint8_t>(i)}) + Rec(0, 0, {1});
    gaps += Rec(0, static_cast<uint16_t>(2 * i), {1});
  }
  const std::string lastLinear = Rec(4, 0, {0, 32}) + Rec(0, 0, {1}), lastGap = Rec(0, 64, {1});
  for (const auto& [many, last] : {std::pair{linear, lastLinear}, std::pair{gaps, lastGap}}) {
    CHexBinFile big(0x1000000);
    EXPECT_FALSE(big.Load(dir.Write("many.hex", many + kEnd)));
    EXPECT_EQ(big.GetFailure(), CHexBinFile::Failure::TooManySegments);
    EXPECT_TRUE(big.Load(dir.Write("32.hex", many.substr(0, many.size() - last.size()) + kEnd))) << big.Error();
    EXPECT_EQ(big.Segments().size(), 32u);
  }
}

TEST(HexBinFile, FilesThatAreNotHexLoadAsBinary) {
  TempDir dir;
  std::string badSum = Rec(0, 0x1000, Bytes(0x10, 16)) + kEnd;
  badSum[badSum.find('\r') - 1] ^= 1;  // last checksum digit
  const std::string noEnd = Rec(0, 0x1000, Bytes(0x10, 16));
  std::string pastLine = Rec(0, 0x1000, Bytes(0x10, 4)) + kEnd;
  pastLine[2] = '9';  // count 0x94: runs past the line
  const struct {
    const char* name;
    std::string text;
  } cases[] = {{"bad checksum", badSum},
               {"no end record", noEnd},
               {"count past the line", pastLine},
               {"not hex digits", ":0G000000FF\n" + kEnd},
               {"no data record", kEnd},
               {"plain text", "hello\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CHexBinFile f(0x1000);
    ASSERT_TRUE(f.Load(dir.Write("x.hex", c.text))) << f.Error();
    EXPECT_FALSE(f.IsHex());
    EXPECT_EQ(f.StartAddress(), 0u);
    EXPECT_EQ(std::string(f.Data().begin(), f.Data().end()), c.text);
  }
}

TEST(HexBinFile, RefusalsAndHostileFiles) {
  TempDir dir;
  // A 4097-byte boot loader against its 4096-byte limit; 4096 loads.
  CHexBinFile ld(4096);
  EXPECT_FALSE(ld.Load(dir.Write("ICE_ISP.bin", std::string(4097, 'x'))));
  EXPECT_EQ(ld.GetFailure(), CHexBinFile::Failure::TooLarge);
  EXPECT_TRUE(ld.Load(dir.Write("ICE_ISP.bin", std::string(4096, 'x'))));
  EXPECT_EQ(ld.Size(), 4096u);

  // .icp is refused unless it is HEX.
  EXPECT_FALSE(ld.Load(dir.Write("a.ICP", "data")));
  EXPECT_EQ(ld.GetFailure(), CHexBinFile::Failure::Refused);
  EXPECT_TRUE(ld.Load(dir.Write("b.icp", Rec(0, 0, {1, 2}) + kEnd)));

  // A record gigabytes away from the first: too large, nothing allocated.
  EXPECT_FALSE(ld.Load(dir.Write("far.hex", Rec(0, 0, {1}) + Rec(4, 0, {0xFF, 0xFF}) + Rec(0, 0xFFF0, {2}) + kEnd)));
  EXPECT_EQ(ld.GetFailure(), CHexBinFile::Failure::TooLarge);
  EXPECT_FALSE(ld.IsLoaded());
  EXPECT_EQ(ld.Size(), 0u);

  // A record line of two megabytes is not HEX: binary, within a limit that
  // allows it, and too large for the boot loader's.
  const std::string longLine = dir.Write("long.hex", ":" + std::string(2 << 20, '0') + "\n" + kEnd);
  CHexBinFile roomy(4 << 20);
  ASSERT_TRUE(roomy.Load(longLine)) << roomy.Error();
  EXPECT_FALSE(roomy.IsHex());
  EXPECT_EQ(roomy.Size(), (2u << 20) + 2 + kEnd.size());
  EXPECT_FALSE(ld.Load(longLine));
  EXPECT_EQ(ld.GetFailure(), CHexBinFile::Failure::TooLarge);

  // A file of 8 GiB (sparse): refused at once.
  const fs::path huge = dir.Path("huge.bin");
  { std::ofstream(huge) << "x"; }
  std::error_code ec;
  fs::resize_file(huge, 8ull << 30, ec);
  if (!ec) {
    CHexBinFile app(0x100000);
    EXPECT_FALSE(app.Load(huge.string()));
    EXPECT_EQ(app.GetFailure(), CHexBinFile::Failure::TooLarge);
  }

  EXPECT_FALSE(ld.Load(dir.Write("empty.bin", "")));
  EXPECT_EQ(ld.GetFailure(), CHexBinFile::Failure::Empty);
  EXPECT_FALSE(ld.Load(dir.Path("missing.bin").string()));
  EXPECT_EQ(ld.GetFailure(), CHexBinFile::Failure::Open);
  EXPECT_NE(ld.Error().find("No such file or directory"), std::string::npos);
}

TEST(HexBinFile, SumsAndCrcs) {
  TempDir dir;
  const std::string digits = "123456789";
  CHexBinFile f(0x1000);
  // Check values of CRC-8 (poly 0x07) and CRC-32 over "123456789".
  ASSERT_TRUE(f.Load(dir.Write("d.bin", digits), 0xFF, 1));
  EXPECT_EQ(f.ByteSum(), 477u);
  EXPECT_EQ(f.PaddedSize(), 9u);
  EXPECT_EQ(f.Crc8(), 0xF4u);
  EXPECT_EQ(f.Crc32(), 0xCBF43926u);
  EXPECT_EQ(f.PaddedCrc32(), 0xCBF43926u);

  // Page 4: three bytes of 0xFF pad the image to 12.
  ASSERT_TRUE(f.Load(dir.Write("d.bin", digits), 0xFF, 4));
  EXPECT_EQ(f.PaddedSize(), 12u);
  EXPECT_EQ(f.PaddedByteSum(), 477u + 3 * 0xFF);
  std::vector<uint8_t> padded(digits.begin(), digits.end());
  padded.insert(padded.end(), 3, 0xFF);
  EXPECT_EQ(f.PaddedCrc32(), ZlibCrc(padded));
  uint8_t crc = 0;  // bitwise CRC-8 of the padded bytes
  for (uint8_t b : padded) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
  }
  EXPECT_EQ(f.Crc8(), crc);

  // An unaligned start: the padded byte sum counts from the page boundary
  // below the start to the page boundary above the end.
  ASSERT_TRUE(f.Load(dir.Write("u.hex", Rec(0, 0x1001, {1, 2, 3, 4, 5}) + kEnd), 0xFF, 4));
  EXPECT_EQ(f.ByteSum(), 15u);
  EXPECT_EQ(f.PaddedSize(), 8u);
  EXPECT_EQ(f.PaddedByteSum(), 15u + 3 * 0xFF);  // 0x1000 and 0x1006-0x1007
  EXPECT_EQ(f.Word(0), 0x04030201u);
  EXPECT_EQ(f.Word(1), 0xFFFFFF05u);
}

// HEX files written by objcopy from files of the system load to the same
// bytes, and the CRC-32 agrees with zlib's.
TEST(HexBinFile, AgreesWithObjcopyAndZlib) {
  TempDir dir;
  const fs::path hex = dir.Path("true.hex"), bin = dir.Path("true.bin");
  ASSERT_TRUE(Shell("objcopy -O ihex -j .text /bin/true " + hex.string()));
  ASSERT_TRUE(Shell("objcopy -O binary -j .text /bin/true " + bin.string()));
  const std::vector<uint8_t> text = ReadAll(bin);
  ASSERT_FALSE(text.empty());
  CHexBinFile f(0x100000);
  ASSERT_TRUE(f.Load(hex.string())) << f.Error();
  EXPECT_TRUE(f.IsHex());
  EXPECT_EQ(std::vector<uint8_t>(f.Data().begin(), f.Data().end()), text);
  EXPECT_EQ(f.Crc32(), ZlibCrc(text));

  // A whole file above 64 KiB placed at 0x08000000: an extended linear
  // address record before every 64 KiB, each opening a segment.
  const std::string source = "/bin/ls";
  const std::vector<uint8_t> raw = ReadAll(source);
  ASSERT_GT(raw.size(), 0x10000u);
  const fs::path hex2 = dir.Path("ls.hex");
  ASSERT_TRUE(Shell("objcopy -I binary -O ihex --change-addresses 0x08000000 " + source + " " + hex2.string()));
  CHexBinFile g(0x100000);
  ASSERT_TRUE(g.Load(hex2.string(), 0xFF, 512)) << g.Error();
  EXPECT_EQ(g.StartAddress(), 0x08000000u);
  EXPECT_EQ(std::vector<uint8_t>(g.Data().begin(), g.Data().end()), raw);
  ASSERT_EQ(g.Segments().size(), (raw.size() + 0xFFFF) / 0x10000);
  for (size_t i = 0; i < g.Segments().size(); ++i) {
    EXPECT_EQ(g.Segments()[i].start, 0x08000000u + 0x10000u * i);
    EXPECT_EQ(g.Segments()[i].length, std::min<size_t>(0x10000, raw.size() - 0x10000 * i));
  }
  EXPECT_EQ(g.Crc32(), ZlibCrc(raw));
  std::vector<uint8_t> padded = raw;
  padded.resize((raw.size() + 511) / 512 * 512, 0xFF);
  EXPECT_EQ(g.PaddedSize(), padded.size());
  EXPECT_EQ(g.PaddedCrc32(), ZlibCrc(padded));
}

// Every seed of the loader's fuzz corpus loads or is refused cleanly.
TEST(HexBinFile, FuzzSeedsReplay) {
  size_t seeds = 0;
  for (const auto& e : fs::directory_iterator(GADREL_FUZZ_CORPUS)) {
    const std::vector<uint8_t> bytes = ReadAll(e.path());
    MemoryFileIO stream(bytes);
    CHexBinFile f(0x10000);
    if (f.Load(stream, e.path().string(), 0xFF, 4)) {
      EXPECT_LE(f.Size(), 0x10000u);
    } else {
      EXPECT_FALSE(f.Error().empty());
    }
    ++seeds;
  }
  EXPECT_GT(seeds, 0u);
}
