#include "drivetests/tuning_figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "design/drive_model.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"
#include "units/parameter_reader.h"
#include "units/scales.h"

namespace dcservo {

namespace {


bool AtLevel(double value, double level, double tolerance) {
  return std::fabs(value - level) <= tolerance;
}

// The sample after which the reference has stopped changing at `level` for good in the
// stretch from `from`: the end of the ramp that led there. -1 when it never gets there.
long FindRampEnd(const CycleTrace& t, std::size_t from, double level, double tolerance) {
  for (std::size_t i = std::max<std::size_t>(from, 1); i < t.reference.size(); ++i) {
    if (AtLevel(t.reference[i], level, tolerance) && !AtLevel(t.reference[i - 1], level, tolerance))
      return static_cast<long>(i);
  }
  return -1;
}

// The response averaged over `width` samples centred on each (fewer at the ends).
std::vector<double> CentredAverage(const std::vector<double>& v, std::size_t n, int width) {
  std::vector<double> out(v.begin(), v.begin() + static_cast<long>(n));
  if (width <= 1) return out;
  const std::size_t half = static_cast<std::size_t>(width / 2);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t lo = i >= half ? i - half : 0;
    const std::size_t hi = std::min(n, i + half + 1);
    double sum = 0.0;
    for (std::size_t k = lo; k < hi; ++k) sum += v[k];
    out[i] = sum / static_cast<double>(hi - lo);
  }
  return out;
}

// Samples from `from` while the reference stays at `level`: what the average must fit in.
std::size_t HoldLength(const CycleTrace& t, std::size_t from, std::size_t n, double level,
                       double tolerance) {
  std::size_t i = from;
  while (i < n && AtLevel(t.reference[i], level, tolerance)) ++i;
  return i - from;
}

constexpr std::size_t kSettlingLeadSamples = 3;

// Time from the ramp's end until the response stays within the band, up to the point where
// the reference leaves the level again.
double SettlingAfter(const CycleTrace& t, const std::vector<double>& response, long end,
                     double level, double band, double tolerance, std::size_t* hold_end) {
  const auto start = static_cast<std::size_t>(end);
  std::size_t i = start;
  while (i < t.reference.size() && AtLevel(t.reference[i], level, tolerance)) ++i;
  *hold_end = i;
  // The feedforward of the next ramp may move the response a sample or two before its
  // reference leaves the level: those samples tell nothing of how the hold settled.
  const std::size_t judged = i - start > kSettlingLeadSamples ? i - kSettlingLeadSamples : i;
  std::size_t last_out = start;
  bool ever_out = false;
  for (std::size_t k = start; k < judged; ++k) {
    if (std::fabs(response[k] - level) > band) {
      last_out = k;
      ever_out = true;
    }
  }
  if (ever_out && last_out + 1 >= judged) return std::numeric_limits<double>::quiet_NaN();
  const std::size_t settled = ever_out ? last_out + 1 : start;
  return t.time[settled] - t.time[start];
}

}  // namespace

CycleFigures FiguresOfCycle(const CycleTrace& t, double final_value, double quantum) {
  CycleFigures f;
  const std::size_t n = std::min({t.time.size(), t.reference.size(), t.response.size()});
  if (n == 0) return f;
  double sum = 0.0;
  double beyond = 0.0;
  const double sign = final_value < 0.0 ? -1.0 : 1.0;
  // The profile's final value is a change from the level the reference rests at: an axis
  // that an earlier run left elsewhere than at zero has its own levels. The move's far end
  // is the reference's extreme; the rest, the final value short of it. (The first sample
  // may already be a step into the move, so it is no measure of the rest.)
  // A cycle cut short of its far end keeps the first sample as its rest.
  const auto [lowest, highest] = std::minmax_element(t.reference.begin(), t.reference.begin() + n);
  const double extreme = final_value < 0.0 ? *lowest : *highest;
  // A sweep sampled more slowly than the reference moves may see its first step twice; one
  // that holds the whole cycle ends back at the rest, whatever it started with.
  const double first_step = n > 1 ? std::fabs(t.reference[1] - t.reference[0]) : 0.0;
  const double at_rest = 1e-6 * std::fabs(final_value);
  const bool whole_move =
      std::fabs(t.reference.front() - (extreme - final_value)) <= first_step + at_rest ||
      (n > 1 && std::fabs(t.reference[n - 1] - (extreme - final_value)) <= at_rest);
  const double rest = whole_move ? extreme - final_value : t.reference.front();
  const double level = rest + final_value;
  double departure = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double e = t.reference[i] - t.response[i];
    f.peak_error = std::max(f.peak_error, std::fabs(e));
    sum += e * e;
    departure += (t.reference[i] - rest) * (t.reference[i] - rest);
    beyond = std::max(beyond, sign * (t.response[i] - level));
  }
  f.rms_error = std::sqrt(sum / static_cast<double>(n));
  f.reference_rms = std::sqrt(departure / static_cast<double>(n));
  const double magnitude = std::fabs(final_value);
  if (magnitude > 0.0) f.overshoot_percent = 100.0 * beyond / magnitude;
  const double tolerance = 1e-6 * std::max(magnitude, 1e-12);
  const double share = kSettlingBand * magnitude;
  f.settling_band = std::max(share, kSettlingQuanta * quantum);
  std::size_t hold_end = 0;
  const long first = FindRampEnd(t, 0, level, tolerance);
  if (first < 0) return f;
  int width = 1;
  if (share > 0.0 && kSettlingQuanta * quantum > share) {
    const double wanted = std::ceil(kSettlingQuanta * quantum / share);
    const double hold = static_cast<double>(
        HoldLength(t, static_cast<std::size_t>(first), n, level, tolerance));
    width = static_cast<int>(
        std::min(wanted, std::max(1.0, std::floor(kSettlingAverageShareOfHold * hold))));
  }
  f.settling_average = width;
  f.settling_band = std::max(share, kSettlingQuanta * quantum / width);
  const std::vector<double> response = CentredAverage(t.response, n, width);
  f.settling_s[0] = SettlingAfter(t, response, first, level, f.settling_band, tolerance, &hold_end);
  // Back at rest: the level the reference started from.
  const long second = FindRampEnd(t, hold_end, rest, tolerance);
  if (second >= 0)
    f.settling_s[1] =
        SettlingAfter(t, response, second, rest, f.settling_band, tolerance, &hold_end);
  return f;
}

