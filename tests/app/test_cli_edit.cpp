// `dcservo edit` end to end: the real program, the plug-in's EditSetup and a dialog script.
// OK saves where the setup came from (or where asked); Cancel leaves the file alone.

#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialogs/drive_info_dlg.h"
#include "host/zel_dialog_setup.h"

#include "host/zel_setup_file.h"
#include "tests/app/cli_runner.h"

using testing_support::BundledSetupPath;
using testing_support::ReadFile;
using testing_support::RunDcservo;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr const char kTypeGainThenOk[] = R"([
  {"do": "set", "param": "Kp_C_scl", "text": "0.3"},
  {"do": "select", "param": "ControlMode", "index": 1},
  {"do": "ok"}
])";

double ValueIn(const std::string& path, const char* name) {
  ZelLoadResult loaded = LoadSetupFile(path);
  if (!loaded.setup) return -1;
  return loaded.setup->GetParameterValueInBaseUnit(name);
}

TEST(EditCommand, OkSavesTheEditedSetupInPlace) {
  TempDir dir;
  const std::string setup = dir.File("drive.json"), script = dir.File("ok.json");
  WriteFile(setup, ReadFile(BundledSetupPath()));
  WriteFile(script, kTypeGainThenOk);
  const auto r = RunDcservo("edit " + ShellQuote(setup) + " --script " + ShellQuote(script));
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_THAT(r.out, HasSubstr("\"result\": 1"));
  EXPECT_NEAR(ValueIn(setup, "Kp_C_scl"), 0.3, 1e-4);
  EXPECT_EQ(ValueIn(setup, "ControlMode"), 1);
  // OK derived the chip parameters, so the file holds what the drive will run with.
  EXPECT_NE(ReadFile(setup).find("\"KPI\""), std::string::npos);
}

TEST(EditCommand, CancelLeavesTheFileByteForByte) {
  TempDir dir;
  const std::string setup = dir.File("drive.json"), script = dir.File("cancel.json");
  WriteFile(setup, ReadFile(BundledSetupPath()));
  const std::string before = ReadFile(setup);
  WriteFile(script, R"([{"do": "set", "param": "Kp_C_scl", "text": "0.3"}, {"do": "cancel"}])");
  const auto r = RunDcservo("edit " + ShellQuote(setup) + " --script " + ShellQuote(script));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("left as it was"));
  EXPECT_EQ(ReadFile(setup), before);
}

TEST(EditCommand, BundledDriveIsSavedOnlyWhereTheUserChooses) {
  TempDir dir;
  const std::string chosen = dir.File("mine.json"), script = dir.File("ok.json");
  const std::string bundled_before = ReadFile(BundledSetupPath());
  WriteFile(script, std::string(kTypeGainThenOk).replace(
                        std::string(kTypeGainThenOk).rfind(']'), 1,
                        ",{\"do\": \"file\", \"path\": \"" + chosen + "\"}]"));
  const auto r = RunDcservo("edit --script " + ShellQuote(script));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NEAR(ValueIn(chosen, "Kp_C_scl"), 0.3, 1e-4);
  EXPECT_EQ(ReadFile(BundledSetupPath()), bundled_before);

  // Cancelling the question returns to the dialog with the edit, which OK can then save;
  // when nothing is ever chosen, the edit is discarded at the end and nothing is written.
  const std::string again = dir.File("again.json");
  WriteFile(script, std::string(R"([
    {"do": "set", "param": "Kp_C_scl", "text": "0.3"}, {"do": "ok"},
    {"do": "expect", "param": "Kp_C_scl", "value": 0.3, "tolerance": 1e-4},
    {"do": "ok"}, {"do": "file", "path": ")") + again + R"("}])");
  const auto second = RunDcservo("edit --script " + ShellQuote(script));
  ASSERT_EQ(second.exit_code, 0) << second.err << second.out;
  EXPECT_NEAR(ValueIn(again, "Kp_C_scl"), 0.3, 1e-4);

  WriteFile(script, kTypeGainThenOk);
  const auto unsaved = RunDcservo("edit --script " + ShellQuote(script));
  EXPECT_EQ(unsaved.exit_code, 0);
  EXPECT_THAT(unsaved.out, HasSubstr(kDiscardChangesQuestion));
  EXPECT_THAT(unsaved.err, HasSubstr("cancelled; the setup was left as it was"));
  EXPECT_EQ(ReadFile(BundledSetupPath()), bundled_before);
}

