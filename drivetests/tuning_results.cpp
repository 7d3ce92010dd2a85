#include "drivetests/tuning_results.h"

#include "design/last_speed_run.h"
#include "drivetests/my_test_dlg.h"
#include "drivetests/drive_test_targets.h"
#include "drivetests/tuning_gains.h"

namespace dcservo {

void TuningRunResults::Start(CZel_Setup& setup, TunedLoop loop, const ProfileNames& names) {
  figures_ = {};
  Predict(setup, loop, names);
}

void TuningRunResults::Predict(CZel_Setup& setup, TunedLoop loop, const ProfileNames& names) {
  PredictRun(setup, loop, names, figures_);
}

void TuningRunResults::AddSweeps(std::span<const OnlineView::Sweep> sweeps) {
  AddSweepFigures(sweeps, figures_);
}

bool TuningRunResults::TakeUpload(CZel_Setup& setup, CZel_SingleAxisLogger& logger,
                                  CGraphWindow& graph, TunedLoop loop) {
  const UploadedLog run(logger);
  AlignPredictionToLog(run, loop, figures_.prediction);
  const std::optional<CycleFigures> cycle = UploadedCycleFigures(run, loop, figures_);
  if (!cycle) return false;
  figures_.cycles = {*cycle};
  PredictionAtLogTimes(run, loop, figures_);
  IdentifyFromLog(setup, run, loop, friction_, figures_);
  JudgeRunLog(setup, run, loop, figures_);
  // For the filters dialog, which may open after this test has closed.
  if (loop == TunedLoop::Speed)
    RememberMeasuredSpectrum(setup, figures_.current_spectrum, figures_.resonance);
  overlay_.Draw(logger, graph, setup, loop, figures_.prediction);
  return true;
}

void TuningRunResults::Describe(const CZel_Setup& setup, TunedLoop loop,
                                const TestTargets* targets, TestRunReport& report) const {
  for (const auto& [name, value] : ReportedGains(setup, loop))
    report.gains.push_back({name, value});
  if (friction_) report.identified = FrictionValues(*friction_);
  if (targets) {
    for (std::string& w : RunWarnings(figures_)) report.warnings.push_back(std::move(w));
  }
}

}  // namespace dcservo
