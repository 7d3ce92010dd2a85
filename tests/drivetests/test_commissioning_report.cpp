// The comparison of two commissioning records whose tracking errors are in different units, and
// the record of a speed step that placed a notch.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "drivetests/commissioning_report.h"
#include "drivetests/commissioning_report_markup.h"
#include "drivetests/notch_plot.h"
#include "host/zel_report_document.h"
#include "tests/support/test_setups.h"
#include "tests/support/test_tones.h"

namespace {

using nlohmann::ordered_json;
using ::testing::HasSubstr;
using ::testing::Not;

// A record of one speed step whose first cycle tracked with this RMS error: as this version
// writes it, or as an earlier one did (a `tracking` member, "succeeded").
ordered_json SpeedRecord(const char* unit, double rms_error, bool earlier_version) {
  const ordered_json figures = {{"measured", {{"rms_error", rms_error}}}, {"predicted", nullptr}};
  ordered_json step = {{"step", "speed"}, {"title", "Speed"}};
  if (earlier_version) {
    ordered_json tracking = figures;
    tracking["unit"] = unit;
    step.update({{"verdict", "succeeded"}, {"tracking", tracking}});
  } else {
    step.update({{"verdict", "passed"}, {"figures", figures}, {"unit", unit}});
  }
  return {{"steps", ordered_json::array({step})}, {"values", ordered_json::object()}};
}

// An earlier record in rad/s set beside one in rpm is compared in rpm (1 rad/s is
// 9.5493 rpm); units of another kind stay each with its own value, and differ. A record of
// an earlier version, which wrote its tracking figures apart, compares alike.
TEST(CommissioningComparison, TrackingErrorsInAnotherUnitOfTheSameKindCompareAsNumbers) {
  struct Case {
    const char* before_unit;
    double before;
    double now_rpm;
    const char* row;
  };
  const Case cases[] = {
      {"rad/s", 1.0, 9.549296585513721,
       "<tr><td>Tracking error (RMS), measured</td><td>9.549 rpm</td><td>9.549 rpm</td>"},
      {"rad/s", 1.0, 20.0,
       "<tr class=\"changed\"><td>Tracking error (RMS), measured</td><td>9.549 rpm</td>"
       "<td>20 rpm</td>"},
      {"A", 1.0, 1.0,
       "<tr class=\"changed\"><td>Tracking error (RMS), measured</td><td>1 A</td>"
       "<td>1 rpm</td>"},
  };
  for (const Case& c : cases) {
    for (bool earlier_version : {true, false}) {
      const std::string html = dcservo::ComparisonReportHtml(
          SpeedRecord("rpm", c.now_rpm, false), SpeedRecord(c.before_unit, c.before, earlier_version));
      EXPECT_THAT(html, HasSubstr(c.row)) << c.before_unit << " " << c.now_rpm;
      EXPECT_THAT(html, HasSubstr("<td>Verdict</td><td class=\"ok\">passed</td><td class=\"ok\">passed</td>"));
    }
  }
}

// An earlier record that someone made huge: every parameter of it and every change it lists
// is compared once, in time linear in their number (a search per name took hours), and each
// name is looked up where the record holds it.
TEST(CommissioningComparison, AHugeEarlierRecordIsComparedInOnePass) {
  constexpr int kValues = 40000, kChanges = 200000;
  std::string text = R"({"steps": [], "values": {)";
  for (int i = 0; i < kValues; ++i)
    text += (i ? "," : "") + ("\"P" + std::to_string(i) + "\": {\"value\": 1, \"unit\": \"A\"}");
  text += R"(}, "changes": [)";
  for (int i = 0; i < kChanges; ++i)
    text += (i ? "," : "") + ("{\"name\": \"C" + std::to_string(i) + "\", \"after\": 2}");
  text += "]}";
  std::string error;
  const ordered_json before = dcservo::ParseCommissioningReport(text, "E/report.json", error);
  ASSERT_EQ(error, "");
  ordered_json now = SpeedRecord("rpm", 1.0, false);
  now["values"]["P7"] = {{"value", 3}, {"unit", "A"}};
  const std::string html = dcservo::ComparisonReportHtml(now, before);
  EXPECT_THAT(html, HasSubstr("<tr class=\"changed\"><td>P7</td><td>1 A</td><td>3 A</td>"));
  EXPECT_THAT(html, HasSubstr("<td>C199999</td><td>2</td><td>&ndash;</td>"));
}

TEST(CommissioningComparison, AnEarlierRecordThatIsNotAReportIsRefusedNamingThePlace) {
  const std::pair<std::string, const char*> cases[] = {
      {R"({"steps": [], "values": {"Jt": )" + std::string(300000, '[') + "1" +
           std::string(300000, ']') + "}}",
       "E/report.json: not a commissioning report: line 1, column 94: arrays and objects "
       "nest deeper than 64"},
      {R"({"steps": [], "values": {}, "Steps": 1})",
       "E/report.json: not a commissioning report: key \"Steps\" appears twice"},
      {R"({"steps": {}, "values": {}})", "E/report.json: not a commissioning report"},
  };
  for (const auto& [text, refusal] : cases) {
    std::string error;
    const ordered_json report = dcservo::ParseCommissioningReport(text, "E/report.json", error);
    EXPECT_THAT(error, HasSubstr(refusal));
    EXPECT_TRUE(report.is_null());
  }
}

}  // namespace

