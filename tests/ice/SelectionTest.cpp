// Choosing an adapter against the emulator: the decision rule, the dialog's
// state and worker, and taking an adapter through the application class.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>

#include "../platform/ChildProcess.h"
#include "SimFixture.h"
#include "ice/AdapterSelection.h"
#include "ice/CICEGlobalMutex.h"
#include "ice/CVoICE.h"
#include "ice/VoLinkSelectModel.h"

using namespace ice;

namespace {

// Generation-1 adapters a0, a1, ... with one HID interface each.
std::string Adapters(const std::vector<uint32_t>& ids) {
  std::string json = R"({"adapters": [)";
  for (size_t i = 0; i < ids.size(); ++i) {
    char one[320];
    std::snprintf(one, sizeof one,
                  R"(%s{"name": "a%zu", "generation": 1, "adapter_id": "0x%08x", "serial": "S%zu",
                  "location": "1-%zu", "interfaces": [{"kind": "hid", "interface": 3, "size": 64}]})",
                  i ? ", " : "", i, ids[i], i, i + 1);
    json += one;
  }
  return json + "]}";
}

// Answers the dialog with `answer` and keeps what it showed.
struct ScriptedUi : IAdapterUserInteraction {
  std::function<void(IAdapterSelectDialog&, const IAdapterSelectDialog::Form&)> answer;
  std::function<void()> onEnd = [] {};
  IAdapterSelectDialog::Form form;
  int shown = 0;

  Answer MessageBox(const std::string&, const std::string&, Icon, Buttons, void*) override { return Answer::Ok; }
  int SelectBox(const std::string&, const std::vector<std::string>&, int) override { return -1; }
  void PumpEvents() override {}
  void AdapterSelectDialog(IAdapterSelectDialog& dialog) override {
    ++shown;
    form = dialog.Initialise([this] { onEnd(); });
    answer(dialog, form);
    dialog.Finish();
  }
};

void Choose(ScriptedUi& ui, int index) {
  ui.answer = [index](IAdapterSelectDialog& d, const IAdapterSelectDialog::Form&) { d.Ok(index); };
}

std::unique_ptr<ChildProcess> Holder(uint32_t id) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", id);
  auto child = std::make_unique<ChildProcess>(std::vector<std::string>{OWNERSHIP_CHILD, "hold", hex});
  EXPECT_EQ(child->ReadLine(), "owned");
  return child;
}

uint64_t LedChanges(SimProcess& sim, const std::string& name) {
  const std::string answer = sim.Ctl("leds " + name);
  const size_t at = answer.rfind("changes ");
  return at == std::string::npos ? 0 : std::stoull(answer.substr(at + 8));
}

struct Rig {
  explicit Rig(const std::vector<uint32_t>& ids) : sim(Adapters(ids), static_cast<int>(ids.size())) {}
  SelectResult Select() {
    ice.CloseAllAdapters();
    ice.DiscoverAdapters(false);
    return SelectAdapter(ice, owner, &ui);
  }
  uint32_t Key() {
    uint32_t k = 0;
    return owner.GetKey(&k) ? k : 0xFFFFFFFF;
  }
  SimProcess sim;
  CICEGlobalMutex owner;
  Spy<CICE_M4> ice;  // records what is sent to the adapters
  ScriptedUi ui;
};

}  // namespace

TEST(Selection, OneAdapterIsChosenAtOnceUnlessAChoiceIsRemembered) {
  Rig r({0x1A2B});
  EXPECT_EQ(CollectAdapterIds(r.ice), std::vector<uint32_t>{});  // nothing discovered yet
  ASSERT_EQ(r.Select(), SelectResult::Chosen);
  EXPECT_EQ(r.ui.shown, 0);
  EXPECT_EQ(r.Key(), 0x1A2Bu);
  EXPECT_EQ(r.owner.GetPreviousIds(), std::vector<uint32_t>{0x1A2B});

  // A choice remembered from another set: the dialog, with one button.
  r.owner.SetKey(0x5555);
  Choose(r.ui, 0);
  ASSERT_EQ(r.Select(), SelectResult::Chosen);
  EXPECT_EQ(r.ui.shown, 1);
  EXPECT_EQ(r.ui.form.caption, "Vo-Link");
  EXPECT_EQ(r.ui.form.groupTitle, "Select one Vo-Link");
  EXPECT_EQ(r.ui.form.buttons[0].text, "ID: 00001a2b");
  EXPECT_TRUE(r.ui.form.buttons[0].visible && r.ui.form.buttons[0].enabled);
  EXPECT_FALSE(r.ui.form.buttons[1].visible);
  EXPECT_FALSE(r.ui.form.messageVisible);
  EXPECT_TRUE(r.ui.form.cancelVisible);
  EXPECT_EQ(r.Key(), 0x1A2Bu);
}

