// What the firmware check and the update ask of the user. The window
// implements it with the program's dialogs, `volink update` on the terminal,
// tests with scripted answers.
#pragma once

#include <string>

#include "platform/UserInteraction.h"

namespace fwupdate {

class CUpdateEngine;

class IUpdateUi {
 public:
  using Icon = IUserInteraction::Icon;

  virtual ~IUpdateUi() = default;
  // A message box with OK.
  virtual void Tell(const std::string& text, Icon icon) = 0;
  // A message box with Yes and No, No as default; true for Yes.
  virtual bool Ask(const std::string& text, Icon icon) = 0;
  // The message dialog with Yes and No; true for Yes.
  virtual bool AskMessage(const std::string& text) = 0;
  // The version-mismatch notice for an adapter newer than the program; true
  // for OK.
  virtual bool AskVersion(int firmwareVersion, int appVersion) = 0;
  // Runs the update dialog modally over `engine` until it ends.
  virtual void RunUpdate(CUpdateEngine& engine) = 0;
};

}  // namespace fwupdate
