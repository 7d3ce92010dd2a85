#include "drivetests/commissioning_report.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "dcservo_version.h"
#include "derive/biquad_slots.h"
#include "derive/display_step.h"
#include "design/parameter_meaning.h"
#include "host/zel_errors.h"
#include "host/zel_file.h"
#include "host/zel_format.h"
#include "host/zel_json_parse.h"
#include "host/zel_motor_database.h"
#include "host/zel_setup.h"
#include "host/zel_units.h"

namespace dcservo {

namespace {

using nlohmann::ordered_json;

constexpr char kSetupFile[] = "setup.json";
constexpr char kHtmlFile[] = "report.html";
constexpr char kJsonFile[] = "report.json";
constexpr char kCompareFile[] = "compare.html";
constexpr char kPdfFile[] = "report.pdf";

// The drive's and the motor's values that every report shows.
constexpr const char* kShownValues[] = {"Vdc", "In", "ImaxM", "K", "R", "L", "Jm", "Jt",
                                        "Imax_Prot", "Kp_C_scl", "Ki_C_scl"};

// One step of the drive's value in `unit`, by which the record shows it; 0 when unknown.
double ResolutionIn(const CZel_Setup& setup, const CZel_Parameter& p, const CZel_Unit& unit) {
  // DisplayStep moves the register by a count and puts it back: the setup ends as it was.
  ZelQuietErrors quiet;
  const double step = DisplayStep(const_cast<CZel_Setup&>(setup), p);
  const double factor = unit.GetFactorToBase();
  return step > 0.0 && factor != 0.0 ? step / std::abs(factor) : 0.0;
}

// A parameter's value as the record gives every one: in the unit the setup shows it in,
// with that unit, the step it is shown to and what the parameter is.
ordered_json ParameterJson(const CZel_Setup& setup, const CZel_Parameter& p, double base_value) {
  const CZel_Unit& unit = p.GetSelectedUnit();
  return {{"value", unit.FromBase(base_value)},
          {"unit", unit.GetName()},
          {"resolution", ResolutionIn(setup, p, unit)},
          {"meaning", ParameterMeaning(p)}};
}

const CZel_Parameter* QuietlyFind(const CZel_Setup& setup, const std::string& name) {
  ZelQuietErrors quiet;
  return setup.FindParameter(name);
}

// What a name that the record shows means; empty for one that the setup does not hold.
std::string MeaningOf(const CZel_Setup& setup, const std::string& name) {
  const CZel_Parameter* p = QuietlyFind(setup, name);
  return p ? ParameterMeaning(*p) : "";
}

ordered_json CycleJson(const std::optional<CycleFigures>& c) {
  return c ? TrackingFiguresJson(*c) : ordered_json(nullptr);
}

const char* VerdictWord(bool passed) { return passed ? kVerdictPassed : kVerdictFailed; }

}  // namespace

bool VerdictPassed(const ordered_json& verdict) {
  return verdict == kVerdictPassed || verdict == "succeeded";
}

std::string MotorOfSetup(const CZel_Setup& setup) {
  ZelQuietErrors quiet;
  const ZelMotorData held = ZelMotorFromSetup(setup, "");
  auto same = [](double a, double b) {
    return std::abs(a - b) <= 1e-6 * std::max(std::abs(a), std::abs(b));
  };
  // Held here: a range-for over a member of the temporary would outlive the database.
  const ZelMotorDatabase database = ZelMotorDatabase::Default();
  for (const ZelMotorEntry& m : database.Motors()) {
    bool all = true;
    for (const ZelMotorField& f : ZelMotorFields())
      all = all && same(m.data.*(f.value), held.*(f.value));
    if (all) return m.data.name;
  }
  return {};
}

ordered_json TrackingFiguresJson(const CycleFigures& f) {
  auto seconds = [](double s) { return std::isfinite(s) ? ordered_json(s) : ordered_json(nullptr); };
  ordered_json j = {{"rms_error", f.rms_error},
                    {"peak_error", f.peak_error},
                    {"overshoot_pct", f.overshoot_percent},
                    {"settling_time_s", seconds(f.settling_s[0])},
                    {"settling_time_second_ramp_s", seconds(f.settling_s[1])}};
  if (f.cycle) j["cycle"] = f.cycle;
  if (f.deviation_rms) j["deviation_from_prediction_rms"] = *f.deviation_rms;
  return j;
}

ordered_json MarginsJson(const std::optional<LoopMargins>& m) {
  if (!m) return nullptr;
  auto maybe = [](const std::optional<double>& v) { return v ? ordered_json(*v) : ordered_json(); };
  return {{"crossover_rad_s", maybe(m->crossover_rad_s)},
          {"phase_margin_deg", maybe(m->phase_margin_deg)},
          {"gain_margin_db", maybe(m->gain_margin_db)},
          {"stable", m->stable}};
}

ordered_json SpectrumJson(const std::optional<Spectrum>& s) {
  if (!s) return nullptr;
  return {{"resolution_hz", s->resolution_hz}, {"amplitude_A", s->amplitude}};
}

ordered_json ResonanceJson(const std::optional<Resonance>& r) {
  if (!r) return nullptr;
  return {{"frequency_hz", r->frequency_hz},
          {"peak_db", r->peak_db},
          {"loop_gain_db", r->loop_gain_db},
          {"limits_loop", r->limits_loop},
          {"ring_A", r->ring_A}};
}

ordered_json DiagnosisJson(const Diagnosis* diagnosis) {
  if (!diagnosis) return nullptr;
  return {{"cause", diagnosis->cause}, {"advice", diagnosis->advice}};
}

ordered_json TestRunJson(const TestRunReport& run, const std::string& failure,
                         const Diagnosis* diagnosis) {
  auto values = [](const std::vector<TestRunReport::Value>& list) {
    ordered_json out = ordered_json::object();
    for (const auto& v : list) out[v.name] = v.value;
    return out;
  };
  ordered_json out;
  out["verdict"] = VerdictWord(failure.empty());
  out["failure"] = failure;
  out["diagnosis"] = DiagnosisJson(diagnosis);
  out["inputs"] = values(run.inputs);
  out["gains"] = values(run.gains);
  out["results"] = values(run.results);
  out["identified"] = IdentifiedJson(run.identified);
  out["figures"] = {{"measured", StepFiguresJson(run.measured)},
                    {"predicted", StepFiguresJson(run.predicted)}};
  out["targets"] = TargetsJson(run.targets);
  out["warnings"] = run.warnings;
  return out;
}

ordered_json TargetsJson(const std::vector<TargetCheck>& checks) {
  ordered_json targets = ordered_json::array();
  for (const TargetCheck& t : checks)
    targets.push_back(
        {{"figure", t.figure}, {"target", t.target}, {"measured", t.measured}, {"met", t.met}});
  return targets;
}

namespace {

// The gains a step ran with (or its results, in base units), by name, each as every parameter
// of the record (one that the setup does not hold keeps its number and its own unit).
ordered_json GainsJson(const std::vector<TestRunReport::Value>& gains, const CZel_Setup& setup) {
  ordered_json out = ordered_json::object();
  for (const auto& g : gains) {
    const CZel_Parameter* p = QuietlyFind(setup, g.name);
    out[g.name] = p ? ParameterJson(setup, *p, g.value)
                    : ordered_json{{"value", g.value}, {"unit", g.unit}, {"meaning", ""}};
  }
  return out;
}

// A tracking run's figures where every test's JSON has its figures: the first cycle,
// measured and predicted.
ordered_json TrackingFiguresPair(const std::optional<TrackingFigures>& t) {
  if (!t) return {{"measured", nullptr}, {"predicted", nullptr}};
  return {{"measured", CycleJson(t->measured)}, {"predicted", CycleJson(t->predicted)}};
}

ordered_json NotchRunJson(const std::optional<NotchRun>& n) {
  if (!n) return nullptr;
  const FilterDescription& notch = n->proposal.notch;
  return {{"filter", n->filter},
          {"frequency_hz", notch.frequency_hz},
          {"q", notch.q},
          {"location", FilterPlaceName(notch.place)},
          {"depth_db", n->proposal.depth_db},
          {"margins", MarginsJson(n->proposal.margins)},
          {"resonance", ResonanceJson(n->resonance)},
          {"ripple_at_resonance_A", {{"before", n->ripple_before_A}, {"after", n->ripple_after_A}}},
          {"before",
           {{"verdict", VerdictWord(n->succeeded_before)},
            {"failure", n->failure_before},
            {"unit", n->tracking_before ? ordered_json(n->tracking_before->unit) : ordered_json()},
            {"figures", TrackingFiguresPair(n->tracking_before)},
            {"current_spectrum", SpectrumJson(n->spectrum_before)}}},
          {"after", {{"current_spectrum", SpectrumJson(n->spectrum_with)}}}};
}

ordered_json ResonanceRunJson(const std::optional<ResonanceRun>& r) {
  if (!r) return nullptr;
  return {{"hold_s", r->hold_s},
          {"pass_band_rad_s", r->pass_band_rad_s},
          {"current_spectrum", SpectrumJson(r->current_spectrum)},
          {"resonance", ResonanceJson(r->resonance)}};
}

// A step in the shape of every test's JSON (TestRunJson), with the targets the step was
// judged by, its gains as the record gives every parameter, and what the step adds.
ordered_json StepJson(const StepOutcome& s, const std::string& csv, const CZel_Setup& setup) {
  ordered_json out = {{"step", s.step->word}, {"title", s.step->title}};
  TestRunReport run = s.run;
  run.targets = s.targets;
  out.update(TestRunJson(run, s.failure, s.diagnosis));
  out["check"] = s.succeeded ? "" : CheckOf(s);
  // A run that follows a profile is judged by how it tracks it.
  if (s.tracking) {
    out["figures"] = TrackingFiguresPair(s.tracking);
    out["unit"] = s.tracking->unit;
  }
  out["gains"] = GainsJson(s.run.gains, setup);
  out["results"] = GainsJson(s.run.results, setup);
  out["current_spectrum"] = SpectrumJson(s.current_spectrum);
  out["resonance"] = ResonanceJson(s.resonance);
  out["resonance_run"] = ResonanceRunJson(s.resonance_run);
  out["notch"] = NotchRunJson(s.notch);
  out["csv"] = csv;
  // As every test's JSON names what its run wrote.
  out["files"] = csv.empty() ? ordered_json::object() : ordered_json{{"csv", csv}};
  return out;
}

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
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v.get<double>());
  return buf;
}