// The dialog lists each family's adapter with the ID its flash holds.
TEST(Selection, DialogShowsTheIdFromTheFlashOfEveryFamily) {
  SimProcess sim(kOneAdapterOfEachFamily, 3);
  CICEGlobalMutex owner;
  CICE_M4 ice;
  ScriptedUi ui;
  ui.answer = [](IAdapterSelectDialog& d, const IAdapterSelectDialog::Form&) { d.Cancel(); };
  ice.DiscoverAdapters(false);
  ASSERT_EQ(SelectAdapter(ice, owner, &ui), SelectResult::Cancelled);
  ASSERT_EQ(ui.shown, 1);
  std::vector<std::string> texts;
  for (const auto& b : ui.form.buttons)
    if (b.visible) texts.push_back(b.text);
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"ID: 7788d001", "ID: 7788d002", "ID: 7788d003"}));
}

TEST(Selection, RememberedChoiceWithTheSameSetAndItsOwnerElsewhere) {
  Rig r({0x33, 0x11, 0x22});
  Choose(r.ui, 1);
  ASSERT_EQ(r.Select(), SelectResult::Chosen);
  EXPECT_EQ(r.ui.shown, 1);
  EXPECT_EQ(r.ui.form.checked, 0);
  EXPECT_EQ(r.Key(), 0x11u);
  EXPECT_EQ(r.ice.GetSelectedAdapter(), 1u);
  EXPECT_EQ(r.owner.GetPreviousIds(), (std::vector<uint32_t>{0x11, 0x22, 0x33}));

  // Same set, remembered adapter free: no dialog.
  r.ice.SelectAdapter(0);
  ASSERT_EQ(r.Select(), SelectResult::Chosen);
  EXPECT_EQ(r.ui.shown, 1);
  EXPECT_EQ(r.ice.GetSelectedAdapter(), 1u);

  // Another program owns it: the dialog, its button disabled, the first
  // enabled one the default; Cancel forgets the choice.
  auto other = Holder(0x11);
  r.ui.answer = [](IAdapterSelectDialog& d, const IAdapterSelectDialog::Form&) { d.Cancel(); };
  EXPECT_EQ(r.Select(), SelectResult::Cancelled);
  EXPECT_EQ(r.ui.shown, 2);
  EXPECT_TRUE(r.ui.form.buttons[0].enabled);
  EXPECT_FALSE(r.ui.form.buttons[1].enabled);
  EXPECT_TRUE(r.ui.form.buttons[2].enabled);
  EXPECT_EQ(r.Key(), 0xFFFFFFFFu);

  // The in-use adapter first: the default moves to the next one; OK with
  // nothing checked is no selection.
  r.ui.answer = [](IAdapterSelectDialog& d, const IAdapterSelectDialog::Form&) { d.Ok(-1); };
  auto third = Holder(0x33);
  EXPECT_EQ(r.Select(), SelectResult::None);
  EXPECT_EQ(r.ui.form.checked, 2);
}

TEST(Selection, DuplicateIdsAndTooManyAdaptersEndInTheErrorForm) {
  struct Case {
    std::vector<uint32_t> ids;
    bool remembered;  // the same set as last time, its first adapter chosen
    const char* message;
  };
  const Case cases[] = {
      {{0x5, 0x5}, true, "Found multiple Vo-Links with same ID!\n\nPlease remove some of them to continue ..."},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, false,
       "Too many Vo-Links detected!\n\nPlease remove some of them to continue ..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ids.size());
    Rig r(c.ids);
    if (c.remembered) {
      std::vector<uint32_t> sorted = c.ids;
      std::sort(sorted.begin(), sorted.end());
      r.owner.SetPreviousIds(sorted);
      r.owner.SetKey(c.ids[0]);
    }
    r.ui.answer = [](IAdapterSelectDialog& d, const IAdapterSelectDialog::Form&) { d.Ok(-1); };
    EXPECT_EQ(r.Select(), SelectResult::Cancelled);
    EXPECT_EQ(r.ui.form.groupTitle, "Error");
    EXPECT_EQ(r.ui.form.message, c.message);
    EXPECT_TRUE(r.ui.form.messageVisible);
    EXPECT_FALSE(r.ui.form.cancelVisible);
    EXPECT_TRUE(r.ui.form.okCentred);
    for (const auto& b : r.ui.form.buttons) EXPECT_FALSE(b.visible);
    EXPECT_EQ(r.Key(), 0xFFFFFFFFu);
  }
}

TEST(Selection, NoAdapterAnswering) {
  Rig r({0x77});
  r.sim.Ctl("unplug a0");
  EXPECT_EQ(r.Select(), SelectResult::None);
  EXPECT_EQ(r.Key(), 0xFFFFFFFFu);
}

