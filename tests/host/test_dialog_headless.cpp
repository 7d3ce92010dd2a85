// The headless backend: nested modal loops, timers on the virtual clock, message boxes and
// their answers, the message pump of long loops, help, file dialogs and context menus.

#include <filesystem>

#include "tests/host/test_dialog_fixture.h"

namespace {

using namespace dialog_testing;

using Headless = SmallDialogTest;

TEST_F(Headless, NestedModalLoopsTakeTheStepsInOrder) {
  std::vector<std::string> fronts;
  auto front = [&](CZel_Dialog& top) { fronts.push_back(top.GetCaption()); };
  Then({Click(kOpenChild), front, [](CZel_Dialog& top) { top.UserEdit(kVdcEdit, "20"); },
        Click(kIdOk), front, Click(kOpenChild), Click(kIdCancel), Click(kIdOk)});

  EXPECT_EQ(dlg_.DoModal(), kIdOk);
  EXPECT_THAT(fronts, ElementsAre("Child", "Small setup"));
  EXPECT_THAT(dlg_.log, ElementsAre("child returned 1", "child returned 2"));
  EXPECT_EQ(Value("Vdc"), 20.0);
  EXPECT_THAT(ui_.Errors(), IsEmpty());
  EXPECT_THAT(ui_.Notes(), IsEmpty());
  EXPECT_TRUE(ui_.OpenDialogs().empty());
}

// Escape closes the window as its close box does: the child at once, the changed setup
// dialog after its question (No keeps it open). With a modifier it is no key of the base's.
TEST_F(Headless, EscapeClosesAsTheCloseBoxDoes) {
  auto escape = [](unsigned modifiers, bool used) {
    return [modifiers, used](CZel_Dialog& top) {
      EXPECT_EQ(top.UserKey(kKeyEscape, modifiers), used);
    };
  };
  Then({Click(kOpenChild), escape(0, true), [](CZel_Dialog& top) { top.UserEdit(kVdcEdit, "20"); },
        escape(kKeyCtrl, false), escape(0, true)});
  ui_.ThenAnswer(kIdNo);
  ui_.Then(escape(0, true));
  ui_.ThenAnswer(kIdYes);
  EXPECT_EQ(dlg_.DoModal(), kIdCancel);
  EXPECT_EQ(dlg_.log.front(), "child returned 2");
  EXPECT_EQ(ui_.Messages().size(), 2u);
  EXPECT_THAT(ui_.Errors(), IsEmpty());
}

TEST_F(Headless, DialogsStillOpenWhenTheStepsRunOutAreClosed) {
  ui_.Then(Click(kOpenChild));
  EXPECT_EQ(dlg_.DoModal(), kIdCancel);
  EXPECT_THAT(dlg_.log, ElementsAre("child returned 2"));
  EXPECT_EQ(ui_.Notes().size(), 2u);
}

TEST_F(Headless, ADialogRunAgainStartsFromItsTemplate) {
  ui_.Then([](CZel_Dialog& top) { top.ShowChild(kApply, 0); });
  dlg_.DoModal();
  EXPECT_FALSE(dlg_.GetControlState(kApply).shown);
  ui_.Then([](CZel_Dialog&) {});
  dlg_.DoModal();
  EXPECT_TRUE(dlg_.GetControlState(kApply).shown);
  EXPECT_EQ(dlg_.ListGetCount(kFilterList), 3);  // refilled by OnInitDialog, not doubled
  EXPECT_EQ(dlg_.GetControlState(kVdcEdit).text, "48");
}

class TimerDialog : public CZel_Dialog {
 public:
  TimerDialog() : CZel_Dialog(SmallTemplate()) {}
  void OnShowWindow(bool) override {
    SetTimer(1, 20);
    SetTimer(2, 50);
    SetTimer(3, 0);  // fires once and stops itself
  }
  void OnTimer(unsigned id) override {
    fired.push_back(std::to_string(static_cast<long>(ZelUi().NowMs())) + ":" + std::to_string(id));
    if (id == 3) KillTimer(3);
    // Timer 2 slows down after its first tick.
    if (id == 2 && fired_two++ == 0) SetTimer(2, 70);
  }
  std::vector<std::string> fired;
  int fired_two = 0;
};

TEST_F(Headless, TimersFireOnTheVirtualClockInDueOrder) {
  TimerDialog dlg;
  EXPECT_FALSE(dlg.SetTimer(1, 10));  // not before the dialog runs
  std::vector<double> clock;
  const int token = ui_.AddClockListener([&](double now) { clock.push_back(now); });
  ui_.ThenWait(125);
  ui_.Then([](CZel_Dialog& top) { top.KillTimer(1); });
  ui_.ThenWait(100);
  ui_.Then(Close(kIdOk));
  EXPECT_EQ(dlg.DoModal(), kIdOk);
  ui_.RemoveClockListener(token);

  // At 120 both are due: timer 2 was armed (at 50) before timer 1 was rearmed (at 100).
  EXPECT_THAT(dlg.fired, ElementsAre("1:3", "20:1", "40:1", "50:2", "60:1", "80:1", "100:1",
                                     "120:2", "120:1", "190:2"));
  EXPECT_DOUBLE_EQ(ui_.NowMs(), 225.0);
  EXPECT_DOUBLE_EQ(clock.front(), 1.0);
  EXPECT_DOUBLE_EQ(clock.back(), 225.0);
  EXPECT_FALSE(dlg.HasTimer(2));  // the dialog's timers die with it
  ui_.Advance(500);
  EXPECT_EQ(dlg.fired.size(), 10u);
}

TEST_F(Headless, MessageBoxesTakeScriptedAnswersElseTheirDefault) {
  CZel_Dialog dlg(SmallTemplate());
  std::vector<int> answers;
  ui_.Then([&](CZel_Dialog& top) {
    answers.push_back(top.MessageBox("Overwrite?", "Save", kMbYesNo | kMbIconQuestion));
    answers.push_back(top.MessageBox("Really?", {}, kMbYesNoCancel | kMbIconWarning));
    answers.push_back(top.MessageBox("Done.", {}, kMbOk | kMbIconInformation));
  });
  ui_.ThenAnswer(kIdNo);
  ui_.ThenAnswer(kIdCancel);
  ui_.Then(Close(kIdOk));
  dlg.DoModal();

  EXPECT_THAT(answers, ElementsAre(kIdNo, kIdCancel, kIdOk));
  ASSERT_EQ(ui_.Messages().size(), 3u);
  const ZelMessageRecord& first = ui_.Messages()[0];
  EXPECT_EQ(first.owner, "Small setup");
  EXPECT_EQ(first.caption, "Save");
  EXPECT_TRUE(first.scripted);
  EXPECT_EQ(ui_.Messages()[1].caption, "Small setup");
  EXPECT_FALSE(ui_.Messages()[2].scripted);
  EXPECT_STREQ(ZelIconName(ui_.Messages()[1].style), "warning");
  EXPECT_THAT(ui_.Errors(), IsEmpty());
}

TEST(HeadlessAnswers, AnswersThatDoNotFitAreErrors) {
  using Answer = std::function<void(ZelHeadlessBackend&)>;
  struct Case { const char* what; Step ask; Answer answer; const char* error; };
  const Case cases[] = {
      {"a button the box lacks",
       [](CZel_Dialog& top) { top.MessageBox("Go on?", {}, kMbOkCancel); },
       [](ZelHeadlessBackend& ui) { ui.ThenAnswer(kIdYes); }, "offers ok, cancel"},
      {"an answer nobody asked for", [](CZel_Dialog&) {},
       [](ZelHeadlessBackend& ui) { ui.ThenAnswer(kIdOk); }, "nothing was waiting"},
      {"a disabled menu entry",
       [](CZel_Dialog& top) { EXPECT_EQ(top.TrackContextMenu({{11, "Save", false}}), 0); },
       [](ZelHeadlessBackend& ui) { ui.ThenMenu(11); }, "disabled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZelHeadlessBackend ui;
    ZelScopedUiBackend installed(ui);
    ui.Then(c.ask);
    c.answer(ui);
    ui.Then(Close(kIdOk));
    CZel_Dialog dlg(SmallTemplate());
    // The failed step stops the rest: the dialog closes as cancelled.
    EXPECT_EQ(dlg.DoModal(), kIdCancel);
    ASSERT_EQ(ui.Errors().size(), 1u);
    EXPECT_THAT(ui.Errors()[0], HasSubstr(c.error));
  }
}

TEST_F(Headless, APumpTakesOnlyStepsMarkedForIt) {
  int pumped = 0;
  bool stop = false;
  dlg_.on_apply = [&](RecordingDialog&) {
    // A long loop that keeps the dialog live until the user presses "Stop".
    while (!stop && pumped < 1000) {
      ZelPumpMessages();
      ++pumped;
    }
  };
  ui_.Then(Click(kApply));
  ui_.Then([&](CZel_Dialog&) { stop = true; }, /*during_pump=*/true);
  ui_.Then(Close(kIdOk));
  EXPECT_EQ(dlg_.DoModal(), kIdOk);
  EXPECT_EQ(pumped, 1);

  // Without the mark the step waits for the loop to end.
  pumped = 0;
  stop = false;
  Then({Click(kApply), [&](CZel_Dialog&) { stop = true; }, Close(kIdOk)});
  dlg_.DoModal();
  EXPECT_EQ(pumped, 1000);
}

TEST_F(Headless, HelpOpensThePageOfTheContext) {
  testing_support::TempDir dir;
  std::filesystem::create_directories(dir.File("help"));
  testing_support::WriteFile(dir.File("help/262406.html"), "<html></html>");
  testing_support::WriteFile(dir.File("help/index.html"), "<html></html>");
  ZelSetGUIDirectory(dir.path());
  dlg_.ShowHelpTopic(262406);
  dlg_.ShowHelpTopic(1);
  ZelSetHelpFileOfGUI("");
  dlg_.ShowHelpTopic(262406);
  ZelSetHelpFileOfGUI("help");
  ZelSetGUIDirectory("");

  ASSERT_EQ(ui_.HelpRequests().size(), 2u);
  EXPECT_EQ(ui_.HelpRequests()[0].page, dir.File("help/262406.html"));
  EXPECT_EQ(ui_.HelpRequests()[0].context, 262406u);
  EXPECT_EQ(ui_.HelpRequests()[1].page, dir.File("help/index.html"));
}

TEST_F(Headless, FileDialogsAndMenusTakeTheirAnswers) {
  CZel_Dialog dlg(SmallTemplate());
  std::string chosen, cancelled;
  int command = -1, dismissed = -1;
  const std::vector<ZelMenuItem> menu = {
      {10, "&Zoom out"}, {0, ""}, {11, "Save &plot", false}, {12, "Copy"}};
  ui_.Then([&](CZel_Dialog& top) {
    chosen = top.FileDialog({true, "Save plot", "Pictures (*.png)", "plot.png"});
    cancelled = top.FileDialog({false, "Open", "", ""});
    command = top.TrackContextMenu(menu);
    dismissed = top.TrackContextMenu(menu);
  });
  ui_.ThenFile("/tmp/x.png");
  ui_.ThenMenu(12);
  ui_.Then(Close(kIdOk));
  dlg.DoModal();
  EXPECT_EQ(chosen, "/tmp/x.png");
  EXPECT_EQ(cancelled, "");
  EXPECT_EQ(command, 12);
  EXPECT_EQ(dismissed, 0);
  EXPECT_EQ(ui_.FileRequests().size(), 2u);
  EXPECT_THAT(ui_.Errors(), IsEmpty());
}

TEST(UiBackend, WithoutAnInstalledBackendDialogsCloseAndBoxesTakeDefaults) {
  auto setup = SmallSetup();
  RecordingDialog dlg(*setup);
  EXPECT_EQ(dlg.DoModal(), kIdCancel);
  EXPECT_EQ(ZelMessageBox("Save?", "x", kMbYesNo), kIdYes);
}

TEST(UiBackend, MessageBoxButtonsAndNames) {
  EXPECT_THAT(ZelMessageBoxButtons(kMbYesNoCancel | kMbIconError),
              ElementsAre(kIdYes, kIdNo, kIdCancel));
  EXPECT_THAT(ZelMessageBoxButtons(kMbAbortRetryIgnore),
              ElementsAre(kIdAbort, kIdRetry, kIdIgnore));
  for (int answer = kIdOk; answer <= kIdNo; ++answer) {
    SCOPED_TRACE(answer);
    EXPECT_EQ(ZelAnswerFromName(ZelAnswerName(answer)), answer);
  }
  EXPECT_EQ(ZelAnswerFromName("YES"), kIdYes);
  EXPECT_EQ(ZelAnswerFromName("maybe"), 0);
}

}  // namespace