std::string Text(const ordered_json& v) { return v.is_string() ? v.get<std::string>() : ""; }

// A value by the display rule: no more digits than the drive tells apart at `resolution`
// (in the value's unit), a whole-number register as a whole number. Without a resolution
// (a record of an earlier version) six significant digits.
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

const char kStyle[] =
    "body{font-family:sans-serif;max-width:60em;margin:1em auto;color:#222}"
    "table{border-collapse:collapse;margin:.5em 0}td,th{border:1px solid #bbb;padding:.2em "
    ".6em;text-align:left}th{background:#eee}.ok{color:#070;font-weight:bold}"
    ".bad{color:#b00;font-weight:bold}.changed{background:#ffd}svg{max-width:100%;height:auto}";

// When the record was made, to the second, in UTC: "2026-12-08T07:10:00Z".
std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string PageStart(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
         Escape(title) + "</title><style>" + kStyle + "</style></head><body>\n<h1>" +
         Escape(title) + "</h1>\n";
}

// One figure's row: name, measured and predicted in the shown unit.
struct FigureRow {
  const char* key;
  const char* title;
  double scale;
  const char* unit;
};
constexpr FigureRow kFigureRows[] = {
    {"rise_time_s", "Rise time (10-90 %)", 1e3, "ms"},
    {"overshoot_pct", "Overshoot", 1.0, "%"},
    {"settling_time_s", "Settling time (2 %)", 1e3, "ms"},
    // Only the current test measures a step.
    {"steady_state_error", "Steady-state error", 1.0, "A"},
};

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