TEST(EditCommand, BadScriptAndFailedStepsAreReportedAndSaveNothing) {
  TempDir dir;
  const std::string setup = dir.File("drive.json"), script = dir.File("bad.json");
  WriteFile(setup, ReadFile(BundledSetupPath()));
  const std::string before = ReadFile(setup);
  WriteFile(script, "[{\"do\": \"set\", \"param\": \"Kp_C_scl\"");
  const auto malformed = RunDcservo("edit " + ShellQuote(setup) + " --script " + ShellQuote(script));
  EXPECT_EQ(malformed.exit_code, 2);
  // A disabled control refuses the step: the script fails and the dialog closes as cancelled.
  // (In torque mode the speed controller's "Tune && Test", id 1053, is disabled.)
  WriteFile(script, R"([{"do": "click", "id": 1210}, {"do": "click", "caption": "Torque"},
                        {"do": "click", "id": 1053}, {"do": "ok"}])");
  const auto refused = RunDcservo("edit " + ShellQuote(setup) + " --script " + ShellQuote(script));
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_THAT(refused.err, HasSubstr("disabled"));
  EXPECT_EQ(ReadFile(setup), before);
}

TEST(EditCommand, ScreenshotDrawsTheDialogAfterTheScript) {
  TempDir dir;
  const std::string setup = dir.File("drive.json"), script = dir.File("ok.json");
  const std::string shot = dir.File("drive setup.png");
  WriteFile(setup, ReadFile(BundledSetupPath()));
  WriteFile(script, kTypeGainThenOk);
  const auto r = RunDcservo("edit " + ShellQuote(setup) + " --script " + ShellQuote(script) +
                            " --screenshot " + ShellQuote(shot));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string png = ReadFile(shot);
  ASSERT_GT(png.size(), 1000u);
  EXPECT_EQ(png.substr(1, 3), "PNG");

  // Drawn without a script, the run says what it drew rather than that it was cancelled.
  const auto drawn = RunDcservo("edit " + ShellQuote(setup) + " --screenshot " + ShellQuote(shot));
  ASSERT_EQ(drawn.exit_code, 0) << drawn.err;
  EXPECT_THAT(drawn.err, HasSubstr("drew \"Drive Setup\" to " + shot));
  EXPECT_THAT(drawn.err, Not(HasSubstr("cancelled")));
}

TEST(EditCommand, CancelAfterAnEditAsksBeforeDiscardingIt) {
  TempDir dir;
  const std::string setup = dir.File("drive.json"), script = dir.File("cancel.json");
  WriteFile(setup, ReadFile(BundledSetupPath()));
  WriteFile(script, R"([
    {"do": "set", "param": "Kp_C_scl", "text": "0.3"},
    {"do": "cancel"}, {"do": "answer", "button": "no"},
    {"do": "expect", "param": "Kp_C_scl", "value": 0.3, "tolerance": 1e-4},
    {"do": "ok"}])");
  const auto kept = RunDcservo("edit " + ShellQuote(setup) + " --script " + ShellQuote(script));
  ASSERT_EQ(kept.exit_code, 0) << kept.err << kept.out;
  EXPECT_NEAR(ValueIn(setup, "Kp_C_scl"), 0.3, 1e-4);
}

// The dialogs that the drive setup opens, each on its own from a script: OK saves.
TEST(EditCommand, EachDialogOfTheDriveSetupRunsFromAScriptAndOkSaves) {
  using namespace dcservo::drive_info;
  struct Case {
    const char* dialog;
    std::string steps;
    std::function<void(const CZel_Setup&)> check;
  };
  const Case cases[] = {
      {"advanced", R"({"do": "set", "param": "SLPER", "text": "20"})",
       [](const CZel_Setup& s) {
         EXPECT_EQ(s.GetParameterValueInBaseUnit("SLPER"), 20);
         // 20 samples of 0.5 ms are 10 of 1 ms.
         EXPECT_EQ(s.GetParameterValueInInternalUnit("time_Imax_Prot"), 10);
       }},
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
    TempDir dir;
    const std::string setup = dir.File("drive.json"), script = dir.File("s.json");
    WriteFile(setup, ReadFile(BundledSetupPath()));
    WriteFile(script, "[" + c.steps + R"(, {"do": "ok"}])");
    const auto r = RunDcservo("edit " + ShellQuote(setup) + " --dialog " + c.dialog +
                              " --script " + ShellQuote(script));
    ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
    ZelLoadResult saved = LoadSetupFile(setup);
    ASSERT_NE(saved.setup, nullptr) << saved.error;
    c.check(*saved.setup);
  }
}

}  // namespace
