// The protocol rules that need no adapter: sizes, limits, clock rounding,
// the handshake's design ids and names, error texts, shadowing and the
// breakpoint unit's comparator images.
#include <gtest/gtest.h>

#include "ice/FirmwareFeatures.h"
#include "ice/ICEBreakpoints.h"
#include "ice/ICEProtocol.h"

using namespace ice;

namespace {
FirmwareFeatures FeaturesOf(int generation, uint32_t firmware) {
  return FirmwareFeaturesFor(generation, firmware, 0, false);
}
}  // namespace

// Every firmware version threshold, on both sides of it, in one table.
TEST(IceFirmwareFeatures, WhatEachVersionEnables) {
  struct Row {
    int generation;
    uint32_t firmware, chipId;
    bool pro;
    bool extraWord;
    uint32_t designIdBits;
    int32_t proCapA;
    bool streamedRead, streamedWrite, wideMultiAccess, flashModeOption;
  } rows[] = {
      {1, 6458, 0, false, false, 0x00, 7, false, false, false, false},
      {1, 6459, 0, false, true, 0x00, 7, false, false, false, false},
      {1, 6711, 0, false, true, 0x00, 7, false, false, false, false},
      {1, 6712, 0, false, true, 0x00, 7, false, true, false, false},
      {1, 6747, 0, false, true, 0x00, 7, false, true, false, false},
      {1, 6748, 0, false, true, 0x00, 7, true, true, false, false},
      {1, 6798, 0, false, true, 0x00, 7, true, true, false, false},
      {1, 6799, 0, false, true, 0x03, 7, true, true, false, false},
      {1, 6831, 0, false, true, 0x03, 7, true, true, false, false},
      {1, 6832, 0, false, true, 0x03, 7, true, true, true, false},
      {1, 6837, 0, false, true, 0x03, 7, true, true, true, false},
      {1, 6838, 0, false, true, 0x03, 7, true, true, true, true},
      {1, 6867, 0, false, true, 0x03, 7, true, true, true, true},
      {1, 6868, 0, false, true, 0x07, 7, true, true, true, true},
      {1, 7181, 0, false, true, 0x07, 7, true, true, true, true},
      {1, 7182, 0, false, true, 0x0F, 7, true, true, true, true},
      {1, 7220, 0, false, true, 0x0F, 7, true, true, true, true},
      {1, 7221, 0, false, true, 0x0F, 15, true, true, true, true},
      {1, 7865, 0, false, true, 0x0F, 15, true, true, true, true},
      {1, 7866, 0, false, true, 0x1F, 15, true, true, true, true},
      // Not read yet: nothing that the layer decides after the handshake.
      {1, kFirmwareUnknown, 0, false, true, 0x1F, 15, false, false, false, false},
      // The third generation always has five design-id bits.
      {2, 6000, 0, false, false, 0x1F, 7, false, false, false, false},
      {2, 6838, 0, false, true, 0x1F, 7, true, true, true, true},
      // The first generation never batches more nor sends the option byte,
      // and its plain model (chip id 0x40012009 without Pro) streams no reads.
      {0, 7973, 0, false, true, 0x00, 15, true, true, false, false},
      {0, 7973, 0x40012009, false, true, 0x00, 15, false, true, false, false},
      {0, 7973, 0x40012009, true, true, 0x00, 15, true, true, false, false},
      {1, 7973, 0x40012009, false, true, 0x1F, 15, true, true, true, true},
  };
  for (const Row& r : rows) {
    const FirmwareFeatures f = FirmwareFeaturesFor(r.generation, r.firmware, r.chipId, r.pro);
    SCOPED_TRACE(testing::Message() << "gen " << r.generation << " fw " << r.firmware << " chip "
                                    << r.chipId << " pro " << r.pro);
    EXPECT_EQ(f.bHandshakeExtraWord, r.extraWord);
    EXPECT_EQ(f.uDesignIdBits, r.designIdBits);
    EXPECT_EQ(f.nProCapA, r.proCapA);
    EXPECT_EQ(f.bStreamedRead, r.streamedRead);
    EXPECT_EQ(f.bStreamedWrite, r.streamedWrite);
    EXPECT_EQ(f.bWideMultiAccess, r.wideMultiAccess);
    EXPECT_EQ(f.bFlashModeOption, r.flashModeOption);
  }
}

