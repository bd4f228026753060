// The firmware-update dialog: "Update firmware" with a status text, a
// progress bar, OK and Cancel. Its worker thread runs the update engine and
// reports through private messages (code 0 close, 7 status text, 9 read,
// 5 verify, 14 update with the percentage); the worker never touches a
// widget. OK, Cancel, Escape and the close box do nothing while the update
// runs: the dialog ends when the worker is done. Destroying the dialog
// leaves the update (the engine stops at its next step) and waits for the
// worker.
#pragma once

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "fwupdate/UpdateEngine.h"
#include "platform/CMutex2.h"

class QLabel;
class QProgressBar;
class QPushButton;

class CDialogUpdateFW : public QDialog, private fwupdate::IUpdateFeedback {
  Q_OBJECT
 public:
  using Icon = fwupdate::IUpdateFeedback::Icon;
  // Shows one message box for the worker (tests answer here); the default
  // is a QMessageBox owned by the dialog.
  using ShowMessage = std::function<void(QWidget* owner, const std::string& text, Icon icon)>;

  // Private message codes from the worker.
  enum Code { kClose = 0, kVerify = 5, kStatus = 7, kRead = 9, kUpdate = 14 };

  explicit CDialogUpdateFW(fwupdate::CUpdateEngine& engine, QWidget* parent = nullptr, ShowMessage show = {});
  ~CDialogUpdateFW() override;

  fwupdate::UpdateResult Result() const { return m_result; }
  QString StatusText() const;
  QProgressBar* ProgressBar() const { return m_pProgress; }
  QPushButton* OkButton() const { return m_pOk; }
  QPushButton* CancelButton() const { return m_pCancel; }

  // Escape and Cancel: nothing.
  void reject() override {}

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // IUpdateFeedback, on the worker thread.
  void Status(const std::string& text) override;
  void Progress(fwupdate::ProgressKind kind, int percent) override;
  void Message(const std::string& text, Icon icon) override;
  bool Current() override { return m_bCurrent.load(); }

  void Post(int code, int value);
  void OnWorkerMessage(int code, int value);  // user-interface thread
  void OnEndTimer();
  void StopWorker();

  fwupdate::CUpdateEngine& m_engine;
  ShowMessage m_show;
  QLabel* m_pStatus = nullptr;
  QProgressBar* m_pProgress = nullptr;
  QPushButton* m_pOk = nullptr;
  QPushButton* m_pCancel = nullptr;
  QTimer m_endTimer;

  CMutex2 m_lock;             // guards m_strStatus
  std::string m_strStatus;
  std::atomic<bool> m_bCurrent{true};   // the worker's stage is still wanted
  std::atomic<bool> m_bWorkerDone{false};
  std::atomic<fwupdate::UpdateResult> m_result{fwupdate::UpdateResult::Stopped};
  bool m_bMayClose = false;
  std::thread m_worker;

  // A message box the worker waits for.
  std::mutex m_boxLock;
  std::condition_variable m_boxSeen;
  unsigned m_nBoxesShown = 0;
};
