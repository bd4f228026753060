// The adapter firmware update itself, shared by the update dialog and
// `volink update`: stage 1 brings the adapter (running its normal firmware)
// into its boot loader, rewriting the boot loader first when it differs
// from the program's images; stage 2 writes the configuration and the new
// application firmware through the boot loader, starts it and, for old
// boot loaders, rewrites the boot loader through the new firmware.
//
// The engine runs on a worker thread and reaches its front end only through
// IUpdateFeedback. It never waits for a device longer than the bounded
// waits of UpdateTimings, and leaves every loop as soon as the front end
// says its stage is over.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "fwupdate/BootLoaderOps.h"
#include "ice/CFlash_ICE.h"
#include "fwupdate/FirmwareImages.h"
#include "platform/UserInteraction.h"

class CICE;

namespace fwupdate {

struct UpdateTimings {
  std::chrono::milliseconds deviceWait{60000};  // a device to come, go or get ready
  std::chrono::milliseconds poll{100};          // between looks at the device
  std::chrono::milliseconds settle{1000};       // after an adapter was closed or the loader left
  std::chrono::milliseconds retry{200};         // before the last step is tried again
};

struct UpdateOptions {
  ImageSource images;
  UpdateTimings timings;
  FlashTimings flash;
  // The firmware check already warned about MBED mode.
  bool mbedWarned = false;
  // Configuration rewrites accepted before the boot loader counts as not
  // taking its configuration.
  unsigned maxConfigWrites = 3;
};

// What the engine tells its front end; called on the engine's thread.
class IUpdateFeedback {
 public:
  using Icon = IUserInteraction::Icon;
  virtual ~IUpdateFeedback() = default;
  virtual void Status(const std::string& text) = 0;
  virtual void Progress(ProgressKind kind, int percent) = 0;
  // A message box; returns when the user has seen it.
  virtual void Message(const std::string& text, Icon icon) = 0;
  // False once the front end has left the update: the engine stops.
  virtual bool Current() = 0;
};

enum class UpdateResult { Finished, Failed, Stopped };

class CUpdateEngine {
 public:
  explicit CUpdateEngine(UpdateOptions options = {});
  // Both stages. A failure shows its text as an error message and ends the
  // run; leaving the update stops it quietly.
  UpdateResult Run(IUpdateFeedback& feedback);
  const UpdateOptions& Options() const { return m_options; }
  // The last run's result and failure text (empty when none).
  UpdateResult LastResult() const { return m_lastResult; }
  const std::string& LastError() const { return m_lastError; }
  // The version the last run's application image carries, once it was
  // written (word 49 of the image).
  std::optional<uint32_t> WrittenVersion() const { return m_writtenVersion; }

  // The stages' working state (UpdateStages.h).
  class Stages;

 private:
  UpdateResult RunStages(IUpdateFeedback& feedback);

  UpdateOptions m_options;
  UpdateResult m_lastResult = UpdateResult::Stopped;
  std::string m_lastError;
  std::optional<uint32_t> m_writtenVersion;
};

// Application-area size for the boot-loader write: with a new boot loader
// from its flash information and the configuration words, otherwise from the
// part table; throws "Unknown chip type!" for a chip outside the tables.
uint32_t LoaderApromSize(uint32_t chipId, bool newLoader, uint32_t flashInfo, uint32_t config0, uint32_t config1);

// Whether a boot-loader version byte is new (0x20, or 0x30 and above).
constexpr bool IsNewLoader(uint8_t v) { return v == 0x20 || v >= 0x30; }

// The configuration an update wants for class `mcuClass` and APROM size
// `size`; `all` receives whether every word must match (else words 0 and 1).
std::array<uint32_t, 14> WantedConfig(McuClass mcuClass, uint32_t size, bool* all);

}  // namespace fwupdate
