// CDialogVoLinkSelect: the view shows the core's form and relays the user's
// actions; the worker's request to end arrives from another thread.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <thread>

#include "app/CDialogVoLinkSelect.h"
#include "app/QtUserInteraction.h"
#include "SimFixture.h"
#include "ice/AdapterSelection.h"
#include "ice/CICEGlobalMutex.h"
#include "ice/CICE_M4.h"
#include "ice/VoLinkSelectModel.h"

namespace {

// A dialog state with a fixed form that records what the view tells it.
struct FakeDialog : IAdapterSelectDialog {
  Form form;
  std::function<void()> end;
  std::vector<int> highlighted;
  int ok = -2;
  bool cancelled = false, finished = false;

  const Form& Initialise(std::function<void()> endCancelled) override {
    end = std::move(endCancelled);
    return form;
  }
  void Highlight(int index) override { highlighted.push_back(index); }
  void Ok(int selected) override { ok = selected; }
  void Cancel() override { cancelled = true; }
  void Finish() override { finished = true; }
};

FakeDialog::Form ThreeAdapters() {
  FakeDialog::Form f;
  f.caption = "Vo-Link";
  f.groupTitle = "Select one Vo-Link";
  const char* texts[] = {"ID: 00000011", "ID: 00000022", "ID: 00000033"};
  for (int i = 0; i < 3; ++i) f.buttons[i] = {texts[i], true, i != 0};
  f.checked = 1;
  return f;
}

uint64_t LedChanges(SimProcess& sim, const std::string& name) {
  const std::string answer = sim.Ctl("leds " + name);
  const size_t at = answer.rfind("changes ");
  return at == std::string::npos ? 0 : std::stoull(answer.substr(at + 8));
}

}  // namespace

TEST(SelectDialogView, ShowsTheFormAndRelaysClicks) {
  FakeDialog fake;
  fake.form = ThreeAdapters();
  {
    CDialogVoLinkSelect dialog(fake);
    EXPECT_EQ(dialog.windowTitle(), "Vo-Link");
    EXPECT_EQ(dialog.Group()->title(), "Select one Vo-Link");
    EXPECT_EQ(dialog.Button(0)->text(), "ID: 00000011");
    EXPECT_FALSE(dialog.Button(0)->isEnabled());
    EXPECT_TRUE(dialog.Button(1)->isChecked());
    EXPECT_TRUE(dialog.Button(3)->isHidden());
    EXPECT_TRUE(dialog.Message()->isHidden());
    EXPECT_FALSE(dialog.CancelButton()->isHidden());
    dialog.show();
    QTest::mouseClick(dialog.Button(2), Qt::LeftButton);
    EXPECT_EQ(fake.highlighted, std::vector<int>{2});
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(fake.ok, 2);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(fake.finished);
  }
  EXPECT_TRUE(fake.finished);
}

TEST(SelectDialogView, ErrorFormHidesTheButtonsAndCentresOk) {
  FakeDialog fake;
  fake.form.caption = "Vo-Link";
  fake.form.groupTitle = "Error";
  fake.form.message = "Too many Vo-Links detected!";
  fake.form.messageVisible = true;
  fake.form.cancelVisible = false;
  fake.form.okCentred = true;
  CDialogVoLinkSelect dialog(fake);
  dialog.show();
  EXPECT_EQ(dialog.Group()->title(), "Error");
  EXPECT_TRUE(dialog.Message()->isVisible());
  EXPECT_EQ(dialog.Message()->text(), "Too many Vo-Links detected!");
  EXPECT_TRUE(dialog.CancelButton()->isHidden());
  for (int i = 0; i < IAdapterSelectDialog::kButtons; ++i) EXPECT_TRUE(dialog.Button(i)->isHidden());
  const int centre = dialog.OkButton()->geometry().center().x();
  EXPECT_LE(std::abs(centre - dialog.width() / 2), 2);
}

TEST(SelectDialogView, TheWorkersRequestEndsTheDialogAsCancelled) {
  FakeDialog fake;
  fake.form = ThreeAdapters();
  CDialogVoLinkSelect dialog(fake);
  std::thread worker;
  QTimer::singleShot(0, [&] { worker = std::thread([&] { fake.end(); }); });
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
  worker.join();
  EXPECT_TRUE(fake.cancelled);
}

// Over the emulator: opening the dialog touches no adapter (the first one's
// button is checked, but nothing blinks and no choice is remembered); a
// click makes that adapter blink while the dialog stays responsive, another
// click moves the blinking, and OK chooses.
// GADREL_DIALOG_PNG names a file for a picture of the dialog.
TEST(SelectDialogView, BlinksTheHighlightedAdapterOfTheEmulator) {
  SimProcess sim(R"({"adapters": [
      {"name": "left", "generation": 1, "adapter_id": "0x7788A1B2", "location": "1-1",
       "interfaces": [{"kind": "hid", "interface": 3, "size": 64}]},
      {"name": "right", "generation": 1, "adapter_id": "0x7788A1B3", "location": "1-2",
       "interfaces": [{"kind": "hid", "interface": 3, "size": 64}]}]})",
                 2);
  CICEGlobalMutex owner;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  CQtUserInteraction ui;
  bool sawLeft = false, sawRight = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CDialogVoLinkSelect*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->Button(0)->text(), "ID: 7788a1b2");
    EXPECT_EQ(dialog->Button(1)->text(), "ID: 7788a1b3");
    EXPECT_TRUE(dialog->Button(0)->isChecked());
    QTest::qWait(3 * VoLinkSelectModel::kPollMs);
    EXPECT_EQ(LedChanges(sim, "left"), 0u);
    EXPECT_EQ(LedChanges(sim, "right"), 0u);
    uint32_t none = 0;
    EXPECT_FALSE(owner.GetKey(&none));
    // Events keep flowing while the worker talks to the adapter.
    QTest::mouseClick(dialog->Button(0), Qt::LeftButton);
    sawLeft = QTest::qWaitFor([&] { return LedChanges(sim, "left") >= 8; }, 30000);
    const QString png = qEnvironmentVariable("GADREL_DIALOG_PNG");
    if (!png.isEmpty()) dialog->grab().save(png);
    QTest::mouseClick(dialog->Button(1), Qt::LeftButton);
    sawRight = QTest::qWaitFor([&] { return LedChanges(sim, "right") >= 8; }, 30000);
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
  });
  EXPECT_EQ(ice::SelectAdapter(ice, owner, &ui), ice::SelectResult::Chosen);
  EXPECT_TRUE(sawLeft);
  EXPECT_TRUE(sawRight);
  uint32_t key = 0;
  ASSERT_TRUE(owner.GetKey(&key));
  EXPECT_EQ(key, 0x7788A1B3u);
  EXPECT_EQ(ice.GetSelectedAdapter(), 1u);
}
