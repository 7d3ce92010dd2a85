#include "drivetests/tuning_prediction.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "design/drive_model.h"
#include "design/tune.h"
#include "host/zel_graph.h"
#include "host/zel_logger.h"
#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"
#include "units/scales.h"

namespace dcservo {
namespace {

// A position run is shown and judged from where the shaft stood when it started: an earlier
// run, or a hand, leaves it anywhere, while the profile and its prediction start from zero.
template <class Log>
double RunOrigin(TunedLoop loop, const Log& log) {
  if (loop != TunedLoop::Position || log.GetPointsRead() == 0) return 0.0;
  return log.GetValue(std::size_t{0}, 2);
}

// The level the reference holds after its first ramp, base units.
double FinalLevel(CZel_Setup& setup, const ProfileNames& names) {
  const double f = ZelQuietBaseValue(setup, names.final_value);
  return ProfileReferenceType(setup, names) == ReferenceType::Negative ? -f : f;
}

// The unit the setup shows the run's quantity in, as its final value's field shows it: the
// figures use it as the plots do.
void ShownUnitOfRun(CZel_Setup& setup, const ProfileNames& names, TuningRunFigures& figures) {
  const CZel_Parameter* f = setup.FindParameter(names.final_value);
  figures.unit = f ? f->GetSelectedUnit().GetName() : "";
  figures.per_base = f ? f->GetSelectedUnit().FromBase(1.0) : 1.0;
}

}  // namespace

UploadedLog::UploadedLog(const CZel_SingleAxisLogger& logger) {
  const std::size_t points = logger.GetPointsRead();
  columns_.resize(static_cast<std::size_t>(std::max(logger.GetChannelCount(), 0)) + 1);
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    columns_[c].reserve(points);
    for (std::size_t i = 0; i < points; ++i)
      columns_[c].push_back(logger.GetValue(i, static_cast<int>(c)));
  }
}

double UploadedLog::GetValue(std::size_t point, int channel) const {
  if (channel < 0 || static_cast<std::size_t>(channel) >= columns_.size()) return 0.0;
  const std::vector<double>& column = columns_[static_cast<std::size_t>(channel)];
  return point < column.size() ? column[point] : 0.0;
}

std::vector<std::pair<std::string, double>> ProfileProgramInputs(const ReferenceProfile& profile) {
  std::vector<std::pair<std::string, double>> inputs;
  for (std::size_t i = 0; i < profile.size(); ++i) {
    const ProfileSegment& s = profile[i];
    inputs.emplace_back("a" + std::to_string(i), static_cast<double>(s.count));
    inputs.emplace_back("b" + std::to_string(i), s.slope_q16 / kQ16One);
  }
  return inputs;
}

namespace {

// The margins of the gains as they stand: those the run goes with (a change of gains during
// a run predicts again).
void MarginsOfRun(CZel_Setup& setup, TunedLoop loop, TuningRunFigures& figures) {
  figures.margins.reset();
  figures.inertia_spread.reset();
  figures.slow_inner_loop.clear();
  // A setup without the motor's data has no margins.
  const std::optional<DriveModel> model = DriveModelOf(setup);
  if (!model) return;
  const ModelStructure structure = StructureOfLoop(setup, loop);
  figures.margins = MarginsOf(*model, structure, loop);
  figures.inertia_spread = MarginsOverInertia(*model, structure, loop);
  if (structure != ModelStructure::PositionOverSpeed || !figures.margins) return;
  if (const auto inner = MarginsOf(*model, ModelStructure::Speed, TunedLoop::Speed))
    figures.slow_inner_loop = SlowInnerLoopText(*inner, *figures.margins,
                                                ZelQuietBaseValue(setup, param::PB_P), param::PB_P);
}

}  // namespace

void PredictRun(CZel_Setup& setup, TunedLoop loop, const ProfileNames& names,
                TuningRunFigures& figures) {
  MarginsOfRun(setup, loop, figures);
  ShownUnitOfRun(setup, names, figures);
  const double scale = ProfileScale(setup, names);
  figures.final_value = FinalLevel(setup, names) * figures.per_base;
  figures.quantum = scale != 0.0 ? std::fabs(figures.per_base / scale) : 0.0;
  figures.predicted.reset();
  figures.prediction = {};
  if (auto trace = PredictedTrace(setup, loop, names)) {
    figures.prediction = *trace;
    figures.predicted = ShownFiguresOfCycle(*trace, figures);
    const auto saturated = std::count(trace->current_saturated.begin(),
                                      trace->current_saturated.end(), true);
    if (trace->time.size() > 1)
      figures.predicted_saturation_s =
          static_cast<double>(saturated) * (trace->time[1] - trace->time[0]);
  }
}

