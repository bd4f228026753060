// The adapter-selection dialog as the adapter layer keeps it, and the user
// interaction that shows it. The layer sets the form up and decides; a front
// end (the window's dialog, a terminal, a program without a window) shows
// the form and relays the user's actions, never deciding anything itself.
#pragma once

#include <functional>
#include <string>

#include "platform/UserInteraction.h"

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

// The user interaction of a program that takes adapters: besides message
// boxes, it can run the adapter-selection dialog. The selection asks the
// layer's user interaction when it is of this kind; any other (or none)
// ends the dialog without a choice.
class IAdapterUserInteraction : public IUserInteraction {
 public:
  // Runs the adapter-selection dialog modally. Without a way to ask, the
  // dialog ends without a choice.
  virtual void AdapterSelectDialog(IAdapterSelectDialog& dialog) { DefaultAdapterSelectDialog(dialog); }
  static void DefaultAdapterSelectDialog(IAdapterSelectDialog& dialog) {
    dialog.Cancel();
    dialog.Finish();
  }
};
