#include "drivetests/tuning_graphs.h"

#include "drivetests/tuning_template.h"
#include "host/zel_setup.h"

namespace dcservo {

namespace {

constexpr int kLivePoints = 500;

// Curves of the logged channels 1 to 4: axis and colour index, drawn with x channel 0.
struct TuningCurveStyle {
  int channel, axis, colour;
};
constexpr TuningCurveStyle kLoggerCurves[] = {{1, 1, 2}, {3, 2, 8}, {2, 1, 5}, {4, 2, 9}};
constexpr TuningCurveStyle kScopeCurves[] = {{1, 1, 2}, {2, 1, 5}, {3, 2, 8}, {4, 2, 9}};

}  // namespace

TuningGraphs::TuningGraphs(CZel_Setup& setup) : logger_(setup, nullptr) {}

void TuningGraphs::SetUpLogger(const std::vector<std::string>& variables, CZel_Dialog* dialog,
                               const char* title) {
  logger_.ChangeSettings(kTuningLogPoints, 1, 1);
  for (const std::string& name : variables) logger_.AddVariable(name.c_str(), 1);
  logger_.CorrectPointsNo();
  logger_.LocateItems();
  CGraphFilter* filter = logger_.GetGraphFilter();
  for (const TuningCurveStyle& c : kLoggerCurves) {
    if (c.channel <= logger_.GetChannelCount())
      filter->AddCurve(logger_.GetChannelName(c.channel), 0, c.channel, c.axis, 2,
                       RGB16(c.colour));
  }
  logger_graph_.SubclassDlgItem(kLoggerGraph, dialog, filter);
  logger_graph_.SetTitle(title);
}

void TuningGraphs::AttachOnline(CZel_Setup& setup, const CZel_ScopeLogger* scope,
                                const std::vector<std::string>& logged, CZel_Dialog* dialog,
                                const char* title) {
  // The graph lets go of the old document before a new one replaces it.
  online_graph_.Detach();
  std::vector<std::string> names, units;
  if (scope) {
    for (int c = 1; c <= scope->GetChannelCount(); ++c) names.push_back(scope->GetChannelName(c));
  } else {
    names.assign(logged.begin(), logged.begin() + 2);
  }
  std::vector<double> shown_per_base;
  for (const std::string& name : names) {
    const CZel_Variable* v = setup.FindVariable(name, 0);
    // The scope delivers base units, shown in the user's; the live display draws internal ones.
    units.push_back(v && scope ? v->GetSelectedUnit().GetName() : "");
    shown_per_base.push_back(v ? v->GetSelectedUnit().FromBase(1.0) : 1.0);
  }
  online_view_.Reset(names, units, shown_per_base, scope ? scope->GetPointsNo() : kLivePoints);
  CGraphFilter* filter = online_view_.Filter();
  for (const TuningCurveStyle& c : kScopeCurves) {
    if (c.channel <= static_cast<int>(names.size()))
      filter->AddCurve(names[static_cast<std::size_t>(c.channel - 1)], 0, c.channel, c.axis, 2,
                       RGB16(c.colour));
  }
  online_graph_.SubclassDlgItem(kOnlineGraph, dialog, filter);
  online_graph_.SetTitle(title);
}

bool TuningGraphs::TakeScopePoints(const CZel_ScopeLogger& scope) {
  const std::size_t before = online_view_.Sweeps().size();
  online_view_.TakeScopePoints(scope, online_graph_);
  return online_view_.Sweeps().size() != before;
}

}  // namespace dcservo
