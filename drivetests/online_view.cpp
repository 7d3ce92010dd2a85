#include "drivetests/online_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "host/zel_errors.h"
#include "host/zel_logger.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"

namespace dcservo {

double ScopeScaleStep(double q) {
  const double e = q > 0.0 ? std::ceil(std::log10(q)) : 0.0;
  const double d = std::pow(10.0, e);
  if (d / 5.0 >= q) return d / 5.0;
  if (d / 2.0 >= q) return d / 2.0;
  return d;
}

namespace {

constexpr double kShownMsPerS = 1000.0;

double Quiet(CZel_Setup& setup, const char* name, bool* present = nullptr) {
  const CZel_Parameter* p = setup.FindOptionalParameter(name);
  if (present) *present = p != nullptr;
  return p ? p->GetValueInBaseUnit() : 0.0;
}

// The profile's ramp times, hold times, final value and type, as the trigger reads them.
struct TriggerInputs {
  double first_ramp, hold, second_ramp, end;
  bool has_final;
  double final_value;
  ReferenceType type;
};

TriggerInputs TriggerInputsOf(CZel_Setup& setup, const ProfileNames& names) {
  TriggerInputs in{};
  in.first_ramp = Quiet(setup, names.first_ramp);
  in.hold = Quiet(setup, names.hold);
  in.second_ramp = Quiet(setup, names.second_ramp);
  in.end = Quiet(setup, names.end);
  in.final_value = Quiet(setup, names.final_value, &in.has_final);
  in.type = ProfileReferenceType(setup, names);
  return in;
}

ScopeTriggerSettings TriggerOn(CZel_Setup& setup, const ProfileNames& names, bool multi,
                               const char* variable, double level, int slope) {
  const TriggerInputs in = TriggerInputsOf(setup, names);
  ScopeTriggerSettings s;
  s.window_s = ScopeWindow(setup, names);
  if (!in.has_final) {
    s.mode = 1;
    s.slope = 1;
    return s;
  }
  s.mode = multi ? 2 : 4;
  s.slope = slope;
  s.variable = variable;
  s.level = level;
  s.pre_percent = std::min(100.0, std::ceil(100.0 * in.first_ramp / s.window_s));
  return s;
}

}  // namespace

double ScopeWindow(CZel_Setup& setup, const ProfileNames& names) {
  const TriggerInputs in = TriggerInputsOf(setup, names);
  const double ramps = in.first_ramp + in.second_ramp;
  // A sweep is the whole cycle, its closing hold too: a window that ended with the motion's
  // tail showed 0.75 s of a 1.2 s run, and left the hold between repeated cycles undrawn.
  return (in.type == ReferenceType::Bidirectional ? 2.0 * ramps : ramps) + in.hold + in.end;
}

ScopeTriggerSettings SpeedScopeTrigger(CZel_Setup& setup, bool multi_cycle) {
  const double v = Quiet(setup, param::TestSpeed);
  return TriggerOn(setup, kSpeedProfileNames, multi_cycle, var::Speed_Reference, v,
                   v >= 0.0 ? 1 : 0);
}

ScopeTriggerSettings PositionScopeTrigger(CZel_Setup& setup, bool multi_cycle,
                                          double start_position) {
  const double p = Quiet(setup, param::TestPosition);
  double share = 0.95;
  int slope = p >= 0.0 ? 1 : 0;
  if (!HasReferenceType(setup)) {
    slope = 1;
  } else {
    switch (ProfileReferenceType(setup, kPositionProfileNames)) {
      case ReferenceType::Negative:
        share = -0.95;
        slope = p < 0.0 ? 1 : 0;
        break;
      case ReferenceType::Bidirectional: share = 0.9; break;
      case ReferenceType::Positive: break;
    }
  }
  // The drive's program moves its reference from where the load stands when it starts: a
  // level at a share of the final value alone was never crossed by a run that started away
  // from zero (after a stopped repeating run, or a turned shaft), and nothing was measured.
  return TriggerOn(setup, kPositionProfileNames, multi_cycle, var::Target_Position,
                   start_position + share * p, slope);
}

int ApplyScopeTrigger(CZel_ScopeLogger& scope, const ScopeTriggerSettings& s) {
  return scope.ChangeSettings(s.window_s, s.mode, s.slope, s.variable.c_str(), s.level,
                              s.pre_percent);
}

void RescaleScopePair(CZel_ScopeLogger& scope, const char* first, const char* second, double q,
                      const std::string& unit, double second_in_steps) {
  const double d = ScopeScaleStep(q);
  scope.RescaleVariable(first, unit.c_str(), d, second_in_steps * d);
  scope.RescaleVariable(second, unit.c_str(), d, second_in_steps * d);
}

void RescaleCurrentPair(CZel_ScopeLogger& scope, CZel_Setup& setup) {
  RescaleScopePair(scope, var::Current_Reference, var::Motor_Current,
                   ValueInSelectedUnit(setup, param::TestLimitCurrent) / 3.0,
                   SelectedUnitName(setup, param::TestLimitCurrent), 2.0);
}

double ValueInSelectedUnit(CZel_Setup& setup, const char* name) {
  const CZel_Parameter* p = setup.FindOptionalParameter(name);
  return p ? p->GetSelectedUnit().FromBase(p->GetValueInBaseUnit()) : 0.0;
}

std::string SelectedUnitName(CZel_Setup& setup, const char* name) {
  const CZel_Parameter* p = setup.FindOptionalParameter(name);
  return p ? p->GetSelectedUnit().GetName() : std::string();
}

std::string LiveValueText(double value, const std::string& unit) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return unit.empty() ? std::string(text) + " IU" : std::string(text) + " " + unit;
}

