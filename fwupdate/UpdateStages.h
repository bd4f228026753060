// The two stages of the update engine (internal to fwupdate/).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "fwupdate/LDUsbHid.h"
#include "fwupdate/UpdateEngine.h"
#include "ice/CICE_M4.h"

namespace fwupdate {

// Thrown when the front end has left the update.
struct UpdateStopped {};

class CUpdateEngine::Stages {
 public:
  Stages(const UpdateOptions& options, IUpdateFeedback& feedback, std::optional<uint32_t>& written)
      : m_opt(options), m_fb(feedback), m_written(written) {}

  void Stage1();
  void Stage2();

 private:
  // Stage 2 step by step.
  void WriteApplication();
  void WaitLoaderGone();
  void FinishThroughFirmware();
  void RewriteLoaderThroughFirmware(CICE& ice);

  // Helpers.
  void Check();  // throws UpdateStopped once the stage was left
  void Sleep(std::chrono::milliseconds d);
  void Status(unsigned id, const char* key);
  void Percent(ProgressKind kind, int percent) { m_fb.Progress(kind, percent); }
  fwupdate::Progress Sink();
  // Closes every adapter, runs discovery and tries the handshake on adapter
  // 0; true when an adapter answers.
  bool Answers(CICE& ice);
  bool LoaderPresent();
  void ConnectLoader();

  // The images of one MCU class; a member stays unloaded when its file
  // failed to load.
  struct ClassImages {
    std::optional<ImageObjects> objects;
  };
  void LoadAllImages();
  const CHexBinFile* Loaded(const CHexBinFile* image) const;

  const UpdateOptions& m_opt;
  IUpdateFeedback& m_fb;
  std::optional<uint32_t>& m_written;
  LDUsbHid m_loader;
  uint8_t m_loaderVersion = 0;
  McuClass m_class = McuClass::NotUpdatable;
  ClassImages m_images[5];
};

}  // namespace fwupdate
