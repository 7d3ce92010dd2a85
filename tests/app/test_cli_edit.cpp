// `dcservo edit` end to end: the real program, the plug-in's EditSetup and a dialog script.
// OK saves where the setup came from (or where asked); Cancel leaves the file alone.

#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialogs/drive_info_dlg.h"
#include "host/zel_dialog_setup.h"
#include "host/zel_setup_file.h"
#include "tests/app/cli_runner.h"

using namespace testing_support;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr const char kTypeGainThenOk[] = R"([
  {"do": "set", "param": "Kp_C_scl", "text": "0.3"},
  {"do": "select", "param": "ControlMode", "index": 1},
  {"do": "ok"}
])";

// A copy of the bundled drive to edit, and a script to edit it with.
class EditCommand : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(setup_, bundled_); }
  // `edit [ARGS] --script SCRIPT`; ARGS name the setup, or leave it out for the bundled drive.
  CliResult Edit(const std::string& args, const std::string& script) {
    WriteFile(script_, script);
    return RunDcservo("edit " + args + " --script " + ShellQuote(script_));
  }
  CliResult EditCopy(const std::string& script) { return Edit(ShellQuote(setup_), script); }

  TempDir dir_;
  const std::string setup_ = dir_.File("drive.json"), script_ = dir_.File("script.json");
  const std::string bundled_ = ReadFile(BundledSetupPath());
};

TEST_F(EditCommand, OkSavesTheEditedSetupInPlace) {
  const auto r = EditCopy(kTypeGainThenOk);
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_THAT(r.out, HasSubstr("\"result\": 1"));
  EXPECT_NEAR(SavedValue(setup_, "Kp_C_scl"), 0.3, 1e-4);
  EXPECT_EQ(SavedValue(setup_, "ControlMode"), 1);
  // OK derived the chip parameters, so the file holds what the drive will run with.
  EXPECT_THAT(ReadFile(setup_), HasSubstr("\"KPI\""));
}

TEST_F(EditCommand, CancelLeavesTheFileByteForByteOrAsksBeforeDiscardingAnEdit) {
  const auto r = EditCopy(R"([{"do": "set", "param": "Kp_C_scl", "text": "0.3"}, {"do": "cancel"}])");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("left as it was"));
  EXPECT_EQ(ReadFile(setup_), bundled_);

  const auto kept = EditCopy(R"([
    {"do": "set", "param": "Kp_C_scl", "text": "0.3"},
    {"do": "cancel"}, {"do": "answer", "button": "no"},
    {"do": "expect", "param": "Kp_C_scl", "value": 0.3, "tolerance": 1e-4},
    {"do": "ok"}])");
  ASSERT_EQ(kept.exit_code, 0) << kept.err << kept.out;
  EXPECT_NEAR(SavedValue(setup_, "Kp_C_scl"), 0.3, 1e-4);
}

TEST_F(EditCommand, BundledDriveIsSavedOnlyWhereTheUserChooses) {
  const std::string chosen = dir_.File("mine.json");
  std::string choose = kTypeGainThenOk;
  choose.replace(choose.rfind(']'), 1, ",{\"do\": \"file\", \"path\": \"" + chosen + "\"}]");
  const auto r = Edit("", choose);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NEAR(SavedValue(chosen, "Kp_C_scl"), 0.3, 1e-4);
  EXPECT_EQ(ReadFile(BundledSetupPath()), bundled_);

  // Cancelling the question returns to the dialog with the edit, which OK can then save;
  // when nothing is ever chosen, the edit is discarded at the end and nothing is written.
  const std::string again = dir_.File("again.json");
  const auto second = Edit("", std::string(R"([
    {"do": "set", "param": "Kp_C_scl", "text": "0.3"}, {"do": "ok"},
    {"do": "expect", "param": "Kp_C_scl", "value": 0.3, "tolerance": 1e-4},
    {"do": "ok"}, {"do": "file", "path": ")") + again + R"("}])");
  ASSERT_EQ(second.exit_code, 0) << second.err << second.out;
  EXPECT_NEAR(SavedValue(again, "Kp_C_scl"), 0.3, 1e-4);

  const auto unsaved = Edit("", kTypeGainThenOk);
  EXPECT_EQ(unsaved.exit_code, 0);
  EXPECT_THAT(unsaved.out, HasSubstr(kDiscardChangesQuestion));
  EXPECT_THAT(unsaved.err, HasSubstr("cancelled; the setup was left as it was"));
  EXPECT_EQ(ReadFile(BundledSetupPath()), bundled_);
}

