// The command layer against the emulator: handshake, payload sizes and
// limits per transport, block and streamed transfers, configuration, run
// control and the connect rules.
#include <gtest/gtest.h>

#include <map>
#include <numeric>

#include "SimFixture.h"
#include "ice/CICE_M4.h"
#include "platform/UserInteraction.h"

using namespace ice;

namespace {
std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}
}  // namespace

TEST(IceSim, HandshakeDecodesDesignByFirmwareVersion) {
  // Four adapters with design id 5 and different firmware versions.
  std::string adapters;
  const uint32_t versions[] = {6798, 6800, 7000, 7300};
  for (uint32_t v : versions) {
    if (!adapters.empty()) adapters += ",";
    adapters += R"({"name": "v)" + std::to_string(v) + R"(", "generation": 1, "firmware_version": )" +
                std::to_string(v) + R"(, "design_id": 5, "revision": "r",
                   "interfaces": [{"kind": "hid", "interface": 3, "size": 64}]})";
  }
  SimProcess sim(R"({"adapters": [)" + adapters + "]}", 4);
  struct Expect {
    int designId;
    const char* name;
    int capA;
  };
  const std::map<uint32_t, Expect> expected = {{6798, {-1, "", 0}},
                                               {6800, {1, "Vo-Link2", 0}},
                                               {7000, {5, "Vo-Link2-Pro", 7}},
                                               {7300, {5, "Vo-Link2-Pro", 15}}};
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  ASSERT_EQ(ice.GetDeviceCount(), 4u);
  for (unsigned i = 0; i < 4; ++i) {
    ice.SelectAdapter(i);
    EXPECT_EQ(ice.GetFirmwareVersion(), CICE::kUnknownFirmware);  // forgotten on selection
    EXPECT_EQ(ice.GetFirmwareFeatures(), ice::FirmwareFeatures{});  // and what it enabled
    uint32_t chipId = 0, extra = 0;
    bool pro = false;
    uint16_t four[4] = {};
    AdapterVersionInfo info;
    const uint32_t version = ice.ResetCmdSerial(0xFFFFFFFF, &chipId, &pro, nullptr, nullptr,
                                                &extra, &info, four);
    ASSERT_TRUE(expected.count(version)) << version;
    EXPECT_EQ(ice.GetFirmwareFeatures(), ice::FirmwareFeaturesFor(1, version, chipId, pro));
    const Expect& e = expected.at(version);
    EXPECT_EQ(info.nDesignId, e.designId) << version;
    EXPECT_STREQ(info.szName, e.name) << version;
    EXPECT_EQ(info.nCapA, e.capA) << version;
    EXPECT_TRUE(pro);  // bit 0 of the flags word, which design id 5 sets
    EXPECT_EQ(chipId, 0x00D4851Fu);
    EXPECT_NE(extra, 0xFFFFFFFFu);  // all above 6459
    EXPECT_EQ(four[0], 'r');
    EXPECT_EQ(ice.GetSelectedAdapter(), i);
  }
  // An index equal to the total selects nothing.
  EXPECT_EQ(ice.SelectAdapter(4), 0);
}

TEST(IceSim, PayloadSizesAndLimitsPerTransport) {
  struct Case {
    const char* kind;
    int size, generation;
    uint32_t firmware;
    unsigned payload, maxBlock, limit;
  } cases[] = {
      {"hid", 64, 1, 7973, 61, 48, 4},
      {"hid", 64, 0, 7973, 62, 48, 4},
      {"hid", 1024, 1, 7973, 1021, 1008, 84},
      {"hid", 1024, 1, 6800, 1021, 1008, 4},
      {"bulk", 512, 1, 7973, 509, 496, 41},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.kind << " " << c.size << " gen " << c.generation << " fw "
                                    << c.firmware);
    SimProcess sim(OneAdapterConfig(c.kind, c.size, c.firmware, "m4", c.generation), 1);
    Spy<CICE_M4> ice;
    OpenAdapter(ice);
    EXPECT_EQ(ice.GetPortChipType(), c.generation);
    EXPECT_EQ(ice.GetPayloadSize(), c.payload);
    EXPECT_EQ(ice.GetMaxBlockData(), c.maxBlock);
    EXPECT_EQ(ice.GetMultiAccessLimit(), c.limit);

    // 84 scattered reads take ceil(84 / limit) exchanges and all arrive.
    std::vector<uint32_t> addresses(84), values(84, 0xDEADBEEF);
    for (uint32_t i = 0; i < 84; ++i) addresses[i] = 0x20000000 + 4 * i;
    ice.Clear();
    ice.ReadMemMulti(84, addresses.data(), values.data());
    EXPECT_EQ(ice.requests.size(), (84 + c.limit - 1) / c.limit);
    EXPECT_EQ(std::count(values.begin(), values.end(), 0xDEADBEEF), 0);
  }
}

