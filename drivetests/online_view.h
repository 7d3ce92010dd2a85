#pragma once
// The on-line view of the tuning tests: the streaming scope's trigger and 1-2-5 channel
// scales as the test's profile asks for them, and the plot that the dialog draws from the
// scope's ring of points, or from two live variables when the drive has no scope.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drivetests/reference_profile.h"
#include "host/zel_graph.h"

class CZel_Setup;
class CZel_ScopeLogger;

namespace dcservo {

// The step of the 1-2-5 series that covers a magnitude: 30 gives 50, 0.3 gives 0.5, 1 gives 1.
double ScopeScaleStep(double q);

struct ScopeTriggerSettings {
  double window_s = 1.0;
  int mode = 1;   // 1 rolls, 2 a sweep at every trigger, 4 one sweep
  int slope = 1;  // 1 rising
  std::string variable;  // empty: no trigger
  double level = 0.0;    // in the variable's base unit
  double pre_percent = 0.0;
};

// The window of one whole cycle of the profile, in seconds, both holds included; both ramps
// doubled for the bidirectional profile.
double ScopeWindow(CZel_Setup& setup, const ProfileNames& names);

ScopeTriggerSettings SpeedScopeTrigger(CZel_Setup& setup, bool multi_cycle);
// `start_position`: where the load stands as the run starts, base units.
ScopeTriggerSettings PositionScopeTrigger(CZel_Setup& setup, bool multi_cycle,
                                          double start_position);
int ApplyScopeTrigger(CZel_ScopeLogger& scope, const ScopeTriggerSettings& settings);

// Which channels a setting touches.
enum class ScopeChannels { FinalValue, Speed, Current };

// Gives both channels the 1-2-5 step that covers q, shown in `unit`, with the offset
// `second_in_steps` steps (0, -4 or 2).
void RescaleScopePair(CZel_ScopeLogger& scope, const char* first, const char* second, double q,
                      const std::string& unit, double second_in_steps);

// The current channels: the step that covers a third of the test's current limit, shown in
// its unit, two steps up.
void RescaleCurrentPair(CZel_ScopeLogger& scope, CZel_Setup& setup);

// A value in the unit the parameter shows; 0 when it is missing.
double ValueInSelectedUnit(CZel_Setup& setup, const char* name);
std::string SelectedUnitName(CZel_Setup& setup, const char* name);

// The text of a live value: the value and its unit, or " IU" when it has none.
std::string LiveValueText(double value, const std::string& unit);

// The points the on-line graph shows: the scope's ring copied as frames arrive, or a rolling
// window of the two live variables. Every point taken is also kept in a history that the
// figures of each cycle are computed from.
class OnlineView {
 public:
  // Channel 0 is time (ms); the others are named with the units they are shown in, each
  // value taken times its `shown_per_base`.
  void Reset(const std::vector<std::string>& names, const std::vector<std::string>& units,
             const std::vector<double>& shown_per_base, int points);
  // A reset makes a new document: the graph must be attached to its filter again.
  CGraphDocument& Document() { return *document_; }
  CGraphFilter* Filter() { return document_->GetAt(0); }
  int Points() const { return points_; }

  // Copies the ring positions that the last frame filled; the graph draws each point and
  // is repainted whenever a sweep ends (the ring wraps, a short sweep's successor starts at
  // its first slot, or the single sweep is done). The number of sweeps that ended.
  int TakeScopePoints(const CZel_ScopeLogger& scope, CGraphWindow& graph);
  // A point of the live display, in internal units as the simple oscilloscope draws them.
  void AddLivePoint(double time_s, const std::vector<double>& values, CGraphWindow& graph);

  // Each complete sweep: time and channel values, base units.
  struct Sweep {
    std::vector<double> time, reference, response;
  };
  const std::vector<Sweep>& Sweeps() const { return sweeps_; }
  // Ends the sweep still being filled (a run that ended before it filled the ring); true when
  // there was one.
  bool CloseOpenSweep(CGraphWindow& graph);
  void ClearSweeps() { sweeps_.clear(); }

 private:
  void CloseSweep();

  std::unique_ptr<CGraphDocument> document_ = std::make_unique<CGraphDocument>();
  std::vector<double> shown_per_base_;
  int points_ = 0;
  int next_ = 0;
  Sweep open_;
  std::vector<Sweep> sweeps_;
};

}  // namespace dcservo