// The tracking figures of a run that follows a profile, in the unit of its errors.
struct TrackingRow {
  const char* key;
  const char* title;
  double scale;
  const char* unit;  // null: the run's own
};
constexpr TrackingRow kTrackingRows[] = {
    {"rms_error", "Tracking error (RMS)", 1.0, nullptr},
    {"peak_error", "Tracking error (peak)", 1.0, nullptr},
    {"overshoot_pct", "Overshoot", 1.0, "%"},
    {"settling_time_s", "Settling time after the ramp", 1e3, "ms"},
};

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

bool Differs(const ordered_json& a, const ordered_json& b) {
  if (!a.is_number() || !b.is_number()) return a != b;
  const double x = a.get<double>(), y = b.get<double>();
  return std::abs(x - y) > 1e-6 * std::max({1e-12, std::abs(x), std::abs(y)});
}

}  // namespace

namespace {

// Where the steps ran: `connection` says it in words; `address` and `unit_id` for a drive
// on a link (null in this process), `reported` what the drive said it is (null where it
// said nothing: the simulated drive in this process is built from the setup itself).
ordered_json DriveConnectionJson(const std::optional<ZelDriveDescription>& drive) {
  auto text_or_null = [](const std::string& t) { return t.empty() ? ordered_json() : ordered_json(t); };
  if (!drive) return {{"connection", "no drive"}, {"address", nullptr}, {"unit_id", nullptr},
                      {"reported", nullptr}};
  if (drive->address.empty())
    return {{"connection", "simulated drive in this process"},
            {"address", nullptr},
            {"unit_id", nullptr},
            {"reported", nullptr}};
  return {{"connection", "drive at " + drive->address + ", unit " + std::to_string(drive->unit)},
          {"address", drive->address},
          {"unit_id", drive->unit},
          {"reported",
           {{"product_id", text_or_null(drive->product_id)},
            {"firmware_id", text_or_null(drive->firmware_id)},
            {"serial", text_or_null(drive->serial)}}}};
}

}  // namespace