TEST_F(EditCommand, BadScriptAndFailedStepsAreReportedAndSaveNothing) {
  EXPECT_EQ(EditCopy("[{\"do\": \"set\", \"param\": \"Kp_C_scl\"").exit_code, 2);
  // A disabled control refuses the step: the script fails and the dialog closes as cancelled.
  // (In torque mode the speed controller's "Tune && Test", id 1053, is disabled.)
  const auto refused = EditCopy(R"([{"do": "click", "id": 1210}, {"do": "click", "caption": "Torque"},
                                    {"do": "click", "id": 1053}, {"do": "ok"}])");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_THAT(refused.err, HasSubstr("disabled"));
  EXPECT_EQ(ReadFile(setup_), bundled_);
}

TEST_F(EditCommand, ScreenshotDrawsTheDialogAfterTheScript) {
  const std::string shot = dir_.File("drive setup.png");
  const auto r = Edit(ShellQuote(setup_) + " --screenshot " + ShellQuote(shot), kTypeGainThenOk);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string png = ReadFile(shot);
  ASSERT_GT(png.size(), 1000u);
  EXPECT_EQ(png.substr(1, 3), "PNG");

  // Drawn without a script, the run says what it drew rather than that it was cancelled.
  const auto drawn = RunDcservo("edit " + ShellQuote(setup_) + " --screenshot " + ShellQuote(shot));
  ASSERT_EQ(drawn.exit_code, 0) << drawn.err;
  EXPECT_THAT(drawn.err, HasSubstr("drew \"Drive Setup\" to " + shot));
  EXPECT_THAT(drawn.err, Not(HasSubstr("cancelled")));
}

// The dialogs that the drive setup opens, each on its own from a script: OK saves.
TEST_F(EditCommand, EachDialogOfTheDriveSetupRunsFromAScriptAndOkSaves) {
  using namespace dcservo::drive_info;
  struct Case {
    const char* dialog;
    std::string steps;
    std::function<void(const CZel_Setup&)> check;
  };
  const Case cases[] = {
      {"advanced", R"({"do": "set", "param": "SLPER", "text": "20"})",
       [](const CZel_Setup& s) { EXPECT_EQ(s.GetParameterValueInBaseUnit("SLPER"), 20); }},
      {"external-reference", R"({"do": "click", "caption": "Analogue"})",
       [](const CZel_Setup& s) { EXPECT_EQ(s.GetParameterValueInBaseUnit("isAnalogueReference"), 1); }},
      {"drive-info",
       R"({"do": "key", "key": "s", "ctrl": true, "shift": true, "alt": true},
          {"do": "set", "id": )" + std::to_string(kE2romEdit) + R"(, "text": "16"},
          {"do": "set", "id": )" + std::to_string(kApplicationIdEdit) + R"(, "text": "cell 4"})",
       [](const CZel_Setup& s) {
         EXPECT_EQ(s.GetE2ROMSize(), 16384);
         EXPECT_EQ(s.GetUserAppID(), "cell 4");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    WriteFile(setup_, bundled_);
    const auto r = Edit(ShellQuote(setup_) + " --dialog " + c.dialog, "[" + c.steps + R"(, {"do": "ok"}])");
    ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
    ZelLoadResult saved = LoadSetupFile(setup_);
    ASSERT_NE(saved.setup, nullptr) << saved.error;
    c.check(*saved.setup);
  }
}

}  // namespace
