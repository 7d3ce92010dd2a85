// `dcservo commission` end to end: the real program on the simulated drive, the record it
// leaves (setup, report.json, report.html, CSVs), the stop at a failing step and the
// comparison of two commissionings.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "host/zel_format.h"
#include "host/zel_setup_file.h"
#include "tests/app/cli_runner.h"
#include "tests/support/run_json_schema.h"

namespace {

using nlohmann::json;
using namespace testing_support;
using ::testing::HasSubstr;
using ::testing::Not;

struct Commissioning {
  CliResult run;
  json report;
  std::string dir;
};

Commissioning Commission(const TempDir& tmp, const std::string& name, const std::string& args,
                         const std::string& environment = "") {
  Commissioning c;
  c.dir = tmp.File(name);
  c.run = RunDcservo("commission --out " + ShellQuote(c.dir) + " " + args, environment);
  const std::string text = ReadFile(c.dir + "/report.json");
  c.report = json::parse(text, nullptr, false);
  return c;
}

// Tags opened and closed in order, outside the elements that HTML leaves open.
bool TagsBalance(const std::string& html) {
  static const std::set<std::string> kVoid = {"meta", "br", "!DOCTYPE"};
  std::vector<std::string> open;
  for (std::size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
    const std::size_t end = html.find('>', at);
    if (end == std::string::npos) return false;
    const bool closing = html[at + 1] == '/';
    const std::size_t from = at + (closing ? 2 : 1);
    const std::string name = html.substr(from, html.find_first_of(" />", from) - from);
    const bool self_closed = html[end - 1] == '/';
    if (closing) {
      if (open.empty() || open.back() != name) return false;
      open.pop_back();
    } else if (!self_closed && !kVoid.count(name)) {
      open.push_back(name);
    }
  }
  return open.empty();
}

// The names of the parameters that the record lists as changed.
std::set<std::string> ChangedNames(const json& report) {
  std::set<std::string> names;
  for (const json& change : report["changes"]) names.insert(change["name"]);
  return names;
}

// The values of a logged run's first sample (its second line).
std::vector<double> FirstSample(const std::string& csv) {
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);
  std::vector<double> values;
  std::istringstream fields(line);
  for (std::string field; std::getline(fields, field, ',');) values.push_back(std::stod(field));
  return values;
}

// The lines of a plot's SVG that lie outside its plot area (the rectangle its clip path
// names, plot-LEFT-TOP-RIGHT-BOTTOM) anywhere: a curve that its axis does not hold. Empty
// when every clipped line is inside; "no curve" when there is none.
std::string CurvesOutsideThePlot(const std::string& svg) {
  int left = 0, top = 0, right = 0, bottom = 0;
  const std::size_t clip = svg.find("clip-path=\"url(#plot-");
  if (clip == std::string::npos ||
      std::sscanf(svg.c_str() + clip, "clip-path=\"url(#plot-%d-%d-%d-%d", &left, &top, &right,
                  &bottom) != 4)
    return "no curve";
  std::string outside;
  for (std::size_t at = svg.find("<polyline"); at != std::string::npos;
       at = svg.find("<polyline", at + 1)) {
    const std::size_t end = svg.find("/>", at);
    const std::string line = svg.substr(at, end - at);
    if (line.find("clip-path") == std::string::npos) continue;
    const std::size_t points = line.find("points=\"") + 8;
    std::istringstream xy(line.substr(points, line.find('"', points) - points));
    double x = 0.0, y = 0.0;
    char comma = 0;
    double lo = 1e300, hi = -1e300;
    while (xy >> x >> comma >> y) {
      lo = std::min(lo, y);
      hi = std::max(hi, y);
    }
    if (lo < top - 1.0 || hi > bottom + 1.0)
      outside += line.substr(0, 60) + "... spans y " + std::to_string(lo) + " to " +
                 std::to_string(hi) + "; ";
  }
  return outside;
}

// A PDF text string as Qt writes one: UTF-16BE after its byte order mark.
std::string PdfTextString(const std::string& ascii) {
  std::string out = "\xfe\xff";
  for (char c : ascii) out += std::string(1, '\0') + c;
  return out;
}