std::optional<double> SettlingBound(const CycleFigures& f, int ramp) {
  if (f.settling_resolution_s > 0.0 && f.settling_s[ramp] == 0.0) return f.settling_resolution_s;
  return std::nullopt;
}

double PredictedAt(const CycleTrace& p, double time_s) {
  if (p.time.empty()) return 0.0;
  if (time_s <= p.time.front()) return p.response.front();
  if (time_s >= p.time.back()) return p.response.back();
  const auto it = std::upper_bound(p.time.begin(), p.time.end(), time_s);
  const std::size_t hi = static_cast<std::size_t>(it - p.time.begin());
  const std::size_t lo = hi - 1;
  const double w = (time_s - p.time[lo]) / (p.time[hi] - p.time[lo]);
  return p.response[lo] + w * (p.response[hi] - p.response[lo]);
}

double PredictionReader::At(double time_s) {
  const std::vector<double>& time = p_.time;
  if (time.empty()) return 0.0;
  if (time_s <= time.front()) return p_.response.front();
  if (time_s >= time.back()) return p_.response.back();
  // The first sample later than `time_s`, as PredictedAt finds it.
  if (hi_ == 0 || hi_ >= time.size() || time[hi_ - 1] > time_s) {
    hi_ = static_cast<std::size_t>(std::upper_bound(time.begin(), time.end(), time_s) -
                                   time.begin());
  } else {
    while (time[hi_] <= time_s) ++hi_;
  }
  const std::size_t lo = hi_ - 1;
  const double w = (time_s - time[lo]) / (time[hi_] - time[lo]);
  return p_.response[lo] + w * (p_.response[hi_] - p_.response[lo]);
}

std::optional<double> DeviationFromPrediction(const CycleTrace& measured,
                                              const CycleTrace& prediction) {
  if (prediction.time.empty()) return std::nullopt;
  double sum = 0.0;
  std::size_t n = 0;
  PredictionReader predicted(prediction);
  for (std::size_t i = 0; i < measured.time.size() && i < measured.response.size(); ++i) {
    if (measured.time[i] > prediction.time.back()) break;
    const double d = measured.response[i] - predicted.At(measured.time[i]);
    sum += d * d;
    ++n;
  }
  if (n == 0) return std::nullopt;
  return std::sqrt(sum / static_cast<double>(n));
}

std::vector<double> ProfileReference(const ReferenceProfile& profile) {
  std::vector<double> reference;
  double q16 = 0.0;
  reference.push_back(0.0);
  for (const ProfileSegment& s : profile) {
    for (long long k = 0; k < s.count; ++k) {
      q16 += s.slope_q16;
      reference.push_back(q16 / kQ16One);
    }
  }
  return reference;
}

namespace {

// The limits that the test's program puts in place of the chip's, counts.
// A setup without them runs with the chip's.
void TestLimits(CZel_Setup& setup, ModelRun& run) {
  const ParameterReader in = ParameterReader::Quiet(setup);
  if (run.structure == ModelStructure::PositionOverSpeed) {
    if (in.Find(param::Limit_Speed))
      run.speed_limit = std::trunc(DriveInternalValue(in, param::Limit_Speed));
  } else if (in.Find(param::TestLimitCurrent)) {
    run.current_limit = DriveInternalValue(in, param::TestLimitCurrent);
  }
}

}  // namespace

