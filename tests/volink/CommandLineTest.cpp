// volink's command line: every mistake is exit status 2 with the usage line
// of the command it was made in, before any adapter is looked for; the help
// is the command table.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "volink/Arguments.h"
#include "volink/CommandTable.h"
#include "volink/Volink.h"

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

Outcome Volink(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunVolink(args, out, err);
  return {status, out.str(), err.str()};
}

// No adapter anywhere: a case that gets past the parser fails with status 1.
class VolinkCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string dir = (std::filesystem::temp_directory_path() / "volink-args-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    m_dir = dir;
    ::setenv("VOLINK_SIM_DIR", m_dir.c_str(), 1);
    ::setenv("GADREL_USB_REAL", "0", 1);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }
  std::string m_dir;
};

void ExpectUsage(const std::vector<std::string>& args, const std::string& command, const std::string& problem) {
  std::string line;
  for (const std::string& a : args) line += a + " ";
  SCOPED_TRACE(line);
  const Outcome r = Volink(args);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("volink: " + command + ": ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(problem), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\nusage: volink [--adapter N] [--core m0|m4|8051] " + command), std::string::npos) << r.err;
}

}  // namespace

TEST_F(VolinkCommandLine, EveryCommandTakesTheAdapterNumberTheSameWay) {
  for (const volink::Command& c : volink::CommandTable()) {
    std::istringstream name(c.name);
    std::vector<std::string> args{"--adapter"};
    for (std::string w; name >> w;) args.push_back(w);
    args.insert(args.begin() + 1, "zz");
    ExpectUsage(args, c.name, "--adapter: not a number from 0 to 255: zz");
    args[1] = "256";
    ExpectUsage(args, c.name, "--adapter: not a number from 0 to 255: 256");
    args[0] = "--core", args[1] = "z80";
    ExpectUsage(args, c.name, "--core: m0, m4 or 8051, not z80");
  }
}

TEST_F(VolinkCommandLine, BadArgumentsOfEachCommand) {
  struct Case {
    std::vector<std::string> args;
    const char* command;
    const char* problem;
  };
  const Case cases[] = {
      {{"list", "x"}, "list", "unexpected x"},
      {{"info", "0"}, "info", "unexpected 0"},
      {{"read"}, "read", "missing ADDR"},
      {{"read", "zz"}, "read", "ADDR: not a number from 0 to 0xffffffff: zz"},
      {{"read", "0x100000000"}, "read", "ADDR: not a number"},
      {{"read", "-1"}, "read", "ADDR: not a number"},
      {{"read", "0x"}, "read", "ADDR: not a number"},
      {{"read", "1e3"}, "read", "ADDR: not a number"},
      {{"read", "0", "0x1000001"}, "read", "LEN: not a number from 0 to 0x1000000: 0x1000001"},
      {{"read", "0", "4", "4"}, "read", "unexpected 4"},
      {{"write", "0x20000000"}, "write", "missing VALUE"},
      {{"write", "0x20000000", "1", "0x1g"}, "write", "VALUE: not a number"},
      {{"regs", "x"}, "regs", "unexpected x"},
      {{"halt", "x"}, "halt", "unexpected x"},
      {{"step", "x"}, "step", "unexpected x"},
      {{"go", "x"}, "go", "unexpected x"},
      {{"state", "x"}, "state", "unexpected x"},
      {{"reset", "hw"}, "reset", "missing CONNECT"},
      {{"reset", "warm", "normal"}, "reset", "MODE: not a number"},
      {{"reset", "hw", "sideways"}, "reset", "CONNECT: not a number"},
      {{"blink", "--fast"}, "blink", "unknown option --fast"},
      {{"loader", "x"}, "loader", "unexpected x"},
      {{"ready", "x"}, "ready", "unexpected x"},
      {{"hold", "soon"}, "hold", "SECONDS: not a number"},
      {{"hold", "1", "2"}, "hold", "unexpected 2"},
      {{"image"}, "image", "missing FILE"},
      {{"image", "f.hex", "--page", "0"}, "image", "--page: not a number from 1 to"},
      {{"image", "f.hex", "--limit", "0x10000001"}, "image", "--limit: not a number from 1 to 0x10000000"},
      {{"image", "f.hex", "--page"}, "image", "--page needs a value"},
      {{"image", "a.hex", "b.hex"}, "image", "unexpected b.hex"},
      {{"bootloader", "check"}, "bootloader check", "missing DIR"},
      {{"bootloader", "id", "x"}, "bootloader id", "unexpected x"},
      {{"bootloader", "erase", "x"}, "bootloader erase", "unexpected x"},
      {{"bootloader", "write"}, "bootloader write", "missing DIR"},
      {{"bootloader"}, "bootloader", "no such command"},
      {{"bootloader", "flash"}, "bootloader", "no such command"},
      {{"update", "--bogus"}, "update", "unknown option --bogus"},
      {{"update", "--image"}, "update", "--image needs a value"},
      {{"update", "now"}, "update", "unexpected now"},
  };
  for (const Case& c : cases) ExpectUsage(c.args, c.command, c.problem);
}

TEST_F(VolinkCommandLine, MistakesWithoutACommandShowTheWholeUsage) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"frobnicate"}, {"--adapter", "1"}, {"--adapter"}}) {
    const Outcome r = Volink(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(volink::HelpText()), std::string::npos) << r.err;
  }
}

// The help is the table: each row on a line of its own, in the table's order.
TEST_F(VolinkCommandLine, HelpIsMadeFromTheTable) {
  const Outcome r = Volink({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, volink::HelpText());
  size_t at = 0;
  for (const volink::Command& c : volink::CommandTable()) {
    const std::string synopsis = "\n  " + std::string(c.name) + (*c.args ? " " + std::string(c.args) : std::string());
    at = r.out.find(synopsis, at);
    ASSERT_NE(at, std::string::npos) << c.name;
    at = r.out.find_first_not_of(" \n", at + synopsis.size());  // the help follows, on this line or the next
    EXPECT_EQ(r.out.compare(at, std::string(c.help).size(), c.help), 0) << c.name;
  }
}

TEST(VolinkNumbers, DecimalOrHexWithinTheRange) {
  EXPECT_EQ(volink::ParseNumber("10", 0, 100, "N"), 10u);
  EXPECT_EQ(volink::ParseNumber("010", 0, 100, "N"), 10u);  // no octal
  EXPECT_EQ(volink::ParseNumber("0x1F", 0, 100, "N"), 31u);
  EXPECT_EQ(volink::ParseNumber("0xffffffff", 0, 0xFFFFFFFF, "N"), 0xFFFFFFFFu);
  for (const char* bad : {"", " 1", "+1", "1 ", "0x", "0x-1", "101", "4294967296", "99999999999999999999999"})
    EXPECT_THROW(volink::ParseNumber(bad, 0, 100, "N"), volink::UsageError) << bad;
}