// The printed record: a PDF of more than one page titled with the drive. Qt compresses the
// pages' text and codes it by glyph, so the text itself is not looked for; the title in the
// document's metadata is. Its page size and vector plots are the printer's, checked on it.
void ExpectPrintedReport(const std::string& pdf, const std::string& description) {
  ASSERT_EQ(pdf.rfind("%PDF-", 0), 0u) << pdf.substr(0, 16);
  EXPECT_NE(pdf.find("%%EOF"), std::string::npos);
  EXPECT_GT(PdfPageCount(pdf), 1);
  EXPECT_NE(pdf.find("/Title (" + PdfTextString("Commissioning report: " + description)),
            std::string::npos);
}

// Each printed page says which it is of how many; the last one has room to sign.
void ExpectNumberedPages(const std::string& path) {
  const int pages = PdfPageCount(ReadFile(path));
  for (int page = 1; page <= pages; ++page) {
    EXPECT_THAT(PdfPageText(path, page), HasSubstr("page " + std::to_string(page) + " of " +
                                                   std::to_string(pages)))
        << "page " << page;
  }
  EXPECT_THAT(PdfPageText(path, pages), HasSubstr("Commissioned by"));
}

// A fault that each step fails on, and the text it fails with.
struct StepFault {
  const char* step;
  const char* fault;
  const char* text;
};
constexpr StepFault kStepFaults[] = {
    {"vdc", "vdc=5", "supply voltage 5 V, target from 12 V to 55 V"},
    {"current", "short_circuit", "Drive / Motor shortcircuit protection triggered."},
    {"inertia", "short_circuit", "Drive / Motor shortcircuit protection triggered."},
    {"frequency", "short_circuit", "Drive / Motor shortcircuit protection triggered."},
    {"speed", "enable_off", "Drive / Motor ENABLE input is in DISABLED state."},
    {"position", "short_circuit", "Drive / Motor shortcircuit protection triggered."},
};

