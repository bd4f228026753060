// Reading configurations: the demo, the lab set-up, and refused input.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "sim/SimConfig.h"

namespace {

TEST(Config, DemoAndLabConfigurations) {
  const sim::SimConfig demo = sim::DemoConfig();
  ASSERT_EQ(demo.adapters.size(), 1u);
  EXPECT_EQ(demo.adapters[0].generation, 1);
  EXPECT_EQ(demo.adapters[0].pid, 0x5200);
  ASSERT_EQ(demo.adapters[0].interfaces.size(), 2u);
  EXPECT_EQ(demo.adapters[0].interfaces[0].number, 3);
  EXPECT_EQ(demo.adapters[0].interfaces[1].kind, "bulk");
  EXPECT_EQ(demo.adapters[0].loaderPid, 0x5211);

  std::ifstream f(SIM_SOURCE_DIR "/configs/lab.json");
  std::stringstream ss;
  ss << f.rdbuf();
  const sim::SimConfig lab = sim::ParseConfig(ss.str());
  ASSERT_EQ(lab.adapters.size(), 3u);
  EXPECT_EQ(lab.adapters[0].loaderPid, 0xA320);  // class 1 chip id
  EXPECT_EQ(lab.adapters[1].interfaces[0].size, 1024);
  EXPECT_EQ(lab.adapters[2].loaderPid, 0x200D);
}

TEST(Config, RefusesWhatItCannotServe) {
  const char* bad[] = {
      "not json",
      R"({"adapters": 3})",
      R"({"adapters":[{"name":"a","generation":3}]})",
      R"({"adapters":[{"name":"a","generation":4294967297}]})",
      R"({"adapters":[{"name":"a"},{"name":"a"}]})",
      R"({"adapters":[{"name":"a b"}]})",
      R"({"adapters":[{"name":"a","pid":"0x12345"}]})",
      R"({"adapters":[{"name":"a","pid":"banana"}]})",
      R"({"adapters":[{"name":"a","interfaces":[{"kind":"serial"}]}]})",
      R"({"adapters":[{"name":"a","interfaces":[{"kind":"hid","size":2048}]}]})",
      R"({"adapters":[{"name":"a","interfaces":[]}]})",
      R"({"adapters":[{"name":"a","interfaces":[{"kind":"hid"},{"kind":"hid","interface":3}]}]})",
      R"({"adapters":[{"name":"a","target":{"kind":"z80"}}]})",
      R"({"adapters":[{"name":"a","revision":"toolong"}]})",
  };
  for (const char* text : bad) EXPECT_THROW(sim::ParseConfig(text), std::runtime_error) << text;
}

}  // namespace