TEST(IceSim, MultiAccessSendsAtMostTheLimit) {
  SimProcess sim(OneAdapterConfig("hid", 64), 1);
  Spy<CICE_M4> ice;
  OpenAdapter(ice);
  std::vector<uint32_t> addresses(10), zero(10, 0), masks(10, 0xFFFFFFFF), out(10, 0xAAAAAAAA);
  for (uint32_t i = 0; i < 10; ++i) addresses[i] = 0x20000000 + 4 * i;
  ice.Clear();
  EXPECT_EQ(ice.MultiAccess(kCmdMemMulti, 10, addresses.data(), zero.data(), masks.data(),
                            nullptr, out.data()),
            4u);
  ASSERT_EQ(ice.requests.size(), 1u);
  EXPECT_EQ(ice.requests[0].size(), 8u + 12 * 4);
  EXPECT_EQ(ice.requests[0][4], 4);
  EXPECT_EQ(std::count(out.begin(), out.end(), 0xAAAAAAAA), 6);

  // Read-modify-write: value 3 with mask 0xFFFFFFFC sets the two low bits.
  ice.WriteMem32(0x20000040, 0x12345678);
  uint32_t before = 0, after = 0;
  ice.WriteMem32(0x20000040, 3, false, &before, &after, 0xFFFFFFFC);
  EXPECT_EQ(before, 0x12345678u);
  EXPECT_EQ(after, 0x1234567Bu);
}

TEST(IceSim, BlockLoopAndStreamedChunkLayout) {
  SimProcess sim(OneAdapterConfig("hid", 64), 1);
  Spy<CICE_M4> ice;
  OpenAdapter(ice);
  const uint32_t base = 0x20000400;
  const std::vector<uint8_t> data = Pattern(2300, 3);

  // Streamed write: chunks of 20 * 48 + 148 = 1108 bytes, first packet
  // {0xB4, address, length} + 48 bytes + sequence 0, then {0xB4} + 56 bytes
  // + sequence 1, 2, ...
  ice.Clear();
  ice.WriteMem(base, data.data(), static_cast<unsigned>(data.size()), true);
  ASSERT_GE(ice.requests.size(), 3u);
  EXPECT_EQ(ice.Word(0, 0), kCmdStreamWrite);
  EXPECT_EQ(ice.Word(0, 2), 1108u);
  EXPECT_EQ(ice.requests[0].size(), 48u + 13);
  EXPECT_EQ(ice.requests[0].back(), 0);
  EXPECT_EQ(ice.requests[1].size(), 56u + 5);
  EXPECT_EQ(ice.requests[1].back(), 1);
  EXPECT_EQ(ice.replyLengths.size(), 3u);  // one reply per chunk

  // Block loop: 100 bytes over 64-byte HID are Read_Block 60 and 40.
  std::vector<uint8_t> back(100);
  ice.Clear();
  ice.ReadMem(base, back.data(), 100, true, false);
  ASSERT_EQ(ice.requests.size(), 2u);
  EXPECT_EQ(ice.Word(0, 0), kCmdReadBlock);
  EXPECT_EQ(ice.Word(0, 2), 60u);
  EXPECT_EQ(ice.Word(1, 1), base + 60);
  EXPECT_EQ(ice.Word(1, 2), 40u);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));

  // Streamed read: one chunk of 20 * 60 - 88 = 1112 bytes is one request,
  // a 48-byte first packet and nineteen 56-byte packets.
  back.assign(1112, 0);
  ice.Clear();
  ice.ReadMem(base, back.data(), 1112, true, true);
  ASSERT_EQ(ice.requests.size(), 1u);
  EXPECT_EQ(ice.Word(0, 0), kCmdStreamRead);
  EXPECT_EQ(ice.Word(0, 2), 1112u);
  std::vector<unsigned> layout(20, 56);
  layout[0] = 48;
  EXPECT_EQ(ice.replyLengths, layout);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));

  back.assign(data.size(), 0);
  ice.Clear();
  ice.ReadMem(base, back.data(), static_cast<unsigned>(back.size()), true, true);
  EXPECT_EQ(ice.requests.size(), 3u);  // 1112 + 1112 + 76
  EXPECT_EQ(back, data);
}

