// The firmware-update dialog against the emulator: the progress runs and
// the status follows the stages while OK, Cancel, Escape and the close box
// leave the dialog alone; and the pin view offers the update when its script
// opens the port, for every adapter class.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "../ice/SimFixture.h"
#include "app/CDialogUpdateFW.h"
#include "app/CVoGadrelView.h"
#include "app/MessageDialogs.h"
#include "fwupdate/FirmwareVersion.h"
#include "ice/CICE_M4.h"
#include "sim/Images.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct ClassCase {
  const char* name;
  int generation;
  const char* chipId;
};

const ClassCase kClasses[] = {
    {"class 0", 0, "0x00012345"},
    {"class 1", 0, "0x40012009"},
    {"class 2", 1, "0x00D4851F"},
    {"class 3", 2, "0xA2000340"},
};

std::string Config(const ClassCase& c) {
  return R"({"adapters": [{"name": "a", "generation": )" + std::to_string(c.generation) + R"(, "chip_id": ")" +
         c.chipId + R"(", "firmware_version": 7000, "target": {"kind": "none"}}]})";
}

// Images whose application fills the emulator's application area, so that
// no configuration change asks for a replug.
// The images of `make-images`, which fit the emulator's default
// configuration; without `fitting`, 16 KiB application images, for which
// the update changes the configuration and asks for a replug.
fs::path Images(const SimProcess& sim, bool fitting = true) {
  const fs::path dir = fs::path(sim.Dir()) / "Vo_Link";
  sim::images::WriteImageSet(dir);
  for (int c : {0, 2, 3}) {
    if (fitting) break;
    const std::vector<uint8_t> app = sim::images::MakeAppImage(c, 7973, "r");
    std::ofstream(dir / sim::images::FilesOf(c).app, std::ios::binary)
        .write(reinterpret_cast<const char*>(app.data()), static_cast<std::streamsize>(app.size()));
  }
  return dir;
}

fwupdate::UpdateOptions Quick(const fs::path& images) {
  fwupdate::UpdateOptions o;
  o.images.folder = images;
  o.timings.poll = 20ms;
  o.timings.settle = 100ms;
  o.timings.retry = 50ms;
  return o;
}

std::string Firmware() {
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  if (!ice.CheckUSBLink()) return "";
  uint16_t four[4] = {};
  const uint32_t v = ice.ResetCmdSerial(0xFFFFFFFF, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, four);
  return std::to_string(v) + fwupdate::RevisionSuffix(four);
}

}  // namespace

TEST(UpdateDialog, ProgressRunsAndTheDialogCannotBeLeftHalfWay) {
  SimProcess sim(Config(kClasses[2]), 1);
  fwupdate::CUpdateEngine engine(Quick(Images(sim)));
  std::vector<std::string> boxes;
  CDialogUpdateFW dialog(engine, nullptr, [&](QWidget*, const std::string& text, CDialogUpdateFW::Icon) {
    boxes.push_back(text);
  });
  EXPECT_EQ(dialog.windowTitle(), "Update firmware");
  bool tried = false;
  QObject::connect(dialog.ProgressBar(), &QProgressBar::valueChanged, &dialog, [&](int value) {
    if (value < 40 || tried || dialog.StatusText() != "Write new firmware ...") return;
    tried = true;
    EXPECT_EQ(dialog.ProgressBar()->text(), "Update " + QString::number(value) + "%");
    // A picture of the dialog in the middle of its work, when asked for.
    if (const QByteArray path = qgetenv("GADREL_UPDATE_SCREENSHOT"); !path.isEmpty())
      dialog.grab().save(QString::fromLocal8Bit(path));
    dialog.CancelButton()->click();
    dialog.OkButton()->click();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());
  });
  dialog.show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }, 30000));
  EXPECT_TRUE(tried);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Result(), fwupdate::UpdateResult::Finished);
  EXPECT_EQ(dialog.ProgressBar()->value(), 100);
  EXPECT_EQ(dialog.StatusText(), "Boot new firmware, please wait for a while...");
  EXPECT_EQ(boxes, std::vector<std::string>{"Update firmware, OK!"});
  EXPECT_EQ(Firmware(), "7973r");
}

// Destroyed while the worker waits (60 s at most) for the adapter to be
// plugged out after a configuration change: the worker stops at once.
TEST(UpdateDialog, DestroyedWhileWaitingStopsTheWorker) {
  SimProcess sim(Config(kClasses[0]), 1);
  fwupdate::UpdateOptions options = Quick(Images(sim, false));
  options.timings.deviceWait = 60s;
  fwupdate::CUpdateEngine engine(options);
  std::vector<std::string> boxes;
  auto dialog = std::make_unique<CDialogUpdateFW>(
      engine, nullptr, [&](QWidget*, const std::string& text, CDialogUpdateFW::Icon) { boxes.push_back(text); });
  dialog->show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->StatusText().startsWith("Please remove any device"); }, 20000));
  const auto start = std::chrono::steady_clock::now();
  dialog.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_TRUE(boxes.empty());
}

// The pin view opens the port: an adapter at 7000 is offered the update,
// Yes runs it, and the adapter ends with the program's firmware.
TEST(UpdateDialog, PinViewOffersTheUpdateForEachClass) {
  for (const ClassCase& c : kClasses) {
    SCOPED_TRACE(c.name);
    SimProcess sim(Config(c), 1);
    auto view = std::make_unique<CVoGadrelView>();
    CQtFirmwareCheck& check = view->FirmwareCheck();
    check.Options().update = Quick(Images(sim));
    check.Options().readOption = [] { return 1; };
    std::vector<std::string> boxes;
    check.Ui().SetUpdateMessages(
        [&](QWidget*, const std::string& text, CDialogUpdateFW::Icon) { boxes.push_back(text); });
    int offered = 0, updating = 0;
    // The user: Yes to the offer, OK to any box.
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* message = qobject_cast<CDialogMessage*>(modal)) {
        ++offered;
        message->YesButton()->click();
      } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        ADD_FAILURE() << box->text().toStdString();
        box->accept();
      } else if (qobject_cast<CDialogUpdateFW*>(modal)) {
        ++updating;
      }
    });
    user.start(5);
    CVoGadrelView::StartOptions o;
    o.series = ChipSeries::CortexM;
    o.pinScript = GADREL_PIN_SCRIPT;
    o.startTimer = false;
    view->OnInitialUpdate(o);
    view->RefreshPins();
    user.stop();
    // Third-generation adapters up to 7918 are updated without a question.
    EXPECT_EQ(offered, std::string(c.name) == "class 3" ? 0 : 1);
    EXPECT_GT(updating, 0);
    EXPECT_EQ(boxes, std::vector<std::string>{"Update firmware, OK!"});
    view.reset();
    EXPECT_EQ(Firmware(), "7973r");
  }
}