// The bundled drive commissioned, its record reloaded; then a fault at each step in turn
// stops there with its text: the record keeps that step's logged run and saves no setup.
TEST(CommissionCommand, TheBundledDriveIsCommissionedAndAFaultAtAStepStopsThere) {
  TempDir tmp;
  const Commissioning c =
      Commission(tmp, "record", "--operator 'A. Engineer' --note 'axis 1 after <repair>'");
  ASSERT_EQ(c.run.exit_code, 0) << c.run.err;
  EXPECT_THAT(c.run.out, HasSubstr("report: " + c.dir + "/report.html"));
  ASSERT_FALSE(c.report.is_discarded());
  EXPECT_EQ(c.report["verdict"], "passed");
  EXPECT_THAT(c.run.out, HasSubstr("Commissioning passed\n"));
  // The record says which drive the steps ran on.
  EXPECT_EQ(c.report["drive"]["connection"], "simulated drive in this process");
  EXPECT_TRUE(c.report["drive"]["address"].is_null());
  // The record says when, with what and by whom, as a filed record must.
  const json& record = c.report["record"];
  EXPECT_THAT(record["time_utc"].get<std::string>(), ::testing::MatchesRegex(
                                                         "20[0-9][0-9]-[0-9][0-9]-[0-9][0-9]T.*Z"));
  EXPECT_THAT(record["program"].get<std::string>(), ::testing::StartsWith("dcservo 0."));
  EXPECT_EQ(record["operator"], "A. Engineer");
  EXPECT_EQ(record["note"], "axis 1 after <repair>");
  EXPECT_TRUE(c.report["not_run"].empty());
  const std::string html = ReadFile(c.dir + "/report.html");
  EXPECT_TRUE(TagsBalance(html));
  EXPECT_THAT(html, HasSubstr("<td>A. Engineer</td>"));
  EXPECT_THAT(html, HasSubstr("axis 1 after &lt;repair&gt;"));
  EXPECT_EQ(html.find("http://") , html.find("http://www.w3.org/2000/svg"))
      << "the page fetches nothing";
  const json& steps = c.report["steps"];
  ASSERT_EQ(steps.size(), std::size(kStepFaults));
  for (const json& step : steps) {
    const std::string word = step["step"];
    EXPECT_EQ(step["verdict"], "passed") << word << ": " << step["failure"];
    ExpectRunShape(step, word);
    if (word == "speed" || word == "position") ExpectTrackingRun(step, word);
    for (const json& t : step["targets"]) EXPECT_TRUE(t["met"].get<bool>()) << word << t;
    EXPECT_THAT(html, HasSubstr("id=\"step-" + word + "\"")) << word;
    EXPECT_THAT(c.run.out, HasSubstr(step["title"].get<std::string>())) << word;
    // Every step that ran keeps its run, the steps that watch theirs rather than log them too.
    ASSERT_FALSE(step["csv"].get<std::string>().empty()) << word;
    EXPECT_EQ(step["files"]["csv"], step["csv"]) << word;
    const std::string csv = ReadFile(c.dir + "/" + step["csv"].get<std::string>());
    EXPECT_GE(std::count(csv.begin(), csv.end(), '\n'), 2) << word << " logged nothing";
  }
  // The position step starts where the earlier steps left the shaft, far from 0: its plot's
  // axis holds its curves, drawn from that start.
  const std::size_t position = html.find("id=\"step-position\"");
  ASSERT_NE(position, std::string::npos);
  const std::size_t svg = html.find("<svg", position);
  ASSERT_NE(svg, std::string::npos);
  EXPECT_EQ(CurvesOutsideThePlot(html.substr(svg, html.find("</svg>", svg) - svg)), "");
  // The position step is shown from where the earlier steps left the shaft, its prediction
  // (the last column) on the same axis.
  const std::vector<double> first = FirstSample(ReadFile(c.dir + "/position.csv"));
  ASSERT_EQ(first.size(), 6u);
  EXPECT_EQ(first[2], 0.0);
  EXPECT_NEAR(first[5], first[2], 0.01);
  ExpectPrintedReport(ReadFile(c.dir + "/report.pdf"), c.report["drive"]["description"]);
  ExpectNumberedPages(c.dir + "/report.pdf");
  EXPECT_TRUE(c.report["warnings"].empty()) << c.report["warnings"];
  const ZelLoadResult commissioned = LoadSetupFile(c.dir + "/setup.json");
  ASSERT_TRUE(commissioned.setup) << commissioned.error;
  EXPECT_EQ(c.report["setup"], "setup.json");
  EXPECT_EQ(SetupToText(*commissioned.setup), ReadFile(c.dir + "/setup.json"));
  std::set<std::string> earlier_gains;  // of the steps before the faulted one
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const StepFault& f = kStepFaults[i];
    ASSERT_EQ(steps[i]["step"], f.step);
    const Commissioning faulted =
        Commission(tmp, f.step, std::string("--fault-at ") + f.step + ":" + f.fault);
    EXPECT_EQ(faulted.run.exit_code, 1) << f.step;
    EXPECT_THAT(faulted.run.err, HasSubstr(f.text)) << f.step;
    ASSERT_FALSE(faulted.report.is_discarded()) << f.step;
    EXPECT_EQ(faulted.report["verdict"], "failed");
    EXPECT_EQ(faulted.report["failed_step"], f.step);
    EXPECT_THAT(faulted.report["failure"].get<std::string>(), HasSubstr(f.text));
    EXPECT_NE(faulted.report["check"], "");
    EXPECT_EQ(faulted.report["steps"].size(), i + 1);
    EXPECT_EQ(faulted.report["not_run"].size(), steps.size() - i - 1);
    const std::string faulted_html = ReadFile(faulted.dir + "/report.html");
    EXPECT_THAT(faulted_html, HasSubstr(f.text));
    // Work that failed saves no setup; the record says so.
    EXPECT_FALSE(std::filesystem::exists(faulted.dir + "/setup.json")) << f.step;
    EXPECT_TRUE(faulted.report["setup"].is_null()) << f.step;
    EXPECT_THAT(faulted_html, HasSubstr("a commissioning that failed saves no setup"));
    // The failed step's run stays in the record as far as the drive logged it.
    const json& failed = faulted.report["steps"].back();
    const bool logs = !steps[i]["csv"].get<std::string>().empty();
    EXPECT_EQ(failed["csv"].get<std::string>().empty(), !logs) << f.step;
    if (logs) {
      const std::string csv = ReadFile(faulted.dir + "/" + failed["csv"].get<std::string>());
      const auto lines = std::count(csv.begin(), csv.end(), '\n');
      EXPECT_GE(lines, 2) << f.step << " logged nothing";
      // One sample is a value among the step's results, not a dot on a made-up axis.
      const std::string section = faulted_html.substr(faulted_html.find("id=\"step-" + std::string(f.step)));
      EXPECT_EQ(section.find("<svg") != std::string::npos, lines > 2) << f.step;
      // A run that a protection ended predicted nothing: no prediction is drawn, not even
      // as a line at 0.
      if (std::string_view(f.step) == "current") {
        EXPECT_THAT(section, HasSubstr("Motor_Current"));
        EXPECT_THAT(section, Not(HasSubstr("Predicted current")));
      }
    }
    ExpectRunShape(failed, f.step);
    // The cause and what to do come first, the test's own text after them.
    const std::size_t message = faulted_html.find("<br>Message: ");
    const std::size_t cause = faulted_html.find(faulted.report["diagnosis"].is_null() ? "Check: " : "Cause: ");
    EXPECT_LT(cause, message) << f.step;
    // What the steps before accepted shows as changed; nothing that only this step sets.
    const std::set<std::string> changed = ChangedNames(faulted.report);
    for (const auto& [name, v] : steps[i]["gains"].items())
      EXPECT_TRUE(earlier_gains.count(name) || !changed.count(name)) << f.step << " " << name;
    for (const auto& [name, v] : steps[i]["gains"].items()) earlier_gains.insert(name);
  }
}

