#include "drivetests/frequency_response_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "host/zel_comm.h"
#include "host/zel_mer.h"
#include "names/drive_names.h"
#include "names/program_names.h"

namespace dcservo {
namespace frequency_run_detail {

// Injection, current reference and motor current take a word each, the position two.
constexpr const char* kExcitationLogged[] = {kInjectionVariable, var::Current_Reference,
                                             var::Motor_Current, var::Motor_Position};
constexpr int kWordsPerPoint = 5;
// The measurement lasts about this long at each frequency, within these periods: long enough
// that the encoder's counts average out, short enough that a sweep takes a minute at most.
constexpr double kMeasureTime_s = 0.25;
constexpr int kLeastPeriods = 8, kMostPeriods = 400;
// Points per period that the log keeps at the least.
constexpr double kLeastPointsPerPeriod = 4.0;
constexpr double kTick_s = 0.02;

// A divider that shares no factor with the speed loop's ratio samples the speed loop's held
// output at every phase of its hold, so its fit sees the held staircase, not its corners.
int CoprimeDivider(int least, int most, int fast_per_slow) {
  const int ratio = std::max(1, fast_per_slow);
  int d = std::max(1, least);
  while (std::gcd(d, ratio) != 1) ++d;
  if (d <= most) return d;
  d = std::max(1, most);
  while (d > 1 && std::gcd(d, ratio) != 1) --d;
  return d;
}

// The drive's log of one run, split into its channels.
ExcitationLog ExcitationLogOf(const ZelLogData& data, double frequency_hz) {
  ExcitationLog out;
  out.frequency_hz = frequency_hz;
  out.period_s = data.period_s;
  for (auto* channel : {&out.injection, &out.current_reference, &out.current, &out.position})
    channel->reserve(data.points.size());
  for (const std::vector<double>& point : data.points) {
    if (point.size() < 4) continue;
    out.injection.push_back(point[0]);
    out.current_reference.push_back(point[1]);
    out.current.push_back(point[2]);
    out.position.push_back(point[3]);
  }
  return out;
}

// A drive whose time stands still would keep the program running for ever: the waits a run
// may take are bounded by those its deadline needs, with room for waits cut short.
int MostWaits(double span_s, double tick_s) {
  return 4 * static_cast<int>(std::ceil(span_s / tick_s)) + 100;
}

std::string RunFailure(CZel_DriveLink& link, double frequency_hz) {
  char at[48];
  std::snprintf(at, sizeof at, " at %.4g Hz", frequency_hz);
  double flag = 0.0, mer = 0.0;
  if (link.ReadVariable(var::MER, mer) && mer != 0.0)
    return std::string("the drive stopped the run") + at + ": " +
           zel_mer::Describe(static_cast<unsigned>(mer));
  if (!link.ReadProgramVariable(program::test_flag, flag)) return link.LastError();
  if (flag == 0.0) return std::string("the run's current protection tripped") + at;
  if (flag < 0.0) return std::string("the drive refused the excitation") + at;
  return {};
}

}  // namespace frequency_run_detail

using namespace frequency_run_detail;

ExcitationPlan PlanExcitation(double frequency_hz, const ExcitationTiming& timing) {
  ExcitationPlan plan;
  // The drive holds the frequency in 16.16 fixed point.
  plan.frequency_hz = std::round(frequency_hz * 65536.0) / 65536.0;
  if (!(plan.frequency_hz > 0.0) || !(timing.fast_period_s > 0.0)) return plan;
  const double per_period = 1.0 / (plan.frequency_hz * timing.fast_period_s);
  const int capacity = timing.log_words / kWordsPerPoint;
  const int settle = static_cast<int>(std::ceil(SettleTime(plan.frequency_hz) * plan.frequency_hz));
  int periods = settle + std::clamp(static_cast<int>(std::ceil(plan.frequency_hz * kMeasureTime_s)),
                                    kLeastPeriods, kMostPeriods);
  const double samples = std::ceil(periods * per_period);
  const int slowest = std::max(1, static_cast<int>(per_period / kLeastPointsPerPeriod));
  const int divider = CoprimeDivider(static_cast<int>(std::ceil(samples / capacity)), slowest,
                                     timing.fast_per_slow);
  if (samples > static_cast<double>(capacity) * divider)
    periods = std::max(1, static_cast<int>(capacity * divider / per_period));
  plan.periods = periods;
  plan.divider = divider;
  // The log fills before the sine ends, so no point holds the axis switched off.
  plan.points = std::min(capacity, static_cast<int>(std::floor(periods * per_period / divider)) - 1);
  return plan;
}

FrequencyRunResult RunFrequencyResponse(const FrequencyRunRequest& request,
                                        const CountScales& scales, const ExcitationTiming& timing,
                                        const std::function<void(double)>& wait,
                                        const std::function<void(int, int)>& progress,
                                        const std::function<bool()>& stop_asked) {
  FrequencyRunResult result;
  const auto asked = [&stop_asked] { return stop_asked && stop_asked(); };
  CZel_DriveLink* link = CZel_Comm::GetLink();
  if (!link) {
    result.error = "no drive is connected";
    return result;
  }
  std::vector<ZelProgramVariable> vars;
  if (!link->DescribeProgram(drive_program::Frequency_Response_Test, vars)) {
    result.error = kNoFrequencyResponseProgram;
    return result;
  }
  const auto set = [&vars](const char* name, double value) {
    for (ZelProgramVariable& v : vars)
      if (v.name == name) v.value = value;
  };
  set(program::Amplitude, std::round(request.amplitude_A * scales.current_counts_per_A));
  set(program::Speed_Gain_Shift, request.speed_gain_shift);
  set(program::Speed, std::round(request.speed_counts * 65536.0) / 65536.0);
  set(program::Imax_Prot_Test, std::round(request.protection_A * scales.current_counts_per_A));

  const int total = static_cast<int>(request.frequency_hz.size());
  for (int k = 0; k < total; ++k) {
    if (asked()) {
      result.cut_short = true;
      return result;
    }
    const ExcitationPlan plan = PlanExcitation(request.frequency_hz[k], timing);
    set(program::Frequency, plan.frequency_hz);
    set(program::Periods, plan.periods);
    ZelLogRequest log;
    log.variables.assign(std::begin(kExcitationLogged), std::end(kExcitationLogged));
    log.loop = ZelLogRequest::kFastLoop;
    log.divider = plan.divider;
    log.points = plan.points;
    if (plan.points < 2 || !link->StartLog(log) ||
        !link->StartProgram(drive_program::Frequency_Response_Test, vars)) {
      result.error = plan.points < 2 ? "the drive cannot log a run at this frequency"
                                     : link->LastError();
      return result;
    }
    const double started = link->Now();
    const double tick = std::min(kTick_s, plan.Duration(timing));
    const double deadline = started + 2.0 * plan.Duration(timing) + 1.0;
    int waits = 0;
    const int most_waits = MostWaits(deadline - started, tick);
    while (link->ProgramRunning() && link->Now() < deadline && !link->Lost() && !asked() &&
           waits++ < most_waits)
      wait(tick);
    if (link->ProgramRunning() && asked()) {
      // The frequency under way is left out: its log is not complete. The drive ends the
      // program at its next sample; a second of its time is let pass for it.
      link->StopProgram();
      const int most_stop_waits = MostWaits(1.0, tick);
      for (int w = 0; link->ProgramRunning() && !link->Lost() && w < most_stop_waits; ++w)
        wait(tick);
      if (link->ProgramRunning()) result.error = "the frequency response program did not stop";
      result.cut_short = true;
      return result;
    }
    if (link->ProgramRunning()) {
      link->StopProgram();
      if (waits <= most_waits || link->Now() >= deadline) {
        result.error = "the frequency response program did not end";
        return result;
      }
      char text[160];
      std::snprintf(text, sizeof text,
                    "the drive's time did not advance while the frequency response program ran "
                    "at %.4g Hz: the run was stopped",
                    plan.frequency_hz);
      result.error = text;
      return result;
    }
    result.error = RunFailure(*link, plan.frequency_hz);
    ZelLogData data;
    if (!result.error.empty()) {
      // What the drive logged before it stopped; a log it cannot give adds nothing.
      if (!link->Lost() && link->UploadLog(data))
        result.stopped = ExcitationLogOf(data, plan.frequency_hz);
      return result;
    }
    if (!link->UploadLog(data)) {
      result.error = link->LastError();
      return result;
    }
    result.logs.push_back(ExcitationLogOf(data, plan.frequency_hz));
    if (progress) progress(k + 1, total);
  }
  return result;
}

FrequencyMeasurementRun MeasureFrequencyResponse(const DriveModel& model,
                                                 const FrequencyRunRequest& request,
                                                 int log_words,
                                                 const std::function<void(double)>& wait,
                                                 const std::function<void(int, int)>& progress,
                                                 const std::function<bool()>& stop_asked) {
  FrequencyMeasurementRun out;
  const CountScales scales{model.current_counts_per_A, model.position_counts_per_rad};
  const ExcitationTiming timing{model.FastPeriod(), std::max(1, model.slper / model.clper),
                                log_words};
  const FrequencyRunResult run =
      RunFrequencyResponse(request, scales, timing, wait, progress, stop_asked);
  if (!run.error.empty()) {
    out.error = run.error;
    out.stopped = run.stopped;
    return out;
  }
  out.cut_short = run.cut_short;
  for (const ExcitationLog& log : run.logs) {
    const std::optional<MeasuredPoint> point = AnalyseExcitation(log, scales);
    if (!point) {
      char text[96];
      std::snprintf(text, sizeof text, "the drive's log at %.4g Hz is too short to analyse",
                    log.frequency_hz);
      out.error = text;
      return out;
    }
    out.frequency_hz.push_back(log.frequency_hz);
    out.measured.plant.push_back(point->plant);
    out.measured.open_loop.push_back(point->open_loop);
    out.measured.closed_loop.push_back(point->closed_loop);
    out.measured.current_loop.push_back(point->current_loop);
  }
  out.model = ModelCurves(model, out.frequency_hz);
  return out;
}

double HighestMeasurableFrequency(const DriveModel& model) { return 0.25 / model.FastPeriod(); }

double LargestExcitation(const DriveModel& model) {
  return model.sat_s / model.current_counts_per_A;
}

std::vector<IdentifiedValue> PlantValues(const PlantIdentification& plant) {
  std::vector<IdentifiedValue> values = {
      {param::Jt, plant.total_inertia_kgm2, "kg m^2", plant.inertia_confidence}};
  if (!plant.coupling) return values;
  const TwoMassPlant& c = *plant.coupling;
  const double sure = c.confidence;
  const IdentifiedValue coupling[] = {
      {"motor_inertia", c.motor_inertia_kgm2, "kg m^2", sure},
      {"load_inertia", c.load_inertia_kgm2, "kg m^2", sure},
      {"stiffness", c.stiffness_Nm_per_rad, "Nm/rad", sure},
      {"damping", c.damping_Nm_s_per_rad, "Nm s/rad", sure},
      {"resonance", c.resonance_hz, "Hz", sure},
      {"anti_resonance", c.anti_resonance_hz, "Hz", sure},
      {"damping_ratio", c.damping_ratio, "1", sure},
  };
  values.insert(values.end(), std::begin(coupling), std::end(coupling));
  return values;
}

}  // namespace dcservo