ordered_json StepFiguresJson(const std::optional<StepFigures>& f) {
  if (!f) return nullptr;
  return {{"rise_time_s", f->rise_time_s},
          {"overshoot_pct", f->overshoot_pct},
          {"settling_time_s", f->settling_time_s},
          {"steady_state_error", f->steady_state_error}};
}

ordered_json CommissioningReportJson(const CommissioningResult& result, const CZel_Setup& setup,
                                     const ReportFiles& files) {
  ordered_json out;
  out["verdict"] = VerdictWord(result.succeeded);
  const StepOutcome* failed = result.succeeded ? nullptr : &result.steps.back();
  out["failed_step"] = failed ? ordered_json(failed->step->word) : ordered_json(nullptr);
  out["failure"] = failed ? failed->failure : "";
  out["diagnosis"] = DiagnosisJson(failed ? failed->diagnosis : nullptr);
  out["check"] = failed ? CheckOf(*failed) : "";
  out["record"] = {{"time_utc", UtcNow()},
                   {"program", std::string("dcservo ") + kDcservoVersion},
                   {"operator", files.operator_name},
                   {"note", files.note},
                   {"shaft_notices", files.shaft_notices}};
  out["drive"] = {{"description", setup.GetDescription()},
                  {"product_id", setup.GetProductID()},
                  {"firmware_id", setup.GetFirmwareID()},
                  {"application_id", setup.GetUserAppID()},
                  {"source", files.source}};
  out["drive"].update(DriveConnectionJson(files.drive));
  out["drive"]["motor"] = files.motor.empty() ? ordered_json(nullptr) : ordered_json(files.motor);
  ordered_json values = ordered_json::object();
  for (const char* name : kShownValues) {
    if (const CZel_Parameter* p = setup.FindParameter(name))
      values[name] = ParameterJson(setup, *p, p->GetValueInBaseUnit());
  }
  out["values"] = values;
  ordered_json parameters = ordered_json::object();
  const CZel_Parameters& all = setup.GetParameters();
  for (int i = 0; i < all.GetParametersCount(); ++i)
    parameters[all[i]->GetName()] = ParameterJson(setup, *all[i], all[i]->GetValueInBaseUnit());
  out["parameters"] = parameters;
  ordered_json changes = ordered_json::array();
  for (const ParameterChange& c : result.changes) {
    const CZel_Parameter* p = QuietlyFind(setup, c.name);
    const bool in_its_unit = p && p->GetSelectedUnit().GetName() == c.unit;
    changes.push_back({{"name", c.name},
                       {"unit", c.unit},
                       {"resolution", in_its_unit ? ResolutionIn(setup, *p, p->GetSelectedUnit()) : 0.0},
                       {"meaning", MeaningOf(setup, c.name)},
                       {"before", c.before},
                       {"after", c.after}});
  }
  out["changes"] = changes;
  out["targets"] = TargetDescriptions();
  ordered_json steps = ordered_json::array();
  for (std::size_t i = 0; i < result.steps.size(); ++i)
    steps.push_back(StepJson(result.steps[i], i < files.csv.size() ? files.csv[i] : "", setup));
  out["steps"] = steps;
  ordered_json not_run = ordered_json::array();
  for (std::size_t i = result.steps.size(); i < result.planned.size(); ++i)
    not_run.push_back(result.planned[i]->word);
  out["not_run"] = not_run;
  // What the record itself could not do (a file it could not draw).
  out["warnings"] = ordered_json::array();
  out["setup"] = files.setup.empty() ? ordered_json(nullptr) : ordered_json(files.setup);
  return out;
}

