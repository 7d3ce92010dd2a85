// Dialog scripts: what the parser refuses, and a script played into the small test dialog.

#include <nlohmann/json.hpp>

#include "host/zel_dialog_script.h"
#include "tests/host/test_dialog_fixture.h"

namespace {

using namespace dialog_testing;
using nlohmann::json;

TEST(DialogScriptParse, RefusesWhatItCannotPlay) {
  const std::pair<const char*, const char*> cases[] = {
      {"[{\"do\": \"click\", \"id\": 1", "t.json: not JSON"},
      {"{\"do\": \"click\"}", "only \"steps\""},
      {"{\"steps\": 3}", "must be a list"},
      {"[{\"do\": \"wait\", \"ms\": 5}, {\"do\": \"jump\"}]", "step 2: unknown step \"jump\""},
      {"[{\"id\": 3}]", "step 1: the step has no \"do\" field"},
      {"[{\"do\": \"click\", \"idd\": 3}]", "unknown field \"idd\""},
      {"[{\"do\": \"click\", \"id\": \"OK\"}]", "\"id\" must be a whole number"},
      {"[{\"do\": \"answer\", \"button\": \"maybe\"}]", "\"button\" must be ok, cancel"},
      {"[{\"do\": \"set\", \"param\": \"Vdc\"}]", "needs \"text\" or \"value\""},
      {"[{\"do\": \"wait\", \"ms\": -1}]", "\"ms\" must be from 0 to 3600000"},
      {"[{\"do\": \"wait\", \"ms\": 1e300}]", "\"ms\" must be from 0 to 3600000 (an hour)"},
      {"[{\"do\": \"dump\", \"parameters\": \"some\"}]", "\"parameters\" must be"},
      {"[{\"do\": \"select\", \"id\": 130}]", "needs \"index\", \"text\" or \"data\""},
      {"[3]", "a step is an object"},
      // Whole numbers are whole and fit their field; no key may silently win over another.
      {"[{\"do\": \"click\", \"id\": 1e300}]", "step 1: \"id\" must be a whole number"},
      {"[{\"do\": \"click\", \"id\": 2.5}]", "step 1: \"id\" must be a whole number"},
      {"[{\"do\": \"click\", \"id\": 4294967297}]", "\"id\" must be a whole number"},
      {"[{\"do\": \"spin\", \"id\": 1, \"steps\": 1e10}]", "\"steps\" must be a whole number"},
      {"[{\"do\": \"select\", \"id\": 1, \"data\": 1e30}]", "\"data\" must be a whole number"},
      {"[{\"do\": \"select\", \"id\": 1, \"data\": 18446744073709551615}]",
       "\"data\" must be a whole number"},
      {"[{\"do\": \"ok\", \"do\": \"cancel\"}]", "key \"do\" appears twice in one object"},
      {"{\"steps\": [], \"steps\": [{\"do\": \"ok\"}]}", "key \"steps\" appears twice"},
  };
  for (const auto& [text, error] : cases) {
    SCOPED_TRACE(text);
    const ZelScriptParse parsed = ZelParseDialogScript(text, "t.json");
    EXPECT_FALSE(parsed.ok);
    EXPECT_THAT(parsed.error, HasSubstr(error));
    EXPECT_TRUE(parsed.script.actions.empty());
  }
  EXPECT_TRUE(ZelParseDialogScript("{\"steps\": []}", "t").ok);
  std::string long_script = "[";
  for (std::size_t i = 0; i <= kZelMaxScriptSteps; ++i) long_script += "{\"do\": \"ok\"},";
  long_script.back() = ']';
  EXPECT_THAT(ZelParseDialogScript(long_script, "t").error,
              HasSubstr("t: a script holds at most 10000 steps, not 10001"));
  const ZelScriptParse whole = ZelParseDialogScript(
      R"([{"do": "select", "id": 2.0, "data": -9007199254740992, "index": 3}])", "t");
  ASSERT_TRUE(whole.ok) << whole.error;
  EXPECT_EQ(whole.script.actions[0].id, 2);
  EXPECT_EQ(*whole.script.actions[0].data, -9007199254740992LL);
  EXPECT_THAT(ZelLoadDialogScript("/dev/zero").error, HasSubstr("/dev/zero: is not a regular file"));
  EXPECT_FALSE(ZelLoadDialogScript("/no/such/script.json").ok);
}

class DialogScript : public SmallDialogTest {
 protected:
  ZelScriptResult Play(const std::string& text) {
    const ZelScriptParse parsed = ZelParseDialogScript(text, "t.json");
    EXPECT_TRUE(parsed.ok) << parsed.error;
    return ZelRunDialogScript(dlg_, parsed.script);
  }
};

TEST_F(DialogScript, PlaysUserStepsIntoTheDialog) {
  const ZelScriptResult r = Play(R"([
    {"do": "unit", "param": "vdc", "unit": "mV"},
    {"do": "set", "param": "Vdc", "text": "24000"},
    {"do": "expect", "param": "Vdc", "value": 24},
    {"do": "expect", "param": "Vdc", "value": 24000, "unit": "mV"},
    {"do": "click", "param": "isOverCurrent"},
    {"do": "select", "param": "ControlMode", "index": 2},
    {"do": "select", "param": "FilterType", "text": "Lead-lag"},
    {"do": "slide", "param": "Kp_C_scl", "position": 50},
    {"do": "spin", "param": "Kp_C_scl", "index": 1, "steps": -2},
    {"do": "set", "id": 104, "value": 11},
    {"do": "answer", "button": "ok", "text": "from 0 to 10 A"},
    {"do": "expect", "message": "outside the allowed range"},
    {"do": "click", "caption": "Next"},
    {"do": "expect", "id": 10100, "text": "Step 2. Set the supply."},
    {"do": "expect", "id": 10101, "enabled": true},
    {"do": "dump", "parameters": ["Vdc", "Nope"]},
    {"do": "ok"}
  ])");
  EXPECT_THAT(r.errors, IsEmpty());
  EXPECT_EQ(r.modal_result, kIdOk);
  EXPECT_EQ(Value("Vdc"), 24.0);
  EXPECT_EQ(Value("isOverCurrent"), 1.0);
  EXPECT_EQ(Value("ControlMode"), 2.0);
  EXPECT_EQ(Value("FilterType"), 8.0);
  EXPECT_DOUBLE_EQ(Value("Kp_C_scl"), 0.6);
  EXPECT_EQ(Value("IlimPS"), 5.0);