void AddSweepFigures(std::span<const OnlineView::Sweep> sweeps, TuningRunFigures& figures) {
  figures.on_line = true;
  for (std::size_t k = figures.cycles.size(); k < sweeps.size(); ++k) {
    CycleTrace trace{sweeps[k].time, sweeps[k].reference, sweeps[k].response, {}};
    CycleFigures f = ShownFiguresOfCycle(trace, figures);
    f.cycle = static_cast<int>(k) + 1;
    const std::vector<double>& time = sweeps[k].time;
    if (time.size() > 1)
      f.settling_resolution_s = (time.back() - time.front()) / static_cast<double>(time.size() - 1);
    figures.cycles.push_back(f);
  }
}

std::optional<CycleFigures> UploadedCycleFigures(const UploadedLog& run,
                                                 TunedLoop loop, const TuningRunFigures& figures) {
  CycleTrace trace;
  for (std::size_t i = 0; i < run.GetPointsRead(); ++i) {
    trace.time.push_back(run.GetValue(i, 0));
    trace.reference.push_back(run.GetValue(i, 1));
    trace.response.push_back(run.GetValue(i, 2));
  }
  if (trace.time.empty()) return std::nullopt;
  const double origin = RunOrigin(loop, run);
  for (auto* values : {&trace.reference, &trace.response}) {
    for (double& v : *values) v -= origin;
  }
  CycleFigures f = ShownFiguresOfCycle(trace, figures, &figures.prediction);
  f.cycle = 1;
  return f;
}

constexpr double kSettledAfterTimeConstants = 5.0;

namespace {

// The spectrum at the log's own rate, whatever it is: the speed test's 2000 points stretch the
// log over the profile (one point a millisecond on the bundled drive), so what rings above the
// log's Nyquist frequency folds onto a lower one and is only named from a log at the loop's
// own rate. The loop's own hunting tones are set aside where the loop model puts them. A loop
// with a low pass on its speed feedback is not judged: it hunts near 65 Hz on the bundled drive
// behind the tuner's proposal, 47 dB over the floor, and the skirts and harmonics of that tone
// stand 23-30 dB all the way up, over any coupling that such a loop still feels.
void FindResonanceInLog(CZel_Setup& setup, const UploadedLog& run,
                        const MotionLog& log,
                        std::span<const std::vector<double>> current_at_constant_speed,
                        TuningRunFigures& figures) {
  figures.current_spectrum.reset();
  figures.resonance.reset();
  const double ts = ZelQuietBaseValue(setup, param::Ts_S);
  if (run.GetPointsRead() < 2 || !(ts > 0.0)) return;
  const double period = log.time_s[1] - log.time_s[0];
  if (!(period > 0.0)) return;
  figures.current_spectrum = AverageSpectrum(current_at_constant_speed, period);
  const bool at_loop_rate = std::abs(period - ts) <= 1e-6 * ts;
  const std::optional<DriveModel> model = DriveModelOf(setup);
  if (!at_loop_rate || !figures.current_spectrum || !model ||
      !model->speed_feedback_filters.empty())
    return;
  const ModelStructure structure = StructureOfLoop(setup, TunedLoop::Speed);
  const std::optional<LoopMargins> margins =
      MarginsOf(*model, structure, TunedLoop::Speed, kHuntingSweepPoints);
  if (!margins || !margins->phase_crossover_rad_s) return;
  figures.resonance = FindResonance(*figures.current_spectrum,
                                    *margins->phase_crossover_rad_s / (2.0 * std::numbers::pi));
  if (!figures.resonance) return;
  // The rigid loop's gain there, for whether the resonance takes the margins away.
  const auto l = OpenLoopFrequencyResponse(*model, structure, TunedLoop::Speed,
                                           {2.0 * std::numbers::pi * figures.resonance->frequency_hz});
  if (!l.empty()) JudgeResonance(*figures.resonance, std::abs(l[0]), log.current_step_A);
}

}  // namespace

