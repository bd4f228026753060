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
const Kind kH64{"h64", "1-3", "slot=3 generation=1 transport=hid id=0416:5200 location=1-3 serial=H64S packet=64"};
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

}  // namespace
}  // namespace transporttest
