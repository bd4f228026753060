#include "fwupdate/UpdateEngine.h"

#include <thread>

#include "ice/AdapterParts.h"
#include "fwupdate/LoaderRewrite.h"
#include "fwupdate/UpdateStages.h"
#include "platform/StringTable.h"

namespace fwupdate {

using Clock = std::chrono::steady_clock;

CUpdateEngine::CUpdateEngine(UpdateOptions options) : m_options(std::move(options)) {}

UpdateResult CUpdateEngine::Run(IUpdateFeedback& feedback) {
  m_lastError.clear();
  m_writtenVersion.reset();
  m_lastResult = RunStages(feedback);
  return m_lastResult;
}

UpdateResult CUpdateEngine::RunStages(IUpdateFeedback& feedback) {
  Stages stages(m_options, feedback, m_writtenVersion);
  try {
    stages.Stage1();
    stages.Stage2();
    return UpdateResult::Finished;
  } catch (const UpdateStopped&) {
    return UpdateResult::Stopped;
  } catch (const std::exception& e) {
    m_lastError = e.what();
    if (feedback.Current()) feedback.Message(m_lastError, IUpdateFeedback::Icon::Stop);
    return UpdateResult::Failed;
  }
}

uint32_t LoaderApromSize(uint32_t chipId, bool newLoader, uint32_t flashInfo, uint32_t config0, uint32_t config1) {
  const ice::AdapterPart* part = ice::FindAdapterPart(chipId);
  if (!part) throw CICEException(text::kUnknownChipType);
  if (!newLoader) return ice::ApplicationAreaSize(chipId, config0, config1);
  // A new boot loader reports its flash; the part gives the data-flash rules.
  if ((config0 & 1) == 0 && part->variableDataFlash) return std::min(config1 & part->dataFlashMask, flashInfo);
  return flashInfo > part->fixedDataFlash ? flashInfo - part->fixedDataFlash : 0;
}

std::array<uint32_t, 14> WantedConfig(McuClass mcuClass, uint32_t size, bool* all) {
  std::array<uint32_t, 14> w;
  w.fill(0xFFFFFFFFu);
  auto roundUp = [size](uint32_t unit) { return static_cast<uint32_t>((uint64_t(size) + unit - 1) / unit * unit); };
  if (mcuClass == McuClass::Third) {
    w[0] = 0xFFFFFF7F;
    w[1] = roundUp(8192);
    w[3] = 0xFFFFE2FF;
    w[11] = 0xFFFFFF5A;
    w[13] = 0xFFFFFF00;
    if (all) *all = true;
  } else {
    w[0] = 0xFFFFFF7C;
    w[1] = roundUp(mcuClass == McuClass::Second ? 4096 : 512);
    if (all) *all = false;
  }
  return w;
}

// ---- helpers --------------------------------------------------------------------

void CUpdateEngine::Stages::Check() {
  if (!m_fb.Current()) throw UpdateStopped{};
}

void CUpdateEngine::Stages::Sleep(std::chrono::milliseconds d) {
  const auto until = Clock::now() + d;
  for (;;) {
    Check();
    const auto now = Clock::now();
    if (now >= until) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(until - now, std::chrono::milliseconds(20)));
  }
}

void CUpdateEngine::Stages::Status(unsigned id, const char* key) { m_fb.Status(LoadStringOr(id, key)); }

Progress CUpdateEngine::Stages::Sink() {
  Progress p;
  p.report = [this](ProgressKind kind, int percent) { m_fb.Progress(kind, percent); };
  p.stillCurrent = [this] { return m_fb.Current(); };
  return p;
}

bool CUpdateEngine::Stages::Answers(CICE& ice) {
  ice.CloseAllAdapters();
  ice.DiscoverAdapters(false);
  if (!ice.CheckUSBLink()) return false;
  try {
    ice.ResetCmdSerial(0xFFFFFFFF);
    return true;
  } catch (const CICEException&) {
    ice.CloseAllAdapters();
    return false;
  }
}

bool CUpdateEngine::Stages::LoaderPresent() {
  const bool present = m_loader.Connect();
  m_loader.Disconnect();
  return present;
}

// ---- stage 1: into the boot loader ----------------------------------------------

void CUpdateEngine::Stages::Stage1() {
  CICE_M4 ice;
  if (!Answers(ice)) {
    if (!LoaderPresent()) throw CICEException(LOAD_STRING(IDS_USB_DISCONNECTED));
    return;
  }
  uint32_t chipId = 0;
  ice.ResetCmdSerial(0xFFFFFFFF, &chipId);
  m_class = ice::McuClassOf(chipId);
  ImageObjects images = MakeImageObjects(m_class);
  const bool second = HasSecondLoader(m_class);
  LoadFirmwareImages(&images.loader, &images.application, second ? &images.second : nullptr, m_class, m_opt.images);
  const BootLoaderImages which{&images.loader, second ? &images.second : nullptr};

  // Waits until the adapter's firmware says it is ready, finding it again
  // when it was closed or went away meanwhile.
  auto waitReady = [&] {
    const auto until = Clock::now() + m_opt.timings.deviceWait;
    for (;;) {
      Check();
      try {
        if ((ice.CheckUSBLink() || Answers(ice)) && ice.IsAdapterReady()) return;
      } catch (const CICEException&) {
        ice.CloseAllAdapters();
      }
      if (Clock::now() >= until) throw CICEException(LOAD_STRING(IDS_USB_DISCONNECTED));
      Sleep(m_opt.timings.poll);
    }
  };

  const BootLoaderCheck check = CheckBootLoader(ice, m_class, which, Sink(), m_opt.flash);
  Check();
  if (!check.matches || check.adapterId == 0 || check.adapterId == 0xFFFFFFFFu) {
    Status(IDS_WAIT_BOOTLOADER, "IDS_WAIT_BOOTLOADER");
    const uint32_t runState = ice.GetAdapterRunState();
    ice.SetAdapterRunState(1);
    if (!RewriteBootLoader(ice, m_class, which, check.adapterId, runState, {0, 10, 10, 10}, Sink(), m_opt.flash))
      throw UpdateStopped{};
    Check();
    waitReady();
    ice.SetAdapterRunState(runState);
    ice.CloseAllAdapters();
    Sleep(m_opt.timings.settle);
  }
  waitReady();
  if (m_class == McuClass::First1 && !m_opt.mbedWarned && (ice.GetAdapterInputs() & 2) == 0)
    m_fb.Message(LOAD_STRING(IDS_FM_UPDATE_MBED_MODE_WARNING), IUpdateFeedback::Icon::Warning);
  Check();
  ice.RestartToBootLoader();
  ice.CloseAllAdapters();
  Status(IDS_WAIT_REBOOT_FROM_BOOTLOADER, "IDS_WAIT_REBOOT_FROM_BOOTLOADER");
  const auto until = Clock::now() + m_opt.timings.deviceWait;
  while (Answers(ice)) {
    ice.CloseAllAdapters();
    if (Clock::now() >= until) throw CICEException(LOAD_STRING(IDS_FM_UPDATE_REBOOT_BOOTLOADER_FAILED));
    Sleep(m_opt.timings.poll);
  }
}

}  // namespace fwupdate