void OnlineView::Reset(const std::vector<std::string>& names,
                       const std::vector<std::string>& units,
                       const std::vector<double>& shown_per_base, int points) {
  shown_per_base_ = shown_per_base;
  document_ = std::make_unique<CGraphDocument>();
  // In milliseconds, as the data logger's plot and its CSV have time: one run, one column.
  document_->AddChannel("Time", "ms");
  for (std::size_t i = 0; i < names.size(); ++i)
    document_->AddChannel(names[i], i < units.size() ? units[i] : std::string());
  points_ = std::max(points, 1);
  next_ = 0;
  open_ = {};
  sweeps_.clear();
}

void OnlineView::CloseSweep() {
  if (!open_.time.empty()) sweeps_.push_back(std::move(open_));
  open_ = {};
}

int OnlineView::TakeScopePoints(const CZel_ScopeLogger& scope, CGraphWindow& graph) {
  int first = 0, count = 0;
  scope.GetPointsToBeDrawn(first, count);
  const int width = document_->GetChannelCount();
  const int ring = scope.GetPointsNo();
  int wraps = 0;
  std::vector<double> values(static_cast<std::size_t>(width));
  // A sweep that its trigger started before a whole pre-trigger part was seen ends before the
  // ring is full: the next one starts at slot 0 again, or a single sweep is done.
  auto close_short_sweep = [&] {
    if (open_.time.empty()) return;
    ++wraps;
    CloseSweep();
    graph.DoZoomOut();
  };
  // A new sweep starts at slot 0; the slots after its points still hold the sweep before,
  // which ran earlier: drawn beside the new points they would join two cycles with straight
  // lines over the time between them, which nobody recorded. They are a gap until refilled.
  const bool new_sweep = first == 0 && count > 0;
  if (new_sweep) {
    close_short_sweep();
    std::vector<double> gap(static_cast<std::size_t>(width),
                            std::numeric_limits<double>::quiet_NaN());
    for (int i = count; i < document_->GetPointCount(); ++i) document_->SetPoint(i, gap);
  }
  for (int k = 0, i = first; k < count; ++k, i = (i + 1) % ring) {
    for (int c = 0; c < width; ++c) values[static_cast<std::size_t>(c)] = scope.GetValue(i, c);
    open_.time.push_back(values[0]);
    open_.reference.push_back(width > 1 ? values[1] : 0.0);
    open_.response.push_back(width > 2 ? values[2] : 0.0);
    values[0] *= kShownMsPerS;
    for (std::size_t c = 1; c < values.size() && c - 1 < shown_per_base_.size(); ++c)
      values[c] *= shown_per_base_[c - 1];
    while (document_->GetPointCount() <= i) document_->AddPoint(values);
    document_->SetPoint(i, values);
    graph.UpdatePoint(i);
    if ((i + 1) % ring == 0) {
      ++wraps;
      CloseSweep();
      // The points are in place already: new ranges repaint the graph.
      graph.DoZoomOut();
    }
  }
  if (scope.IsSweepDone()) close_short_sweep();
  // The axes start again from the new sweep's points, not from the gap's old ranges.
  if (new_sweep && !open_.time.empty()) graph.DoZoomOut();
  return wraps;
}

bool OnlineView::CloseOpenSweep(CGraphWindow& graph) {
  if (open_.time.empty()) return false;
  CloseSweep();
  graph.DoZoomOut();
  return true;
}

void OnlineView::AddLivePoint(double time_s, const std::vector<double>& values,
                              CGraphWindow& graph) {
  std::vector<double> point = {time_s * kShownMsPerS};
  point.insert(point.end(), values.begin(), values.end());
  if (document_->GetPointCount() < points_) {
    document_->AddPoint(point);
    graph.UpdateLastPoint();
    return;
  }
  document_->SetPoint(next_, point);
  graph.UpdatePoint(next_);
  next_ = (next_ + 1) % points_;
  if (next_ == 0) {
    graph.DoZoomOut();
    graph.RefreshGraph();
  }
}

}  // namespace dcservo
