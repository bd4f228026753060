// The adapter's own MCU: flash controllers of the three families, the
// adapter ID, readiness after a boot-loader rewrite, the restart into the
// boot loader, the boot-loader protocol and the synthetic images.
#include <array>
#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "SimClient.h"
#include "sim/Images.h"

namespace simtest {
namespace {

constexpr uint32_t kMem = 0xFB, kReg = 0xFE;

struct Family {
  const char* config;
  const char* iface;
  int headerMode;
  uint32_t ctrl, busy, unlock, clock, clockBit, openBits;
  uint32_t loaderBase, idAddress;
};

const Family kFamilies[] = {
    {R"("generation":0)", "a-hid-if0", 0, 0x5000C000, 0x5000C010, 0x50000100, 0x50000200, 1u << 4, 0x31, 0x00100000,
     0x00100010},
    {R"("generation":1)", "a-hid-if3", 1, 0x4000C000, 0x4000C0C0, 0x40000100, 0x40000200, 1u << 2, 0x35, 0x00100000,
     0x0010001C},
    {R"("generation":2,"interfaces":[{"kind":"hid","interface":3}])", "a-hid-if3", 1, 0x40044000, 0x40044040,
     0x40000100, 0x40001000, 1u << 3, 0x39, 0x0F100000, 0x0F100020},
};

// Drives a flash controller the way the host's flash access does.
struct Flash {
  Conn& c;
  const Family& f;
  void Open() {
    for (uint32_t k : {0x59u, 0x16u, 0x88u}) c.Write(kMem, f.unlock, k);
    EXPECT_NE(c.Read(kMem, f.unlock), 0u);
    c.Write(kMem, f.clock, f.clockBit, ~f.clockBit);
    c.Write(kMem, f.ctrl, f.openBits, ~f.openBits);
    EXPECT_EQ(c.Read(kMem, f.ctrl) & 1, 1u);
  }
  void Close() {
    for (uint32_t k : {0x59u, 0x16u, 0x88u}) c.Write(kMem, f.unlock, k);
    c.Write(kMem, f.ctrl, 0, ~f.openBits);
  }
  // Polls the busy flag until it clears (an operation takes 100 us by default).
  void WaitIdle() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (c.Read(kMem, f.busy) & 1) {
      ASSERT_LT(std::chrono::steady_clock::now(), until);
    }
  }
  // Returns {control register, data register} after the command.
  std::pair<uint32_t, uint32_t> Op(uint32_t cmd, uint32_t address, uint32_t data = 0) {
    WaitIdle();
    c.Multi(kMem, {{f.ctrl + 0xC, cmd, 0}, {f.ctrl + 4, address, 0}, {f.ctrl + 8, data, 0}, {f.ctrl + 0x10, 1, 0}});
    WaitIdle();
    return {c.Read(kMem, f.ctrl), c.Read(kMem, f.ctrl + 8)};
  }
  // Boot-loader access: configuration word 0 bit 7 set (an erased page);
  // the third family's default already allows it (bit 7 clear).
  void AllowLoader() {
    if (f.loaderBase == 0x00100000) {
      EXPECT_EQ(Op(0x22, 0x00300000).first & 0x40, 0u);
    }
  }
};

class AdapterMcu : public SimFixture {};

TEST_F(AdapterMcu, FlashControllerErasesAndProgramsTheBootLoaderArea) {
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.config);
    StartSim(OneAdapter(std::string(f.config) + R"(,"adapter_id":"0x7788BEEF")"));
    Conn c = Open(f.iface, f.headerMode, 64);
    Flash fl{c, f};
    // Without unlocking, the controller does not open.
    c.Write(kMem, f.ctrl, f.openBits, ~f.openBits);
    EXPECT_EQ(c.Read(kMem, f.ctrl) & 1, 0u);
    fl.Open();
    EXPECT_EQ(fl.Op(0x00, f.idAddress).second, 0x7788BEEFu);  // the adapter ID
    if (f.loaderBase == 0x00100000) {  // without boot-loader access the area stays
      EXPECT_EQ(fl.Op(0x22, f.loaderBase).first & 0x40, 0x40u);
      c.Write(kMem, f.ctrl, 0x40, ~0x40u);
      EXPECT_EQ(fl.Op(0x00, f.idAddress).second, 0x7788BEEFu);
    }
    fl.AllowLoader();
    auto [ctrl, data] = fl.Op(0x22, f.loaderBase);
    EXPECT_EQ(ctrl & 0x40, 0u);
    EXPECT_EQ(fl.Op(0x00, f.loaderBase + 4).second, 0xFFFFFFFFu);
    fl.Op(0x21, f.loaderBase + 4, 0x12345678);
    EXPECT_EQ(fl.Op(0x00, f.loaderBase + 4).second, 0x12345678u);
    // An unknown command: error bit, cleared by writing it back.
    std::tie(ctrl, data) = fl.Op(0x55, f.loaderBase);
    EXPECT_EQ(ctrl & 0x40, 0x40u);
    c.Write(kMem, f.ctrl, ctrl);
    EXPECT_EQ(c.Read(kMem, f.ctrl) & 0x40, 0u);
    // An address outside the flash fails the same way.
    EXPECT_EQ(fl.Op(0x00, 0x00700000).first & 0x40, 0x40u);
    fl.Close();
    TearDown();
  }
}

