// The test dialog base: the two-page protocol, Start and Stop, the outcome boxes and
// "&Details", with a stand-in test whose run is a timer on the virtual clock.

#include "host/zel_test_dlg.h"
#include "tests/host/test_dialog_fixture.h"

namespace {

using namespace dialog_testing;

enum : int {
  kTab = 1300, kParamsBox = 1301, kTestCurrentEdit = 1302, kProtectionEdit = 1303, kRunBox = 1310
};

ZelDialogTemplate TestTemplate() {
  using K = ZelControlKind;
  ZelDialogTemplate t;
  t.id = 9101;
  t.caption = "Stand-in test";
  t.help_context = 262408;
  t.controls = {
      {kTab, K::Tab, "", 0, {0, 0, 1, 2}},
      {kParamsBox, K::Group, "Test parameters", 0, {1, 0, 1, 2}},
      {kTestCurrentEdit, K::Edit, "", kParamsBox, {0, 1}},
      {kProtectionEdit, K::Edit, "", kParamsBox, {1, 1}},
      {kRunBox, K::Group, "Test", 0, {1, 0, 1, 2}},
      {kIdcTestStartStop, K::Button, "Start", kRunBox, {0, 0}},
      {kIdcTestStatus, K::Edit, "", kRunBox, {0, 1}, kStyleReadOnly},
      {kIdcTestResult, K::Edit, "", kRunBox, {1, 1}, kStyleReadOnly},
      {kIdcTestDetails, K::Button, "&Details", kRunBox, {1, 0}},
      {kIdOk, K::Button, "OK", 0, {2, 0}}, {kIdCancel, K::Button, "Cancel", 0, {2, 1}},
      {kIdcTestHelp, K::Button, "Help", 0, {2, 2}},
  };
  return t;
}

const int kParamsPage[] = {kParamsBox, kTestCurrentEdit, kProtectionEdit};
const int kRunPage[] = {kRunBox, kIdcTestStartStop, kIdcTestStatus, kIdcTestResult};

// A run of `ticks` timer ticks of 20 ms that ends as told.
class StandInTest : public CZel_TestDlg {
 public:
  explicit StandInTest(CZel_Setup& setup) : CZel_TestDlg(setup, TestTemplate()) {
    AddParameterControls("TestCurrent", kTestCurrentEdit);
    AddParameterControls("TestProtectionCurrent", kProtectionEdit);
  }
  int OnInitDialog() override {
    CZel_TestDlg::OnInitDialog();
    AddTabPage(kTab, "Test Parameters", kParamsPage);
    AddTabPage(kTab, "Test", kRunPage);
    return 1;
  }
  void BeginTest() override {
    m_bTestRunning = 1;
    m_nTestResult = -1;
    m_nPhase = 0;
    tick = 0;
    SetInfoText("Running test");
    SetTimer(1, 20);
  }
  void OnTimer(unsigned id) override {
    if (id != 1 || !m_bTestRunning) return;
    if (++tick < ticks) return;
    if (fail_with.empty()) {
      TestSucceeded(1);
    } else {
      m_strError = fail_with;
      TestFailed(1);
    }
  }
  bool CheckTestParameters() override {
    if (GetSetup().GetParameterValueInBaseUnit("TestCurrent") <=
        GetSetup().GetParameterValueInBaseUnit("TestProtectionCurrent"))
      return true;
    MessageBox("Over current protection must be greater or equal to Test current.");
    return false;
  }
  void OnRunAbandoned() override { ++abandoned; }

  int ticks = 5, tick = 0, abandoned = 0;
  std::string fail_with;
};

class TestDialog : public HeadlessTest {
 protected:
  // Runs the dialog with the given steps, then closes it with OK.
  int Run(std::initializer_list<std::function<void(StandInTest&)>> steps) {
    for (const auto& step : steps)
      ui_.Then([step](CZel_Dialog& top) { step(static_cast<StandInTest&>(top)); });
    ui_.Then(Close(kIdOk));
    return dlg_.DoModal();
  }
  static Step Select(int page) { return [page](CZel_Dialog& t) { t.UserSelect(kTab, page); }; }
  auto Wait(double ms) { return [this, ms](StandInTest&) { ui_.Advance(ms); }; }
  auto Check(std::function<void(StandInTest&)> f) { return f; }

