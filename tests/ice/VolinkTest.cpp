// The volink probe over the emulator: what a user types and sees.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "../platform/ChildProcess.h"
#include "SimFixture.h"
#include "volink/Volink.h"

namespace {
struct ProbeRun {
  int status;
  std::string out, err;
};
ProbeRun Volink(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int status = RunVolink(args, out, err);
  return {status, out.str(), err.str()};
}
}  // namespace

TEST(Volink, ProbeCommandsAgainstTheEmulator) {
  SimProcess sim;
  ProbeRun r = Volink({"list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("0416:5200"), std::string::npos) << r.out;

  r = Volink({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("generation:  1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("firmware:    7973r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("design id:   1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Vo-Link2"), std::string::npos) << r.out;

  r = Volink({"write", "0x20000100", "0x64636261", "0x00676665"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Volink({"read", "0x20000100", "8"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "20000100: 61 62 63 64 65 66 67 00" + std::string(8 * 3, ' ') +
                       "  |abcdefg.|\n");

  r = Volink({"halt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("stopped at 0x", 0), 0u);
  const std::string pc = r.out.substr(11);
  r = Volink({"regs"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("pc   " + pc), std::string::npos) << r.out;
  EXPECT_EQ(Volink({"step"}).status, 0);
  r = Volink({"state"});
  EXPECT_EQ(r.out.rfind("stopped at", 0), 0u) << r.out;
  EXPECT_EQ(Volink({"go"}).status, 0);
  EXPECT_EQ(Volink({"state"}).out, "running\n");
  EXPECT_EQ(Volink({"reset", "hw", "normal"}).status, 0);
  EXPECT_EQ(Volink({"state"}).out.rfind("stopped", 0), 0u);
  EXPECT_EQ(Volink({"--core", "m0", "ready"}).out, "ready\n");
}

TEST(Volink, ErrorsPrintTheLayerMessage) {
  SimProcess sim;
  ProbeRun r = Volink({"--adapter", "3", "info"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no adapter 3"), std::string::npos);
  EXPECT_EQ(Volink({"read"}).status, 2);
  EXPECT_EQ(Volink({"--core", "z80", "info"}).status, 2);

  sim.Ctl("flag demo 16 2");
  r = Volink({"read", "0x20000000"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ICE: Cmd error - No device connected.\n");

  sim.Ctl("unplug demo");
  r = Volink({"info"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "There is no Vo-Link connected to a USB port.\n");
  EXPECT_EQ(Volink({"list"}).status, 1);
}

TEST(Volink, AdapterHiddenByABusyInterfaceIsReportedAsBusy) {
  const std::string bulkAndHid =
      R"("generation": 1, "interfaces": [{"kind": "hid", "interface": 3, "size": 64},
                                         {"kind": "bulk", "interface": 0, "size": 512}])";
  SimProcess sim(R"({"adapters": [{"name": "a", )" + bulkAndHid + R"(}, {"name": "b", )" +
                     bulkAndHid + R"(}, {"name": "c", "generation": 2}]})",
                 5);
  ASSERT_EQ(Volink({"--adapter", "2", "info"}).status, 0);  // a and b on slot 4, c on slot 6
  // Either way two adapters remain and number 2 is the one that is missing.
  for (const char* held : {"c", "a"}) {
    SCOPED_TRACE(held);
    ASSERT_EQ(sim.Ctl(std::string("hold ") + held), "ok\n");
    const ProbeRun r = Volink({"--adapter", "2", "info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("volink: no adapter 2 (found 2): an interface is busy (held by another program)\n  bulk ", 0), 0u)
        << r.err;
    EXPECT_EQ(r.err.find("usage"), std::string::npos) << r.err;
    EXPECT_EQ(Volink({"--adapter", "1", "info"}).status, 0);
    ASSERT_EQ(sim.Ctl(std::string("release ") + held), "ok\n");
  }
  EXPECT_EQ(Volink({"--adapter", "3", "info"}).status, 2);  // nothing busy: a plain wrong number
}

namespace {
const std::string kPair = R"({"adapters": [
  {"name": "left", "generation": 1, "adapter_id": "0x7788A1B2", "serial": "L1", "location": "1-1",
   "interfaces": [{"kind": "hid", "interface": 3, "size": 64}]},
  {"name": "right", "generation": 1, "adapter_id": "0x7788A1B3", "serial": "R1", "location": "1-2",
   "interfaces": [{"kind": "hid", "interface": 3, "size": 64}]}]})";

std::unique_ptr<ChildProcess> VolinkChild(std::vector<std::string> args) {
  args.insert(args.begin(), VOLINK_EXE);
  return std::make_unique<ChildProcess>(args);
}
}  // namespace

TEST(Volink, ListShowsEveryAdapterWithItsIdAndOwner) {
  SimProcess sim(kPair, 2);
  ProbeRun r = Volink({"list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("adapter 0: ID: 7788a1b2, free\nadapter 1: ID: 7788a1b3, free\n"), std::string::npos)
      << r.out;
  auto holder = VolinkChild({"--adapter", "1", "hold"});
  ASSERT_EQ(holder->ReadLine(), "holding adapter 1 (ID: 7788a1b3)");
  r = Volink({"list"});
  EXPECT_NE(r.out.find("adapter 1: ID: 7788a1b3, owned by another program\n"), std::string::npos) << r.out;
}

// The emulated adapters keep their IDs where a real one does: in the
// boot-loader area, which only the flash controller reads.
TEST(Volink, ListShowsTheIdFromTheFlashOfEveryFamily) {
  SimProcess sim(kOneAdapterOfEachFamily, 3);
  const ProbeRun r = Volink({"list"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* id : {"ID: 7788d001, free", "ID: 7788d002, free", "ID: 7788d003, free"})
    EXPECT_NE(r.out.find(id), std::string::npos) << id << "\n" << r.out;
}

TEST(Volink, SeveralAdaptersWithoutATerminalNeedAnAdapterNumber) {
  SimProcess sim(kPair, 2);
  if (::isatty(STDIN_FILENO)) {
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  }
  ProbeRun r = Volink({"info"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--adapter N"), std::string::npos) << r.err;
  r = Volink({"--adapter", "1", "info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("serial:      R1\n"), std::string::npos) << r.out;
}

TEST(Volink, AnOwnedAdapterIsRefusedUntilItsOwnerDies) {
  SimProcess sim(kPair, 2);
  auto holder = VolinkChild({"--adapter", "1", "hold"});
  ASSERT_EQ(holder->ReadLine(), "holding adapter 1 (ID: 7788a1b3)");
  ProbeRun r = Volink({"--adapter", "1", "read", "0x20000000"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "An Korvane ICE/ICP program is already running!\nPlease close any other Korvane ICE/ICP program "
            "and try again!\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Volink({"--adapter", "0", "info"}).status, 0);  // the other adapter is free

  holder->Kill();
  EXPECT_EQ(holder->Wait(), 128 + SIGKILL);
  r = Volink({"--adapter", "1", "read", "0x20000000"});
  EXPECT_EQ(r.status, 0) << r.err;

  // A holder that ends normally gives the adapter back as well.
  holder = VolinkChild({"--adapter", "1", "hold"});
  ASSERT_EQ(holder->ReadLine(), "holding adapter 1 (ID: 7788a1b3)");
  holder->CloseInput();
  EXPECT_EQ(holder->Wait(), 0);
  EXPECT_EQ(Volink({"--adapter", "1", "info"}).status, 0);
}

// What a new user meets: an adapter whose interface another program holds
// is listed with what is known of it, and naming an adapter that another
// program owns in answer to the terminal's question says that it is in use.
TEST(Volink, HeldAndOwnedAdaptersAreSaidToBeSo) {
  const std::string bulkAndHid =
      R"("generation": 1, "interfaces": [{"kind": "hid", "interface": 3, "size": 64},
                                         {"kind": "bulk", "interface": 0, "size": 512}])";
  const std::string hid = R"("generation": 0, "interfaces": [{"kind": "hid", "interface": 0, "size": 64}])";
  SimProcess sim(R"({"adapters": [
      {"name": "a", "adapter_id": "0x7788A001", "serial": "A7", "location": "1-7", )" + bulkAndHid + R"(},
      {"name": "b", "adapter_id": "0x7788A002", "location": "1-8", )" + hid + R"(},
      {"name": "c", "adapter_id": "0x7788A003", "location": "1-9", )" + hid + R"(}]})",
                 4);
  ASSERT_EQ(sim.Ctl("hold a"), "ok\n");
  ProbeRun r = Volink({"list"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nadapter 0: ID: 7788a002, free\nadapter 1: ID: 7788a003, free\n"
                       "adapter -: ID unknown, held by another program (bulk 0416:"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(", location 1-7, serial A7)\n"), std::string::npos) << r.out;
  ASSERT_EQ(sim.Ctl("release a"), "ok\n");

  // A HID interface is shared: the owner holds the adapter, not its interface.
  auto holder = VolinkChild({"--adapter", "0", "hold"});
  ASSERT_EQ(holder->ReadLine(), "holding adapter 0 (ID: 7788a002)");
  const auto answered = [](const char* answer) {
    std::istringstream in(answer);
    std::ostringstream out, err;
    volink::RunSettings settings;
    settings.answers = &in;
    const int status = RunVolink({"info"}, out, err, settings);
    return ProbeRun{status, out.str(), err.str()};
  };
  r = answered("0\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("  0: ID: 7788a002  (in use by another program)\n  1: ID: 7788a003\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("An Korvane ICE/ICP program is already running!\nPlease close any other Korvane ICE/ICP "
                       "program and try again!\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("no adapter chosen"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  r = answered("1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("adapter:     1 "), std::string::npos) << r.out;
}