TEST_F(AdapterMcu, ThirdFamilyErasesItsConfigurationPageWithItsOwnCommand) {
  const Family& f = kFamilies[2];
  StartSim(OneAdapter(f.config));
  Conn c = Open(f.iface, 1, 64);
  Flash fl{c, f};
  fl.Open();
  EXPECT_EQ(fl.Op(0x0C, 0).second, 0xA2000340u);  // chip id command
  EXPECT_EQ(fl.Op(0x22, 0x0F300000).first & 0x40, 0x40u);
  c.Write(kMem, f.ctrl, 0x40, ~0x40u);
  EXPECT_EQ(fl.Op(0x24, 0x0F300000).first & 0x40, 0u);
  EXPECT_EQ(fl.Op(0x00, 0x0F300000).second, 0xFFFFFFFFu);
  fl.Close();
  // The boot-loader layout, read from the firmware's registers.
  EXPECT_EQ(c.Read(kReg, 0x0C), 0x0F100000u);
  EXPECT_EQ(c.Read(kReg, 0x10), 8192u);
  EXPECT_EQ(c.Read(kReg, 0x14), 0x0F102000u);
}

TEST_F(AdapterMcu, ReadinessDropsAfterABootLoaderRewriteUntilItSettles) {
  const Family& f = kFamilies[1];
  StartSim(OneAdapter(f.config));
  Ctl("settle a 200");
  Conn c = Open(f.iface, 1, 64);
  EXPECT_EQ(c.Read(kReg, 0x00) & 1, 1u);
  Flash fl{c, f};
  fl.Open();
  EXPECT_EQ(c.Read(kReg, 0x00) & 1, 0u);  // busy while the controller is open
  fl.AllowLoader();
  fl.Op(0x22, f.loaderBase);
  fl.Close();
  const uint32_t state = c.Read(kReg, 0x00);
  EXPECT_EQ(state & 1, 0u);
  EXPECT_EQ(state & 2, 2u);  // boot loader changed
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(c.Read(kReg, 0x00) & 1, 1u);
}

TEST_F(AdapterMcu, GenerationZeroIndicatorAndInputWords) {
  StartSim(OneAdapter(R"("generation":0,"ice_mode":false)"));
  Conn c = Open("a-hid-if0", 0, 64);
  EXPECT_EQ(c.Read(kMem, 0x50004010) & 2, 0u);  // MBED mode
  Ctl("mode a ice");
  EXPECT_EQ(c.Read(kMem, 0x50004010) & 2, 2u);
  c.Write(kMem, 0x50004048, 0xA0, 0xFFFFFF0F);
  EXPECT_EQ(c.Read(kMem, 0x50004048) & 0xF0, 0xA0u);
}

// Boot-loader channel client: [cmd][number][data] requests, checked replies.
struct Loader {
  Conn& c;
  size_t size;
  uint32_t number = 18;
  Bytes Request(uint32_t cmd, const Bytes& data, bool expectReply = true) {
    Bytes pkt(size);
    const uint16_t sum = framing::FrameLoaderRequest(pkt, cmd, number, data);
    EXPECT_TRUE(c.SendRaw(pkt));
    const uint32_t sent = number;
    number += 2;
    if (!expectReply) return {};
    auto r = c.Receive(2000);
    EXPECT_TRUE(r && r->size() == size);
    if (!r || r->size() < 6) return {};
    EXPECT_EQ(framing::GetLE16(r->data()), sum) << std::hex << cmd;
    EXPECT_EQ(framing::GetLE32(r->data() + 2), sent + 1) << std::hex << cmd;
    return Bytes(r->begin() + 6, r->end());
  }
};

