// The real transports (hidapi on hidraw, libusb on usbdevfs) carry the
// emulator's traffic through the USB bridge: discovery, the handshake,
// streamed transfers, time-outs, unplugs, two programs and permissions.
#include <chrono>
#include <thread>

#include "BridgeFixture.h"
#include "TransportPattern.h"

namespace transporttest {
namespace {

struct Kind {
  const char* adapter;
  const char* location;
  const char* listLine;  // --list-adapters without the path
};
const Kind kH64{"h64", "1-3", "slot=3 generation=1 transport=hid id=0416:5202 location=1-3 serial=H64S packet=64"};
const Kind kH1k{"h1k", "2-1.4",
                "slot=3 generation=1 transport=hid id=0416:5201 location=2-1.4 serial=H1KS packet=1024"};
const Kind kB512{"b512", "1-5.1.2",
                 "slot=6 generation=2 transport=winusb id=0416:200a location=1-5.1.2 serial=B512S "
                 "packet=512"};

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> v;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

std::string HashText(uint32_t length, uint32_t seed) {
  char hex[24];
  std::snprintf(hex, sizeof hex, "%016llx",
                static_cast<unsigned long long>(Fnv1a(Pattern(length, seed))));
  return std::string("ok ") + hex;
}

class RealTransport : public BridgeTest {
 protected:
  // The adapter number of each kind, in the order of the discovery pass
  // (the backends enumerate in orders of their own).
  std::string Index(const Kind& k, bool real) {
    std::vector<std::string>& list = m_lists[real];
    if (list.empty()) list = Lines(Run({GADREL_EXE, "--list-adapters"}, real ? RealEnv() : EmulatorEnv()).out);
    for (size_t i = 0; i < list.size(); ++i)
      if (list[i].find(std::string("location=") + k.location + " ") != std::string::npos)
        return std::to_string(i);
    ADD_FAILURE() << "not listed: " << k.location;
    return "99";
  }
  std::map<bool, std::vector<std::string>> m_lists;
};

TEST_F(RealTransport, DiscoveryAndHandshakeMatchTheEmulatorBackend) {
  const Result list = Run({GADREL_EXE, "--list-adapters"}, RealEnv());
  EXPECT_EQ(list.status, 0) << list.out;
  // Paths are the nodes the kernel would give: hidraw for HID, the USB port
  // path with configuration and interface for libusb.
  const std::string b512Path = "path=1-5.1.2:1.3";
  std::set<std::string> want{std::string(kH64.listLine) + " path=" + m_nodes["1-3"].at(0),
                             std::string(kH1k.listLine) + " path=" + m_nodes["2-1.4"].at(0),
                             std::string(kB512.listLine) + " " + b512Path};
  const std::vector<std::string> got = Lines(list.out);
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), want) << list.out;
  ASSERT_EQ(got.size(), 3u);
  EXPECT_NE(got.back().find("transport=winusb"), std::string::npos);  // slot order

  // The handshake says the same through either path, location and serial
  // included.
  for (const Kind* k : {&kH64, &kH1k, &kB512}) {
    const Result real = Run({VOLINK_EXE, "--adapter", Index(*k, true), "info"}, RealEnv());
    const Result emulated = Run({VOLINK_EXE, "--adapter", Index(*k, false), "info"}, EmulatorEnv());
    EXPECT_EQ(real.status, 0) << real.out;
    EXPECT_NE(real.out.find(std::string("location:    ") + k->location), std::string::npos) << real.out;
    auto withoutNumber = [](std::string s) { return s.erase(0, s.find('(')); };
    EXPECT_EQ(withoutNumber(real.out), withoutNumber(emulated.out)) << k->adapter;
  }
  EXPECT_EQ(Ctl("violations"), "ok violations 0\n");
}

TEST_F(RealTransport, StreamedTransfersMatchTheEmulatorBackend) {
  constexpr uint32_t kLength = 64 * 1024;
  uint32_t seed = 1;
  for (const Kind* k : {&kH64, &kH1k, &kB512}) {
    SCOPED_TRACE(k->adapter);
    const std::string address = "20000000 ";
    auto real = Child(RealEnv());
    ASSERT_EQ(Ask(*real, "open " + Index(*k, true)), "ok");
    EXPECT_EQ(Ask(*real, "write " + address + std::to_string(kLength) + " " + std::to_string(seed)), "ok");
    EXPECT_EQ(Ask(*real, "read " + address + std::to_string(kLength)), HashText(kLength, seed));
    // Flash, which the streamed write cannot change, read both ways.
    const std::string flash = Ask(*real, "read 0 " + std::to_string(kLength));
    EXPECT_EQ(Ask(*real, "close"), "ok");
    real.reset();
    auto emulated = Child(EmulatorEnv());
    ASSERT_EQ(Ask(*emulated, "open " + Index(*k, false)), "ok");
    EXPECT_EQ(Ask(*emulated, "read " + address + std::to_string(kLength)), HashText(kLength, seed));
    EXPECT_EQ(Ask(*emulated, "read 0 " + std::to_string(kLength)), flash);
    ++seed;
  }
  EXPECT_EQ(Ctl("violations"), "ok violations 0\n");
}


