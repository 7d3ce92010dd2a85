#include "drivetests/drive_test_json.h"

#include <cmath>

#include "drivetests/identification.h"

namespace dcservo {

namespace {

using nlohmann::ordered_json;

}  // namespace

const char* VerdictWord(bool passed) { return passed ? kVerdictPassed : kVerdictFailed; }

bool VerdictPassed(const ordered_json& verdict) {
  return verdict == kVerdictPassed || verdict == "succeeded";
}

ordered_json TrackingFiguresJson(const CycleFigures& f) {
  auto seconds = [](double s) { return std::isfinite(s) ? ordered_json(s) : ordered_json(nullptr); };
  ordered_json j = {{"rms_error", f.rms_error},
                    {"peak_error", f.peak_error},
                    {"overshoot_pct", f.overshoot_percent},
                    {"settling_time_s", seconds(f.settling_s[0])},
                    {"settling_time_second_ramp_s", seconds(f.settling_s[1])}};
  // Shorter than a sample of the scope: no time, and the bound that the samples justify.
  const struct {
    int ramp;
    const char *key, *bound_key;
  } settlings[] = {{0, "settling_time_s", "settling_time_under_s"},
                   {1, "settling_time_second_ramp_s", "settling_time_second_ramp_under_s"}};
  for (const auto& s : settlings) {
    if (const std::optional<double> bound = SettlingBound(f, s.ramp)) {
      j[s.key] = nullptr;
      j[s.bound_key] = *bound;
    }
  }
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

ordered_json StepFiguresJson(const std::optional<StepFigures>& f) {
  if (!f) return nullptr;
  return {{"rise_time_s", f->rise_time_s},
          {"overshoot_pct", f->overshoot_pct},
          {"settling_time_s", f->settling_time_s},
          {"steady_state_error", f->steady_state_error}};
}

}  // namespace dcservo
