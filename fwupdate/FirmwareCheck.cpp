#include "fwupdate/FirmwareCheck.h"

#include <charconv>
#include <cstdio>
#include <optional>

#include "ice/AdapterParts.h"
#include "fwupdate/LDUsbHid.h"
#include "fwupdate/LoaderRewrite.h"
#include "fwupdate/UpdateLock.h"
#include "ice/AdapterSelection.h"
#include "ice/CICE.h"
#include "platform/StringTable.h"

namespace fwupdate {
namespace {

using Icon = IUpdateUi::Icon;

struct Identity {
  int version = 0;
  uint32_t chipId = 0;
  std::string suffix;
};

Identity Identify(CICE& ice) {
  Identity id;
  uint16_t four[4] = {};
  id.version = static_cast<int>(ice.ResetCmdSerial(0xFFFFFFFF, &id.chipId, nullptr, nullptr, nullptr, nullptr,
                                                   nullptr, four));
  id.suffix = RevisionSuffix(four);
  return id;
}

// The location of the boot-loader device present, if any.
std::optional<std::string> LoaderPresent() {
  LDUsbHid loader;
  if (!loader.Connect()) return std::nullopt;
  std::string location = loader.LocationId();
  loader.Disconnect();
  return location;
}

// Counts the questions put to the user.
class CountingUi : public IUpdateUi {
 public:
  explicit CountingUi(IUpdateUi& ui) : m_ui(ui) {}
  void Tell(const std::string& text, Icon icon) override { m_ui.Tell(text, icon); }
  bool Ask(const std::string& text, Icon icon) override { return ++m_nQuestions, m_ui.Ask(text, icon); }
  bool AskMessage(const std::string& text) override { return ++m_nQuestions, m_ui.AskMessage(text); }
  bool AskVersion(int fw, int app) override { return ++m_nQuestions, m_ui.AskVersion(fw, app); }
  void RunUpdate(CUpdateEngine& engine) override { m_ui.RunUpdate(engine); }
  int Questions() const { return m_nQuestions; }

