// The Value Change Dump: its exact text for a small history, and an
// independent reader (sigrok-cli) reading back every pin-name oddity.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "pinhistory/VcdWriter.h"
#include "tests/pinhistory/HistoryFixture.h"

namespace {

std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* f = ::popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    ::pclose(f);
  }
  return out;
}

std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/gadrel-vcd-" + std::to_string(::getpid()) + "-" + name;
}

}  // namespace

TEST(VcdWriter, WritesHeaderWiresAndChangesInTimeOrder) {
  PinHistory h;
  PackageInfo p = MakePackage("LH-", "GX 32");
  p.pins[1].highlight_text = "USART1_TX";
  h.Record(5000000, p);
  p.pins[0].status = 65;
  h.Record(5001000, p);
  p.pins[0].direction = 2;  // a direction change alone writes nothing
  h.Record(5002000, p);
  p.pins[1].status = 66;
  p.pins[2].status = 65;
  h.Record(5002500, p);
  h.MarkGap(5004000);

  std::ostringstream out;
  ASSERT_TRUE(WriteVcd(out, h, {0, 1, 2}, {"Thu Dec 10 12:00:00 2026", "Gadrel 3.23"}));
  EXPECT_EQ(out.str(),
            "$date\n  Thu Dec 10 12:00:00 2026\n$end\n"
            "$version\n  Gadrel 3.23\n$end\n"
            "$comment\n  Pin history of GX 32: 3 of 3 pins; time 0 is 5000000 us of the monotonic clock\n$end\n"
            "$timescale 1 us $end\n"
            "$scope module GX_32 $end\n"
            "$var wire 1 ! P0_pin1 $end\n"
            "$var wire 1 \" USART1_TX_pin2 $end\n"
            "$var wire 1 # P2_pin3 $end\n"
            "$upscope $end\n$enddefinitions $end\n"
            "#0\n$dumpvars\n0!\n1\"\nx#\n$end\n"
            "#1000\n1!\n"
            "#2500\n0\"\n1#\n"
            "#4000\nx!\nx\"\nx#\n");
}

TEST(VcdWriter, IdentifiersAndCodes) {
  const struct {
    const char* text;
    const char* id;
  } cases[] = {{"PB0", "PB0"}, {"P0.5", "P0_5"}, {"a  b", "a_b"}, {"", "pin"}, {"$end", "_end"},
               {"3V3", "_3V3"}, {"\xC3\xA9t\xC3\xA9", "_t_"}, {"--", "pin"}};
  for (const auto& c : cases) EXPECT_EQ(VcdIdentifier(c.text), c.id) << c.text;
  EXPECT_EQ(VcdCode(0), "!");
  EXPECT_EQ(VcdCode(93), "~");
  EXPECT_EQ(VcdCode(94), "!!");
  EXPECT_EQ(VcdCode(95), "\"!");
  std::set<std::string> codes;
  for (size_t i = 0; i < 20000; ++i) codes.insert(VcdCode(i));
  EXPECT_EQ(codes.size(), 20000u);
}

// Every pin-name oddity gives a dump that sigrok-cli reads with one channel
// per pin, each name once, and the levels in place.
TEST(VcdWriter, SigrokReadsEveryPinNameOddity) {
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> pins;  // number, name
  } cases[] = {
      {"spaces", {{"1", "PA 0"}, {"2", " PA1 "}, {"3 4", "x y"}}},
      {"non-ASCII", {{"1", "\xC3\x9C" "ber"}, {"2", "\xE2\x86\x92OUT"}, {"\xC2\xB9", "P\xC3\xA4"}}},
      {"duplicates", {{"1", "PB0"}, {"1", "PB0"}, {"2", "PB0"}, {"1", "PB0_pin1"}}},
      {"empty", {{"", ""}, {"", ""}, {"5", ""}}},
      {"VCD syntax", {{"1", "$end"}, {"2", "#12"}, {"3", "a$var"}, {"4", "\t\n"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PackageInfo p;
    p.name = c.what;
    for (const auto& [no, name] : c.pins) p.pins.push_back(MakePin(no, name, 'L'));
    PinHistory h;
    h.Record(0, p);
    p.pins[0].status = 65;  // the first pin goes high at 2 ms
    h.Record(2000, p);
    h.Record(4000, p);
    std::vector<size_t> all;
    for (size_t i = 0; i < p.pins.size(); ++i) all.push_back(i);
    const std::string path = TempPath("oddity.vcd");
    {
      std::ofstream f(path);
      ASSERT_TRUE(WriteVcd(f, h, all, {"", "Gadrel 3.23"}));
    }
    // 1 kHz samples: rows of 0/1 per channel, one per millisecond.
    const std::string csv = RunCommand("sigrok-cli -I vcd:downsample=1000 -i '" + path + "' -O csv 2>&1");
    std::remove(path.c_str());
    std::istringstream lines(csv);
    std::string line, channels;
    std::vector<std::string> rows;
    while (std::getline(lines, line)) {
      if (line.rfind("; Channels", 0) == 0) channels = line;
      if (!line.empty() && (line[0] == '0' || line[0] == '1')) rows.push_back(line);
    }
    const std::vector<std::string> names = VcdWireNames(h, all);
    ASSERT_FALSE(channels.empty()) << csv;
    EXPECT_NE(channels.find("(" + std::to_string(all.size()) + "/" + std::to_string(all.size()) + ")"),
              std::string::npos)
        << channels;
    for (const std::string& n : names) {
      EXPECT_NE(channels.find(" " + n), std::string::npos) << n << " in " << channels;
      EXPECT_EQ(std::count(names.begin(), names.end(), n), 1) << n;
    }
    ASSERT_EQ(rows.size(), 4u) << csv;
    std::string zeros = "0";
    for (size_t i = 1; i < all.size(); ++i) zeros += ",0";
    EXPECT_EQ(rows[0], zeros);
    EXPECT_EQ(rows[2], "1" + zeros.substr(1));
  }
}
