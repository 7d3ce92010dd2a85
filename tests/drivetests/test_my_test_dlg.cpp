// The test base: the drive status check, the test flag check and the single run with its
// upload, on a drive whose every answer the case sets.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "drivetests/my_test_dlg.h"
#include "host/zel_coff.h"
#include "host/zel_graph.h"
#include "host/zel_logger.h"
#include "tests/support/test_runs.h"

namespace {

using dcservo::CMyTestDlg;
using testing_support::FakeDrive;

enum : int { kTab = 1300, kParamsBox = 1301, kRunBox = 1310, kGraph = 1361 };

ZelDialogTemplate StandInTemplate() {
  using K = ZelControlKind;
  ZelDialogTemplate t;
  t.id = 9201;
  t.caption = "Stand-in run";
  t.help_context = 262408;
  t.controls = {
      {kTab, K::Tab, "", 0, {0, 0}},
      {kParamsBox, K::Group, "Test parameters", 0, {1, 0}},
      {kRunBox, K::Group, "Test", 0, {2, 0}},
      {kIdcTestStartStop, K::Button, "Start", kRunBox, {0, 0}},
      {kIdcTestStatus, K::Edit, "", kRunBox, {0, 1}, kStyleReadOnly},
      {kIdcTestResult, K::Edit, "", kRunBox, {1, 1}, kStyleReadOnly},
      {kIdcTestDetails, K::Button, "&Details", kRunBox, {1, 0}},
      {kGraph, K::Graph, "", kRunBox, {2, 0}},
      {kIdOk, K::Button, "OK", 0, {3, 0}},
      {kIdCancel, K::Button, "Cancel", 0, {3, 1}},
  };
  return t;
}

const int kParamsPage[] = {kParamsBox};
const int kRunPage[] = {kRunBox, kIdcTestStartStop, kIdcTestStatus, kIdcTestResult, kGraph};

// The smallest test on the base: one input, one logged variable, the current test's mask.
class StandInRun : public CMyTestDlg {
 public:
  StandInRun(CZel_Setup& setup, CZel_Dialog*) : CMyTestDlg(setup, StandInTemplate()) {}
  int OnInitDialog() override {
    CMyTestDlg::OnInitDialog();
    AddTabPage(kTab, "Test Parameters", kParamsPage);
    AddTabPage(kTab, "Test", kRunPage);
    coff.SetPathName(GetOutPathName("Fake_Test"));
    coff.ReadCoff();
    logger.AddVariable("Motor_Current", 1);
    logger.LocateItems();
    logger.GetGraphFilter()->AddCurve("Motor_Current", 0, 1, 1, 2, RGB16(5));
    graph.SubclassDlgItem(kGraph, this, logger.GetGraphFilter());
    SetRunTools({"Fake_Test", &coff, &logger, &graph, dcservo::kCheckShortCircuitAndEnable});
    return 1;
  }
  void BeginTest() override {
    const dcservo::TestInput inputs[] = {{"In1", 123.0}};
    StartRun(inputs);
  }
  CZel_CoffFormat coff;
  CZel_SingleAxisLogger logger{GetSetup(), &coff};
  CGraphWindow graph;
};

class TestBase : public testing_support::FakeDriveRun<StandInRun> {
 protected:
  TestBase() : FakeDriveRun("Fake_Test", FakeDrive().start_values) {}
  Step Start() {
    return [](StandInRun& d) {
      d.UserSelect(kTab, kTestPage);
      ASSERT_TRUE(d.UserClick(kIdcTestStartStop)) << d.LastRefusal();
    };
  }
};

struct DriveErrorCase {
  double mer;
  unsigned mask;
  const char* text;  // empty: the check passes
};

TEST_F(TestBase, TheFirstConditionOfTheMaskInBitOrderDecides) {
  const DriveErrorCase cases[] = {
      {0x000A, 0x8002, "Drive / Motor shortcircuit protection triggered."},
      {0x0008, 0x8002, ""},
      {0x8000, 0x0002, ""},
      {0x8000, 0x8002, "Drive / Motor ENABLE input is in DISABLED state."},
      {0x0008, 0xFFDF, "Drive / Motor control error protection triggered."},
      {0x80C0, 0xFFFF, "Drive / Motor stopped due to positive limit switch input triggered."},
      {0x8080, 0xFFFF, "Drive / Motor stopped due to negative limit switch input triggered."},
      {0x0020, 0xFFFF, ""},
      {2.9, 0x0002, "Drive / Motor shortcircuit protection triggered."},
  };
  StandInRun& dlg = Build();
  dlg.ModalInit();
  for (const DriveErrorCase& c : cases) {
    drive_->live["MER"] = c.mer;
    dlg.m_strError.clear();
    const bool passes = *c.text == '\0';
    EXPECT_EQ(dlg.CheckDriveErrors(0, c.mask), passes ? 1 : 0) << c.mer << " " << c.mask;
    EXPECT_EQ(dlg.m_strError, c.text) << c.mer << " " << c.mask;
  }
  drive_->live.erase("MER");
  EXPECT_EQ(dlg.CheckDriveErrors(0, 0x0002), 0);
  EXPECT_EQ(dlg.m_strError, CZel_TestDlg::msc_pszErrInternal);
}

TEST_F(TestBase, ARunWritesItsInputsWatchesTheProgramAndUploadsThePlot) {
  Run({Start(), Check([this](StandInRun& d) {
         ASSERT_EQ(drive_->starts.size(), 1u);
         EXPECT_EQ(drive_->starts[0][0].value, 123.0);
         EXPECT_EQ(d.GetChildText(kIdcTestStatus), "Running test");
         EXPECT_TRUE(d.HasTimer(1));
       }),
       // Not started yet, then started with the axis on: the run goes on either way.
       Wait(200), Drive([](FakeDrive& f) { f.Started(); }), Wait(200),
       Check([](StandInRun& d) {
         EXPECT_EQ(d.m_bTestRunning, 1);
         EXPECT_EQ(d.m_nPhase, 2);
         // Another timer's tick is not the run's.
         d.DispatchTimer(2);
         EXPECT_TRUE(d.HasTimer(1));
       }),
       Drive([](FakeDrive& f) { f.Ended(1.0, 300); }), Wait(20), Check([](StandInRun& d) {
         EXPECT_EQ(d.m_bTestRunning, 0);
         EXPECT_EQ(d.m_nTestResult, 1);
         EXPECT_EQ(d.GetChildText(kIdcTestResult), "Test successful");
         EXPECT_EQ(d.graph.GetDrawnPointCount(), 300);
         EXPECT_FALSE(d.HasTimer(1));
       })});
  EXPECT_EQ(dlg_->graph.GetDocument()->GetChannelUnit(0), "ms");
}

struct FailureCase {
  const char* name;
  std::function<void(FakeDrive&)> at_end;
  const char* text;
};

TEST_F(TestBase, EachWayARunFailsEndsItWithItsText) {
  const FailureCase cases[] = {
      {"own current protection", [](FakeDrive& f) { f.Ended(0.0); },
       "Test failed!\nCurrent protection triggered during test!"},
      {"negative test flag", [](FakeDrive& f) { f.Ended(-1.0); },
       "Test failed!\nCurrent protection triggered during test!"},
      {"no result", [](FakeDrive& f) { f.Ended(dcservo::kUnsetValue); },
       CZel_TestDlg::msc_pszErrInternal},
      {"ENABLE off at the end",
       [](FakeDrive& f) {
         f.Ended(1.0);
         f.live["MER"] = 0x8000;
       },
       "Drive / Motor ENABLE input is in DISABLED state."},
      {"short circuit before the start",
       [](FakeDrive& f) {
         f.vars["STARTED"] = 0.0;
         f.live["MER"] = 0x000A;
       },
       "Drive / Motor shortcircuit protection triggered."},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    dlg_.reset();
    drive_->live["MER"] = 0;
    Run({Start(), Wait(20), Drive([](FakeDrive& f) { f.Started(); }), Wait(20), Drive(c.at_end),
         Wait(20), Check([&c](StandInRun& d) {
           EXPECT_EQ(d.m_bTestRunning, 0);
           EXPECT_EQ(d.m_nTestResult, -1);
           EXPECT_EQ(d.m_strError, c.text);
           EXPECT_EQ(d.GetChildText(kIdcTestResult), "Test failed");
           EXPECT_FALSE(d.HasTimer(1));
         })});
  }
}

TEST_F(TestBase, ARunThatCannotStartFailsWithoutLaunchingAnything) {
  drive_->start_values = {{"STARTED", 0.0}, {"test_flag", 1.0}};  // no In1
  Run({Start(), Check([this](StandInRun& d) {
         EXPECT_EQ(d.m_bTestRunning, 0);
         EXPECT_THAT(d.m_strError, ::testing::HasSubstr("In1"));
         EXPECT_TRUE(drive_->starts.empty());
       })});
  dlg_.reset();
  drive_->start_values = {{"In1", 0.0}, {"STARTED", 0.0}, {"test_flag", 1.0}};
  drive_->refuse_parameters = true;
  Run({Start(), Check([](StandInRun& d) {
         EXPECT_EQ(d.m_strError, CZel_TestDlg::msc_pszErrInternal);
         EXPECT_EQ(d.m_bTestRunning, 0);
       })});
}

TEST_F(TestBase, StopDuringTheUploadAbandonsTheRunWithoutAVerdict) {
  Run({Start(), Drive([](FakeDrive& f) { f.Started(); }), Wait(20),
       Drive([](FakeDrive& f) { f.Ended(1.0, 1000); }), Wait(20),
       DuringPump(Click(kIdcTestStartStop)), Check([](StandInRun& d) {
         EXPECT_EQ(d.m_bTestRunning, 0);
         EXPECT_EQ(d.m_nTestResult, -1);
         EXPECT_EQ(d.GetChildText(kIdcTestStatus), "Test stopped");
         EXPECT_LT(d.graph.GetDrawnPointCount(), 1000);
         EXPECT_FALSE(d.logger.UploadInProgress());
       })});
}

// While the log goes into the plot, the status counts the points at each whole percent.
TEST_F(TestBase, TheUploadShowsItsProgress) {
  auto expect_progress = [](StandInRun& d) {
    const int drawn = d.graph.GetDrawnPointCount();
    const int percent = drawn / 4;  // of 400 points
    EXPECT_EQ(d.GetChildText(kIdcTestStatus),
              "Uploading results: " + std::to_string(std::max(1, 4 * percent)) +
                  " of 400 points (" + std::to_string(percent) + " %)");
  };
  std::vector<RunStep> steps = {Start(), Drive([](FakeDrive& f) { f.Started(); }), Wait(20),
                                Drive([](FakeDrive& f) { f.Ended(1.0, 400); }), Wait(20)};
  // The pump runs once a point: a look at the first, the 2nd, the 101st and the 242nd.
  const std::size_t before_upload = steps.size();
  for (std::size_t point : {1, 2, 101, 242}) {
    while (steps.size() < before_upload + point - 1)
      steps.push_back(DuringPump([](StandInRun&) {}));
    steps.push_back(DuringPump(expect_progress));
  }
  steps.push_back(Check([](StandInRun& d) {
    EXPECT_EQ(d.m_nTestResult, 1);
    EXPECT_EQ(d.graph.GetDrawnPointCount(), 400);
  }));
  Run(steps);
}

// A block of the log that does not come fails the run: the points that did are no run to judge.
TEST_F(TestBase, ALogBlockThatDoesNotComeFailsTheRun) {
  drive_->log_block_points = 100;
  drive_->log_fails_from = 200;
  Run({Start(), Drive([](FakeDrive& f) { f.Started(); }), Wait(20),
       Drive([](FakeDrive& f) { f.Ended(1.0, 400); }), Wait(20), Check([](StandInRun& d) {
         EXPECT_EQ(d.m_bTestRunning, 0);
         EXPECT_EQ(d.m_nTestResult, -1);
         EXPECT_EQ(d.GetChildText(kIdcTestResult), "Test failed");
         EXPECT_EQ(d.graph.GetDrawnPointCount(), 200);
       })});
}

TEST_F(TestBase, AProgramThatNeverStartsRunsUntilStopAndIsStoppedOnTheDrive) {
  Run({Start(), Wait(2000), Check([](StandInRun& d) { EXPECT_EQ(d.m_bTestRunning, 1); }),
       Click(kIdcTestStartStop), Check([this](StandInRun& d) {
         EXPECT_EQ(d.m_bTestRunning, 0);
         EXPECT_EQ(drive_->stops, 1);
         // A tick that arrives after the run changes nothing.
         d.DispatchTimer(1);
         EXPECT_EQ(d.GetChildText(kIdcTestStatus), "Test stopped");
       })});
}

}  // namespace
