#include "drivetests/commissioning_report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "drivetests/commissioning_report_markup.h"
#include "host/zel_format.h"

namespace dcservo {

namespace {

using nlohmann::ordered_json;

}  // namespace

namespace report_markup {

std::string Escape(const std::string& text) { return ZelEscapeMarkup(text); }

// A member that a report read back from disk lacks (an earlier version did not write it, or
// a person edited the file) reads as null, as one that is there but empty.
const ordered_json& Field(const ordered_json& j, const char* key) {
  static const ordered_json kNull;
  if (!j.is_object()) return kNull;
  const auto it = j.find(key);
  return it == j.end() ? kNull : *it;
}

std::string Number(const ordered_json& v) {
  if (!v.is_number()) return "&ndash;";
  const double value = v.get<double>();
  return ZelFormatValue(value, ZelFigureStep(value));
}

std::string Text(const ordered_json& v) { return v.is_string() ? v.get<std::string>() : ""; }

// A value by the display rule: no more digits than the drive tells apart at `resolution`
// (in the value's unit), a whole-number register as a whole number. Without a resolution
// (a value the setup holds at full precision, a record of an earlier version) four
// significant digits, as every figure of a run.
std::string Shown(const ordered_json& value, const ordered_json& resolution) {
  if (!value.is_number()) return "&ndash;";
  const double v = value.get<double>();
  const double step = resolution.is_number() ? resolution.get<double>() : 0.0;
  if (!(step > 0.0)) return Number(value);
  if (step >= 1.0 && std::abs(v) < 1e15 && v == std::nearbyint(v)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
  }
  return ZelFormatValue(v, step);
}

// A parameter's value as the record shows it, from its entry ({value, unit, resolution}).
std::string ShownEntry(const ordered_json& entry) {
  return Shown(Field(entry, "value"), Field(entry, "resolution"));
}

std::string VerdictCell(const ordered_json& verdict) {
  const bool ok = VerdictPassed(verdict);
  return std::string("<td class=\"") + (ok ? "ok" : "bad") + "\">" +
         VerdictWord(ok) + "</td>";
}

// What a step of a record tracked, as {unit, measured, predicted}: from its figures, or
// from the `tracking` member of a record of an earlier version; null for a step that follows
// no profile.
bool HoldsTracking(const ordered_json& figures) {
  return Field(Field(figures, "measured"), "rms_error").is_number() ||
         Field(Field(figures, "predicted"), "rms_error").is_number();
}

ordered_json TrackingOf(const ordered_json& step) {
  if (const ordered_json& old = Field(step, "tracking"); old.is_object()) return old;
  const ordered_json& figures = Field(step, "figures");
  if (!HoldsTracking(figures)) return nullptr;
  return {{"unit", Field(step, "unit")},
          {"measured", Field(figures, "measured")},
          {"predicted", Field(figures, "predicted")}};
}

// A step's figures of a step response (the current step); null where it tracked a profile.
ordered_json StepResponseOf(const ordered_json& step) {
  const ordered_json& figures = Field(step, "figures");
  return HoldsTracking(figures) ? ordered_json() : figures;
}


namespace {

// A colour as a style sheet writes it: three digits where each channel's two agree.
std::string CssColour(std::uint32_t rgb) {
  char text[8];
  const bool doubled = (rgb & 0x0F0F0F) * 0x10 == (rgb & 0xF0F0F0);
  if (doubled)
    std::snprintf(text, sizeof text, "#%x%x%x", (rgb >> 16) & 0xF, (rgb >> 8) & 0xF, rgb & 0xF);
  else
    std::snprintf(text, sizeof text, "#%06x", rgb & 0xFFFFFF);
  return text;
}

std::string RecordPageStyle(PrintStyle print_style) {
  std::string typeface, edge;
  if (print_style == PrintStyle::kInStyle) {
    typeface = "font-family:" + std::string(kPageTypeface) + ";";
    edge = "border:" + ZelFormatValue(kPageCellEdge.width_px, 0.0) + "px solid " +
           CssColour(kPageCellEdge.colour) + ";";
  }
  return "body{" + typeface + "max-width:60em;margin:1em auto;color:#222}" +
         "table{border-collapse:collapse;margin:.5em 0}td,th{" + edge +
         "padding:.2em .6em;text-align:left}th{background:#eee}"
         ".ok{color:#070;font-weight:bold}.bad{color:#b00;font-weight:bold}"
         ".changed{background:#ffd}svg{max-width:100%;height:auto}";
}

}  // namespace

std::string PageStart(const std::string& title, PrintStyle print_style) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
         Escape(title) + "</title><style>" + RecordPageStyle(print_style) +
         "</style></head><body>\n<h1>" + Escape(title) + "</h1>\n";
}

// A table whose first row holds only headings repeats it on every page it runs onto: its
// first row becomes the table's head.
std::string WithTableHeads(std::string html) {
  constexpr std::string_view open = "<table><tr>", row_end = "</tr>";
  // Where the heads' tags go, in the page as it stands: inserted one at a time, each would
  // move the rest of a page that carries its plots inline.
  std::vector<std::pair<std::size_t, std::string_view>> tags;
  const std::string_view page = html;
  for (std::size_t at = page.find(open); at != std::string::npos; at = page.find(open, at + 1)) {
    const std::size_t row = at + std::string_view("<table>").size();
    const std::size_t end = page.find(row_end, row);
    if (end == std::string::npos) break;
    if (page.compare(row, 8, "<tr><th>") != 0 ||
        page.substr(row, end - row).find("<td") != std::string::npos)
      continue;
    tags.emplace_back(row, "<thead>");
    tags.emplace_back(end + row_end.size(), "</thead>");
  }
  if (tags.empty()) return html;
  // A table standing in a head row has its tags inside that head's.
  std::stable_sort(tags.begin(), tags.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string out;
  out.reserve(html.size() + tags.size() * std::string_view("</thead>").size());
  std::size_t from = 0;
  for (const auto& [at, tag] : tags) {
    out.append(page.substr(from, at - from)).append(tag);
    from = at;
  }
  out.append(page.substr(from));
  return out;
}

namespace {

std::string Scaled(const ordered_json& figures, const FigureRow& row) {
  if (!Field(figures, row.key).is_number()) return "&ndash;";
  return Number(figures[row.key].get<double>() * row.scale);
}

void WriteFigures(std::ostringstream& h, const ordered_json& step) {
  const ordered_json f = StepResponseOf(step);
  if (Field(f, "measured").is_null() && Field(f, "predicted").is_null()) return;
  h << "<table><tr><th>Figure</th><th>Measured</th><th>Predicted</th><th>Unit</th></tr>\n";
  for (const FigureRow& r : kFigureRows)
    h << "<tr><td>" << r.title << "</td><td>" << Scaled(Field(f, "measured"), r) << "</td><td>"
      << Scaled(Field(f, "predicted"), r) << "</td><td>" << r.unit << "</td></tr>\n";
  h << "</table>\n";
}

void WriteTracking(std::ostringstream& h, const ordered_json& step) {
  const ordered_json t = TrackingOf(step);
  if (!t.is_object()) return;
  h << "<table><tr><th>Figure (first cycle)</th><th>Measured</th><th>Predicted</th>"
    << "<th>Unit</th></tr>\n";
  for (const TrackingRow& r : kTrackingRows) {
    auto value = [&](const ordered_json& side) {
      return Field(side, r.key).is_number() ? Number(side[r.key].get<double>() * r.scale)
                                            : std::string("&ndash;");
    };
    h << "<tr><td>" << r.title << "</td><td>" << value(Field(t, "measured")) << "</td><td>"
      << value(Field(t, "predicted")) << "</td><td>"
      << Escape(r.unit ? std::string(r.unit) : Text(Field(t, "unit"))) << "</td></tr>\n";
  }
  h << "</table>\n";
}

void WriteTargets(std::ostringstream& h, const ordered_json& step) {
  if (step["targets"].empty()) return;
  h << "<table><tr><th>Target</th><th>Required</th><th>Measured</th><th>Verdict</th></tr>\n";
  for (const ordered_json& t : step["targets"])
    h << "<tr><td>" << Escape(Text(t["figure"])) << "</td><td>" << Escape(Text(t["target"]))
      << "</td><td>" << Escape(Text(t["measured"])) << "</td>"
      << VerdictCell(VerdictWord(t["met"].get<bool>())) << "</tr>\n";
  h << "</table>\n";
}

// The motor data the step's log identified, as proposals beside what the setup holds.
void WriteIdentified(std::ostringstream& h, const ordered_json& step, const ordered_json& values) {
  const ordered_json& identified = step["identified"];
  if (!identified.is_object() || identified.empty()) return;
  h << "<table><tr><th>Identified</th><th>Value</th><th>Unit</th><th>Confidence</th>"
    << "<th>Setup</th></tr>\n";
  for (const auto& [name, v] : identified.items()) {
    const auto held = values.find(name);
    const std::string setup =
        held == values.end() ? "" : ShownEntry(*held) + " " + Text((*held)["unit"]);
    h << "<tr><td>" << Escape(name) << "</td><td>" << Number(v["value"]) << "</td><td>"
      << Escape(Text(v["unit"])) << "</td><td>" << Number(v["confidence"]) << "</td><td>"
      << Escape(setup) << "</td></tr>\n";
  }
  h << "</table>\n";
}

// Parameters by name, each with its value, unit and meaning (`values`, a step's `gains`).
void WriteValueTable(std::ostringstream& h, const ordered_json& values, const char* title) {
  if (!values.is_object() || values.empty()) return;
  h << "<table><tr><th>" << title << "</th><th>Value</th><th>Unit</th><th>Meaning</th></tr>\n";
  for (const auto& [name, v] : values.items())
    h << "<tr><td>" << Escape(name) << "</td><td>" << ShownEntry(v) << "</td><td>"
      << Escape(Text(Field(v, "unit"))) << "</td><td>" << Escape(Text(Field(v, "meaning")))
      << "</td></tr>\n";
  h << "</table>\n";
}

// The notch that the step placed for a resonance: the notch itself, both spectra with it drawn
// over them, and the figures of the run before it beside the step's own.
void WriteNotch(std::ostringstream& h, const ordered_json& step, const std::string& svg) {
  const ordered_json& n = Field(step, "notch");
  if (!n.is_object()) return;
  const ordered_json& r = Field(n, "resonance");
  const ordered_json& margins = Field(n, "margins");
  h << "<h3>Notch for a resonance</h3>\n<p>The current at constant speed, logged at the speed "
       "loop's rate with no low pass on the speed feedback, showed a resonance at "
    << Number(Field(r, "frequency_hz")) << " Hz, " << Number(Field(r, "peak_db"))
    << " dB over the spectrum's floor, ringing at " << Number(Field(r, "ring_A"))
    << " A RMS, with a loop gain of " << Number(Field(r, "loop_gain_db"))
    << " dB there. Filter " << Number(Field(n, "filter")) << " took a notch at "
    << Number(Field(n, "frequency_hz")) << " Hz, Q " << Number(Field(n, "q")) << ", on the "
    << Escape(Text(Field(n, "location"))) << " (" << Number(Field(n, "depth_db"))
    << " dB at the resonance; phase margin " << Number(Field(margins, "phase_margin_deg"))
    << " deg, gain margin " << Number(Field(margins, "gain_margin_db"))
    << " dB), and the speed loop ran again with it.</p>\n";
  if (!svg.empty()) h << "<figure>" << svg << "</figure>\n";
  const ordered_json& before = Field(n, "before");
  const ordered_json& ripple = Field(n, "ripple_at_resonance_A");
  h << "<table><tr><th>Figure</th><th>Before the notch</th><th>With the notch</th>"
    << "<th>Unit</th></tr>\n<tr><td>Verdict</td>" << VerdictCell(Field(before, "verdict"))
    << VerdictCell(Field(step, "verdict")) << "<td></td></tr>\n"
    << "<tr><td>Ripple at the resonance (RMS)</td><td>" << Number(Field(ripple, "before"))
    << "</td><td>" << Number(Field(ripple, "after")) << "</td><td>A</td></tr>\n";
  const ordered_json was = Field(TrackingOf(before), "measured");
  const ordered_json now = Field(TrackingOf(step), "measured");
  for (const TrackingRow& row : kTrackingRows) {
    auto value = [&](const ordered_json& side) {
      const ordered_json& v = Field(side, row.key);
      return v.is_number() ? Number(v.get<double>() * row.scale) : std::string("&ndash;");
    };
    h << "<tr><td>" << row.title << "</td><td>" << value(was) << "</td><td>" << value(now)
      << "</td><td>"
      << Escape(row.unit ? std::string(row.unit) : Text(Field(TrackingOf(step), "unit")))
      << "</td></tr>\n";
  }
  h << "</table>\n";
  if (!Text(Field(before, "failure")).empty())
    h << "<p>The run before the notch: " << Escape(ReadableText(Text(Field(before, "failure"))))
      << "</p>\n";
}

// A failure as the report shows it: the cause and what to do where they can be told, else
// what to check; then the test's own text in readable lines.
std::string FailureHtml(const ordered_json& j) {
  std::string failure = Escape(ReadableText(Text(Field(j, "failure"))));
  for (std::size_t at = failure.find('\n'); at != std::string::npos; at = failure.find('\n', at))
    failure.replace(at, 1, "<br>");
  const ordered_json& diagnosis = Field(j, "diagnosis");
  const std::string advice =
      diagnosis.is_object()
          ? "Cause: " + Escape(Text(Field(diagnosis, "cause"))) +
                "<br>To do: " + Escape(Text(Field(diagnosis, "advice")))
          : "Check: " + Escape(Text(Field(j, "check")));
  return advice + "<br>Message: " + failure;
}

// The title of a step that the record names by its word.
std::string StepTitle(const std::string& word) {
  for (const CommissioningStep& s : CommissioningSteps()) {
    if (word == s.word) return s.title;
  }
  return word;
}

// Where the steps ran and what on: the drive as the setup and the drive itself name it.
void WriteDriveTable(std::ostringstream& h, const ordered_json& report) {
  const ordered_json& drive = Field(report, "drive");
  auto row = [&h](const char* what, const std::string& text) {
    h << "<tr><th>" << what << "</th><td>" << text << "</td></tr>";
  };
  h << "<h2>Drive and motor</h2>\n<table>";
  row("Drive", Escape(Text(Field(drive, "description"))));
  if (const ordered_json& c = Field(drive, "connection"); c.is_string()) row("Ran on", Escape(Text(c)));
  row("Product", Escape(Text(Field(drive, "product_id"))));
  row("Application", Escape(Text(Field(drive, "application_id"))));
  row("Firmware", Escape(Text(Field(drive, "firmware_id"))));
  if (const ordered_json& r = Field(drive, "reported"); r.is_object()) {
    auto told = [](const ordered_json& v) {
      return v.is_string() ? Escape(Text(v)) : std::string("not reported by the drive");
    };
    row("Product (read from the drive)", told(Field(r, "product_id")));
    row("Firmware (read from the drive)", told(Field(r, "firmware_id")));
    row("Serial number", told(Field(r, "serial")));
  }
  if (drive.contains("motor"))
    row("Motor", Field(drive, "motor").is_string() ? Escape(Text(Field(drive, "motor")))
                                                   : "not a motor of the motor database");
  row("Setup commissioned", Escape(Text(Field(drive, "source"))));
  row("Setup written", Field(report, "setup").is_string()
                           ? Escape(Text(Field(report, "setup")))
                           : "none: a commissioning that failed saves no setup");
  h << "</table>\n";
}

// Room for the engineer and the customer to sign the printed record.
void WriteSignatures(std::ostringstream& h) {
  h << "<h2>Signatures</h2>\n<table class=\"sign\"><thead><tr><th></th><th>Name</th><th>Date</th>"
       "<th>Signature</th></tr></thead>\n";
  for (const char* who : {"Commissioned by", "Accepted by"})
    h << "<tr><td>" << who << "</td><td>&nbsp;<br>&nbsp;</td><td></td><td></td></tr>\n";
  h << "</table>\n";
}

}  // namespace

std::string RecordPage(const ordered_json& report, const std::vector<std::string>& svgs,
                       const std::vector<std::string>& notch_svgs, PrintStyle print_style) {
  std::ostringstream h;
  const ordered_json& drive = report["drive"];
  h << PageStart("Commissioning report: " + Text(drive["description"]), print_style);
  const bool ok = VerdictPassed(report["verdict"]);
  h << "<p>Overall verdict: <span class=\"" << (ok ? "ok\">" : "bad\">") << VerdictWord(ok)
    << "</span>";
  if (!ok)
    h << " at step <b>" << Escape(StepTitle(Text(report["failed_step"]))) << "</b><br>"
      << FailureHtml(report);
  h << "</p>\n";
  for (const ordered_json& w : Field(report, "warnings"))
    h << "<p>Note: " << Escape(Text(w)) << "</p>\n";
  const ordered_json& record = report["record"];
  h << "<table>"
    << "<tr><th>Commissioned (UTC)</th><td>" << Escape(Text(record["time_utc"])) << "</td></tr>"
    << "<tr><th>Program</th><td>" << Escape(Text(record["program"])) << "</td></tr>"
    << "<tr><th>Operator</th><td>" << Escape(Text(record["operator"])) << "</td></tr>"
    << "<tr><th>Note</th><td>" << Escape(Text(record["note"])) << "</td></tr>"
    << "<tr><th>Shaft notices</th><td>" << Escape(Text(Field(record, "shaft_notices")))
    << "</td></tr></table>\n";
  WriteDriveTable(h, report);
  WriteValueTable(h, report["values"], "Parameter");
  h << "<h2>Steps</h2>\n<table><tr><th>#</th><th>Step</th><th>Verdict</th></tr>\n";
  int n = 0;
  for (const ordered_json& s : report["steps"])
    h << "<tr><td>" << ++n << "</td><td>" << Escape(Text(s["title"])) << "</td>"
      << VerdictCell(s["verdict"]) << "</tr>\n";
  for (const ordered_json& w : report["not_run"])
    h << "<tr><td>" << ++n << "</td><td>" << Escape(StepTitle(Text(w)))
      << "</td><td>not run</td></tr>\n";
  h << "</table>\n<h2>Parameters changed</h2>\n";
  // A change within the drive's resolution shows the same number twice (a detected supply of
  // 47.98 V over 48 V read "48 48"): the table leaves it out, as `diff` does; the record keeps
  // every value.
  std::vector<std::array<std::string, 5>> rows;
  for (const ordered_json& c : report["changes"]) {
    std::string before = Shown(c["before"], Field(c, "resolution"));
    std::string after = Shown(c["after"], Field(c, "resolution"));
    if (before == after) continue;
    rows.push_back({Escape(Text(c["name"])), std::move(before), std::move(after),
                    Escape(Text(c["unit"])), Escape(Text(c["meaning"]))});
  }
  if (rows.empty()) h << "<p>None.</p>\n";
  else {
    h << "<table><tr><th>Parameter</th><th>Before</th><th>After</th><th>Unit</th>"
      << "<th>Meaning</th></tr>\n";
    for (const auto& r : rows)
      h << "<tr><td>" << r[0] << "</td><td>" << r[1] << "</td><td>" << r[2] << "</td><td>" << r[3]
        << "</td><td>" << r[4] << "</td></tr>\n";
    h << "</table>\n";
  }
  h << "<h2>Targets</h2>\n<ul>";
  for (const ordered_json& t : report["targets"]) h << "<li>" << Escape(Text(t)) << "</li>";
  h << "</ul>\n";
  std::size_t i = 0;
  for (const ordered_json& s : report["steps"]) {
    const bool passed = VerdictPassed(s["verdict"]);
    h << "<h2 id=\"step-" << Escape(Text(s["step"])) << "\">" << Escape(Text(s["title"]))
      << "</h2>\n<p>Verdict: <span class=\"" << (passed ? "ok\">" : "bad\">")
      << VerdictWord(passed) << "</span>";
    if (!passed) h << "<br>" << FailureHtml(s);
    h << "</p>\n";
    if (i < svgs.size() && !svgs[i].empty()) h << "<figure>" << svgs[i] << "</figure>\n";
    WriteFigures(h, s);
    WriteTracking(h, s);
    WriteValueTable(h, Field(s, "results"), "Result");
    WriteTargets(h, s);
    WriteValueTable(h, s["gains"], "Gain");
    WriteIdentified(h, s, report["values"]);
    WriteNotch(h, s, i < notch_svgs.size() ? notch_svgs[i] : std::string());
    ++i;
    for (const ordered_json& w : s["warnings"]) h << "<p>Note: " << Escape(Text(w)) << "</p>\n";
    if (!Text(s["csv"]).empty())
      h << "<p>Logged run: " << Escape(Text(s["csv"])) << "</p>\n";
  }
  WriteSignatures(h);
  h << "</body></html>\n";
  return WithTableHeads(h.str());
}

}  // namespace report_markup

std::string CommissioningReportHtml(const ordered_json& report,
                                    const std::vector<std::string>& svgs,
                                    const std::vector<std::string>& notch_svgs) {
  return report_markup::RecordPage(report, svgs, notch_svgs, report_markup::PrintStyle::kInStyle);
}

}  // namespace dcservo
