#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

#include "dcservo_version.h"
#include "derive/biquad_slots.h"
#include "derive/display_step.h"
#include "design/parameter_meaning.h"
#include "drivetests/commissioning_report.h"
#include "host/zel_motor_database.h"
#include "host/zel_setup.h"
#include "host/zel_units.h"
#include "names/drive_names.h"

namespace dcservo {

namespace {

using nlohmann::ordered_json;

// The drive's and the motor's values that every report shows.
constexpr const char* kShownValues[] = {
    param::Vdc, param::In, param::ImaxM,     param::K,        param::R,       param::L,
    param::Jm,  param::Jt, param::Imax_Prot, param::Kp_C_scl, param::Ki_C_scl};

// One step of the drive's value in `unit`, by which the record shows it; 0 when unknown.
double ResolutionIn(const CZel_Setup& setup, const CZel_Parameter& p, const CZel_Unit& unit) {
  // DisplayStep moves the register by a count and puts it back: the setup ends as it was.
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
  return setup.FindOptionalParameter(name);
}

// What a name that the record shows means; empty for one that the setup does not hold.
std::string MeaningOf(const CZel_Setup& setup, const std::string& name) {
  const CZel_Parameter* p = QuietlyFind(setup, name);
  return p ? ParameterMeaning(*p) : "";
}

ordered_json CycleJson(const std::optional<CycleFigures>& c) {
  return c ? TrackingFiguresJson(*c) : ordered_json(nullptr);
}

}  // namespace

std::string MotorOfSetup(const CZel_Setup& setup) {
  // A motor's value that the setup lacks reads 0, as in ZelMotorFromSetup, but unreported: the
  // record names a motor of the list or none.
  ZelMotorData held;
  for (const ZelMotorField& f : ZelMotorFields()) {
    const CZel_Parameter* p = setup.FindOptionalParameter(f.parameter);
    held.*(f.value) = p ? p->GetValueInBaseUnit() : 0.0;
  }
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

namespace {

// The gains a step ran with (or its results, in base units), by name, each as every parameter
// of the record (one that the setup does not hold keeps its number and its own unit).
ordered_json GainsJson(const std::vector<TestRunReport::Value>& gains, const CZel_Setup& setup) {
  ordered_json out = ordered_json::object();
  for (const auto& g : gains) {
    const CZel_Parameter* p = QuietlyFind(setup, g.name);
    out[g.name] = p ? ParameterJson(setup, *p, g.value)
                    : ordered_json{{"value", g.value}, {"unit", g.unit}, {"meaning", ""}};
    if (!p && g.step > 0.0) out[g.name]["resolution"] = g.step;
    // A measured result is shown to its own resolution where the parameter has none.
    if (g.step > 0.0 && p && g.unit == p->GetUnitName() &&
        !(out[g.name]["resolution"].get<double>() > 0.0))
      out[g.name]["resolution"] = g.step / std::abs(p->GetSelectedUnit().GetFactorToBase());
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
  return {{param::filter, n->filter},
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

// When the record was made, to the second, in UTC: "2026-12-08T07:10:00Z".
std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}


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
  if (files.link_times) {
    const auto centiseconds = [](double s) { return std::round(s * 100.0) / 100.0; };
    out["record"]["drive_programs_s"] = centiseconds(files.link_times->programs_s);
    out["record"]["wall_s"] = centiseconds(files.link_times->wall_s);
  }
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

}  // namespace dcservo