  ASSERT_EQ(r.dumps.size(), 1u);
  const json dump = json::parse(r.dumps[0]);
  EXPECT_EQ(dump["dialog"], "Small setup");
  EXPECT_EQ(dump["parameters"]["Vdc"]["value"], 24.0);
  EXPECT_EQ(dump["parameters"]["Vdc"]["shown_unit"], "mV");
  EXPECT_TRUE(dump["parameters"]["Nope"].is_null());
  const json* vdc_edit = nullptr;
  for (const json& c : dump["controls"])
    if (c["id"] == kVdcEdit) vdc_edit = &c;
  ASSERT_NE(vdc_edit, nullptr);
  EXPECT_EQ((*vdc_edit)["text"], "24000");
  EXPECT_EQ((*vdc_edit)["bound"]["parameter"], "Vdc");

  const json report = json::parse(r.report);
  EXPECT_EQ(report["result"], 1);
  ASSERT_EQ(report["messages"].size(), 1u);
  EXPECT_EQ(report["messages"][0]["answer"], "ok");
  EXPECT_EQ(report["messages"][0]["icon"], "warning");
}

TEST_F(DialogScript, AFailedStepStopsTheScriptAndNamesTheStep) {
  dlg_.on_apply = [](RecordingDialog& d) { d.EnableChild(kVdcEdit, 0); };
  const std::pair<const char*, const char*> cases[] = {
      {R"([{"do": "click", "id": 4242}, {"do": "ok"}])", "t.json: step 1 (click): \"Small setup\" has no control 4242"},
      {R"([{"do": "set", "param": "Nope", "value": 1}])", "no edit control is bound to \"Nope\""},
      {R"([{"do": "unit", "param": "Vdc", "unit": "A"}])", "\"A\" is not offered"},
      {R"([{"do": "expect", "param": "Vdc", "value": 47}])", "\"Vdc\" is 48, not 47"},
      {R"([{"do": "expect", "id": 102, "text": "47", "enabled": false}])",
       "control 102 shows \"48\"; control 102 is enabled"},
      {R"([{"do": "wait", "ms": 1, "dialog": "Child"}])", "the dialog in front is \"Small setup\""},
      {R"([{"do": "key", "key": "pagedown"}])", "unknown key"},
      {R"([{"do": "answer", "button": "yes"}])", "nothing was waiting"},
      {R"([{"do": "click", "caption": "Apply"}, {"do": "set", "param": "Vdc", "value": 30}])",
       "step 2 (set): refused: control 102 (edit) is disabled"},
  };
  for (const auto& [script, error] : cases) {
    SCOPED_TRACE(script);
    const ZelScriptResult r = Play(script);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_THAT(r.errors[0], HasSubstr(error));
    EXPECT_EQ(r.modal_result, kIdCancel);
    EXPECT_EQ(Value("Vdc"), 48.0);
  }
}

