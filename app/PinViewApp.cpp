#include "app/PinViewApp.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "app/CMainFrame.h"
#include "app/CVoGadrelView.h"
#include "app/HeadlessGdb.h"
#include "app/HeadlessRecord.h"
#include "app/PinViewOptions.h"
#include "platform/StringTable.h"
#include "app/TimelineStrip.h"

namespace {

// Window size of a headless render.
constexpr int kRenderWidth = 1400;
constexpr int kRenderHeight = 900;

QString FromBytes(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Headless renders report their own errors; the platform's chatter (no
// runtime folder, no window manager) would only bury them.
void QuietHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

void CentreOnScreen(QWidget& w) {
  const QScreen* screen = w.screen();
  if (screen == nullptr) return;
  const QRect avail = screen->availableGeometry();
  w.resize(std::min(avail.width() * 3 / 4, 1400), std::min(avail.height() * 3 / 4, 950));
  QRect frame = w.frameGeometry();
  frame.moveCenter(avail.center());
  w.move(frame.topLeft());
}

// Test hook for pictures of the running window: GADREL_GRAB=FILE.png,MS
// saves the main window MS milliseconds after the start and quits.
void ArmGrabHook(QWidget& window) {
  const QString setting = qEnvironmentVariable("GADREL_GRAB");
  const qsizetype comma = setting.lastIndexOf(QLatin1Char(','));
  if (comma <= 0) return;
  const QString path = setting.left(comma);
  const int ms = setting.mid(comma + 1).toInt();
  QTimer::singleShot(ms, &window, [&window, path] {
    if (!window.grab().save(path)) std::fprintf(stderr, "gadrel: cannot write %s\n", path.toLocal8Bit().constData());
    QApplication::quit();
  });
}

}  // namespace

namespace {

// The package name and the tooltip regions; the picture's place and size
// when there is one.
bool WriteRenderJson(CVoGadrelView& view, const std::string& jsonPath, const QImage* picture, QPoint origin,
                     std::string& error) {
  const PackageInfo& info = view.Package();
  QJsonArray regions;
  for (const TipRegion& r : view.TipRegions()) {
    regions.append(QJsonObject{{"x", static_cast<double>(r.x)},
                               {"y", static_cast<double>(r.y)},
                               {"width", static_cast<double>(r.width)},
                               {"height", static_cast<double>(r.height)},
                               {"text", FromBytes(r.text)}});
  }
  QJsonObject root{{"name", FromBytes(info.name)},
                   {"frame", info.pkg_frame},
                   {"zoom", static_cast<double>(view.ZoomFactor())},
                   {"regions", regions}};
  if (picture) {
    root.insert("origin", QJsonObject{{"x", origin.x()}, {"y", origin.y()}});
    root.insert("width", picture->width());
    root.insert("height", picture->height());
  }
  QFile file(FromBytes(jsonPath));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(QJsonDocument(root).toJson(QJsonDocument::Indented)) < 0) {
    error = "cannot write " + jsonPath;
    return false;
  }
  return true;
}

}  // namespace

bool WriteRender(CVoGadrelView& view, const std::string& pngPath, std::string& error) {
  QPoint origin;
  const QImage image = view.RenderPicture(origin);
  if (!image.save(FromBytes(pngPath), "PNG")) {
    error = "cannot write " + pngPath;
    return false;
  }
  return WriteRenderJson(view, RenderJsonPath(pngPath), &image, origin, error);
}

bool WriteRenderRegions(CVoGadrelView& view, const std::string& jsonPath, std::string& error) {
  return WriteRenderJson(view, jsonPath, nullptr, {}, error);
}

int RunPinViewApplication(int argc, char** argv) {
  PinViewOptions options;
  std::string error;
  if (!ParsePinViewOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "gadrel: %s\n", error.c_str());
    return 1;
  }
  const bool record = !options.recordFile.empty();
  const bool render = !options.renderFile.empty() || record;
  // A headless picture needs no display.
  if (render && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (render) qInstallMessageHandler(QuietHandler);

  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Korvane"));
  QApplication::setApplicationName(QStringLiteral("Gadrel"));

  CMainFrame frame;
  CVoGadrelView& view = *frame.View();
  CVoGadrelView::StartOptions start;
  start.series = options.series;
  start.pinScript = options.pinScript;
  start.adapter = options.adapter;
  start.zoomTenths = options.zoomTenths;
  if (render) {
    if (!start.series) start.series = ChipSeries::CortexM;
    start.startTimer = false;
    start.headless = true;
    view.SetEchoToStderr(true);
    frame.setAttribute(Qt::WA_DontShowOnScreen);
    frame.resize(kRenderWidth, kRenderHeight);
  }
  view.OnInitialUpdate(start);
  frame.show();
  frame.setWindowTitle(QString::fromStdString(GadrelTitle()));

  if (render) {
    QCoreApplication::processEvents();
    if (!ReadScriptStamp(view.PinScriptPath()).exists) {
      std::fprintf(stderr, "gadrel: pin script not found: %s\n", view.PinScriptPath().c_str());
      return 1;
    }
    if (record) return RunHeadlessRecord(view, options);
    view.ScrollTo(QPoint(CVoGadrelView::kInitialScrollX, CVoGadrelView::kInitialScrollY));
    if (options.gdbPort) return RunHeadlessGdbRender(frame, options);
    for (int i = 0; i < options.ticks; ++i) {
      view.RefreshPins();
      // No adapter chosen where one had to be (said on standard error).
      if (view.IsClosing()) return 1;
    }
    if (!WriteRender(view, options.renderFile, error)) {
      std::fprintf(stderr, "gadrel: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (!options.timeline.empty()) frame.Timeline()->AddPinsWhenKnown(options.timeline);
  if (options.rateGiven) frame.Timeline()->SetRateMs(options.rateMs);
  if (options.gdbPort && !frame.StartGdbServer(*options.gdbPort, error)) {
    std::fprintf(stderr, "gadrel: %s\n", error.c_str());
    return 1;
  }
  CentreOnScreen(frame);
  ArmGrabHook(frame);
  return QApplication::exec();
}