long long CpuMicros(const std::string& answer) {
  return answer.rfind("ok ", 0) == 0 ? std::stoll(answer.substr(3)) : -1;
}

// A dropped reply fails the command after the adapter time-out, and the
// wait costs the program almost no CPU (poll() must really block: the
// hidraw node's readiness and the held reaps of usbdevfs). Both transports
// wait at the same time.
TEST_F(RealTransport, DroppedReplyTimesOutWithoutSpinningAndTheNextCommandWorks) {
  std::vector<std::unique_ptr<Proc>> children;
  for (const Kind* k : {&kB512, &kH64}) {
    children.push_back(Child(RealEnv()));
    ASSERT_EQ(Ask(*children.back(), "open " + Index(*k, true)), "ok") << k->adapter;
    ASSERT_EQ(Ctl(std::string("drop ") + k->adapter + " 1").rfind("ok", 0), 0u);
  }
  std::vector<long long> before;
  for (auto& c : children) before.push_back(CpuMicros(Ask(*c, "cpu")));
  const auto start = std::chrono::steady_clock::now();
  for (auto& c : children) c->Send("read 20000000 16");
  for (size_t i = 0; i < children.size(); ++i) {
    EXPECT_EQ(children[i]->ReadLine(30000).value_or("(no answer)"), "error: ICE read error or time-out.");
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 4.5);
    const long long cpu = CpuMicros(Ask(*children[i], "cpu")) - before[i];
    EXPECT_LT(cpu, 200000) << "CPU microseconds while waiting, child " << i;
    // The failure closed the adapter; opening it again works.
    EXPECT_EQ(Ask(*children[i], "open " + Index(i == 0 ? kB512 : kH64, true)), "ok");
    EXPECT_EQ(Ask(*children[i], "read 20000000 16").rfind("ok ", 0), 0u);
  }
}

// Unplugged in the middle of a long read: the read fails at once, nothing
// hangs or crashes, and after the replug the same program carries on.
TEST_F(RealTransport, UnplugDuringALongReadAndReplug) {
  for (const Kind* k : {&kH64, &kB512}) {
    SCOPED_TRACE(k->adapter);
    auto child = Child(RealEnv());
    ASSERT_EQ(Ask(*child, "open " + Index(*k, true)), "ok");
    child->Send("read 0 524288");  // the whole flash, far longer than the pause
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(Ctl(std::string("unplug ") + k->adapter).rfind("ok", 0), 0u);
    const std::string failed = child->ReadLine(10000).value_or("(no answer)");
    // The long read is several commands: the unplug meets a reply being
    // awaited or the next request being sent.
    EXPECT_TRUE(failed == "error: ICE read error or time-out." || failed == "error: ICE write error.")
        << failed;
    ASSERT_TRUE(WaitRemoved(k->location));
    ASSERT_EQ(Ctl(std::string("plug ") + k->adapter).rfind("ok", 0), 0u);
    std::string location;
    ASSERT_TRUE(WaitAdded(&location));
    EXPECT_EQ(location, k->location);
    // libusb learns of the new device from its uevent, in its own time.
    std::string opened;
    for (int i = 0; i < 30 && (opened = Ask(*child, "open " + Index(*k, true))) != "ok"; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(opened, "ok");
    EXPECT_EQ(Ask(*child, "read 20000000 16").rfind("ok ", 0), 0u);
  }
}

// A HID adapter that one program owns is refused to a second by the
// ownership table; a bulk interface one program claims is busy for another.
TEST_F(RealTransport, TwoPrograms) {
  auto hid = Child(RealEnv());
  ASSERT_EQ(Ask(*hid, "open " + Index(kH64, true)), "ok");
  const Result second = Run({VOLINK_EXE, "--adapter", Index(kH64, true), "info"}, RealEnv());
  EXPECT_NE(second.status, 0);
  EXPECT_NE(second.out.find("already running"), std::string::npos) << second.out;

  auto bulk = Child(RealEnv());
  ASSERT_EQ(Ask(*bulk, "open " + Index(kB512, true)), "ok");
  const Result list = Run({GADREL_EXE, "--list-adapters"}, RealEnv());
  EXPECT_NE(list.out.find("not-opened: bulk 0416:200a 1-5.1.2:1.3: held by another program"),
            std::string::npos)
      << list.out;
}

// Nodes the program may not open (no udev rule): the listing says why. (The
// bulk interface that failed to open makes the pass use the reduced HID
// table, so the 5201 adapter is not looked for.)
class UnopenableNodes : public BridgeTest {
 protected:
  void SetUp() override { Start({"h64", "b512"}); }
};

TEST_F(UnopenableNodes, AreReportedAsPermissionDenied) {
  const Result list = Run({GADREL_EXE, "--list-adapters"}, RealEnv(), true);
  EXPECT_NE(list.out.find("not-opened: hid 0416:5202 " + m_nodes["1-3"].at(0) + ": permission denied"),
            std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("not-opened: bulk 0416:200a 1-5.1.2:1.3: permission denied"), std::string::npos)
      << list.out;
}

}  // namespace
}  // namespace transporttest