// `params` lines by name: NAME VALUE [UNIT] [RANGE] MEANING.
std::map<std::string, std::string> ParamsLines() {
  const CliResult r = RunDcservo("params");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::map<std::string, std::string> lines;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) lines[line.substr(0, line.find(' '))] = line;
  return lines;
}

// Every parameter that the record shows (the main values, the changes, each step's gains,
// the speed and position loops' too) says its unit and what it is, as `params` says it.
TEST(CommissionCommand, EveryValueInTheRecordCarriesItsUnitAndTheMeaningThatParamsGives) {
  TempDir tmp;
  const Commissioning c = Commission(tmp, "meanings", "");
  ASSERT_EQ(c.run.exit_code, 0) << c.run.err;
  const auto params = ParamsLines();
  const std::string html = ReadFile(c.dir + "/report.html");
  auto expect_described = [&](const std::string& name, const json& v, const std::string& where,
                              bool on_page = true) {
    SCOPED_TRACE(where + " " + name);
    ASSERT_TRUE(v.contains("unit") && v["unit"].is_string()) << v;
    ASSERT_TRUE(v.contains("meaning") && v["meaning"].is_string()) << v;
    const std::string meaning = v["meaning"];
    EXPECT_FALSE(meaning.empty());
    ASSERT_TRUE(params.count(name));
    EXPECT_THAT(params.at(name), ::testing::EndsWith(" " + meaning));
    if (on_page) EXPECT_THAT(html, HasSubstr("<td>" + ZelEscapeMarkup(meaning) + "</td>"));
  };
  // A change within the drive's resolution would read the same number twice: the page leaves
  // it out (the record keeps it).
  auto shown_apart = [](const json& change) {
    const json& step = change["resolution"];
    if (!step.is_number() || !change["before"].is_number() || !change["after"].is_number())
      return true;
    return ZelFormatValue(change["before"].get<double>(), step.get<double>()) !=
           ZelFormatValue(change["after"].get<double>(), step.get<double>());
  };
  for (const auto& [name, v] : c.report["values"].items()) expect_described(name, v, "values");
  ASSERT_FALSE(c.report["changes"].empty());
  for (const json& change : c.report["changes"])
    expect_described(change["name"], change, "changes", shown_apart(change));
  for (const json& step : c.report["steps"]) {
    const std::string word = step["step"];
    if (word == "current" || word == "speed" || word == "position") {
      EXPECT_FALSE(step["gains"].empty()) << word;
    }
    for (const auto& [name, v] : step["gains"].items()) expect_described(name, v, word);
  }
  // The gains are those the drive was left with: the speed loop's mantissa is the setup's.
  const json* speed = nullptr;
  for (const json& step : c.report["steps"])
    if (step["step"] == "speed") speed = &step;
  ASSERT_NE(speed, nullptr);
  EXPECT_EQ((*speed)["gains"]["KPS"]["value"].get<double>(),
            SavedValue(c.dir + "/setup.json", "KPS"));
}