 private:
  IUpdateUi& m_ui;
  int m_nQuestions = 0;
};

bool Rediscover(CICE& ice) {
  ice.CloseAllAdapters();
  ice.DiscoverAdapters(false);
  return ice.CheckUSBLink();
}

// The version of the application image an update of `mcuClass` would
// write, when it loads.
std::optional<uint32_t> ImageVersion(McuClass mcuClass, const ImageSource& source) {
  try {
    CHexBinFile image(kApplicationLimit);
    LoadFirmwareImages(nullptr, &image, nullptr, mcuClass, source);
    return ApplicationImageVersion(image);
  } catch (const CICEException&) {
    return std::nullopt;  // the update itself says why
  }
}

// Step 2 of a pass: the adapter found answers. True when it is to be
// updated.
bool WantUpdate(CICE& ice, IUpdateUi& ui, CheckMode mode, bool skip, int option, const FirmwareCheckOptions& options,
                bool* mbedWarned) {
  bool update = false;
  try {
    const Identity id = Identify(ice);
    if (option == 0 || skip) return false;
    VersionCheckInput in{id.chipId, id.version, id.suffix, mode,
                         options.update.images.folder / ImageFilesOf(McuClass::First0).application};
    if (!CheckFirmwareVersion(in, ui)) return false;
    update = true;
    const McuClass mcuClass = ice::McuClassOf(id.chipId);
    if (const std::optional<uint32_t> image = ImageVersion(mcuClass, options.update.images);
        image && *image != static_cast<uint32_t>(kToolFirmwareVersion)) {
      char text[160];
      std::snprintf(text, sizeof text, "The firmware image carries version %u, not this program's %d%s.", *image,
                    kToolFirmwareVersion, kToolRevision);
      ui.Tell(text, Icon::Information);
    }
    if (LoaderPresent()) {
      ui.Tell(LOAD_STRING(IDS_ONLY_ONE_ICE), Icon::Stop);
      return false;
    }
    if (ice::CollectAdapterIds(ice).size() >= 2) {
      ui.Tell(LOAD_STRING(IDS_ONLY_ONE_ICE), Icon::Stop);
      return false;
    }
    if (mcuClass == McuClass::First1 && (ice.GetAdapterInputs() & 2) == 0) {
      *mbedWarned = true;
      ui.Tell(LOAD_STRING(IDS_FM_UPDATE_MBED_MODE_WARNING), Icon::Warning);
      return false;
    }
  } catch (const CICEException&) {
    // An adapter that stops answering after the decision is updated anyway.
    return update;
  }
  return update;
}

// After a finished update: whether the adapter reports the version that was
// written; says so when it does not.
void CheckWritten(CICE& ice, IUpdateUi& ui, uint32_t written) {
  std::optional<Identity> now;
  try {
    now = Identify(ice);
  } catch (const CICEException&) {
  }
  if (now && static_cast<uint32_t>(now->version) == written) return;
  char text[200];
  if (now)
    std::snprintf(text, sizeof text, "After the update the Vo-Link reports firmware version %d%s, not version %u of the image.",
                  now->version, now->suffix.c_str(), written);
  else
    std::snprintf(text, sizeof text, "After the update the Vo-Link does not report the version %u of the image.", written);
  ui.Tell(text, Icon::Warning);
}

// A boot-loader rewrite of this adapter that was cut short is finished
// first. False (and said) when that failed.
bool HealLoader(CICE& ice, IUpdateUi& ui, const FirmwareCheckOptions& options) {
  try {
    HealInterruptedRewrite(ice, options.update.images, {}, options.update.flash, options.update.timings.deviceWait);
    return true;
  } catch (const CICEException& e) {
    ui.Tell(e.GetMessage(), Icon::Stop);
    return false;
  }
}

}  // namespace

int ParseUpdateOption(const std::string* stored) {
  if (!stored) return 1;
  int value = 0;
  const char* begin = stored->data();
  const char* end = begin + stored->size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  return ec == std::errc() && ptr == end ? value : 1;
}

bool RunFirmwareCheck(CICE& ice, IUpdateUi& userUi, CheckMode mode, bool skip, const FirmwareCheckOptions& options) {
  CountingUi ui(userUi);
  bool dialogRan = false;
  int silentFailures = 0;
  // The version the last finished update wrote: the adapter is looked at
  // once more, not updated again.
  std::optional<uint32_t> written;
  // Held from the first update of this check on, boot-loader stage included.
  CUpdateLock updateLock;
  for (;;) {
    const int asked = ui.Questions();
    const int option = options.readOption ? options.readOption() : 1;
    bool mbedWarned = false;
    if (ice.CheckUSBLink()) {
      if (written) {
        CheckWritten(ice, ui, *written);
        return dialogRan;
      }
      if (!HealLoader(ice, ui, options)) return dialogRan;
      if (!WantUpdate(ice, ui, mode, skip, option, options, &mbedWarned)) return dialogRan;
      std::optional<uint32_t> id;
      try {
        id = ice.ReadAdapterId();
      } catch (const CICEException&) {
      }
      if (!updateLock.Take(id, SelectedLocation(ice))) {
        ui.Tell(kUpdateRunning, Icon::Stop);
        return dialogRan;
      }
    } else if (const std::optional<std::string> loaderAt = LoaderPresent()) {
      if (!updateLock.Take(std::nullopt, *loaderAt)) {
        ui.Tell(kUpdateRunning, Icon::Stop);
        return dialogRan;
      }
      ui.Tell(LOAD_STRING(IDS_UPDATE_LDROM_DETECTED_STRING), Icon::Warning);
      if (Rediscover(ice)) {
        ui.Tell(LOAD_STRING(IDS_ONLY_ONE_ICE), Icon::Stop);
        return dialogRan;
      }
    } else if (dialogRan) {
      if (!ui.Ask(LOAD_STRING(IDS_DEVICE_TEMPORARILY_DETACHED), Icon::Warning) &&
          ui.Ask(LOAD_STRING(IDS_CONFIRM_ABORT_UPDATE), Icon::Warning))
        return dialogRan;
    } else {
      return dialogRan;
    }

    ice.CloseAllAdapters();
    UpdateOptions update = options.update;
    update.mbedWarned = mbedWarned;
    CUpdateEngine engine(update);
    ui.RunUpdate(engine);
    dialogRan = true;
    if (engine.LastResult() == UpdateResult::Finished) written = engine.WrittenVersion();
    if (engine.LastResult() != UpdateResult::Finished && ui.Questions() == asked &&
        ++silentFailures >= kMaxSilentFailures) {
      Rediscover(ice);
      return true;
    }
    if (Rediscover(ice) && mode != CheckMode::Normal) {
      try {
        Identify(ice);
      } catch (const CICEException&) {
      }
      return true;
    }
  }
}

}  // namespace fwupdate