// A streamed packet is a word payload plus its sequence byte: where the
// payload is itself a multiple of 4 (67-byte packets) that byte has no room
// and the write goes block by block; one byte more and it streams.
TEST(IceSim, StreamedWriteOnlyWhereItsPacketsFit) {
  for (const auto& [size, streamed] : {std::pair{67, false}, std::pair{68, true}}) {
    SCOPED_TRACE(size);
    SimProcess sim(OneAdapterConfig("hid", size), 1);
    Spy<CICE_M4> ice;
    OpenAdapter(ice);
    const uint32_t base = 0x20000400;
    const std::vector<uint8_t> data = Pattern(300, 5);
    ice.Clear();
    ice.WriteMem(base, data.data(), static_cast<unsigned>(data.size()), false);
    ASSERT_FALSE(ice.requests.empty());
    EXPECT_EQ(ice.Word(0, 0), streamed ? kCmdStreamWrite : kCmdWriteBlock);
    std::vector<uint8_t> back(data.size());
    ice.ReadMem(base, back.data(), static_cast<unsigned>(back.size()), false, false);
    EXPECT_EQ(back, data);
  }
}

TEST(IceSim, OldFirmwareUsesBlockCommandsAndOverflowsSendNothing) {
  SimProcess sim(OneAdapterConfig("hid", 64, 6700), 1);
  Spy<CICE_M4> ice;
  OpenAdapter(ice);
  const std::vector<uint8_t> data = Pattern(100, 9);
  ice.Clear();
  ice.WriteMem(0x20000000, data.data(), 100, true);
  EXPECT_EQ(ice.Codes(), (std::vector<uint32_t>{kCmdWriteBlock, kCmdWriteBlock, kCmdWriteBlock}));
  std::vector<uint8_t> back(100);
  ice.ReadMem(0x20000000, back.data(), 100, true, true);  // streaming needs 6748
  EXPECT_EQ(back, data);

  // A register dump longer than one 64-byte reply comes in pieces.
  const uint32_t pc = ice.MCUStopRun();
  uint32_t dump[17] = {};
  ice.Clear();
  ice.ReadRegs(dump, 0, 17);
  EXPECT_EQ(ice.Codes(), (std::vector<uint32_t>{kCmdReadRegs, kCmdReadRegs}));
  EXPECT_EQ(dump[15], pc);
  EXPECT_EQ(dump[16], ice.ReadReg(16));

  ice.Clear();
  const std::vector<uint8_t> big(49, 0);
  const uint32_t regs[13] = {};
  EXPECT_THROW(
      try { ice.WriteBlock(0x20000000, 49, big.data(), false); } catch (const CICEException& e) {
        EXPECT_STREQ(e.GetMessage(), "ICE: Write_Block buffer overflow!");
        throw;
      },
      CICEException);
  EXPECT_THROW(
      try { ice.WriteFlash(0x0, big.data(), 49); } catch (const CICEException& e) {
        EXPECT_STREQ(e.GetMessage(), "ICE: Write_Flash buffer overflow!");
        throw;
      },
      CICEException);
  EXPECT_THROW(
      try { ice.WriteRegs(regs, 0, 13); } catch (const CICEException& e) {
        EXPECT_STREQ(e.GetMessage(), "ICE: Write_REG_ALL buffer overflow!");
        throw;
      },
      CICEException);
  EXPECT_TRUE(ice.requests.empty());
}