// The control mode, however it was set, chooses the steps; an option that the control mode
// decides is reported as replaced rather than silently obeyed or ignored.
TEST(CommissionCommand, TheControlModeChoosesTheSteps) {
  TempDir tmp;
  struct Case {
    const char* args;
    std::vector<std::string> steps;
    const char* err;  // on stderr, or ""
  };
  const Case cases[] = {
      {"--set ControlMode=speed", {"vdc", "current", "inertia", "frequency", "speed"}, ""},
      {"--set ControlMode=current", {"vdc", "current"}, ""},
      // The test's last view (the scope, several cycles) is not the record's: the tuning
      // steps run one cycle through the data logger, as `test` does.
      {"--set OnlinePlotS=1 --set MultiCycleS=1 --set OnlinePlotP=1",
       {"vdc", "current", "inertia", "frequency", "speed", "position"},
       ""},
      {"--set ControlMode=current --option IsClosedSpeed=1",
       {"vdc", "current"},
       "option IsClosedSpeed=1 is now \"0\""},
  };
  int n = 0;
  for (const Case& k : cases) {
    const Commissioning c = Commission(tmp, "mode" + std::to_string(n++), k.args);
    ASSERT_EQ(c.run.exit_code, 0) << k.args << "\n" << c.run.err;
    std::vector<std::string> ran;
    for (const json& step : c.report["steps"]) ran.push_back(step["step"]);
    EXPECT_EQ(ran, k.steps) << k.args;
    EXPECT_TRUE(c.report["not_run"].empty()) << k.args;
    EXPECT_THAT(c.run.err, HasSubstr(k.err)) << k.args;
    // The changes are the closed loops': the open loops' limits that the derivation moved
    // with the current limit are no change to this drive.
    const bool position = std::find(ran.begin(), ran.end(), "position") != ran.end();
    const bool speed = std::find(ran.begin(), ran.end(), "speed") != ran.end();
    for (const json& change : c.report["changes"]) {
      const std::string name = change["name"];
      for (const char* open : {"SATP", "IMAXP", "IPSatP", "Kp_P_scl"})
        EXPECT_TRUE(position || name != open) << k.args << ": " << name;
      for (const char* open : {"SATS", "IMAXS", "Kp_S_scl", "TestMaxSpeed"})
        EXPECT_TRUE(speed || name != open) << k.args << ": " << name;
    }
    if (speed) {
      // Columns: time, reference, speed. Only the first sample tells: the profile's ramp moves
      // the shaft before the logged reference has moved by a whole count.
      EXPECT_EQ(FirstSample(ReadFile(c.dir + "/speed.csv")).at(2), 0.0)
          << "the speed step starts once the motor that the inertia test spun is at rest";
      // Only the logger's upload identifies the friction; a sweep of the scope does not.
      for (const json& step : c.report["steps"]) {
        if (step["step"] == "speed") {
          EXPECT_TRUE(step["identified"].contains("friction_coulomb")) << k.args;
        }
      }
    }
  }
}

