// The "Commission..." dialog of the drive setup, headless on the simulated drive: Start asks
// where the report goes, runs the steps with the notices on the user's screen, writes the
// record and offers to open the report.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "drivetests/commission_dlg.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_test_dlg.h"
#include "names/dialog_names.h"
#include "sim/simulated_drive.h"
#include "tests/support/test_runs.h"

namespace {

using namespace dcservo;
using ::testing::Contains;
using ::testing::Field;
using ::testing::HasSubstr;
using testing_support::TempDir;

// As the program's drive session: the drive's time follows whichever front end is
// installed, and its shaft follows the notices the user confirms.
class CommissionDialog : public testing_support::SimulatedRun<CCommissionDlg> {
 protected:
  CommissionDialog() {
    CZel_Comm::SetClock([] { return ZelUi().NowMs() / 1000.0; });
    listener_ = ZelAddAnswerListener([](const ZelMessageBoxRequest& request, int answer) {
      auto drive = std::static_pointer_cast<dcsim::SimulatedDrive>(CZel_Comm::GetSharedLink());
      std::string error;
      if (answer == kIdOk && request.asks == ZelAskedAction::BlockShaft)
        drive->Inject("shaft_blocked", 1.0, error);
      if (answer == kIdOk && request.asks == ZelAskedAction::FreeShaft)
        drive->Inject("shaft_blocked", 0.0, error);
    });
  }
  ~CommissionDialog() override { ZelRemoveAnswerListener(listener_); }
  int listener_ = 0;
};

TEST_F(CommissionDialog, StartWritesTheRecordWhereTheUserChoseAndOffersTheReport) {
  EXPECT_TRUE(ZelIsDialogRegistered(dialog_names::kCommission));
  TempDir tmp;
  const std::string html = tmp.File("axis/report.html");
  // As the program names the file it loaded (a run on screen recorded "drive setup").
  setup_->SetSourceName("/axes/press-2.json");
  ui_.Then([](CZel_Dialog& d) {
    ASSERT_TRUE(d.UserEdit(kCommissionOperator, "A. Engineer"));
    ASSERT_TRUE(d.UserEdit(kCommissionNote, "axis 2 of the press, new motor"));
    ASSERT_TRUE(d.UserClick(kCommissionStart)) << d.LastRefusal();
  });
  ui_.ThenFile(html);
  Run({});
  EXPECT_EQ(Build().ReportPath(), html);
  for (const char* file : {"report.html", "report.json", "setup.json"})
    EXPECT_TRUE(std::filesystem::exists(tmp.File(std::string("axis/") + file))) << file;
  // The record names who ran it and why, as the command line's --operator and --note do.
  const auto report = nlohmann::json::parse(testing_support::ReadFile(tmp.File("axis/report.json")));
  EXPECT_EQ(report["record"]["operator"], "A. Engineer");
  EXPECT_EQ(report["record"]["note"], "axis 2 of the press, new motor");
  EXPECT_EQ(report["drive"]["source"], "/axes/press-2.json");
  // The current step asked for the shaft to be blocked, on the user's screen.
  EXPECT_THAT(ui_.Messages(),
              Contains(Field(&ZelMessageRecord::text, dialog_names::kBlockedShaftNotice)));
  EXPECT_THAT(Build().GetChildText(kCommissionText), HasSubstr("Commissioning succeeded."));
  EXPECT_THAT(ui_.OpenedDocuments(), ::testing::ElementsAre(html));
}

// The speed test's scope run leaves its on-line view chosen in the setup; the commissioning
// that follows runs its speed step that way and still measures and passes it.
TEST_F(CommissionDialog, SucceedsAfterTheSpeedTestsScopeRun) {
  ASSERT_TRUE(setup_->SetParameterValueInBaseUnit("OnlinePlotS", 1));
  auto test = ZelCreateDialog(dialog_names::kSpeedTest, *setup_);
  auto& speed = dynamic_cast<CZel_TestDlg&>(*test);
  ui_.Then([](CZel_Dialog& d) {
    for (int id : d.GetControlIds()) {
      if (d.GetControlDef(id)->kind == ZelControlKind::Tab) {
        ASSERT_TRUE(d.UserSelect(id, kTestPage));
      }
    }
    ASSERT_TRUE(d.UserClick(kIdcTestStartStop)) << d.LastRefusal();
  });
  ui_.Then([&](CZel_Dialog& d) {
    while (speed.m_bTestRunning) ui_.Advance(20.0);
    EXPECT_EQ(speed.m_nTestResult, 1) << speed.m_strError;
    ASSERT_TRUE(d.UserClick(kIdOk)) << d.LastRefusal();
  });
  ASSERT_EQ(test->DoModal(), kIdOk);
  test.reset();

  TempDir tmp;
  ui_.Then([](CZel_Dialog& d) { ASSERT_TRUE(d.UserClick(kCommissionStart)) << d.LastRefusal(); });
  ui_.ThenFile(tmp.File("report.html"));
  Run({});
  EXPECT_THAT(Build().GetChildText(kCommissionText), HasSubstr("Commissioning succeeded."));
}

TEST_F(CommissionDialog, NoFolderChosenRunsNothing) {
  ui_.Then([](CZel_Dialog& d) { d.UserClick(kCommissionStart); });
  ui_.ThenFile("");
  Run({});
  EXPECT_EQ(Build().ReportPath(), "");
  EXPECT_TRUE(ui_.Messages().empty());
}

}  // namespace