TEST(IceSim, ConfigureSendsTheNormalisedClock) {
  SimProcess sim(OneAdapterConfig("hid", 64), 1);
  Spy<CICE_M4> ice;
  OpenAdapter(ice, 0, false);
  const std::pair<uint32_t, uint32_t> cases[] = {{1536, 1500}, {99, 90}, {50000, 38000}, {5, 10}};
  for (const auto& [clock, sent] : cases) {
    ice.Clear();
    ConfigInfo info;
    bool option = false;
    EXPECT_TRUE(ice.SetConfig(clock, 3300, true, &info, &option));
    ASSERT_EQ(ice.requests.size(), 1u);
    EXPECT_EQ(ice.requests[0].size(), 24u);
    EXPECT_EQ(ice.Word(0, 1), sent) << clock;
    EXPECT_EQ(ice.Word(0, 2), 0x400u);  // core type
    EXPECT_EQ(ice.Word(0, 3), 3300u);
    EXPECT_EQ(info.wValue[1], 3300);    // the emulator echoes the voltage
  }
  ice.Clear();
  EXPECT_TRUE(ice.SetConfigWord(0));
  EXPECT_TRUE(ice.requests.empty());
}

TEST(IceSim, RunControlAndRegisters) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  const uint32_t pc = ice.MCUStopRun();
  EXPECT_EQ(ice.GetCurrentPC(), pc);
  uint32_t statePc = 0;
  EXPECT_EQ(ice.GetMCUState(&statePc, 0), PROCESSOR_STOP);
  EXPECT_EQ(statePc, pc);
  uint32_t regs[17] = {};
  ice.ReadRegs(regs, 0, 17);
  EXPECT_EQ(regs[15], pc);

  ice.MCUStepRun();
  uint32_t stepped = 0;
  ASSERT_TRUE(ice.CheckMCUStop(&stepped));
  EXPECT_NE(stepped, pc);
  EXPECT_EQ(ice.GetCurrentPC(), stepped);

  ice.WriteReg(0, 0xCAFEF00D);
  EXPECT_EQ(ice.ReadReg(0), 0xCAFEF00Du);

  ice.MCUFreeRun();
  EXPECT_EQ(ice.GetMCUState(nullptr, 0), PROCESSOR_RUN);
  EXPECT_FALSE(ice.CheckMCUStop(nullptr));
  EXPECT_THROW(ice.MCUResetWithKeycode(), CICEException);
  EXPECT_TRUE(ice.CheckLink());
  EXPECT_EQ(ice.ReadDbgID(0) & 0xFFF, 0x477u);
}

TEST(IceSim, ConnectReinitialisesUnitsByMode) {
  SimProcess sim;
  Spy<CICE_M4> ice;
  OpenAdapter(ice);
  struct Case {
    uint32_t reset, connect, option;
    bool reinit;
  } cases[] = {
      {RESET_NONE2, CONNECT_DISCONNECT, 0, false}, {RESET_NONE, CONNECT_NORMAL, 1, false},
      {RESET_HW, CONNECT_NONE, 1, false},          {RESET_NONE, CONNECT_NORMAL, 0, true},
      {RESET_HW, CONNECT_NONE, 0, true},           {RESET_NONE, CONNECT_NORMAL, 0x101, false},
      {RESET_NONE, CONNECT_ICP_MODE, 0, false},    {RESET_NONE, CONNECT_UNDER_RESET, 1, true},
  };
  for (const Case& c : cases) {
    ice.MCUConnect(RESET_NONE, CONNECT_NORMAL, 1, 0);  // attached, units untouched
    ice.Clear();
    ice.MCUConnect(c.reset, c.connect, c.option, 0);
    const auto codes = ice.Codes();
    const bool sawReset = std::count(codes.begin(), codes.end(), kCmdMcuReset) == 1;
    EXPECT_TRUE(sawReset);
    EXPECT_EQ(codes.size() > 1, c.reinit) << c.reset << "/" << c.connect << "/" << c.option;
  }
}

TEST(IceSim, DisconnectWithAdapterGoneReturnsNormally) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  sim.Ctl("unplug demo");
  EXPECT_NO_THROW(ice.MCUConnect(RESET_HW, CONNECT_NONE, 0, 0));
  EXPECT_NO_THROW(ice.MCUConnect(RESET_NONE2, CONNECT_DISCONNECT, 0, 0));
  EXPECT_FALSE(ice.CheckUSBLink());
}