// A shaft blocked as a fault stays blocked when the step that needs it free asks for it:
// the step fails and the record names the cause, the test's own text kept beside it.
TEST(CommissionCommand, AShaftBlockedByAFaultFailsTheStepThatNeedsItFreeAndSaysWhy) {
  TempDir tmp;
  const Commissioning c = Commission(tmp, "blocked", "--fault shaft_blocked");
  EXPECT_EQ(c.run.exit_code, 1) << c.run.err;
  ASSERT_FALSE(c.report.is_discarded());
  EXPECT_EQ(c.report["failed_step"], "inertia");
  EXPECT_THAT(c.report["failure"].get<std::string>(), HasSubstr("measured speed is ZERO"));
  EXPECT_THAT(c.report["diagnosis"]["cause"].get<std::string>(),
              HasSubstr("a brake, a mechanical stop"));
  EXPECT_EQ(c.report["check"], c.report["diagnosis"]["advice"]);
  EXPECT_THAT(c.run.err, HasSubstr("dcservo: cause: the shaft did not turn"));
  EXPECT_EQ(c.run.err.find('\t'), std::string::npos);
  const std::string html = ReadFile(c.dir + "/report.html");
  EXPECT_THAT(html, HasSubstr("<br>Cause: the shaft did not turn"));
  EXPECT_EQ(html.find('\t'), std::string::npos);
}

TEST(CommissionCommand, BadUseIsRefusedAndWritesNothing) {
  TempDir tmp;
  const std::string out = tmp.File("out");
  const std::pair<const char*, const char*> cases[] = {
      // arguments, and the text on stderr
      {"--fault-at nosuch:short_circuit", "nosuch"},
      {"--fault-at current", "STEP:NAME"},
      {"--fault-at current:no_such_fault", "no_such_fault"},
      {"--fault no_such_fault", "no_such_fault"},
      {"--compare /nonexistent/dir", "/nonexistent/dir"},
      {"--set NoSuchParameter=1", "NoSuchParameter"},
      {"--option NoSuchOption=1", "NoSuchOption"},
      // Motor data the drive cannot serve, before anything runs.
      {"--set Jm=1e-4", "the motor's inertia 0.0001 kgm^2 exceeds the total inertia"},
      {"--set ImaxM=12", "the motor's peak current 12 A exceeds the drive's 10 A"},
  };
  for (const auto& [args, text] : cases)
    ExpectRun({"commission --out " + ShellQuote(out) + " " + args, 2, text}, {out});
  EXPECT_EQ(RunDcservo("commission").exit_code, 2) << "--out is required";
}

TEST(CommissionCommand, TheInputSetupIsNeverWrittenAndTwoRunsCompare) {
  TempDir tmp;
  const std::string input = tmp.File("axis.json");
  std::filesystem::copy_file(BundledSetupPath(), input);
  const std::string before = ReadFile(input);
  const Commissioning delivered = Commission(tmp, "delivered", ShellQuote(input));
  ASSERT_EQ(delivered.run.exit_code, 0) << delivered.run.err;
  const Commissioning repaired =
      Commission(tmp, "repaired",
                 ShellQuote(input) + " --fault resistance=0.6 --compare " + ShellQuote(delivered.dir));
  ASSERT_EQ(repaired.run.exit_code, 0) << repaired.run.err;
  EXPECT_EQ(ReadFile(input), before);
  const std::string compare = ReadFile(repaired.dir + "/compare.html");
  EXPECT_TRUE(TagsBalance(compare));
  for (const json& step : repaired.report["steps"])
    EXPECT_THAT(compare, HasSubstr(step["title"].get<std::string>()));
  EXPECT_THAT(compare, HasSubstr("class=\"changed\"")) << "a faster current loop shows";
  // Whatever either run changed has its row, with both values.
  for (const Commissioning* run : {&delivered, &repaired}) {
    for (const json& change : run->report["changes"]) {
      const std::string name = change["name"];
      EXPECT_THAT(compare, ::testing::ContainsRegex("<td>" + name + "</td><td>[-0-9]"))
          << name;
    }
  }
  // The tuning steps' own figures, of both runs, not dashes.
  for (const char* figure : {"Tracking error \\(RMS\\), measured", "Overshoot, predicted"})
    EXPECT_THAT(compare, ::testing::ContainsRegex(std::string("<td>") + figure +
                                                  "</td><td>[0-9][^<]*</td><td>[0-9]"))
        << figure;
}

