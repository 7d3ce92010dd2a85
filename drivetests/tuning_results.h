#pragma once
// What a tuning run leaves: its figures per cycle set against the prediction, the friction
// that the speed test's upload shows, the prediction drawn over the upload, and the run as
// its report describes it.

#include <optional>
#include <span>

#include "derive/gains.h"
#include "drivetests/identification.h"
#include "drivetests/online_view.h"
#include "drivetests/reference_profile.h"
#include "drivetests/tuning_figures.h"
#include "drivetests/tuning_prediction.h"

class CGraphWindow;
class CZel_Setup;
class CZel_SingleAxisLogger;

namespace dcservo {

struct TestRunReport;
struct TestTargets;

class TuningRunResults {
 public:
  const TuningRunFigures& Figures() const { return figures_; }
  // Nothing for a run that held no constant speed, and for the position test.
  const std::optional<FrictionFit>& Friction() const { return friction_; }

  // A run about to start: no cycle yet, and the prediction of its profile.
  void Start(CZel_Setup& setup, TunedLoop loop, const ProfileNames& names);
  // The prediction again, after the gains changed.
  void Predict(CZel_Setup& setup, TunedLoop loop, const ProfileNames& names);
  // The figures of the streamed sweeps that they do not hold yet.
  void AddSweeps(std::span<const OnlineView::Sweep> sweeps);
  // The uploaded run as its one cycle, with what it identifies and the prediction drawn over
  // it; false, and nothing changed, for an empty log.
  bool TakeUpload(CZel_Setup& setup, CZel_SingleAxisLogger& logger, CGraphWindow& graph,
                  TunedLoop loop);
  // The report's gains, identified values and warnings; the test's base fills the rest.
  void Describe(const CZel_Setup& setup, TunedLoop loop, const TestTargets* targets,
                TestRunReport& report) const;

 private:
  TuningRunFigures figures_;
  std::optional<FrictionFit> friction_;
  PredictionOverlay overlay_;
};

}  // namespace dcservo