void IdentifyFromLog(CZel_Setup& setup, const UploadedLog& run, TunedLoop loop,
                     std::optional<FrictionFit>& friction, TuningRunFigures& figures) {
  friction.reset();
  figures.ripple.reset();
  figures.held_current_A = 0.0;
  if (loop != TunedLoop::Speed || run.GetPointsRead() == 0) return;
  // A setup without the motor's data or the sensor's scales identifies nothing.
  const ParameterReader scales = ParameterReader::Quiet(setup);
  const double to_motor = LoadSpeedScale(scales) / MotorSpeedScale(scales);
  const double limit = ZelQuietBaseValue(setup, param::TestLimitCurrent);
  const double k = ZelQuietBaseValue(setup, param::K);
  if (!std::isfinite(to_motor) || !(k > 0.0)) return;
  MotionLog log;
  const std::size_t points = run.GetPointsRead();
  for (auto* column : {&log.time_s, &log.reference_rad_s, &log.speed_rad_s, &log.current_A})
    column->reserve(points);
  log.saturated.reserve(points);
  for (std::size_t i = 0; i < points; ++i) {
    log.time_s.push_back(run.GetValue(i, 0));
    log.reference_rad_s.push_back(to_motor * run.GetValue(i, 1));
    log.speed_rad_s.push_back(to_motor * run.GetValue(i, 2));
    // The reference rather than the measured current: the current loop follows it within a
    // sample, and a burst to the limit stays on the samples that are flagged for it.
    const double current = run.GetValue(i, 3);
    log.current_A.push_back(current);
    // The reference at its limit, less the converter's rounding.
    log.saturated.push_back(limit > 0.0 && std::abs(current) >= 0.98 * limit);
  }
  // A speed loop of band w and damping zeta settles within a few 1 / (zeta w): a slow loop's
  // stretch of constant speed starts later than a fast one's.
  const double band =
      ZelQuietBaseValue(setup, param::PB_S) * ZelQuietBaseValue(setup, param::Dump_S);
  if (band > 0.0) log.settle_s = kSettledAfterTimeConstants / band;
  const double levels = ZelQuietBaseValue(setup, param::ADCResolution);
  if (levels > 1.0) log.current_step_A = 2.0 * ZelQuietBaseValue(setup, param::ImaxPS) / levels;
  friction = IdentifyFriction(log, k);
  figures.ripple = RippleAtConstantSpeed(log);
  double held = 0.0;
  const std::vector<std::vector<double>> stretches = CurrentAtConstantSpeed(log);
  for (const std::vector<double>& stretch : stretches) {
    if (stretch.empty()) continue;
    double sum = 0.0;
    for (double a : stretch) sum += a;
    held = std::max(held, std::abs(sum / static_cast<double>(stretch.size())));
  }
  figures.held_current_A = held;
  figures.rated_A = ZelQuietBaseValue(setup, param::In);
  FindResonanceInLog(setup, run, log, stretches, figures);
}

namespace {

std::vector<double> LoggedColumn(const UploadedLog& run, int channel,
                                 double origin = 0.0) {
  std::vector<double> values(run.GetPointsRead());
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = run.GetValue(i, channel) - origin;
  return values;
}

// Where the position loop sits straight on the current loop, or for the speed test, the last
// two channels are the current reference and the motor's current.
bool LogsCurrents(CZel_Setup& setup, TunedLoop loop) {
  return loop == TunedLoop::Speed ||
         StructureOfLoop(setup, loop) == ModelStructure::PositionOverCurrent;
}

}  // namespace

void AlignPredictionToLog(const UploadedLog& run, TunedLoop loop,
                          CycleTrace& prediction) {
  const std::size_t points = run.GetPointsRead();
  if (prediction.time.size() < 2 || points == 0) return;
  const double step = prediction.time[1] - prediction.time[0];
  const double origin = RunOrigin(loop, run);
  const CycleTrace reference{prediction.time, prediction.reference, prediction.reference, {}};
  // The log's samples that the prediction spans, read once for every shift tried.
  std::vector<double> time, logged;
  for (std::size_t i = 0; i < points; ++i) {
    const double t = run.GetValue(i, 0);
    if (t > prediction.time.back()) break;
    time.push_back(t);
    logged.push_back(run.GetValue(i, 1) - origin);
  }
  // The programs log their reference before or after they step it: the model's sample that
  // carries the logged reference is the one that matches it best, a sample or two either way.
  int best_shift = 0;
  double best = std::numeric_limits<double>::infinity();
  for (int shift = -kAlignmentSamples; shift <= kAlignmentSamples; ++shift) {
    double sum = 0.0;
    PredictionReader predicted(reference);
    for (std::size_t i = 0; i < time.size(); ++i) {
      const double d = logged[i] - predicted.At(time[i] + shift * step);
      sum += d * d;
    }
    if (sum < best * (1.0 - 1e-9)) {
      best = sum;
      best_shift = shift;
    }
  }
  for (double& t : prediction.time) t -= best_shift * step;
}