// The pass only reports; the layer shows the report as the specified boxes:
// the devices lacking permission as a warning, then the error.
TEST(IceSim, DiscoveryReportShownAsMessageBoxes) {
  struct Boxes : IUserInteraction {
    std::vector<std::pair<Icon, std::string>> shown;
    Answer MessageBox(const std::string&, const std::string& text, Icon icon, Buttons, void*) override {
      shown.emplace_back(icon, text);
      return Answer::Ok;
    }
    int SelectBox(const std::string&, const std::vector<std::string>&, int) override { return -1; }
    void PumpEvents() override {}
  } ui;
  DiscoveryReport report;
  report.problems.push_back({usbdev::Kind::Hid, "hidapi", "/dev/hidraw7", 0x0416, 0x5202,
                             usbdev::OpenError::PermissionDenied, "", "", ""});
  ShowDiscoveryReport(ui, report);
  ASSERT_EQ(ui.shown.size(), 2u);
  EXPECT_EQ(ui.shown[0].first, IUserInteraction::Icon::Warning);
  EXPECT_EQ(ui.shown[0].second, report.PermissionText());
  EXPECT_NE(ui.shown[0].second.find("/dev/hidraw7: permission denied"), std::string::npos);
  EXPECT_EQ(ui.shown[1], std::make_pair(IUserInteraction::Icon::Stop,
                                        std::string("No ICE Device Found. Please Check the Link!")));
  ui.shown.clear();
  report.adapters = 1;  // found: only the warning
  ShowDiscoveryReport(ui, report);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].first, IUserInteraction::Icon::Warning);
}

TEST(IceSim, NothingFoundSendsNothing) {
  SimProcess sim(R"({"adapters": [{"name": "gone", "plugged": false,
                     "interfaces": [{"kind": "hid", "size": 64}]}]})",
                 0);
  struct RecordingUI : IUserInteraction {
    std::vector<std::string> texts;
    Answer MessageBox(const std::string&, const std::string& text, Icon, Buttons, void*) override {
      texts.push_back(text);
      return Answer::Ok;
    }
    int SelectBox(const std::string&, const std::vector<std::string>&, int) override { return -1; }
    void PumpEvents() override {}
  } ui;
  Spy<CICE_M4> ice;
  ice.SetUserInteraction(&ui);
  ice.DiscoverAdapters(false);
  EXPECT_TRUE(ui.texts.empty());
  ice.DiscoverAdapters(true);
  EXPECT_EQ(ui.texts, std::vector<std::string>{"No ICE Device Found. Please Check the Link!"});
  EXPECT_FALSE(ice.CheckUSBLink());
  EXPECT_FALSE(ice.CheckLink());
  try {
    ice.ReadMem32(0x20000000);
    FAIL() << "no exception";
  } catch (const CICEException& e) {
    EXPECT_STREQ(e.GetMessage(), "There is no Vo-Link connected to a USB port.");
    EXPECT_EQ(e.GetCode(), 0);
  }
  EXPECT_EQ(ice.GetLastErrorCode(), -1);
  EXPECT_EQ(ice.GetComPort(), -1);
}

TEST(IceSim, FoundButNotSelectedGoesNowhere) {
  SimProcess sim;
  Spy<CICE_M4> ice;
  ASSERT_TRUE(ice.Discovery().Run());  // found, but no slot selected yet
  ASSERT_EQ(ice.GetSelectedSlot(), -1);
  CommandRecord link(kCmdLinkCheck);
  link.Word(0);
  uint8_t reply[16];
  std::fill(std::begin(reply), std::end(reply), 0x5A);
  unsigned got = 7;
  EXPECT_NO_THROW(ice.Transact(link.Data(), link.Size(), reply, sizeof reply, &got, 200, true));
  EXPECT_TRUE(ice.requests.empty());
  EXPECT_EQ(std::count(std::begin(reply), std::end(reply), 0x5A), 16);
  EXPECT_EQ(got, 7u);
}

