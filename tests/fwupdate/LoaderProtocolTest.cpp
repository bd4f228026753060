// The boot-loader requests byte for byte, as the protocol describes them
// (command, packet number, data, zeros to the report's end), the replies a
// boot loader gives (checksum of the request, packet number + 1, data), the
// order in which the boot-loader product ids are tried, and unusable
// report sizes.
#include <gtest/gtest.h>

#include "fwupdate/LDUsbHid.h"
#include "fwupdate/UpdateUi.h"
#include "ice/CICEException.h"
#include "usb/SimFixture.h"

using namespace fwupdate;

namespace {

Bytes Report(std::initializer_list<uint8_t> head, size_t size = 64) {
  Bytes b(head);
  b.resize(size, 0);
  return b;
}

// A reply as the boot loader builds it: the 16-bit sum of the request's
// bytes, the request's packet number + `numberOffset`, then `data`.
Bytes ReplyTo(const Bytes& request, std::initializer_list<uint8_t> data, uint32_t numberOffset = 1) {
  unsigned sum = 0;
  for (uint8_t b : request) sum += b;
  const uint32_t number = (request[4] | request[5] << 8 | request[6] << 16 | uint32_t(request[7]) << 24) + numberOffset;
  Bytes r(64, 0);
  const uint8_t head[] = {uint8_t(sum), uint8_t(sum >> 8), uint8_t(number), uint8_t(number >> 8),
                          uint8_t(number >> 16), uint8_t(number >> 24)};
  std::copy(std::begin(head), std::end(head), r.begin());
  std::copy(data.begin(), data.end(), r.begin() + 6);
  return r;
}

class LoaderProtocol : public SimFixture {};

}  // namespace

TEST_F(LoaderProtocol, RequestsAndRepliesByteForByte) {
  FakeSimDevice& dev = AddDevice("ld", SimConfig("hid", 0x0416, 0x5211, 0, HidPath(0x5211, 0)));
  dev.SetHandler([](const Bytes& req) -> std::vector<Bytes> {
    switch (req[0]) {
      case 0xA4: return {ReplyTo(req, {}, 7)};  // not numbered: any number is taken
      case 0xB1: return {ReplyTo(req, {0x11}, 3), ReplyTo(req, {0x78, 0x56, 0x34, 0x12})};  // a stray one first
      case 0xAB: return {};  // the loader leaves without a word
      default: return {ReplyTo(req, {})};
    }
  });
  LDUsbHid ld;
  EXPECT_THROW(ld.Sync(), CICEException);  // not connected yet
  ASSERT_TRUE(ld.Connect());
  ld.Sync();
  EXPECT_EQ(ld.ReadChipId(), 0x12345678u);
  const std::vector<uint8_t> image(60, 0x11);
  std::vector<size_t> carried;
  ld.WriteAprom(0, image, [&](size_t, size_t, size_t n) { carried.push_back(n); });
  EXPECT_EQ(carried, (std::vector<size_t>{48, 12}));
  ld.StoreChecksum(60, 0x03FC);
  ld.StartApplication();

  const std::vector<Bytes> sent = dev.WaitForReceived(6);
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[0], Report({0xA4, 0, 0, 0, 18, 0, 0, 0, 18, 0, 0, 0}));
  EXPECT_EQ(sent[1], Report({0xB1, 0, 0, 0, 20, 0, 0, 0}));
  Bytes first = Report({0xA0, 0, 0, 0, 22, 0, 0, 0, 0, 0, 0, 0, 60, 0, 0, 0});
  std::fill(first.begin() + 16, first.end(), 0x11);
  EXPECT_EQ(sent[2], first);
  Bytes second = Report({0x00, 0, 0, 0, 24, 0, 0, 0});
  std::fill(second.begin() + 8, second.begin() + 20, 0x11);
  EXPECT_EQ(sent[3], second);
  EXPECT_EQ(sent[4], Report({0xC9, 0, 0, 0, 26, 0, 0, 0, 60, 0, 0, 0, 0xFC, 0x03, 0, 0}));
  EXPECT_EQ(sent[5], Report({0xAB, 0, 0, 0, 28, 0, 0, 0}));
}

TEST_F(LoaderProtocol, ProductIdsInOrderAndUsableSizesOnly) {
  // 0x200D is tried last, 0xA320 before 0x5211; a loader whose reports are
  // too small for a request header does not count.
  FakeSimDevice& late = AddDevice("late", SimConfig("hid", 0x0416, 0x200D, 0, HidPath(0x200D, 0)));
  AddDevice("small", SimConfig("hid", 0x0416, 0xA316, 0, HidPath(0xA316, 0), "1-4.3", "S", 8));
  FakeSimDevice& early = AddDevice("early", SimConfig("hid", 0x0416, 0xA320, 0, HidPath(0xA320, 0), "1-4.4"));
  for (FakeSimDevice* d : {&late, &early}) d->SetHandler([](const Bytes& req) { return std::vector<Bytes>{ReplyTo(req, {})}; });
  LDUsbHid ld;
  ASSERT_TRUE(ld.Connect());
  ld.Sync();
  EXPECT_EQ(early.WaitForReceived(1).size(), 1u);
  EXPECT_TRUE(late.Received().empty());
}

TEST_F(LoaderProtocol, NothingToConnectIsReported) {
  struct Ui : IUpdateUi {
    std::string told;
    void Tell(const std::string& text, Icon icon) override {
      told = text;
      EXPECT_EQ(icon, Icon::Stop);
    }
    bool Ask(const std::string&, Icon) override { return false; }
    bool AskMessage(const std::string&) override { return false; }
    bool AskVersion(int, int) override { return false; }
    void RunUpdate(CUpdateEngine&) override {}
  } ui;
  LDUsbHid ld;
  EXPECT_FALSE(ld.Connect(&ui));
  EXPECT_EQ(ui.told, "No upload Device Found, Please Check the Link!");
  try {
    ld.ReadVersion();
    ADD_FAILURE();
  } catch (const CICEException& e) {
    EXPECT_STREQ(e.what(), "There is no Vo-Link connected to a USB port.");
  }
}
