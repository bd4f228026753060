// Image paths that name something other than an ordinary file (a FIFO
// nobody writes, a device) or nothing at all: every command that loads
// images refuses them at once with the reason, and leaves the adapter as it
// was, free for the next program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "ice/CICEGlobalMutex.h"
#include "ice/SimFixture.h"
#include "sim/Images.h"
#include "UpdateRig.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kAdapterId = 0x7788BE00;

// A class-2 adapter at firmware 7000: an update is due.
const char kConfig[] = R"({"adapters": [{"name": "a", "generation": 1, "chip_id": "0x00D4851F",
    "firmware_version": 7000, "adapter_id": "0x7788BE00", "location": "1-4.1",
    "target": {"kind": "none"}}]})";

// Runs volink, killed after 20 s (a command that blocks shows as status 137).
updaterig::ProgramRun Volink(const std::string& args) {
  return updaterig::RunProgram("timeout -s KILL 20 " + std::string(VOLINK_EXE) + " " + args + " 2>&1 </dev/null");
}

}  // namespace

TEST(ImageFileKinds, ImageOfADeviceOrAFifoIsRefusedAtOnce) {
  const fs::path dir = fs::temp_directory_path() / ("image-kinds-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path fifo = dir / "fw.bin";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {std::string("/dev/zero"), fifo.string()}) {
    SCOPED_TRACE(path);
    const updaterig::ProgramRun r = Volink("image " + path);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(r.output, "volink: cannot open " + path + ": not a regular file\n");
  }
  fs::remove_all(dir);
}

TEST(ImageFileKinds, CommandsOnAnAdapterRefuseWithoutBlockingOrWriting) {
  SimProcess sim(kConfig, 1);
  const fs::path images = fs::path(sim.Dir()) / "Vo_Link";
  sim::images::WriteImageSet(images);
  // A folder whose images are FIFOs; the first-generation image, which the
  // version check reads, is one too.
  const fs::path fifos = fs::path(sim.Dir()) / "fifos";
  fs::copy(images, fifos);
  for (const char* name : {"VoLink1FW.bin", "VoLink2FW.bin", "VoLink2ISP_LD.bin"}) {
    fs::remove(fifos / name);
    ASSERT_EQ(::mkfifo((fifos / name).c_str(), 0600), 0);
  }
  const std::string fifo = (fifos / "VoLink2FW.bin").string();
  const std::string missing = sim.Dir() + "/no-such-folder";

  const struct {
    std::string args;
    std::string says;
  } cases[] = {
      {"update --yes --image " + fifo + " --images " + images.string(), "Can not load APROM file for update"},
      {"update --yes --images " + fifos.string(), "Can not load LDROM file for update"},
      {"bootloader write " + fifos.string(), "Can not load LDROM file for update"},
      {"bootloader check " + fifos.string(), "Can not load LDROM file for update"},
      {"bootloader check " + missing, "volink: image folder " + missing + ": No such file or directory"},
      {"bootloader write " + missing, "volink: image folder " + missing + ": No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const updaterig::ProgramRun r = Volink(c.args);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    // Nothing was written, and the adapter is free again.
    EXPECT_FALSE(CICEGlobalMutex::IsAdapterInUse(kAdapterId));
    EXPECT_EQ(testsupport::ReportedVersion(), 7000u);
  }
  // The boot loader is as it was.
  const updaterig::ProgramRun check = Volink("bootloader check " + images.string());
  EXPECT_EQ(check.status, 0) << check.output;
}