TEST_F(DialogScript, NestedDialogsAndWaitsInOneScript) {
  const ZelScriptResult r = Play(R"([
    {"do": "click", "id": 151},
    {"do": "set", "param": "Vdc", "value": 33, "dialog": "Child"},
    {"do": "wait", "ms": 250},
    {"do": "ok", "dialog": "Child"},
    {"do": "dump", "parameters": "none"},
    {"do": "cancel"}
  ])");
  EXPECT_THAT(r.errors, IsEmpty());
  EXPECT_EQ(r.modal_result, kIdCancel);
  EXPECT_THAT(dlg_.log, ElementsAre("child returned 1"));
  EXPECT_EQ(Value("Vdc"), 33.0);
  const json dump = json::parse(r.dumps.at(0));
  EXPECT_EQ(dump["time_ms"], 250.0);
  EXPECT_FALSE(dump.contains("parameters"));
}

TEST_F(DialogScript, RunnersRestoreTheInstalledBackend) {
  ZelHeadlessBackend mine;
  ZelScopedUiBackend installed(mine);
  Play("[]");
  EXPECT_EQ(&ZelUi(), &mine);
  // A dialog that something else opens while the script plays.
  const ZelScriptParse parsed = ZelParseDialogScript(R"([{"do": "ok"}])", "t.json");
  const ZelScriptResult r = ZelRunWithScript(parsed.script, [&] { return dlg_.DoModal(); });
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.modal_result, kIdOk);
  EXPECT_EQ(&ZelUi(), &mine);
}

TEST_F(DialogScript, DumpToAFile) {
  testing_support::TempDir dir;
  const std::string path = dir.File("state.json");
  const ZelScriptResult r = Play(R"([{"do": "dump", "file": ")" + path + R"("}])");
  EXPECT_TRUE(r.ok());
  const json dump = json::parse(testing_support::ReadFile(path));
  EXPECT_EQ(dump["template"], 9001);
  EXPECT_TRUE(dump["parameters"].contains("Kp_C_scl"));
}

TEST_F(DialogScript, StepsAfterTheDialogClosedAreNamedInANote) {
  const ZelScriptResult r = Play(R"([{"do": "ok"}, {"do": "expect", "param": "Vdc", "value": 1},
                                     {"do": "wait", "ms": 5}])");
  EXPECT_TRUE(r.ok());
  EXPECT_THAT(r.notes, testing::ElementsAre("t.json: step 2 (expect): not played, nor the 1 "
                                            "after it: the dialog had closed before"));
}

TEST_F(DialogScript, DumpsStopAtTheirLimitWithTheReason) {
  std::string steps = "[";
  for (int i = 0; i < 4000; ++i) steps += R"({"do": "dump", "parameters": "all"},)";
  steps += R"({"do": "ok"}])";
  const ZelScriptResult r = Play(steps);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_THAT(r.errors[0], HasSubstr("the dumps would pass 16 MiB, the most one run keeps"));
  std::size_t kept = 0;
  for (const std::string& d : r.dumps) kept += d.size();
  EXPECT_LE(kept, kZelMaxDumpBytes);
  EXPECT_GT(r.dumps.size(), 1u);
}

}  // namespace
