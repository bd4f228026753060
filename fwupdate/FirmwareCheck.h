// The firmware check that runs when an adapter is taken: reads the
// "FWUpdateOption" setting, compares the adapter's firmware with the
// program's, and runs the update (again, while the adapter comes back
// detached or in its boot loader) until the adapter is current or the user
// stops.
#pragma once

#include <functional>

#include "fwupdate/FirmwareVersion.h"
#include "fwupdate/UpdateEngine.h"
#include "ice/AdapterAcquire.h"

class CICE;

namespace fwupdate {

struct FirmwareCheckOptions {
  // The "FWUpdateOption" setting (0 = no version check); empty: 1.
  std::function<int()> readOption;
  UpdateOptions update;
};

// Update runs that failed without the user having been asked, after which
// one check gives up (an adapter updated without a question would otherwise
// be offered the failing update for ever).
inline constexpr int kMaxSilentFailures = 3;

// One check; returns true when an update dialog ran. `ice` is the adapter
// object with the chosen adapter selected (or none found); afterwards the
// adapter found again, if any, is selected and identified.
bool RunFirmwareCheck(CICE& ice, IUpdateUi& ui, CheckMode mode, bool skip, const FirmwareCheckOptions& options = {});

// The check as taking an adapter runs it: mode 0, not skipped.
class CFirmwareCheck : public IFirmwareCheck {
 public:
  CFirmwareCheck(IUpdateUi& ui, FirmwareCheckOptions options) : m_ui(ui), m_options(std::move(options)) {}
  void Run(CICE& ice) override { RunFirmwareCheck(ice, m_ui, CheckMode::Normal, false, m_options); }
  FirmwareCheckOptions& Options() { return m_options; }

 private:
  IUpdateUi& m_ui;
  FirmwareCheckOptions m_options;
};

// "FWUpdateOption" as stored: a decimal number in text; a missing or
// unreadable value counts as 1.
int ParseUpdateOption(const std::string* stored);

}  // namespace fwupdate