void PredictionAtLogTimes(const UploadedLog& run, TunedLoop loop,
                          TuningRunFigures& figures) {
  const CycleTrace& p = figures.prediction;
  if (p.time.empty() || run.GetPointsRead() == 0) return;
  const double origin = RunOrigin(loop, run);
  // The plot sets the predicted response against the reference as the drive logged it (in
  // the steps the drive holds it in), and so do these figures.
  CycleTrace plotted;
  PredictionReader predicted(p);
  for (std::size_t i = 0; i < run.GetPointsRead(); ++i) {
    const double t = run.GetValue(i, 0);
    if (t > p.time.back()) break;
    plotted.time.push_back(t);
    plotted.reference.push_back(run.GetValue(i, 1) - origin);
    plotted.response.push_back(predicted.At(t));
  }
  if (!plotted.time.empty()) figures.predicted = ShownFiguresOfCycle(plotted, figures);
}

void JudgeRunLog(CZel_Setup& setup, const UploadedLog& run, TunedLoop loop,
                 TuningRunFigures& figures) {
  figures.current.reset();
  figures.oscillation.clear();
  const std::size_t points = run.GetPointsRead();
  if (points < 2) return;
  // A setup without the motor's data judges what it can.
  const double period = run.GetValue(std::size_t{1}, 0) - run.GetValue(std::size_t{0}, 0);
  if (!(period > 0.0)) return;
  const bool speed = loop == TunedLoop::Speed;
  std::vector<double> current_reference, current;
  if (LogsCurrents(setup, loop)) {
    current_reference = LoggedColumn(run, 3);
    current = LoggedColumn(run, 4);
    figures.current = RunCurrentOf(current_reference, current, period,
                                   ZelQuietBaseValue(setup, param::TestLimitCurrent),
                                   ZelQuietBaseValue(setup, param::In));
    if (figures.current && speed) figures.current->held_A = figures.held_current_A;
  }
  const double band = ZelQuietBaseValue(setup, speed ? param::PB_S : param::PB_P) *
                      ZelQuietBaseValue(setup, speed ? param::Dump_S : param::Dump_P);
  const std::vector<double> reference = LoggedColumn(run, 1, RunOrigin(loop, run));
  std::vector<double> signal;
  OscillationLog log;
  log.period_s = period;
  log.settle_s = band > 0.0 ? kSettledAfterTimeConstants / band : 0.0;
  if (speed) {
    // The current reference: a coupling that rings shows there first, and at full size.
    if (current_reference.empty()) return;
    signal = current_reference;
    const double levels = ZelQuietBaseValue(setup, param::ADCResolution);
    log.step = levels > 1.0 ? 2.0 * ZelQuietBaseValue(setup, param::ImaxPS) / levels : 0.0;
    log.unit_name = "A";
  } else {
    const std::vector<double> response = LoggedColumn(run, 2, RunOrigin(loop, run));
    signal.resize(response.size());
    for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = response[i] - reference[i];
    log.unit = figures.per_base;
    log.unit_name = figures.unit;
    log.step = figures.per_base != 0.0 ? figures.quantum / std::fabs(figures.per_base) : 0.0;
    log.standstill_swing = std::max(kStandstillSteps * log.step,
                                    kStandstillShareOfMove * std::fabs(figures.final_value /
                                                                       figures.per_base));
  }
  log.reference = reference;
  log.signal = signal;
  figures.oscillation = FindBadOscillation(log);
}

void PredictionOverlay::Draw(CZel_SingleAxisLogger& logger, CGraphWindow& graph,
                             const CZel_Setup& setup, TunedLoop loop,
                             const CycleTrace& prediction) {
  if (prediction.time.empty()) return;
  CGraphDocument& doc = logger.GetGraphDocument();
  const double origin = RunOrigin(loop, logger);
  if (channel_ == 0) {
    channel_ = doc.AddChannel("Predicted " + logger.GetChannelName(2), doc.GetChannelUnit(2));
    logger.GetGraphFilter()->AddCurve(doc.GetChannelName(channel_), 0, channel_, 1, 1, RGB16(4));
  }
  const CZel_Variable* load = setup.FindVariable(logger.GetChannelName(2), 0);
  if (!load) return;
  PredictionReader predicted(prediction);
  // Only the prediction's channel changes, and the reference and the response of a run that
  // started away from the origin (they share the response's unit).
  for (int i = 0; i < doc.GetPointCount(); ++i) {
    if (origin != 0.0) {
      for (int c : {1, 2}) {
        doc.SetValue(c, i,
                     load->GetSelectedUnit().FromBase(
                         load->GetSelectedUnit().ToBase(doc.GetValue(c, i)) - origin));
      }
    }
    const double t = logger.GetValue(static_cast<std::size_t>(i), 0);
    doc.SetValue(channel_, i, load->GetSelectedUnit().FromBase(predicted.At(t)));
  }
  graph.RefreshGraph();
  // The ranges were taken from the upload: a position run that started away from 0 has
  // just been moved to its start, and the prediction is drawn too.
  graph.DoZoomOut();
}

}  // namespace dcservo