TEST_F(AdapterMcu, RestartIntoBootLoaderAndUpdateTheApplication) {
  StartDemo();
  {
    Conn c = Open("demo-hid-if3");
    c.Write(kReg, 0x08, 0x5AA5B007);  // restart into the boot loader; the reply still comes
    auto closed = c.Receive(1000);
    ASSERT_TRUE(closed.has_value());
    EXPECT_TRUE(closed->empty());
  }
  EXPECT_FALSE(Published("demo-hid-if3"));
  EXPECT_FALSE(Published("demo-bulk-if0"));
  ASSERT_TRUE(Published("demo-loader"));
  std::ifstream jf(m_dir / "demo-loader.json");
  EXPECT_EQ(nlohmann::json::parse(jf)["pid"], 0x5211);

  Conn lc(m_dir / "demo-loader.sock", 1, 64);
  ASSERT_EQ(lc.OpenByte(), 1);
  Loader ld{lc, 64};
  ld.Request(0xA4, Words({ld.number}));
  EXPECT_EQ(WordAt(ld.Request(0xB1, {}), 0), 0x00D4851Fu);
  EXPECT_EQ(ld.Request(0xA6, {}).at(0), 0x30);
  const Bytes cfg = ld.Request(0xA2, {});
  EXPECT_EQ(WordAt(cfg, 0), 0xFFFFFF7Cu);
  // Configuration write: the reply carries words 0 and 1.
  Bytes words = Words({0xFFFFFF7C, 0x4000});
  words.resize(56, 0xFF);
  const Bytes wr = ld.Request(0xA1, words);
  EXPECT_EQ(WordAt(wr, 1), 0x4000u);
  EXPECT_EQ(WordAt(ld.Request(0xA2, {}), 1), 0x4000u);

  // A new application image of version 8000: 0xA0 with start and length, then 0x00 packets.
  const Bytes image = sim::images::MakeAppImage(2, 8000, "s");
  ld.Request(0xAA, Words({static_cast<uint32_t>(image.size())}));
  Bytes first = Words({0, static_cast<uint32_t>(image.size())});
  first.insert(first.end(), image.begin(), image.begin() + 48);
  ld.Request(0xA0, first);
  for (size_t off = 48; off < image.size(); off += 56) {
    const size_t k = std::min<size_t>(56, image.size() - off);
    ld.Request(0x00, Bytes(image.begin() + static_cast<long>(off), image.begin() + static_cast<long>(off + k)));
  }
  const uint16_t sum = framing::Checksum16(image);
  ld.Request(0xC9, Words({static_cast<uint32_t>(image.size()), sum}));
  EXPECT_EQ(framing::GetLE16(ld.Request(0xC8, Words({0, static_cast<uint32_t>(image.size())})).data()), sum);
  ld.Request(0xAB, {}, false);
  auto closed = lc.Receive(1000);
  ASSERT_TRUE(closed.has_value());
  EXPECT_TRUE(closed->empty());

  ASSERT_TRUE(Published("demo-hid-if3"));
  EXPECT_FALSE(Published("demo-loader"));
  Conn c = Open("demo-hid-if3");
  const Packet p = c.Exchange(Bytes(61, 0xFF));
  EXPECT_EQ(WordAt(p.payload, 0), 8000u);
  EXPECT_EQ(p.payload.at(20), 's');
}

