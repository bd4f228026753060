// Stage 2 of the update: the application firmware written through the boot
// loader, then the boot loader rewritten through the new firmware when it
// is old.
#include <numeric>

#include "ice/AdapterParts.h"
#include "fwupdate/LoaderRewrite.h"
#include "fwupdate/UpdateStages.h"
#include "platform/StringTable.h"

namespace fwupdate {

using Clock = std::chrono::steady_clock;

const CHexBinFile* CUpdateEngine::Stages::Loaded(const CHexBinFile* image) const {
  return image && image->IsLoaded() ? image : nullptr;
}

void CUpdateEngine::Stages::LoadAllImages() {
  for (int c = 0; c < 5; ++c) {
    ClassImages& set = m_images[c];
    const McuClass mcuClass = static_cast<McuClass>(c);
    try {
      set.objects = MakeImageObjects(mcuClass);
    } catch (const CICEException&) {
      continue;  // a class without images
    }
    // Each image on its own: one that fails stays empty.
    auto load = [&](CHexBinFile* loader, CHexBinFile* application, CHexBinFile* second) {
      try {
        LoadFirmwareImages(loader, application, second, mcuClass, m_opt.images);
      } catch (const CICEException&) {
        CHexBinFile* failed = loader ? loader : application ? application : second;
        *failed = CHexBinFile(failed->Limit());
      }
    };
    load(&set.objects->loader, nullptr, nullptr);
    load(nullptr, &set.objects->application, nullptr);
    if (HasSecondLoader(mcuClass)) load(nullptr, nullptr, &set.objects->second);
  }
}

void CUpdateEngine::Stages::ConnectLoader() {
  // The boot loader may still be on its way onto the bus.
  const auto until = Clock::now() + m_opt.timings.deviceWait;
  while (!m_loader.Connect()) {
    if (Clock::now() >= until) throw CICEException(LOAD_STRING(IDS_USB_DISCONNECTED));
    Sleep(m_opt.timings.poll);
  }
}

void CUpdateEngine::Stages::Stage2() {
  Percent(ProgressKind::Update, 20);
  LoadAllImages();
  WriteApplication();
  WaitLoaderGone();
  FinishThroughFirmware();
  m_fb.Message(LOAD_STRING(IDS_UPDATE_FIRMWARE_OK), IUpdateFeedback::Icon::Information);
}

void CUpdateEngine::Stages::WriteApplication() {
  bool configChanged = false;
  unsigned configWrites = 0;
  for (;;) {
    Check();
    ConnectLoader();
    m_loader.Sync();
    const uint32_t chipId = m_loader.ReadChipId();
    m_class = ice::McuClassOf(chipId);
    const CHexBinFile* app =
        m_images[ClassNumber(m_class)].objects ? Loaded(&m_images[ClassNumber(m_class)].objects->application) : nullptr;
    if (!app) {
      m_loader.Disconnect();
      throw CICEException(LOAD_STRING(IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE));
    }
    m_loaderVersion = m_loader.ReadVersion();
    const bool newLoader = IsNewLoader(m_loaderVersion);
    const LDUsbHid::ConfigWords config = m_loader.ReadConfig();
    const uint32_t flashInfo = newLoader ? m_loader.ReadFlashInfo() : 0;
    uint32_t size = LoaderApromSize(chipId, newLoader, flashInfo, config[0], config[1]);
    m_loader.AnnounceApromSize(size);
    size = std::min<uint32_t>(size, app->Size());

    bool all = false;
    LDUsbHid::ConfigWords wanted = WantedConfig(m_class, size, &all);
    bool differs = wanted[0] != config[0] || wanted[1] != config[1];
    if (all) differs = wanted != config;
    else std::copy(config.begin() + 2, config.end(), wanted.begin() + 2);  // the other words stay
    if (differs) {
      // A boot loader that never takes the configuration must not keep the
      // update going round.
      if (++configWrites > m_opt.maxConfigWrites) throw CICEException(text::kWriteError);
      configChanged = true;
      Status(IDS_UPDATE_FM_CONFIG, "IDS_UPDATE_FM_CONFIG");
      m_loader.WriteConfig(wanted);
      m_loader.RestartLoader();
      m_loader.Disconnect();
      Sleep(m_opt.timings.settle);
      continue;
    }

    const std::span<const uint8_t> image(app->Data().data(), size);
    const uint16_t checksum =
        std::accumulate(image.begin(), image.end(), uint16_t{0}, [](uint16_t s, uint8_t b) { return uint16_t(s + b); });
    Status(IDS_ERASE_OLD_FIRMWARE, "IDS_ERASE_OLD_FIRMWARE");
    m_loader.WriteAprom(0, image, [&](size_t packet, size_t offset, size_t bytes) {
      if (packet == 0) Status(IDS_WRITE_NEW_FIRMWARE, "IDS_WRITE_NEW_FIRMWARE");
      const uint64_t done = offset + 2 * uint64_t(bytes);
      Percent(ProgressKind::Update, 20 + (size ? static_cast<int>(std::min<uint64_t>(60, 60 * done / size)) : 60));
      Check();
    });
    if (newLoader) m_loader.StoreChecksum(size, checksum);
    if (m_loader.ReadChecksum(0, size) != checksum) throw CICEException(LOAD_STRING(IDS_WRITE_NEW_FIRMWARE));
    m_written = ApplicationImageVersion(*app);
    if (configChanged || !newLoader) {
      if (m_class == McuClass::First1) Status(IDS_FM_UPDATE_PLUGOUTIN_USB_WARNING, "IDS_FM_UPDATE_PLUGOUTIN_USB_WARNING");
      else Status(IDS_PLUGOUTIN_USB, "IDS_PLUGOUTIN_USB");
    } else {
      m_loader.StartApplication();
      if (m_class == McuClass::First1) Status(IDS_FM_UPDATE_BOOT_NEW_FIRMWARE_WARNING, "IDS_FM_UPDATE_BOOT_NEW_FIRMWARE_WARNING");
      else Status(IDS_BOOT_NEW_FIRMWARE, "IDS_BOOT_NEW_FIRMWARE");
    }
    m_loader.Disconnect();
    return;
  }
}

void CUpdateEngine::Stages::WaitLoaderGone() {
  const auto until = Clock::now() + m_opt.timings.deviceWait;
  while (LoaderPresent()) {
    if (Clock::now() >= until) {
      m_fb.Message(m_class == McuClass::First1 ? LOAD_STRING(IDS_FM_UPDATE_PLUGOUTIN_USB_WARNING) : LOAD_STRING(IDS_PLUGOUTIN_USB),
                   IUpdateFeedback::Icon::Information);
      return;
    }
    Sleep(m_opt.timings.poll);
  }
}

void CUpdateEngine::Stages::FinishThroughFirmware() {
  const auto until = Clock::now() + m_opt.timings.deviceWait;
  for (;;) {
    Sleep(m_opt.timings.settle);
    CICE_M4 ice;
    while (!Answers(ice)) {
      if (Clock::now() >= until) throw CICEException(LOAD_STRING(IDS_USB_DISCONNECTED));
      Sleep(m_opt.timings.poll);
    }
    if ((m_class != McuClass::First1 && m_class != McuClass::Second) || m_loaderVersion >= 0x30) {
      Percent(ProgressKind::Update, 100);
      return;
    }
    try {
      RewriteLoaderThroughFirmware(ice);
      return;
    } catch (const CICEException&) {
      // Tried again on the adapter found anew, within the same bound.
      if (Clock::now() >= until) throw;
      Sleep(m_opt.timings.retry);
    }
  }
}

void CUpdateEngine::Stages::RewriteLoaderThroughFirmware(CICE& ice) {
  const ClassImages& set = m_images[ClassNumber(m_class)];
  const CHexBinFile* loader = set.objects ? Loaded(&set.objects->loader) : nullptr;
  const CHexBinFile* second = set.objects && m_class == McuClass::Second ? Loaded(&set.objects->second) : nullptr;
  if (!loader || (m_class == McuClass::Second && !second)) throw CICEException(LOAD_STRING(IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE));
  const BootLoaderImages which{loader, second};
  const uint32_t id = ReadAdapterId(ice, m_class, m_opt.flash);
  Status(IDS_WRITE_NEW_BOOTLOADER, "IDS_WRITE_NEW_BOOTLOADER");
  if (!RewriteBootLoader(ice, m_class, which, id, ice.GetAdapterRunState(), {80, 10, 90, 10}, Sink(), m_opt.flash))
    throw UpdateStopped{};
  Check();
}

}  // namespace fwupdate
