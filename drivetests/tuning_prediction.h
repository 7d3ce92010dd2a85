#pragma once
// The profile and prediction side of the tuning tests: the program inputs that carry the
// profile, the response that the designed loop predicts on it, the figures of each streamed
// sweep or of the uploaded cycle set against that prediction, the prediction drawn over the
// upload, and what the speed test's log says of friction and current ripple.

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "design/loop_response.h"
#include "drivetests/identification.h"
#include "drivetests/online_view.h"
#include "drivetests/reference_profile.h"
#include "drivetests/tuning_figures.h"

class CGraphWindow;
class CZel_Setup;
class CZel_SingleAxisLogger;

namespace dcservo {

// The uploaded log in base units, as the logger gives it (channel 0 the time, s), each value
// read from the logger once: the analyses below walk the log several times, and the logger
// converts a value at each read. A point or channel that is not there reads 0, as there.
class UploadedLog {
 public:
  explicit UploadedLog(const CZel_SingleAxisLogger& logger);
  std::size_t GetPointsRead() const { return columns_.empty() ? 0 : columns_[0].size(); }
  double GetValue(std::size_t point, int channel) const;

 private:
  std::vector<std::vector<double>> columns_;
};

// The program's inputs that carry the profile: `a<i>`, segment i's length in samples, and
// `b<i>`, its slope, in the order the program reads them.
std::vector<std::pair<std::string, double>> ProfileProgramInputs(const ReferenceProfile& profile);

// Sets the figures of a run about to start, before any cycle: the level the reference holds
// after its first ramp, its unit and measuring step, and the response that the loop with its
// stored gains predicts (none when the loop cannot be modelled).
void PredictRun(CZel_Setup& setup, TunedLoop loop, const ProfileNames& names,
                TuningRunFigures& figures);

// Adds the figures of every streamed sweep that the figures do not hold yet, numbered from 1.
void AddSweepFigures(std::span<const OnlineView::Sweep> sweeps, TuningRunFigures& figures);

// The uploaded run as its one cycle, measured from where the shaft stood when it started and
// set against the prediction; nothing when the log is empty.
std::optional<CycleFigures> UploadedCycleFigures(const UploadedLog& run,
                                                 TunedLoop loop, const TuningRunFigures& figures);

// The speed test's log at the motor shaft (the reference it tracked, the speed, the current
// that turned the shaft and whether that sat at the test's limit): the friction, the current's
// ripple at constant speed and the rated current it is judged against. Both are reset first;
// the position test, an empty log and a setup without the motor's data leave them empty.
void IdentifyFromLog(CZel_Setup& setup, const UploadedLog& run, TunedLoop loop,
                     std::optional<FrictionFit>& friction, TuningRunFigures& figures);

// The prediction's time moved by whole samples (at most kAlignmentSamples) so that its
// reference lies on the logged one: the programs log their reference before or after they
// step it.
inline constexpr int kAlignmentSamples = 2;
void AlignPredictionToLog(const UploadedLog& run, TunedLoop loop,
                          CycleTrace& prediction);

// The predicted figures of the curve that is plotted over the upload: the prediction at the
// log's own times, so that what the report says of it is what the plot shows.
void PredictionAtLogTimes(const UploadedLog& run, TunedLoop loop,
                          TuningRunFigures& figures);

// What the log says beyond tracking: the current the run drew (the speed test, and the
// position loop straight on the current loop) and an oscillation that grows, or goes on at
// standstill (position), in the figures.
void JudgeRunLog(CZel_Setup& setup, const UploadedLog& run, TunedLoop loop,
                 TuningRunFigures& figures);

// The predicted response over the measured one, as one more channel of the upload's plot,
// all from the run's origin. The channel is added once and refilled after every upload.
class PredictionOverlay {
 public:
  void Draw(CZel_SingleAxisLogger& logger, CGraphWindow& graph, const CZel_Setup& setup,
            TunedLoop loop, const CycleTrace& prediction);

 private:
  int channel_ = 0;  // 0: not added yet
};

}  // namespace dcservo