TEST(SelectDialog, WorkerBlinksTheHighlightedAdapterOnlyWhenNobodyElseOwnsIt) {
  Rig r({0xA0, 0xB0});
  r.ice.DiscoverAdapters(false);
  r.ice.SelectAdapter(0);
  VoLinkSelectModel model(r.ice, r.owner, {0xA0, 0xB0});
  EXPECT_EQ(model.SetUp().checked, 0);  // the default button is checked ...
  EXPECT_EQ(model.HighlightedIndex(), -1);  // ... but not highlighted
  // Before a click the worker leaves the adapters alone: nothing blinks,
  // no adapter is switched to or asked anything, no choice is remembered.
  r.ice.Clear();
  for (int pass = 0; pass < 2; ++pass) ASSERT_TRUE(model.WorkerPass());
  EXPECT_TRUE(r.ice.requests.empty());
  EXPECT_EQ(LedChanges(r.sim, "a0"), 0u);
  EXPECT_EQ(LedChanges(r.sim, "a1"), 0u);
  EXPECT_EQ(r.Key(), 0xFFFFFFFFu);
  EXPECT_EQ(r.ice.GetSelectedAdapter(), 0u);
  model.Highlight(1);
  ASSERT_TRUE(model.WorkerPass());
  EXPECT_EQ(r.Key(), 0xB0u);
  EXPECT_EQ(r.ice.GetSelectedAdapter(), 1u);
  const std::string leds = r.sim.Ctl("leds a1");
  EXPECT_EQ(LedChanges(r.sim, "a1"), 8u) << leds;  // seven steps and the restore
  EXPECT_NE(leds.find("leds 0xf\n"), std::string::npos) << leds;
  EXPECT_NE(leds.find("ok leds 0x0 "), std::string::npos) << leds;
  EXPECT_EQ(LedChanges(r.sim, "a0"), 0u);

  {
    auto other = Holder(0xB0);
    ASSERT_TRUE(model.WorkerPass());
    EXPECT_EQ(LedChanges(r.sim, "a1"), 8u);
  }
  // Held by this process's ownership object: it blinks.
  r.owner.Acquire();
  ASSERT_TRUE(r.owner.IsHolding(0xB0));
  ASSERT_TRUE(model.WorkerPass());
  EXPECT_EQ(LedChanges(r.sim, "a1"), 16u);
}

TEST(SelectDialog, WorkerFailureEndsTheDialogAndSelectionRunsAgain) {
  SimProcess sim(Adapters({0xA0, 0xB0}), 2);
  CICEGlobalMutex owner;
  CVoICE ice(&owner);
  ScriptedUi ui;
  std::promise<void> ended;
  ui.onEnd = [&ended] { ended.set_value(); };
  ui.answer = [&](IAdapterSelectDialog& d, const IAdapterSelectDialog::Form& form) {
    ASSERT_EQ(form.checked, 0);
    d.Highlight(0);
    sim.Ctl("unplug a0");  // the highlighted adapter goes away
    ASSERT_EQ(ended.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    d.Cancel();
  };
  ice.SetUserInteraction(&ui);
  ice.AcquireAdapter();
  // The second pass found one adapter and took it without asking.
  EXPECT_EQ(ui.shown, 1);
  EXPECT_EQ(ice.GetConnectState(), SelectResult::Chosen);
  EXPECT_TRUE(owner.IsHolding(0xB0));
  EXPECT_TRUE(ice.CheckUSBLink());
  EXPECT_EQ(ice.ReadAdapterId(), 0xB0u);
  ice.ReleaseAdapter();
  EXPECT_FALSE(owner.IsAcquired());
  EXPECT_FALSE(ice.CheckUSBLink());
}

TEST(SelectDialog, AcquireAdapterRefusesAnAdapterOwnedElsewhere) {
  SimProcess sim(Adapters({0xC0}), 1);
  auto other = Holder(0xC0);
  CICEGlobalMutex owner;
  CVoICE_Ostra1T ice(&owner);
  try {
    ice.AcquireAdapter();
    FAIL() << "acquired an adapter that another program owns";
  } catch (const CICEException& e) {
    EXPECT_STREQ(e.GetMessage(),
                 "An Korvane ICE/ICP program is already running!\nPlease close any other Korvane "
                 "ICE/ICP program and try again!");
  }
  EXPECT_EQ(ice.GetConnectState(), SelectResult::None);
  EXPECT_FALSE(ice.CheckUSBLink());
  uint32_t key = 0;
  EXPECT_FALSE(owner.GetKey(&key));
  other.reset();
  ice.AcquireAdapter();
  EXPECT_TRUE(owner.IsHolding(0xC0));
}