TEST(IceSim, AdapterIndicatorsAndRestartIntoBootLoader) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice, 0, false);
  ice.SetAdapterLeds(0x0, 0x0);
  EXPECT_EQ(ice.GetAdapterLeds(), 0u);
  ice.SetAdapterLeds(0x4, 0x3);  // pins 0 and 1 masked, carry from pin 2 on
  EXPECT_EQ(ice.GetAdapterLeds(), 0xCu);
  ice.BlinkAdapterLeds(0x1, 1, 3);
  EXPECT_EQ(ice.GetAdapterLeds(), 0xCu);  // state restored
  EXPECT_EQ(ice.GetAdapterInputs(), 0u);  // generation 1 has no input word
  EXPECT_TRUE(ice.IsAdapterReady());
  EXPECT_EQ(ice.ReadAdapterId(), 0x7788A1B2u);
  ice.SetAdapterRunState(1);
  EXPECT_EQ(ice.GetAdapterRunState(), 1u);

  ice.RestartToBootLoader();
  ice.CloseAllAdapters();
  EXPECT_NE(sim.Ctl("status demo").find("loader"), std::string::npos);
}

TEST(IceSim, FlashBridgeTraceAndSerialWireOutput) {
  SimProcess sim(OneAdapterConfig("hid", 64), 1);
  Spy<CICE_M4> ice;
  OpenAdapter(ice);

  // Flash: geometry from flash mode 2, a page erase, a padded block write.
  uint32_t info[6] = {};
  ice.SetFlashMode(2, "GX32", info, 0);
  EXPECT_EQ(ice.GetFlashMode(), 2);
  ASSERT_GT(info[1], 0u);  // flash size
  const uint32_t page = info[0] + info[1] - info[2];
  ice.Clear();
  ice.SetFlashMode(3, std::string(60, 'N').c_str(), nullptr, 0);  // names are cut to 32 bytes
  EXPECT_EQ(ice.requests.at(0).size(), 44u);
  EXPECT_EQ(ice.GetFlashMode(), 2);  // kind 3 leaves the mode alone
  ice.SetConfig(1024, 3300, true);  // configuring forgets the flash mode
  EXPECT_EQ(ice.GetFlashMode(), 0);
  ice.Clear();
  const uint32_t words[4] = {page, page - info[2], page - 2 * info[2], page - 3 * info[2]};
  ice.EraseFlashChip(7, words, 0);
  EXPECT_EQ(ice.requests.at(0).size(), 28u);
  EXPECT_EQ(ice.Word(0, 1), 4u);  // n = min(7, 4)
  const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7};  // not a whole word
  ice.WriteFlashBlock(page, data.data(), 7);
  std::vector<uint8_t> back(8);
  ice.ReadFlashBlock(page, back.data(), 8);
  EXPECT_EQ(back, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 0xFF}));

  // Bridge: analog scan of three values.
  ice.SetBridgeMode(6);
  const uint8_t record[12] = {3};
  EXPECT_EQ(ice.WriteBridge(record), 12u);
  uint8_t values[40] = {};
  EXPECT_EQ(ice.ReadBridge(values), 40u);

  // Serial-wire output in UART mode.
  ice.SwoMode(1);
  EXPECT_GT(ice.SwoBaudrate(115200), 0u);
  ice.SwoTransport(true);
  ice.SwoControl(true);
  uint32_t extra = 0;
  EXPECT_EQ(ice.SwoStatus(&extra) & 1, 1);
  uint8_t swo[1024];
  unsigned length = 0;
  ice.SwoData(&length, swo, sizeof swo);
  EXPECT_LE(length, ice.GetSwoDataMax());
  ice.Clear();
  ice.SwoMode(5);
  EXPECT_EQ(ice.requests.at(0).size(), 5u);
  EXPECT_EQ(ice.requests.at(0)[4], 0);  // unknown modes switch it off

  // Trace macrocell.
  const uint32_t etm[3] = {1, 0, 0};
  uint8_t out[20] = {};
  ice.SetEtmc(etm, out);
  EXPECT_EQ(out[0], 1);
  EXPECT_THROW(ice.SetEtmc(nullptr, out), CICEException);
  EXPECT_LE(ice.GetEtmcState(), 3u);
}