namespace {

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

// A table whose first row holds only headings repeats it on every page it runs onto: its
// first row becomes the table's head.
std::string WithTableHeads(std::string html) {
  constexpr std::string_view open = "<table><tr>", row_end = "</tr>";
  for (std::size_t at = html.find(open); at != std::string::npos; at = html.find(open, at + 1)) {
    const std::size_t row = at + std::string_view("<table>").size();
    const std::size_t end = html.find(row_end, row);
    if (end == std::string::npos) break;
    if (html.compare(row, 8, "<tr><th>") != 0 ||
        html.substr(row, end - row).find("<td") != std::string::npos)
      continue;
    html.insert(end + row_end.size(), "</thead>");
    html.insert(row, "<thead>");
  }
  return html;
}

}  // namespace

std::string CommissioningReportHtml(const ordered_json& report, const std::vector<std::string>& svgs,
                                    const std::vector<std::string>& notch_svgs) {
  std::ostringstream h;
  const ordered_json& drive = report["drive"];
  h << PageStart("Commissioning report: " + Text(drive["description"]));
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
  if (report["changes"].empty()) h << "<p>None.</p>\n";
  else {
    h << "<table><tr><th>Parameter</th><th>Before</th><th>After</th><th>Unit</th>"
      << "<th>Meaning</th></tr>\n";
    for (const ordered_json& c : report["changes"])
      h << "<tr><td>" << Escape(Text(c["name"])) << "</td><td>"
        << Shown(c["before"], Field(c, "resolution")) << "</td><td>"
        << Shown(c["after"], Field(c, "resolution")) << "</td><td>" << Escape(Text(c["unit"]))
        << "</td><td>" << Escape(Text(c["meaning"])) << "</td></tr>\n";
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

namespace {

// A value with its unit, as a cell of the comparison shows it.
std::string WithUnit(const ordered_json& value, const ordered_json& unit,
                     const ordered_json& resolution = nullptr) {
  if (!value.is_number()) return "&ndash;";
  const std::string u = Text(unit);
  return Shown(value, resolution) + (u.empty() ? "" : " " + Escape(u));
}

// A parameter's value after a run, from its record: the whole table where the record has one,
// else what the run changed or showed. Null when the record does not tell.
struct RecordedValue {
  ordered_json value, unit, meaning, resolution;
};

// The values that one record tells, found by name without a search: a record read back from
// disk may hold any number of them. Where a name appears twice, the first tells.
class RecordedValues {
 public:
  explicit RecordedValues(const ordered_json& report) {
    IndexTable(Field(report, "parameters"), parameters_);
    const ordered_json& changes = Field(report, "changes");
    if (changes.is_array()) {
      for (const ordered_json& c : changes) {
        if (const ordered_json& name = Field(c, "name"); name.is_string())
          changes_.emplace(name.get<std::string>(), &c);
      }
    }
    IndexTable(Field(report, "values"), values_);
  }
  RecordedValue After(const std::string& name) const {
    if (const ordered_json* p = Find(parameters_, name); p && p->is_object())
      return {Field(*p, "value"), Field(*p, "unit"), Field(*p, "meaning"),
              Field(*p, "resolution")};
    if (const ordered_json* c = Find(changes_, name))
      return {Field(*c, "after"), Field(*c, "unit"), Field(*c, "meaning"),
              Field(*c, "resolution")};
    const ordered_json* v = Find(values_, name);
    if (!v) return {};
    return {Field(*v, "value"), Field(*v, "unit"), Field(*v, "meaning"),
              Field(*v, "resolution")};
  }

 private:
  using Index = std::unordered_map<std::string, const ordered_json*>;
  static void IndexTable(const ordered_json& table, Index& index) {
    if (!table.is_object()) return;
    for (auto it = table.begin(); it != table.end(); ++it) index.emplace(it.key(), &*it);
  }
  static const ordered_json* Find(const Index& index, const std::string& name) {
    const auto it = index.find(name);
    return it == index.end() ? nullptr : it->second;
  }
  Index parameters_, changes_, values_;
};

// The names to compare: what either run changed, then whatever else ends differently.
std::vector<std::string> ComparedNames(const ordered_json& now, const ordered_json& before) {
  const RecordedValues after_now(now), after_before(before);
  std::vector<std::string> names;
  std::unordered_set<std::string> listed;
  auto add = [&names, &listed](const std::string& name) {
    if (listed.insert(name).second) names.push_back(name);
  };
  for (const ordered_json* report : {&now, &before}) {
    const ordered_json& changes = Field(*report, "changes");
    if (!changes.is_array()) continue;
    for (const ordered_json& c : changes) {
      if (Field(c, "name").is_string()) add(Field(c, "name").get<std::string>());
    }
  }
  for (const ordered_json* report : {&now, &before}) {
    for (const char* table : {"values", "parameters"}) {
      const ordered_json& all = Field(*report, table);
      if (!all.is_object()) continue;
      for (auto it = all.begin(); it != all.end(); ++it) {
        const RecordedValue a = after_before.After(it.key()), b = after_now.After(it.key());
        // A record of an earlier version tells only some values: no guess for the others.
        if (a.value.is_null() || b.value.is_null()) continue;
        if (a.unit != b.unit || Differs(a.value, b.value)) add(it.key());
      }
    }
  }
  return names;
}

void WriteParameterComparison(std::ostringstream& h, const ordered_json& now,
                              const ordered_json& before) {
  h << "<h2>Parameters</h2>\n";
  const std::vector<std::string> names = ComparedNames(now, before);
  const RecordedValues after_now(now), after_before(before);
  if (names.empty()) {
    h << "<p>Neither run changed a parameter, and both ended with the same values.</p>\n";
    return;
  }
  h << "<table><tr><th>Parameter</th><th>Before</th><th>Now</th><th>Meaning</th></tr>\n";
  for (const std::string& name : names) {
    const RecordedValue a = after_before.After(name), b = after_now.After(name);
    const bool changed = a.unit != b.unit || Differs(a.value, b.value);
    const ordered_json& meaning = b.meaning.is_string() ? b.meaning : a.meaning;
    h << "<tr" << (changed ? " class=\"changed\"" : "") << "><td>" << Escape(name) << "</td><td>"
      << WithUnit(a.value, a.unit, a.resolution) << "</td><td>"
      << WithUnit(b.value, b.unit, b.resolution) << "</td><td>"
      << Escape(Text(meaning)) << "</td></tr>\n";
  }
  h << "</table>\n";
}

// Every figure that a step's record gives, as (what, value with its unit, as markup): the
// step's figures and tracking, measured and predicted, what its log identified and each
// target's figure.
using StepFigureList = std::vector<std::pair<std::string, std::string>>;

StepFigureList FiguresOf(const ordered_json& step) {
  StepFigureList out;
  auto add = [&out](std::string what, const ordered_json& value, std::string unit, double scale) {
    if (!value.is_number()) return;
    out.emplace_back(std::move(what), Number(value.get<double>() * scale) +
                                          (unit.empty() ? "" : " " + Escape(unit)));
  };
  const ordered_json figures = StepResponseOf(step);
  const ordered_json tracking = TrackingOf(step);
  for (const char* side : {"measured", "predicted"}) {
    for (const FigureRow& r : kFigureRows)
      add(std::string(r.title) + ", " + side, Field(Field(figures, side), r.key), r.unit, r.scale);
    for (const TrackingRow& r : kTrackingRows)
      add(std::string(r.title) + ", " + side, Field(Field(tracking, side), r.key),
          r.unit ? r.unit : Text(Field(tracking, "unit")), r.scale);
  }
  const ordered_json& identified = Field(step, "identified");
  if (identified.is_object()) {
    for (const auto& [name, v] : identified.items())
      add("Identified " + name, Field(v, "value"), Text(Field(v, "unit")), 1.0);
  }
  const ordered_json& targets = Field(step, "targets");
  if (targets.is_array()) {
    for (const ordered_json& t : targets) {
      if (Field(t, "measured").is_string())
        out.emplace_back("Target: " + Text(Field(t, "figure")), Escape(Text(Field(t, "measured"))));
    }
  }
  return out;
}

const ordered_json* FindStep(const ordered_json& report, const std::string& word) {
  const ordered_json& steps = Field(report, "steps");
  if (!steps.is_array()) return nullptr;
  for (const ordered_json& s : steps) {
    if (Field(s, "step") == word) return &s;
  }
  return nullptr;
}

std::string VerdictOf(const ordered_json* step) {
  return step ? VerdictCell(Field(*step, "verdict")) : "<td>not run</td>";
}

// The earlier step with its tracking errors in the unit of the step now, where the two runs
// give them in units of one kind (rad/s before, rpm now): figures compare as numbers, not as
// units. Units of different kinds, or unknown ones, stay as they are, each with its value.
ordered_json TrackingInUnitOf(const ordered_json& before, const ordered_json& now) {
  const std::string from = Text(Field(TrackingOf(before), "unit"));
  const std::string to = Text(Field(TrackingOf(now), "unit"));
  const CZel_Unit* a = ZelUnitTable().FindUnit(from);
  const CZel_Unit* b = a ? ZelUnitTable().FindUnitOfType(to, a->GetUnitType()) : nullptr;
  if (from == to || !b) return before;
  ordered_json converted = before;
  converted["tracking"] = TrackingOf(before);
  ordered_json& tracking = converted["tracking"];
  tracking["unit"] = to;
  for (const char* side : {"measured", "predicted"}) {
    if (!tracking[side].is_object()) continue;
    for (const char* key : {"rms_error", "peak_error", "deviation_from_prediction_rms"}) {
      if (tracking[side].contains(key) && tracking[side][key].is_number())
        tracking[side][key] = b->FromBase(a->ToBase(tracking[side][key].get<double>()));
    }
  }
  return converted;
}

// One step of either run: its verdict, then every figure that either run gives for it.
void WriteStepComparison(std::ostringstream& h, const ordered_json* now, const ordered_json* before) {
  const ordered_json& any = now ? *now : *before;
  h << "<h2>" << Escape(Text(Field(any, "title"))) << "</h2>\n<table><tr><th>Figure</th>"
    << "<th>Before</th><th>Now</th></tr>\n<tr><td>Verdict</td>" << VerdictOf(before)
    << VerdictOf(now) << "</tr>\n";
  const StepFigureList a =
      before ? FiguresOf(now ? TrackingInUnitOf(*before, *now) : *before) : StepFigureList{};
  const StepFigureList b = now ? FiguresOf(*now) : StepFigureList{};
  // A step read back from disk may name any number of figures.
  std::unordered_map<std::string, std::string> before_values, now_values;
  for (const auto& [w, v] : a) before_values.emplace(w, v);
  for (const auto& [w, v] : b) now_values.emplace(w, v);
  auto value_in = [](const std::unordered_map<std::string, std::string>& values,
                     const std::string& what) -> std::string {
    const auto it = values.find(what);
    return it == values.end() ? "&ndash;" : it->second;
  };
  std::vector<std::string> rows;
  std::unordered_set<std::string> listed;
  for (const StepFigureList* list : {&b, &a}) {
    for (const auto& [what, v] : *list) {
      if (listed.insert(what).second) rows.push_back(what);
    }
  }
  for (const std::string& what : rows) {
    const std::string x = value_in(before_values, what), y = value_in(now_values, what);
    h << "<tr" << (x != y ? " class=\"changed\"" : "") << "><td>" << Escape(what) << "</td><td>" << x
      << "</td><td>" << y << "</td></tr>\n";
  }
  h << "</table>\n";
}

}  // namespace

std::string ComparisonReportHtml(const ordered_json& now, const ordered_json& before) {
  std::ostringstream h;
  h << PageStart("Two commissionings compared: " +
                 Text(Field(Field(now, "drive"), "description")));
  auto row = [&h](const char* what, const char* group, const char* key, const ordered_json& a,
                  const ordered_json& b) {
    h << "<tr><td>" << what << "</td><td>" << Escape(Text(Field(Field(a, group), key)))
      << "</td><td>" << Escape(Text(Field(Field(b, group), key))) << "</td></tr>";
  };
  h << "<table><tr><th></th><th>Before</th><th>Now</th></tr>";
  row("Setup", "drive", "source", before, now);
  row("Commissioned (UTC)", "record", "time_utc", before, now);
  row("Operator", "record", "operator", before, now);
  h << "<tr><td>Verdict</td>" << VerdictCell(Field(before, "verdict"))
    << VerdictCell(Field(now, "verdict")) << "</tr></table>\n";
  WriteParameterComparison(h, now, before);
  const ordered_json& steps = Field(now, "steps");
  if (steps.is_array()) {
    for (const ordered_json& s : steps)
      WriteStepComparison(h, &s, FindStep(before, Text(Field(s, "step"))));
  }
  const ordered_json& earlier_steps = Field(before, "steps");
  if (earlier_steps.is_array()) {
    for (const ordered_json& s : earlier_steps) {
      if (!FindStep(now, Text(Field(s, "step")))) WriteStepComparison(h, nullptr, &s);
    }
  }
  h << "</body></html>\n";
  return WithTableHeads(h.str());
}

namespace {

// What a record folder may hold: its own files, and the temporaries of a save killed in it.
bool IsRecordFile(std::string_view name) {
  if (name == kSetupFile || name == kHtmlFile || name == kJsonFile || name == kCompareFile ||
      name == kPdfFile)
    return true;
  for (const CommissioningStep& s : CommissioningSteps()) {
    if (name == std::string(s.word) + ".csv") return true;
  }
  return name.starts_with(".") && name.find(".tmp-") != std::string_view::npos;
}

}  // namespace

std::string CheckRecordFolder(const std::string& dir) {
  return ZelCheckReplaceableFolder(dir, IsRecordFile);
}

namespace {

// The page as a toolkit prints it: each plot at its placeholder, drawn from its scene.
ZelReportDocument PrintableReport(const ordered_json& report, const CommissioningResult& result) {
  ZelReportDocument document;
  document.title = "Commissioning report: " + Text(report["drive"]["description"]);
  // Each plot where the page has it: a placeholder that the printer draws its scene at.
  auto place = [&document](const std::string& svg, const ZelPlotScene& scene) {
    if (svg.empty()) return std::string();
    std::string placeholder = ZelPlotPlaceholder(document.plots.size());
    document.plots.push_back(scene);
    return placeholder;
  };
  std::vector<std::string> placeholders, notch_placeholders;
  for (const StepOutcome& s : result.steps) {
    placeholders.push_back(place(s.svg, s.plot));
    notch_placeholders.push_back(s.notch ? place(s.notch->svg, s.notch->plot) : std::string());
  }
  document.html = CommissioningReportHtml(report, placeholders, notch_placeholders);
  return document;
}

}  // namespace

std::string WriteCommissioningRecord(const CommissioningResult& result, const CZel_Setup& setup,
                                     const std::string& dir_text, const ReportFiles& record,
                                     const ordered_json& earlier, const ReportPrinter& printer,
                                     RecordPaths& paths) {
  const std::filesystem::path dir(dir_text);
  std::vector<ZelFileBytes> files;
  ReportFiles names = record;
  if (!names.drive) {
    if (const CZel_DriveLink* link = CZel_Comm::GetLink()) names.drive = link->Describe();
  }
  if (names.motor.empty()) names.motor = MotorOfSetup(setup);
  // A run that failed saves no setup, as no command saves one after work that failed: the
  // record tells what failed, and the next run starts again from the setup it is given.
  names.setup = result.succeeded ? kSetupFile : "";
  names.csv.clear();
  std::vector<std::string> svgs, notch_svgs;
  for (const StepOutcome& s : result.steps) {
    notch_svgs.push_back(s.notch ? s.notch->svg : std::string());
    std::string csv;
    if (!s.csv.empty()) {
      csv = std::string(s.step->word) + ".csv";
      files.push_back({csv, s.csv});
    }
    names.csv.push_back(csv);
    svgs.push_back(s.svg);
  }
  if (result.succeeded) files.push_back({kSetupFile, result.setup_text});
  ordered_json report = CommissioningReportJson(result, setup, names);
  std::string pdf;
  const std::string no_pdf = printer ? printer(PrintableReport(report, result), pdf)
                                     : "this program has nothing to draw a PDF with";
  if (no_pdf.empty()) {
    paths.pdf = (dir / kPdfFile).string();
    files.push_back({kPdfFile, std::move(pdf)});
  } else {
    report["warnings"].push_back(std::string(kPdfFile) + " was not written: " + no_pdf);
  }
  files.push_back(
      {kJsonFile, report.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n"});
  paths.html = (dir / kHtmlFile).string();
  files.push_back({kHtmlFile, CommissioningReportHtml(report, svgs, notch_svgs)});
  if (!earlier.is_null()) {
    paths.compare = (dir / kCompareFile).string();
    files.push_back({kCompareFile, ComparisonReportHtml(report, earlier)});
  }
  // A record is one run's files: an earlier run's CSVs must not stay beside this report.
  return ZelReplaceFolder(dir_text, files, IsRecordFile);
}

std::string RecordSetupPath(const std::string& dir) {
  return (std::filesystem::path(dir) / kSetupFile).string();
}

ordered_json ReadCommissioningReport(const std::string& dir, std::string& error) {
  const std::string path = (std::filesystem::path(dir) / kJsonFile).string();
  std::string text;
  error = ZelReadFileLimited(path, kZelMaxInputFileBytes, text);
  if (!error.empty()) return {};
  return ParseCommissioningReport(text, path, error);
}

ordered_json ParseCommissioningReport(std::string_view text, const std::string& path,
                                      std::string& error) {
  error.clear();
  ordered_json report;
  if (std::string why = zel::ZelReadJson(text, report); !why.empty()) {
    error = path + ": not a commissioning report: " + why;
    return {};
  }
  if (!report.is_object() || !report["steps"].is_array() || !report["values"].is_object()) {
    error = path + ": not a commissioning report";
    return {};
  }
  return report;
}

}  // namespace dcservo
