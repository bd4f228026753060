// The main window: menus, and a splitter with the pin view (5/7 of the
// width) and the output pane (2/7).
#pragma once

#include <QMainWindow>

class QSplitter;
class CVoGadrelView;
class CPrintView;
class TimelineStrip;

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  explicit CMainFrame(QWidget* parent = nullptr);

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

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QSplitter* m_pSplitter = nullptr;
  CVoGadrelView* m_pView = nullptr;
  CPrintView* m_pPrintView = nullptr;
  TimelineStrip* m_pTimeline = nullptr;
  bool m_bSplitterCreated = false;
  bool m_bCloseAfterScript = false;
};
