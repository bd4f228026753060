// The Qt side of the core's user interaction: message boxes, the option
// selection dialog, the adapter-selection dialog and the event pump used
// while a user script runs.
#pragma once

#include <QPointer>
#include <QWidget>

#include "ice/AdapterSelectDialog.h"

class CQtUserInteraction : public IAdapterUserInteraction {
 public:
  // Boxes whose owner is `handle` (the value a script state publishes as its
  // window) belong to `window`.
  void SetOwnerWindow(const void* handle, QWidget* window) {
    m_pOwnerHandle = handle;
    m_pOwnerWindow = window;
  }

  Answer MessageBox(const std::string& caption, const std::string& text, Icon icon, Buttons buttons,
                    void* owner) override;
  int SelectBox(const std::string& title, const std::vector<std::string>& options, int initialIndex) override;
  void PumpEvents() override;
  void AdapterSelectDialog(IAdapterSelectDialog& dialog) override;

 private:
  QWidget* OwnerOf(const void* handle) const;

  const void* m_pOwnerHandle = nullptr;
  QPointer<QWidget> m_pOwnerWindow;
};
