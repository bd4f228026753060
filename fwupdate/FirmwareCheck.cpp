#include "fwupdate/FirmwareCheck.h"

#include <charconv>

#include "fwupdate/AdapterParts.h"
#include "fwupdate/LDUsbHid.h"
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

bool LoaderPresent() {
  LDUsbHid loader;
  const bool present = loader.Connect();
  loader.Disconnect();
  return present;
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

// Step 2 of a pass: the adapter found answers. True when it is to be
// updated.
bool WantUpdate(CICE& ice, IUpdateUi& ui, int mode, bool skip, int option, const FirmwareCheckOptions& options,
                bool* mbedWarned) {
  bool update = false;
  try {
    const Identity id = Identify(ice);
    if (option == 0 || skip) return false;
    VersionCheckInput in{id.chipId, id.version, id.suffix, mode,
                         options.update.images.folder / ImageFilesOf(0).application};
    if (!CheckFirmwareVersion(in, ui)) return false;
    update = true;
    if (LoaderPresent()) {
      ui.Tell(LOAD_STRING(IDS_ONLY_ONE_ICE), Icon::Stop);
      return false;
    }
    if (ice::CollectAdapterIds(ice).size() >= 2) {
      ui.Tell(LOAD_STRING(IDS_ONLY_ONE_ICE), Icon::Stop);
      return false;
    }
    if (McuClassOf(id.chipId) == 1 && (ice.GetAdapterInputs() & 2) == 0) {
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

}  // namespace

int ParseUpdateOption(const std::string* stored) {
  if (!stored) return 1;
  int value = 0;
  const char* begin = stored->data();
  const char* end = begin + stored->size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  return ec == std::errc() && ptr == end ? value : 1;
}

bool RunFirmwareCheck(CICE& ice, IUpdateUi& userUi, int mode, bool skip, const FirmwareCheckOptions& options) {
  CountingUi ui(userUi);
  bool dialogRan = false;
  int silentFailures = 0;
  for (;;) {
    const int asked = ui.Questions();
    const int option = options.readOption ? options.readOption() : 1;
    bool mbedWarned = false;
    if (ice.CheckUSBLink()) {
      if (!WantUpdate(ice, ui, mode, skip, option, options, &mbedWarned)) return dialogRan;
    } else if (LoaderPresent()) {
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
    if (engine.LastResult() != UpdateResult::Finished && ui.Questions() == asked &&
        ++silentFailures >= kMaxSilentFailures) {
      Rediscover(ice);
      return true;
    }
    if (Rediscover(ice) && mode != kCheckNormal) {
      try {
        Identify(ice);
      } catch (const CICEException&) {
      }
      return true;
    }
  }
}

}  // namespace fwupdate