std::optional<CycleTrace> PredictedTrace(CZel_Setup& setup, TunedLoop loop,
                                         const ProfileNames& names) {
  const std::optional<ProfileInputs> in = ProfileInputsOf(setup, names);
  // A setup without the motor's data has no prediction.
  const std::optional<DriveModel> model = DriveModelOf(setup);
  if (!in || !model) return std::nullopt;
  if (std::fabs(model->OuterPeriod() - in->period_s) > 1e-9 * in->period_s) return std::nullopt;
  const ReferenceProfile profile = BuildReferenceProfile(*in);
  if (CheckReferenceProfile(profile).text) return std::nullopt;
  const double scale = ProfileScale(setup, names);
  if (scale == 0.0) return std::nullopt;
  const std::vector<double> reference = ProfileReference(profile);
  ModelRun run;
  run.structure = StructureOfLoop(setup, loop);
  TestLimits(setup, run);
  // The program's increments, one per sample: the first sample rests where the run starts.
  run.reference.reserve(reference.size());
  run.reference.push_back(0.0);
  for (std::size_t k = 1; k < reference.size(); ++k) run.reference.push_back(reference[k] - reference[k - 1]);
  const ModelTrace modelled = SimulateRun(*model, run);
  CycleTrace trace;
  for (auto* values : {&trace.time, &trace.reference, &trace.response})
    values->reserve(modelled.reference.size());
  trace.current_saturated.reserve(modelled.reference.size());
  for (std::size_t k = 0; k < modelled.reference.size(); ++k) {
    trace.time.push_back(static_cast<double>(k) * modelled.period_s);
    trace.reference.push_back(modelled.reference[k] / scale);
    trace.response.push_back(modelled.response[k] / scale);
    trace.current_saturated.push_back(modelled.current_saturated[k]);
  }
  return trace;
}

CycleFigures ShownFiguresOfCycle(const CycleTrace& trace, const TuningRunFigures& run,
                                 const CycleTrace* prediction) {
  // The figures are linear in the trace (the overshoot and the settling band are shares of
  // the move), so the trace is taken in the shown unit and the figures follow.
  CycleTrace shown = trace;
  for (auto* values : {&shown.reference, &shown.response}) {
    for (double& v : *values) v *= run.per_base;
  }
  CycleFigures f = FiguresOfCycle(shown, run.final_value, run.quantum);
  if (prediction) {
    if (const auto deviation = DeviationFromPrediction(trace, *prediction))
      f.deviation_rms = *deviation * std::fabs(run.per_base);
  }
  return f;
}

namespace {

std::string Seconds(double s) {
  if (std::isnan(s)) return "not settled";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", s * 1000.0);
  return text;
}

std::string SettlingSeconds(const CycleFigures& f, int ramp) {
  const std::optional<double> bound = SettlingBound(f, ramp);
  if (!bound) return Seconds(f.settling_s[ramp]);
  char text[40];
  std::snprintf(text, sizeof text, "under %.4g ms", *bound * 1000.0);
  return text;
}

std::string Line(const char* what, const CycleFigures& f, const std::string& unit) {
  char text[200];
  std::snprintf(text, sizeof text, "%s: error peak %.4g %s, RMS %.4g %s; overshoot %.1f %%; ",
                what, f.peak_error, unit.c_str(), f.rms_error, unit.c_str(), f.overshoot_percent);
  std::string line = std::string(text) + "settling " + SettlingSeconds(f, 0) + " / " +
                     SettlingSeconds(f, 1);
  if (f.deviation_rms) {
    std::snprintf(text, sizeof text, "; off the prediction by %.4g %s RMS", *f.deviation_rms,
                  unit.c_str());
    line += text;
  }
  return line;
}

}  // namespace

std::string FiguresText(const TuningRunFigures& figures) {
  std::string text;
  if (figures.predicted) text += Line("Predicted", *figures.predicted, figures.unit) + "\r\n";
  if (figures.predicted_saturation_s > 0.0)
    text += "Predicted: the current reference sits at its limit for " +
            Seconds(figures.predicted_saturation_s) + " of the profile\r\n";
  for (const CycleFigures& f : figures.cycles) {
    const std::string what = "Cycle " + std::to_string(f.cycle);
    text += Line(what.c_str(), f, figures.unit) + "\r\n";
  }
  if (figures.ripple) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "Current ripple at constant speed: RMS %.3g A, peak %.3g A\r\n",
                  figures.ripple->rms_A, figures.ripple->peak_A);
    text += line;
  }
  return text;
}

}  // namespace dcservo
