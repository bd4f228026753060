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

#include "../ice/SimFixture.h"
#include "app/CDialogUpdateFW.h"
#include "app/CVoGadrelView.h"
#include "app/MessageDialogs.h"
#include "support/UpdateSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using testsupport::ClassCase;
using testsupport::kClasses;

std::string Config(const ClassCase& c) {
  return R"({"adapters": [{"name": "a", "generation": )" + std::to_string(c.generation) + R"(, "chip_id": ")" +
         c.chipId + R"(", "firmware_version": 7000, "target": {"kind": "none"}}]})";
}

}  // namespace

TEST(UpdateDialog, ProgressRunsAndTheDialogCannotBeLeftHalfWay) {
  SimProcess sim(Config(kClasses[2]), 1);
  fwupdate::CUpdateEngine engine(testsupport::QuickUpdate(testsupport::WriteUpdateImages(sim.Dir())));
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
  EXPECT_EQ(testsupport::ReportedFirmware(), "7973r");
}

// Destroyed while the worker waits (60 s at most) for the adapter to be
// plugged out after a configuration change: the worker stops at once.
TEST(UpdateDialog, DestroyedWhileWaitingStopsTheWorker) {
  SimProcess sim(Config(kClasses[0]), 1);
  fwupdate::UpdateOptions options = testsupport::QuickUpdate(testsupport::WriteUpdateImages(sim.Dir(), false));
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
    check.Options().update = testsupport::QuickUpdate(testsupport::WriteUpdateImages(sim.Dir()));
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
    EXPECT_EQ(offered, c.mcuClass == McuClass::Third ? 0 : 1);
    EXPECT_GT(updating, 0);
    EXPECT_EQ(boxes, std::vector<std::string>{"Update firmware, OK!"});
    view.reset();
    EXPECT_EQ(testsupport::ReportedFirmware(), "7973r");
  }
}
