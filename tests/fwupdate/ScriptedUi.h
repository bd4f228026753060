// A user who answers from a script: records what each dialog showed and
// runs the update in the calling thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "fwupdate/UpdateEngine.h"
#include "fwupdate/UpdateUi.h"

struct ScriptedUi : fwupdate::IUpdateUi, fwupdate::IUpdateFeedback {
  using Icon = IUserInteraction::Icon;
  // "tell: ...", "ask: ...", "message: ...", "version: FW APP", "status: ...",
  // "box: ..." (engine messages), "update" (an update dialog started).
  std::vector<std::string> shown;
  // Answer to every question unless `onAsk` is set.
  bool answer = true;
  std::function<bool(const std::string& text)> onAsk;
  // Watches the engine (tests act on the emulator from here).
  std::function<void(const std::string& status)> onStatus;
  std::function<void(fwupdate::ProgressKind, int)> onProgress;
  std::vector<fwupdate::UpdateResult> results;
  int lastPercent = -1;

  bool Answer(const std::string& text) { return onAsk ? onAsk(text) : answer; }

  void Tell(const std::string& text, Icon) override { shown.push_back("tell: " + text); }
  bool Ask(const std::string& text, Icon) override {
    shown.push_back("ask: " + text);
    return Answer(text);
  }
  bool AskMessage(const std::string& text) override {
    shown.push_back("message: " + text);
    return Answer(text);
  }
  bool AskVersion(int fw, int app) override {
    shown.push_back("version: " + std::to_string(fw) + " " + std::to_string(app));
    return Answer("version");
  }
  void RunUpdate(fwupdate::CUpdateEngine& engine) override {
    shown.push_back("update");
    results.push_back(engine.Run(*this));
  }

  void Status(const std::string& text) override {
    shown.push_back("status: " + text);
    if (onStatus) onStatus(text);
  }
  void Progress(fwupdate::ProgressKind kind, int percent) override {
    if (kind == fwupdate::ProgressKind::Update) lastPercent = percent;
    if (onProgress) onProgress(kind, percent);
  }
  void Message(const std::string& text, fwupdate::IUpdateFeedback::Icon) override { shown.push_back("box: " + text); }
  bool Current() override { return true; }

  // Whether some entry starts with `prefix`.
  bool Showed(const std::string& prefix) const {
    for (const std::string& s : shown)
      if (s.rfind(prefix, 0) == 0) return true;
    return false;
  }
};
