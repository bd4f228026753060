// `gadrel --list-adapters` from outside: the program finds interfaces that
// another program publishes on the emulator wire and applies the slot rules.
#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "SimFixture.h"

namespace {
std::string RunListAdapters(int* status) {
  ChildProcess p({GADREL_EXE, "--list-adapters"});
  std::string out, line;
  while (!(line = p.ReadLine()).empty()) out += line + "\n";
  *status = p.Wait();
  return out;
}
}  // namespace

class ListAdaptersCli : public SimFixture {};

TEST_F(ListAdaptersCli, ListsEmulatedAdaptersAndExitsZero) {
  AddDevice("demo-bulk-if0", SimConfig("bulk", 0x0416, 0x5200, 0, "sim/demo/usb#vid_0416&pid_5200&mi_00", "1-4.2", "A1B2", 512));
  AddDevice("demo-hid-if3", SimConfig("hid", 0x0416, 0x5200, 3, "sim/demo/usb#vid_0416&pid_5200&mi_03", "1-4.2", "A1B2", 64));
  AddDevice("old", SimConfig("hid", 0x0416, 0x511B, 0, "sim/old/usb#vid_0416&pid_511b&mi_00", "1-2", "", 64));
  int status = -1;
  const std::string out = RunListAdapters(&status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "slot=0 generation=0 transport=hid id=0416:511b location=1-2 serial=- packet=64 "
            "path=sim/old/usb#vid_0416&pid_511b&mi_00\n"
            "slot=4 generation=1 transport=winusb id=0416:5200 location=1-4.2 serial=A1B2 "
            "packet=512 path=sim/demo/usb#vid_0416&pid_5200&mi_00\n");
}

TEST_F(ListAdaptersCli, NothingFoundExitsOne) {
  int status = -1;
  EXPECT_EQ(RunListAdapters(&status), "");
  EXPECT_EQ(status, 1);
}
