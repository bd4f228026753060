// What the core asks of the user: message boxes, a selection box, the
// adapter-selection dialog and the event pump that keeps the window alive
// while a user script runs. The Qt application implements it; tests and
// headless runs use a scripted one. Nothing below app/ includes a widget
// header.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The adapter-selection dialog as the core keeps it: what it shows, and what
// it makes of the user's actions. A user interface shows the form and relays
// clicks; it never decides anything itself.
class IAdapterSelectDialog {
 public:
  static constexpr int kButtons = 10;
  struct Button {
    std::string text;
    bool visible = false;
    bool enabled = false;
  };
  struct Form {
    std::string caption;
    std::string groupTitle;
    Button buttons[kButtons];
    int checked = -1;  // the button selected at the start, -1 = none
    std::string message;
    bool messageVisible = false;
    bool cancelVisible = true;
    bool okCentred = false;  // OK alone, centred horizontally
  };

  virtual ~IAdapterSelectDialog() = default;
  // Sets the dialog up and starts its worker. The worker calls `endCancelled`
  // from its own thread when the dialog must end as cancelled: the interface
  // passes that on to its own thread (and then calls Cancel there).
  virtual const Form& Initialise(std::function<void()> endCancelled) = 0;
  // The user clicked radio button `index`.
  virtual void Highlight(int index) = 0;
  // OK with radio button `selected` checked (-1 = none).
  virtual void Ok(int selected) = 0;
  virtual void Cancel() = 0;
  // The dialog goes away: stops the worker and waits for it.
  virtual void Finish() = 0;
};

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

  // Runs the adapter-selection dialog modally. Without a way to ask, the
  // dialog ends without a choice.
  virtual void AdapterSelectDialog(IAdapterSelectDialog& dialog) { DefaultAdapterSelectDialog(dialog); }
  static void DefaultAdapterSelectDialog(IAdapterSelectDialog& dialog) {
    dialog.Cancel();
    dialog.Finish();
  }
};