TEST(IceProtocol, PayloadSizesAndMultiAccessLimits) {
  struct Case {
    unsigned packet;
    int generation;
    uint32_t firmware;
    unsigned payload, maxBlock, limit;
  } cases[] = {
      {64, 0, 7973, 62, 48, 4},         // one-byte header
      {64, 1, 7973, 61, 48, 4},         // two-byte header; (61 - 8) / 12 = 4
      {1024, 1, 7973, 1021, 1008, 84},  // new firmware on a large transport
      {1024, 2, 6832, 1021, 1008, 84},
      {1024, 1, 6831, 1021, 1008, 4},   // not above 6831
      {1024, 1, 0xFFFFFFFF, 1021, 1008, 4},  // firmware not read yet
      {512, 1, 7973, 509, 496, 41},
      {1024, 0, 7973, 1022, 1008, 4},   // generation 0 never batches more
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.packet << " gen " << c.generation << " fw " << c.firmware);
    const unsigned payload = PayloadSizeFor(c.packet, c.generation);
    EXPECT_EQ(payload, c.payload);
    EXPECT_EQ(MaxBlockDataOf(payload), c.maxBlock);
    EXPECT_EQ(MultiAccessLimitFor(FeaturesOf(c.generation, c.firmware), payload), c.limit);
  }
  EXPECT_EQ(StreamReadChunkSize(60), 1112u);
}