  std::unique_ptr<CZel_Setup> setup_ =
      testing_support::MakeSetup({{"TestCurrent", 1, "A"}, {"TestProtectionCurrent", 2, "A"}});
  StandInTest dlg_{*setup_};
};

TEST_F(TestDialog, OpensOnTheParametersPageAndRunsToSuccess) {
  Run({Check([](StandInTest& t) {
         EXPECT_EQ(t.GetTabSelection(kTab), kTestParametersPage);
         EXPECT_TRUE(t.GetControlState(kTestCurrentEdit).shown);
         EXPECT_FALSE(t.GetControlState(kIdcTestStartStop).shown);
         EXPECT_FALSE(t.GetControlState(kIdcTestDetails).shown);
         EXPECT_EQ(t.ListGetText(kTab, 1), "Test");
       }),
       Select(kTestPage), Click(kIdcTestStartStop), Check([](StandInTest& t) {
         EXPECT_EQ(t.m_bTestRunning, 1);
         EXPECT_EQ(t.GetChildText(kIdcTestStartStop), "Stop");
         EXPECT_EQ(t.GetChildText(kIdcTestStatus), "Running test");
       }),
       // The parameters cannot be changed under a running test.
       Select(kTestParametersPage), Check([](StandInTest& t) {
         EXPECT_EQ(t.GetTabSelection(kTab), kTestPage);
         EXPECT_TRUE(t.GetControlState(kIdcTestStartStop).shown);
       }),
       Wait(99), Check([](StandInTest& t) { EXPECT_EQ(t.m_bTestRunning, 1); }), Wait(1),
       Check([](StandInTest& t) {
         EXPECT_EQ(t.m_bTestRunning, 0);
         EXPECT_EQ(t.m_nTestResult, 1);
         EXPECT_FALSE(t.HasTimer(1));
         EXPECT_EQ(t.GetChildText(kIdcTestResult), "Test successful");
         EXPECT_EQ(t.GetChildText(kIdcTestStartStop), "Start");
         EXPECT_FALSE(t.GetControlState(kIdcTestDetails).shown);
       })});
  EXPECT_THAT(ui_.Errors(), IsEmpty());
}

TEST_F(TestDialog, AFailedRunOffersItsDetailsOnTheTestPage) {
  dlg_.fail_with = "Drive / Motor shortcircuit protection triggered.";
  dlg_.ticks = 1;
  Run({Select(kTestPage), Click(kIdcTestStartStop), Wait(20), Check([](StandInTest& t) {
         EXPECT_EQ(t.GetChildText(kIdcTestResult), "Test failed");
         EXPECT_TRUE(t.GetControlState(kIdcTestDetails).shown);
         EXPECT_EQ(t.m_nTestResult, -1);
       }),
       Click(kIdcTestDetails), Select(kTestParametersPage),
       Check([](StandInTest& t) { EXPECT_FALSE(t.GetControlState(kIdcTestDetails).shown); }),
       Select(kTestPage), Check([](StandInTest& t) {
         EXPECT_EQ(t.GetChildText(kIdcTestResult), "Test failed");
         EXPECT_TRUE(t.GetControlState(kIdcTestDetails).shown);
       })});
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].text, "Drive / Motor shortcircuit protection triggered.");
  EXPECT_EQ(ui_.Messages()[0].caption, "Details");
}

TEST_F(TestDialog, TheTestPageOpensOnlyWithConsistentParameters) {
  setup_->SetParameterValueInBaseUnit("TestCurrent", 3);
  Run({Select(kTestPage),
       Check([](StandInTest& t) { EXPECT_EQ(t.GetTabSelection(kTab), kTestParametersPage); }),
       [](StandInTest& t) { t.UserEdit(kProtectionEdit, "3"); }, Select(kTestPage),
       Check([](StandInTest& t) { EXPECT_EQ(t.GetTabSelection(kTab), kTestPage); })});
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_THAT(ui_.Messages()[0].text, HasSubstr("greater or equal"));
}

// A run that lasts until Stop is the test's to end with its verdict; any other is abandoned.
TEST_F(TestDialog, StopAbandonsARunUnlessItLastsUntilStop) {
  for (int until_stop : {1, 0}) {
    SCOPED_TRACE(until_stop);
    dlg_.m_bRunUntilStop = until_stop;
    Run({Select(kTestPage), Click(kIdcTestStartStop), Wait(40), Click(kIdcTestStartStop),
         Check([until_stop](StandInTest& t) {
           EXPECT_EQ(t.m_bStopRequested, 1);
           EXPECT_EQ(t.m_bTestRunning, until_stop);
           EXPECT_EQ(t.HasTimer(1), until_stop == 1);
           EXPECT_EQ(t.abandoned, 1 - until_stop);
           if (!until_stop) {
             EXPECT_EQ(t.GetChildText(kIdcTestStatus), "Test stopped");
           }
         }),
         Wait(200),
         Check([until_stop](StandInTest& t) { EXPECT_EQ(t.m_nTestResult, until_stop ? 1 : -1); })});
  }
}

TEST_F(TestDialog, ARestartClearsTheLastOutcome) {
  dlg_.fail_with = "first run failed";
  dlg_.ticks = 1;
  Run({Select(kTestPage), Click(kIdcTestStartStop), Wait(20),
       [](StandInTest& t) { t.fail_with.clear(); }, Click(kIdcTestStartStop),
       Check([](StandInTest& t) {
         EXPECT_EQ(t.m_strError, "");
         EXPECT_EQ(t.GetChildText(kIdcTestResult), "");
         EXPECT_FALSE(t.GetControlState(kIdcTestDetails).shown);
       })});
}

TEST_F(TestDialog, CancelDuringARunAbandonsItAndCloses) {
  Then({Select(kTestPage), Click(kIdcTestStartStop), Click(kIdCancel)});
  EXPECT_EQ(dlg_.DoModal(), kIdCancel);
  EXPECT_EQ(dlg_.abandoned, 1);
  EXPECT_EQ(dlg_.m_bTestRunning, 0);
}

TEST_F(TestDialog, HelpOpensTheTestsContext) {
  Run({Click(kIdcTestHelp)});
  ASSERT_EQ(ui_.HelpRequests().size(), 1u);
  EXPECT_EQ(ui_.HelpRequests()[0].context, 262408u);
}

}  // namespace