TEST_F(AdapterMcu, LoaderWithoutAValidApplicationStaysInTheLoader) {
  StartDemo();
  Ctl("loader demo");
  Conn lc(m_dir / "demo-loader.sock", 1, 64);
  Loader ld{lc, 64};
  ld.Request(0xA4, Words({ld.number}));
  Bytes first = Words({0, 256});
  first.resize(56, 0);
  ld.Request(0xA0, first);  // zeros over the header of the application
  for (int i = 0; i < 4; ++i) ld.Request(0x00, Bytes(56, 0));
  ld.Request(0xAB, {}, false);
  EXPECT_FALSE(lc.Receive(200).has_value());  // still connected, nothing else happens
  EXPECT_TRUE(Published("demo-loader"));
  // Unplugged and plugged again, it still has nothing else to start.
  Ctl("unplug demo");
  Ctl("plug demo");
  EXPECT_TRUE(Published("demo-loader"));
  EXPECT_FALSE(Published("demo-hid-if3"));
}

TEST_F(AdapterMcu, ReplugStartsTheApplicationUnlessTheLoaderKeyIsHeld) {
  StartDemo();
  Ctl("loader demo");
  ASSERT_TRUE(Published("demo-loader"));
  Ctl("unplug demo");
  Ctl("plug demo");
  EXPECT_TRUE(Published("demo-hid-if3"));
  EXPECT_FALSE(Published("demo-loader"));
  Ctl("unplug demo");
  Ctl("plug demo loader");
  EXPECT_TRUE(Published("demo-loader"));
}

uint32_t WordSum(const std::vector<uint8_t>& img, size_t from, size_t to) {
  uint32_t s = 0;
  for (size_t w = from; w < to; ++w) s += sim::images::WordAt(img, w);
  return s;
}

TEST(Images, SyntheticImagesPassTheToolsChecks) {
  using sim::images::WordAt;
  struct LoaderCase {
    int mcuClass;
    size_t limit;
    uint32_t word0, word1, word48;
    std::optional<uint32_t> word49;
    size_t boundWord;  // word 46 lies below this word and word 39
    std::array<uint32_t, 4> sums;  // words 0-255, 256-511, 512-767, all
  };
  const LoaderCase cases[] = {
      {0, 4096, 0x20000C88, 217, 0x5AA50020, std::nullopt, 28, {0xAF490E77, 0xAF939BA8, 0x14B72786, 0x6F5E4A77}},
      {1, 8192, 0x200011C0, 221, 0x5AA50030, 0x4445424D, 24, {0x68D9A76A, 0xA0054F45, 0xAA7829D4, 0xF2744CC1}},
  };
  for (const LoaderCase& k : cases) {
    SCOPED_TRACE(k.mcuClass);
    const auto ld = sim::images::MakeLoaderImage(k.mcuClass, false);
    ASSERT_LE(ld.size(), k.limit);
    EXPECT_EQ(WordAt(ld, 0), k.word0);
    EXPECT_EQ(WordAt(ld, 1), k.word1);
    EXPECT_EQ(WordAt(ld, 48), k.word48);
    if (k.word49) {
      EXPECT_EQ(WordAt(ld, 49), *k.word49);
    }
    EXPECT_EQ(WordAt(ld, 5), 0u);
    EXPECT_LT(WordAt(ld, 46), WordAt(ld, k.boundWord));
    EXPECT_LT(WordAt(ld, 46), WordAt(ld, 39));
    EXPECT_EQ(WordSum(ld, 0, 256), k.sums[0]);
    EXPECT_EQ(WordSum(ld, 256, 512), k.sums[1]);
    EXPECT_EQ(WordSum(ld, 512, 768), k.sums[2]);
    EXPECT_EQ(WordSum(ld, 0, ld.size() / 4), k.sums[3]);
  }

  EXPECT_LE(sim::images::MakeLoaderImage(2, false).size(), 4096u);
  EXPECT_LE(sim::images::MakeLoaderImage(2, true).size(), 4096u);
  EXPECT_LE(sim::images::MakeLoaderImage(3, true).size(), 8192u);
  for (int cls = 0; cls < 4; ++cls) {
    const auto app = sim::images::MakeAppImage(cls, 7973, "r");
    EXPECT_EQ(WordAt(app, 0), 0x20004000u);
    EXPECT_EQ(WordAt(app, 4), 0xFFFFFFFFu);
    EXPECT_EQ(WordAt(app, 18), 0u);
    EXPECT_EQ(WordAt(app, 48), 0xDA1DEC48u);
    EXPECT_EQ(WordAt(app, 49), 7973u);
    EXPECT_EQ(sim::images::ReadAppInfo(app).suffix, "r");
  }
}

}  // namespace
}  // namespace simtest