TEST(IceProtocol, ClockIsBoundedByGenerationThenRounded) {
  struct Case {
    uint32_t clock;
    int generation;
    uint32_t sent;
  } cases[] = {
      {1536, 1, 1500}, {1500, 1, 1500}, {99, 1, 90},     {50000, 1, 38000}, {5, 1, 10},
      {1024, 1, 1000}, {250, 1, 200},   {50000, 2, 32000}, {50, 2, 100},   {13000, 0, 12000},
      {50, 0, 100},    {1999, 0, 1000}, {7, 5, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NormaliseClock(c.clock, c.generation), c.sent) << c.clock << " gen " << c.generation;
}

TEST(IceProtocol, DesignIdMaskFollowsFirmwareVersion) {
  const uint32_t flags = 0xFFFFFFFF;
  struct Case {
    int generation;
    uint32_t firmware;
    int designId;
  } cases[] = {
      {1, 7866, 0x1F}, {1, 7865, 0x0F}, {1, 7182, 0x0F}, {1, 7181, 0x07}, {1, 6868, 0x07},
      {1, 6867, 0x03}, {1, 6800, 0x03}, {1, 6799, 0x03}, {1, 6798, -1},   {2, 100, 0x1F},
      {0, 7973, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DesignIdFor(FeaturesOf(c.generation, c.firmware), flags), c.designId)
        << "gen " << c.generation << " fw " << c.firmware;
}

TEST(IceProtocol, AdapterNamesAndCapabilities) {
  struct Case {
    int generation, designId;
    bool pro;
    uint32_t firmware;
    const char* name;
    int a, b;
  } cases[] = {
      {2, 1, false, 7973, "Vo-Link3-Pro", 31, 15}, {2, 0, false, 7973, "", 0, 0},
      {1, 0, false, 7973, "Vo-Link2", 8, 0},       {1, 1, false, 7973, "Vo-Link2", 0, 12},
      {1, 3, false, 7973, "Vo-Trace", 7, 15},      {1, 5, false, 7220, "Vo-Link2-Pro", 7, 15},
      {1, 5, false, 7221, "Vo-Link2-Pro", 15, 15}, {1, 9, false, 7973, "Vo-Link2", 8, 15},
      {1, 17, false, 7973, "Vo-Link2", 0, 15},     {1, -1, false, 7973, "", 0, 0},
      {0, -1, true, 7973, "Vo-Link-Pro", 0, 15},   {0, -1, false, 7973, "Vo-Link", 0, 0},
  };
  for (const Case& c : cases) {
    const AdapterName n =
        AdapterNameFor(c.generation, c.designId, c.pro, FeaturesOf(c.generation, c.firmware));
    EXPECT_STREQ(n.name, c.name);
    EXPECT_EQ(n.capA, c.a);
    EXPECT_EQ(n.capB, c.b);
  }
}

TEST(IceProtocol, CommandErrorTexts) {
  EXPECT_EQ(CmdErrorMessage(16), "ICE: Cmd error - No device connected.");
  EXPECT_EQ(CmdErrorMessage(0), "ICE: Cmd error - OK.");
  EXPECT_EQ(CmdErrorMessage(17), "ICE: Cmd error - 17.");
  EXPECT_EQ(CmdErrorMessage(0xFFFFFFFF), "ICE: Cmd error - -1.");
}

TEST(IceProtocol, ThumbInstructionLengthAndLedRule) {
  EXPECT_TRUE(IsThumb32First(0xF000));   // BL prefix
  EXPECT_TRUE(IsThumb32First(0xE800));
  EXPECT_FALSE(IsThumb32First(0xE000));  // 16-bit branch
  EXPECT_FALSE(IsThumb32First(0xBE18));
  // Masked pins before the first unmasked one stay off; the carry runs on.
  EXPECT_EQ(LedPinLevels(0x1, 0x0), (std::array<bool, 4>{true, true, true, true}));
  EXPECT_EQ(LedPinLevels(0x0, 0x0), (std::array<bool, 4>{false, false, false, false}));
  EXPECT_EQ(LedPinLevels(0x1, 0x1), (std::array<bool, 4>{false, false, false, false}));
  EXPECT_EQ(LedWordGen0(0x000000A0, 0x1, 0xE), 0x000000B0u);
  EXPECT_EQ(SwoModeByte(5), 0);
  EXPECT_EQ(SwoModeByte(2), 2);
}

TEST(IceShadowing, ReadHidesBreakpointsAndNotesOverwrites) {
  const uint8_t bkpt[2] = {0x18, 0xBE};
  BreakpointTable table;
  BreakpointRecord r;
  r.address = 0x1002;
  r.kind = kBpSoftware;
  r.length = 2;
  r.original[0] = 0x34;
  r.original[1] = 0x12;
  table[r.address] = r;
  table[0x1008] = {0x1008, kBpHardware, 0, {}, 0};  // comparators are not in memory

  // Range covers only the upper byte of the instruction.
  uint8_t one[2] = {0xBE, 0x77};
  ShadowRead(table, bkpt, 0x1003, one);
  EXPECT_EQ(one[0], 0x12);

  uint8_t data[8] = {0, 0, 0x18, 0xBE, 0, 0, 0, 0};
  ShadowRead(table, bkpt, 0x1000, data);
  EXPECT_EQ(data[2], 0x34);
  EXPECT_EQ(data[3], 0x12);

  // The program wrote 0x4770 over the breakpoint: reads show it and it
  // becomes the original.
  uint8_t overwritten[2] = {0x70, 0x47};
  ShadowRead(table, bkpt, 0x1002, overwritten);
  EXPECT_EQ(overwritten[0], 0x70);
  EXPECT_EQ(table[0x1002].original[0], 0x70);
  EXPECT_EQ(table[0x1002].original[1], 0x47);
}

TEST(IceShadowing, WriteKeepsBreakpointAndUpdatesOriginal) {
  const uint8_t bkpt[2] = {0x18, 0xBE};
  BreakpointTable table;
  table[0x2000] = {0x2000, kBpSoftware, 2, {0x00, 0xBF}, -1};
  uint8_t data[4] = {0x11, 0x22, 0x33, 0x44};
  ShadowWrite(table, bkpt, 0x2000, data);
  EXPECT_EQ(data[0], 0x18);
  EXPECT_EQ(data[1], 0xBE);
  EXPECT_EQ(data[2], 0x33);
  EXPECT_EQ(table[0x2000].original[0], 0x11);
  EXPECT_EQ(table[0x2000].original[1], 0x22);
}

TEST(IceComparators, TwoHalfwordsShareOneComparator) {
  std::vector<uint32_t> images(4, 0);
  ComparatorChoice low = AllocateComparator(images, 0x200, ComparatorFormat::First);
  ASSERT_EQ(low.index, 0);
  EXPECT_EQ(low.image, 0x40000201u);
  images[0] = low.image;
  ComparatorChoice high = AllocateComparator(images, 0x202, ComparatorFormat::First);
  ASSERT_EQ(high.index, 0);
  EXPECT_EQ(high.image, 0xC0000201u);
  images[0] = high.image;

  uint32_t after = 0;
  ASSERT_TRUE(ReleaseComparator(images[0], 0x200, ComparatorFormat::First, &after));
  EXPECT_EQ(after, 0x80000201u);  // the upper halfword stays enabled
  ASSERT_TRUE(ReleaseComparator(after, 0x202, ComparatorFormat::First, &after));
  EXPECT_EQ(after, 0x00000200u);
  EXPECT_FALSE(ReleaseComparator(after, 0x202, ComparatorFormat::First, &after));

  // Another word goes to the next free comparator; a full unit refuses.
  images = {0x40000201u, 0x40000301u};
  EXPECT_EQ(AllocateComparator(images, 0x400, ComparatorFormat::First).index, -1);
  images[1] = 0x40000300u;  // disabled images are free again
  EXPECT_EQ(AllocateComparator(images, 0x400, ComparatorFormat::First).index, 1);
}

TEST(IceComparators, SecondFormatHoldsOneAddress) {
  std::vector<uint32_t> images = {0x00000301u, 0};
  EXPECT_EQ(AllocateComparator(images, 0x300, ComparatorFormat::Second).index, 0);
  const ComparatorChoice c = AllocateComparator(images, 0x302, ComparatorFormat::Second);
  EXPECT_EQ(c.index, 1);
  EXPECT_EQ(c.image, 0x303u);
  uint32_t after = 0;
  EXPECT_TRUE(ReleaseComparator(0x303u, 0x302, ComparatorFormat::Second, &after));
  EXPECT_EQ(after, 0x302u);
}

TEST(IceWatchpoints, ArgumentChecks) {
  uint32_t log2 = 0;
  EXPECT_FALSE(WatchArgsValid(0x20000000, 3, &log2));
  EXPECT_FALSE(WatchArgsValid(0x20000002, 4, &log2));
  EXPECT_FALSE(WatchArgsValid(0x20000000, 0, &log2));
  EXPECT_TRUE(WatchArgsValid(0x20000010, 16, &log2));
  EXPECT_EQ(log2, 4u);
}