// Without Qt's module the record is written all the same, and says why it has no PDF. An
// earlier record that lacks what this version writes (or that a person trimmed) is compared
// as far as it goes.
TEST(CommissionCommand, WithoutTheWindowModuleTheRecordHasNoPdfAndATrimmedOneStillCompares) {
  TempDir tmp;
  const std::string earlier = tmp.File("earlier");
  std::filesystem::create_directory(earlier);
  WriteFile(earlier + "/report.json",
            R"({"steps": [{"step": "speed", "figures": 3}, 7], "values": {"Jt": {}},
                "changes": [{"name": "Jt", "after": 4e-5}], "drive": []})");
  const Commissioning c =
      Commission(tmp, "now", "--set ControlMode=current --compare " + ShellQuote(earlier),
                 "DCSERVO_GUI=" + ShellQuote(tmp.File("missing.so")));
  ASSERT_EQ(c.run.exit_code, 0) << c.run.err;
  EXPECT_THAT(c.run.err, HasSubstr("warning: report.pdf was not written"));
  EXPECT_FALSE(std::filesystem::exists(c.dir + "/report.pdf"));
  EXPECT_TRUE(std::filesystem::exists(c.dir + "/setup.json"));
  ASSERT_EQ(c.report["warnings"].size(), 1u);
  EXPECT_THAT(c.report["warnings"][0].get<std::string>(),
              ::testing::AllOf(HasSubstr("report.pdf was not written"), HasSubstr("missing.so")));
  EXPECT_THAT(ReadFile(c.dir + "/report.html"), HasSubstr("<p>Note: report.pdf was not written"));
  const std::string compare = ReadFile(c.dir + "/compare.html");
  EXPECT_TRUE(TagsBalance(compare));
  EXPECT_THAT(compare, HasSubstr("<td>Jt</td><td>4e-05</td>"));
  EXPECT_THAT(compare, HasSubstr("<td>Verdict</td><td>not run</td>"));
}

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename());
  return names;
}

TEST(CommissionCommand, TheRecordFolderHoldsOneRunAndNeverTheInputOrTheUsersFiles) {
  TempDir tmp;
  const Commissioning full = Commission(tmp, "axis", "");
  ASSERT_EQ(full.run.exit_code, 0) << full.run.err;
  const std::string record_setup = full.dir + "/setup.json", link = tmp.File("link.json");
  const std::string kept = ReadFile(record_setup);
  std::filesystem::create_symlink(record_setup, link);
  const std::string out = " --out " + ShellQuote(full.dir);
  ExpectRuns({{"commission " + ShellQuote(record_setup) + out, 2, "its setup.json is the input setup"},
              {"commission " + ShellQuote(link) + out + "/", 2, "its setup.json is the input setup"}});
  EXPECT_EQ(ReadFile(record_setup), kept);

  // A shorter run into the same folder: the steps that did not run leave no CSV behind, and
  // the earlier run's setup does not stay beside a record of work that failed.
  const Commissioning failed = Commission(tmp, "axis", "--fault-at speed:short_circuit");
  ASSERT_EQ(failed.run.exit_code, 1) << failed.run.err;
  std::set<std::string> expected = {"report.json", "report.html", "report.pdf"};
  for (const json& step : failed.report["steps"]) {
    if (!step["csv"].get<std::string>().empty()) expected.insert(step["csv"].get<std::string>());
  }
  EXPECT_EQ(Listing(failed.dir), expected);
  WriteFile(failed.dir + "/notes.txt", "the user's");
  ExpectRun({"commission" + out, 2, "holds \"notes.txt\", which this program did not write there"});
  EXPECT_EQ(ReadFile(failed.dir + "/notes.txt"), "the user's");
}

}  // namespace