namespace {

using namespace dcservo;

TrackingFigures Tracked(double rms_error_rpm) {
  TrackingFigures t{"rpm", 1.0, {}, std::nullopt};
  t.measured.rms_error = rms_error_rpm;
  return t;
}

// A speed step whose run failed on a resonance at 800 Hz and passed with the notch: the record
// shows the notch, both runs' ripple at the resonance and tracking, and the plot of both spectra.
// A table whose first row holds only headings gets that row as its head, so that a printed
// table repeats it on each page; every other table, and the text around, stays as written.
TEST(CommissioningReport, TablesWhoseFirstRowIsHeadingsGetItAsTheirHead) {
  struct Case {
    const char* page;
    const char* headed;
  };
  const Case cases[] = {
      {"<p>no table</p>", "<p>no table</p>"},
      {"<table><tr><th>a</th></tr><tr><td>1</td></tr></table>",
       "<table><thead><tr><th>a</th></tr></thead><tr><td>1</td></tr></table>"},
      {"<table><tr><th>a</th><td>1</td></tr></table>",
       "<table><tr><th>a</th><td>1</td></tr></table>"},
      {"x<table><tr><th>a</th></tr></table>y<table><tr><td>1</td></tr></table>"
       "<table><tr><th>b</th></tr></table>",
       "x<table><thead><tr><th>a</th></tr></thead></table>y<table><tr><td>1</td></tr></table>"
       "<table><thead><tr><th>b</th></tr></thead></table>"},
      {"<table><tr><th><table><tr><th>in</th></tr></table></th></tr></table>",
       "<table><thead><tr><th><table><thead><tr><th>in</th></tr></thead></thead></table></th>"
       "</tr></table>"},
      {"<table><tr><th>a</th></tr></table><table><tr><th>cut",
       "<table><thead><tr><th>a</th></tr></thead></table><table><tr><th>cut"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(dcservo::report_markup::WithTableHeads(c.page), c.headed) << c.page;
}

TEST(CommissioningReport, ANotchedSpeedStepShowsTheRunBeforeTheNotchBesideItsOwn) {
  const auto setup = testing_support::LoadBundledSetup();
  const CommissioningStep* speed = nullptr;
  for (const CommissioningStep& s : CommissioningSteps())
    if (std::string(s.word) == "speed") speed = &s;
  ASSERT_NE(speed, nullptr);
  NotchRun notch;
  notch.resonance = {800.0, 40.0, 2.0, true};
  notch.proposal.notch = {kPlaceSpeedControllerOutput, kNotch, 800.0, 0.7};
  notch.proposal.depth_db = -60.0;
  notch.filter = 2;
  notch.spectrum_before = testing_support::LoggedSpectrum(0.0005, 800, 0.45);
  notch.ripple_before_A = 0.45;
  notch.ripple_after_A = 0.003;
  notch.failure_before = "Target missed: the motor followed the reference";
  notch.tracking_before = Tracked(9.0);
  notch.svg = DrawNotchPlot(notch.spectrum_before,
                            testing_support::LoggedSpectrum(0.0005, 800, 0.003),
                            notch.proposal.notch, 0.0005).svg;
  StepOutcome step;
  step.step = speed;
  step.succeeded = true;
  step.tracking = Tracked(2.0);
  step.notch = notch;
  const CommissioningResult result{{speed}, {step}, {}, "", true};

  const ordered_json report = CommissioningReportJson(result, *setup, {});
  const ordered_json& n = report["steps"][0]["notch"];
  EXPECT_EQ(n["filter"], 2);
  EXPECT_EQ(n["location"], "Speed Controller Output");
  EXPECT_EQ(n["ripple_at_resonance_A"], (ordered_json{{"before", 0.45}, {"after", 0.003}}));
  EXPECT_EQ(n["before"]["verdict"], "failed");
  EXPECT_EQ(n["before"]["figures"]["measured"]["rms_error"], 9.0);
  EXPECT_EQ(n["resonance"]["frequency_hz"], 800.0);

  const std::string html = CommissioningReportHtml(report, {""}, {notch.svg});
  EXPECT_THAT(html, HasSubstr("Filter 2 took a notch at 800 Hz, Q 0.7, on the Speed Controller Output"));
  EXPECT_THAT(html, HasSubstr("Ripple at the resonance (RMS)</td><td>0.45</td><td>0.003</td>"));
  EXPECT_THAT(html, HasSubstr("Tracking error (RMS)</td><td>9</td><td>2</td>"));
  EXPECT_THAT(html, HasSubstr("<td class=\"bad\">failed</td><td class=\"ok\">passed</td>"));
  EXPECT_THAT(html, HasSubstr("<figure>" + notch.svg + "</figure>"));
  EXPECT_THAT(notch.svg, HasSubstr("With the notch"));
}

// The record names the drive the steps ran on: one in this process, or one on a link with its
// address, unit id and what it reported of itself (a serial it does not report says so).
TEST(CommissioningReport, NamesTheDriveItRanOn) {
  const auto setup = testing_support::LoadBundledSetup();
  struct Case {
    std::optional<ZelDriveDescription> drive;
    const char* connection;
    const char* shown;  // in the page
  };
  const Case cases[] = {
      {ZelDriveDescription{}, "simulated drive in this process",
       "<tr><th>Ran on</th><td>simulated drive in this process</td></tr>"},
      {ZelDriveDescription{"tcp://10.0.0.7:1502,3", 3, "DCS-48/10", "2.7", ""},
       "drive at tcp://10.0.0.7:1502,3, unit 3",
       "<tr><th>Serial number</th><td>not reported by the drive</td></tr>"},
  };
  const CommissioningResult result{{}, {}, {}, "", true};
  for (const Case& c : cases) {
    ReportFiles files;
    files.drive = c.drive;
    files.source = "/srv/axis1.json";
    const ordered_json report = CommissioningReportJson(result, *setup, files);
    const ordered_json& drive = report["drive"];
    EXPECT_EQ(drive["connection"], c.connection);
    EXPECT_EQ(drive["source"], "/srv/axis1.json");
    const std::string html = CommissioningReportHtml(report, {});
    EXPECT_THAT(html, HasSubstr(c.shown)) << c.connection;
    if (!c.drive->address.empty()) {
      EXPECT_EQ(drive["unit_id"], 3);
      EXPECT_EQ(drive["reported"]["firmware_id"], "2.7");
      EXPECT_TRUE(drive["reported"]["serial"].is_null());
      EXPECT_THAT(html, HasSubstr("<tr><th>Firmware (read from the drive)</th><td>2.7</td></tr>"));
    }
  }
}

// The page shows each value no longer than the drive tells apart, a chip register as the whole
// number it holds, and a meaning that fits (an on/off switch is a flag). A change within the
// drive's resolution (a supply detected within one level of its converter) would show the
// same number twice: the page leaves it out of the changes, the record keeps it.
TEST(CommissioningReport, ShowsValuesByTheDisplayRule) {
  const auto setup = testing_support::LoadBundledSetup();
  setup->FindParameter("BQ1A1")->SetValueInBaseUnit(-1676090001.0);
  const CommissioningResult result{
      {}, {}, {{"KPI", "", 19132.0, 19133.0}, {"Vdc", "", 48.0, 47.976539589442815}}, "", true};
  const ordered_json report = CommissioningReportJson(result, *setup, {});
  ASSERT_EQ(report["changes"].size(), 2u);
  EXPECT_THAT(CommissioningReportHtml(report, {}),
              Not(HasSubstr("<tr><td>Vdc</td><td>48</td><td>48</td>")));
  EXPECT_EQ(report["parameters"]["BQ1A1"]["resolution"], 1.0);
  EXPECT_EQ(report["parameters"]["SpeedForward"]["meaning"], "flag: 1 on, 0 off");
  const std::string html = CommissioningReportHtml(report, {});
  for (const char* row : {"<tr><td>Imax_Prot</td><td>9</td><td>A</td>",
                          "<tr><td>KPI</td><td>19132</td><td>19133</td>"})
    EXPECT_THAT(html, HasSubstr(row));
  const ordered_json earlier = report;
  ordered_json now = report;
  now["parameters"]["BQ1A1"]["value"] = -1600000003.0;
  EXPECT_THAT(ComparisonReportHtml(now, earlier),
              HasSubstr("<td>BQ1A1</td><td>-1676090001</td><td>-1600000003</td>"));
}

// The record hands its printer the page's typeface and cells' edge apart from the markup,
// whose style then says nothing of either: the printer applies what it is handed to every
// paragraph and cell, so an edge or a typeface that the style gave some element would be lost
// in print. The page saved for a browser keeps both in its style.
TEST(CommissioningReport, HandsItsPrinterThePrintStyleApartFromTheMarkup) {
  const auto setup = testing_support::LoadBundledSetup();
  const CommissioningResult result{{}, {}, {}, "", true};
  testing_support::TempDir tmp;
  ZelReportDocument printed;
  const ReportPrinter printer = [&printed](const ZelReportDocument& report, std::string& pdf) {
    printed = report;
    pdf = "%PDF-";
    return std::string();
  };
  RecordPaths paths;
  ASSERT_EQ(
      WriteCommissioningRecord(result, *setup, tmp.File("record"), {}, nullptr, printer, paths),
      "");
  EXPECT_EQ(printed.body_typeface, "sans-serif");
  ASSERT_TRUE(printed.cell_edge.has_value());
  EXPECT_EQ(printed.cell_edge->width_px, 1.0);
  EXPECT_EQ(printed.cell_edge->colour, 0xBBBBBBu);
  const std::size_t style = printed.html.find("<style>");
  ASSERT_NE(style, std::string::npos);
  std::string sheet = printed.html.substr(style, printed.html.find("</style>") - style);
  EXPECT_THAT(sheet, Not(HasSubstr("font-family")));
  sheet.erase(sheet.find("border-collapse"), 15);
  EXPECT_THAT(sheet, Not(HasSubstr("border")));
  const std::string saved = testing_support::ReadFile(paths.html);
  EXPECT_THAT(saved, HasSubstr("body{font-family:sans-serif;"));
  EXPECT_THAT(saved, HasSubstr("td,th{border:1px solid #bbb;"));
}

}  // namespace
