// What the core asks of the user: message boxes, a selection box and the
// event pump that keeps the window alive while a user script runs (the
// adapter-selection dialog is the adapter layer's: ice/AdapterSelectDialog.h). The Qt application implements it; tests and
// headless runs use a scripted one. Nothing below app/ includes a widget
// header.
#pragma once

#include <string>
#include <vector>

class IUserInteraction {
 public:
  enum class Icon { None, Information, Warning, Question, Stop };
  enum class Buttons { Ok, YesNo, OkCancel };
  enum class Answer { Ok, Cancel, Yes, No };

  virtual ~IUserInteraction() = default;

  // Modal message box; `owner` is the window the box belongs to, or null.
  virtual Answer MessageBox(const std::string& caption, const std::string& text, Icon icon,
                            Buttons buttons, void* owner) = 0;

  // Modal option list (at most seven options shown). Returns the chosen
  // 0-based index, or -1 when the user cancels.
  virtual int SelectBox(const std::string& title, const std::vector<std::string>& options,
                        int initialIndex) = 0;

  // Handles the events that are pending right now and returns; never waits.
  virtual void PumpEvents() = 0;
};
