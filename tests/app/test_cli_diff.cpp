// `dcservo diff A B` end to end: two setups that differ in known places, compared by the real
// program in text and JSON, and the inputs it refuses.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/app/cli_runner.h"

using namespace testing_support;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string kBundled = DCSERVO_RESOURCE_DIR "/setups/default.json";

// The bundled drive with a lower supply, an option cleared, another description and the
// over-current protection gone.
nlohmann::json ChangedSetup() {
  nlohmann::json setup = nlohmann::json::parse(ReadFile(kBundled));
  nlohmann::json kept = nlohmann::json::array();
  for (nlohmann::json& p : setup["parameters"]) {
    if (p["name"] == "Vdc") p["value"] = 36.0;
    if (p["name"] != "Imax_Prot") kept.push_back(p);
  }
  setup["parameters"] = kept;
  setup["options"]["hasOscilloscope"] = "0";
  setup["identity"]["description"] = "DS-48/10 on the second axis";
  return setup;
}

class DiffCommand : public ::testing::Test {
 protected:
  DiffCommand() { WriteFile(changed_, ChangedSetup().dump(1)); }
  TempDir dir_;
  const std::string changed_ = dir_.File("changed.json");
};

// The line of `name` in the text output, or "".
std::string LineOf(const std::string& out, const std::string& name) {
  const auto at = out.find("  " + name + " ");
  return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}

TEST_F(DiffCommand, ListsEachDifferenceInUnitsUnderItsDialogAndExitsOneAsDiffDoes) {
  const CliResult r = RunDcservo("diff " + ShellQuote(kBundled) + " " + ShellQuote(changed_));
  ASSERT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(LineOf(r.out, "Vdc"), testing::MatchesRegex(".* 48 V +36 V"));
  // 8.99988 A kept in converter counts shows as the drive holds it.
  EXPECT_THAT(LineOf(r.out, "Imax_Prot"), testing::MatchesRegex(".* 9 A +\\(absent\\)"));
  EXPECT_THAT(LineOf(r.out, "hasOscilloscope"), testing::MatchesRegex(".* \"1\" +\"0\""));
  EXPECT_THAT(LineOf(r.out, "description"), HasSubstr("\"DS-48/10 DC servo drive\""));
  // Grouped as the dialogs show them; what no dialog shows comes after, under its kind.
  EXPECT_THAT(r.out, HasSubstr("\nDrive Setup"));
  EXPECT_LT(r.out.find("\nDrive Setup"), r.out.find("\nOptions\n"));
  EXPECT_LT(r.out.find("\nOptions\n"), r.out.find("\nIdentity\n"));
  EXPECT_THAT(r.out, HasSubstr("4 differences."));
  // Nothing that stayed the same is listed.
  EXPECT_EQ(LineOf(r.out, "Ts_S"), "");
}

TEST_F(DiffCommand, JsonGivesTheSameDifferencesAsNumbersWithTheirUnits) {
  const CliResult r =
      RunDcservo("diff --json " + ShellQuote(kBundled) + " " + ShellQuote(changed_));
  ASSERT_EQ(r.exit_code, 1) << r.err;
  const nlohmann::json report = nlohmann::json::parse(r.out);
  EXPECT_EQ(report["differences"], 4);
  std::map<std::string, nlohmann::json> by_name;
  for (const nlohmann::json& g : report["groups"]) {
    EXPECT_TRUE(g["dialog"].is_string());
    for (const nlohmann::json& e : g["entries"]) by_name[e["name"]] = e;
  }
  EXPECT_EQ(by_name["Vdc"]["a"], 48.0);
  EXPECT_EQ(by_name["Vdc"]["b"], 36.0);
  EXPECT_EQ(by_name["Vdc"]["unit"], "V");
  EXPECT_EQ(by_name["Imax_Prot"]["a"], 9.0);  // shown as the drive holds it, not 8.99988
  EXPECT_TRUE(by_name["Imax_Prot"]["b"].is_null());
  EXPECT_EQ(by_name["hasOscilloscope"]["b"], "0");
}

TEST_F(DiffCommand, ASetupIsTheSameAsItselfAndBadInputExitsTwoWithThePlace) {
  const std::string broken = dir_.File("broken.json");
  WriteFile(broken,
            "{\"format\": \"dcservo-setup\", \"version\": 1, \"parameters\": [\n  {\"name\": ");
  ExpectRuns({
      {"diff " + ShellQuote(kBundled) + " " + ShellQuote(kBundled), 0, "",
       "The setups are the same."},
      {"diff " + ShellQuote(kBundled) + " " + ShellQuote(dir_.File("none.json")), 2, "none.json"},
      {"diff " + ShellQuote(broken) + " " + ShellQuote(kBundled), 2, "broken.json"},
      {"diff " + ShellQuote(kBundled), 2, "B"},
  });
  // A setup that the dialogs would miss parameters in compares all the same, without a word.
  const std::string small = dir_.File("small.json");
  WriteFile(small, R"({"format": "dcservo-setup", "version": 1,
                       "parameters": [{"name": "Vdc", "unit": "V", "value": 48}]})");
  const CliResult same = RunDcservo("diff " + ShellQuote(small) + " " + ShellQuote(small));
  EXPECT_EQ(same.exit_code, 0) << same.err;
  EXPECT_EQ(same.err, "");

  const CliResult r = RunDcservo("diff " + ShellQuote(broken) + " " + ShellQuote(kBundled));
  EXPECT_THAT(r.err, HasSubstr("line 2")) << r.err;
  EXPECT_THAT(r.out, Not(HasSubstr("differences")));
}

}  // namespace
