// The main window: menus, and a splitter with the pin view (5/7 of the
// width) and the output pane (2/7).
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <memory>
#include <string>

class GdbService;
class QAction;
class QLabel;
class QSplitter;
class CVoGadrelView;
class CPrintView;
class TimelineStrip;

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  explicit CMainFrame(QWidget* parent = nullptr);
  ~CMainFrame() override;

  CVoGadrelView* View() const { return m_pView; }
  CPrintView* PrintPane() const { return m_pPrintView; }
  // The pin timeline under the pin view (hidden until a pin is added).
  TimelineStrip* Timeline() const { return m_pTimeline; }
  QSplitter* Splitter() const { return m_pSplitter; }

  // "Run script...": refuses while a user script runs, else asks for a file
  // and runs it.
  void OnRunScript();
  // Runs `path` as the Run script command does after the file dialog.
  void RunScript(const QString& path);
  void OnAbout();

  // "Debug > GDB server": serves gdb on the view's adapter object on
  // 127.0.0.1:`port` (0: any free port), the port and the client in the
  // status line. False with the reason when it cannot.
  bool StartGdbServer(uint16_t port, std::string& error);
  void StopGdbServer();
  GdbService& Gdb() { return *m_pGdb; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QSplitter* m_pSplitter = nullptr;
  CVoGadrelView* m_pView = nullptr;
  CPrintView* m_pPrintView = nullptr;
  TimelineStrip* m_pTimeline = nullptr;
  bool m_bSplitterCreated = false;
  // Declared after the widgets' pointers, destroyed before the view: the
  // server stops before the adapter objects go.
  std::unique_ptr<GdbService> m_pGdb;
  QAction* m_pGdbAction = nullptr;
  QLabel* m_pGdbStatus = nullptr;  // in the status line, made when first needed
  uint16_t m_nGdbPort;
  bool m_bCloseAfterScript = false;
};
