// `bootloader check|id|erase|write`: the adapter's own boot-loader area.
#include <chrono>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "fwupdate/BootLoaderOps.h"
#include "fwupdate/CHexBinFile.h"
#include "fwupdate/FirmwareImages.h"
#include "fwupdate/LoaderRewrite.h"
#include "ice/AdapterParts.h"
#include "ice/CICE.h"
#include "ice/CICE_M4.h"
#include "platform/StringTable.h"
#include "volink/Adapter.h"
#include "volink/Format.h"
#include "volink/Handlers.h"
#include "volink/Invocation.h"
#include "volink/Terminal.h"

using namespace fwupdate;

namespace volink {
namespace {

constexpr auto kReadyWait = std::chrono::seconds(60);

// A folder that is not there is named before the adapter is taken.
void RequireFolder(const std::string& folder) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return;
  const std::error_code reason =
      ec ? ec
         : std::make_error_code(std::filesystem::exists(folder, ec) ? std::errc::not_a_directory
                                                                     : std::errc::no_such_file_or_directory);
  throw std::runtime_error("image folder " + folder + ": " + reason.message());
}

// The adapter of a boot-loader command, identified: its MCU class decides
// the flash layout.
struct LoaderAdapter {
  explicit LoaderAdapter(Invocation& call) : adapter(call, std::make_unique<CICE_M4>()) {
    uint32_t chipId = 0;
    adapter.Ice().ResetCmdSerial(0xFFFFFFFF, &chipId);
    mcuClass = ice::McuClassOf(chipId);
    if (!IsUpdatable(mcuClass)) throw CICEException(text::kUnknownChipType);
  }
  CICE& Ice() { return adapter.Ice(); }

  TakenAdapter adapter;
  McuClass mcuClass = McuClass::First0;
};

// The boot-loader images of the adapter's class, loaded from `folder` (none:
// not loaded).
struct LoaderImages {
  LoaderImages(McuClass mcuClass, const std::string* folder)
      : objects(MakeImageObjects(mcuClass)), which{&objects.loader, HasSecondLoader(mcuClass) ? &objects.second : nullptr} {
    if (folder)
      LoadFirmwareImages(&objects.loader, nullptr, which.second ? &objects.second : nullptr, mcuClass,
                         {*folder, ""});
  }
  ImageObjects objects;
  BootLoaderImages which;
};

// The adapter's firmware is busy after its boot loader changed; waits until
// it says it is ready again (bounded).
void WaitReady(CICE& ice) {
  const auto until = std::chrono::steady_clock::now() + kReadyWait;
  while (!ice.IsAdapterReady()) {
    if (std::chrono::steady_clock::now() >= until) throw CICEException(LOAD_STRING(IDS_USB_DISCONNECTED));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// Erasing or writing: the firmware is told that its boot loader is being
// rewritten, and its run state is restored afterwards.
template <class Change>
void WhileRewriting(CICE& ice, Change change) {
  const uint32_t runState = ice.GetAdapterRunState();
  ice.SetAdapterRunState(1);
  change(runState);
  WaitReady(ice);
  ice.SetAdapterRunState(runState);
}

}  // namespace

int BootLoaderCheckCommand(Invocation& call) {
  RequireFolder(call.args[0]);
  LoaderAdapter a(call);
  LoaderImages images(a.mcuClass, &call.args[0]);
  const BootLoaderCheck c = CheckBootLoader(a.Ice(), a.mcuClass, images.which, call.terminal.ProgressSink());
  call.terminal.EndBar();
  call.out << "adapter id " << Hex0x(c.adapterId) << "\n"
           << (c.matches ? "boot loader matches the images\n" : "boot loader differs from the images\n");
  return c.matches ? 0 : 1;
}

int BootLoaderIdCommand(Invocation& call) {
  LoaderAdapter a(call);
  call.out << "adapter id " << Hex0x(ReadAdapterId(a.Ice(), a.mcuClass)) << "\n";
  return 0;
}

int BootLoaderEraseCommand(Invocation& call) {
  LoaderAdapter a(call);
  WhileRewriting(a.Ice(), [&](uint32_t) {
    SetBootLoaderAccess(a.Ice(), a.mcuClass, true);
    EraseBootLoader(a.Ice(), a.mcuClass, 0, 100, call.terminal.ProgressSink());
    SetBootLoaderAccess(a.Ice(), a.mcuClass, false);
  });
  call.terminal.EndBar();
  call.out << "boot loader erased\n";
  return 0;
}

int BootLoaderWriteCommand(Invocation& call) {
  RequireFolder(call.args[0]);
  LoaderAdapter a(call);
  LoaderImages images(a.mcuClass, &call.args[0]);
  uint32_t id = CheckBootLoader(a.Ice(), a.mcuClass, images.which, call.terminal.ProgressSink()).adapterId;
  WhileRewriting(a.Ice(), [&](uint32_t runState) {
    // Kept in a record until the read-back matches: an interrupted write is
    // finished by the next check of this adapter.
    id = *RewriteBootLoader(a.Ice(), a.mcuClass, images.which, id, runState, {0, 50, 50, 50},
                            call.terminal.ProgressSink());
  });
  call.terminal.EndBar();
  call.out << "adapter id " << Hex0x(id) << "\n" << "boot loader written\n";
  return 0;
}

}  // namespace volink
