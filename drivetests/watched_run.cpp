#include "drivetests/watched_run.h"

#include <cmath>
#include <limits>
#include <vector>

#include "host/zel_comm.h"
#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"

namespace dcservo {

void WatchedRun::Start(const std::string& title, std::span<const Channel> channels) {
  graph_.Detach();
  document_ = std::make_unique<CGraphDocument>();
  document_->AddChannel("Time", "s");
  CGraphFilter* filter = document_->GetAt(0);
  int colour = 0;
  for (const Channel& c : channels) {
    const int channel = document_->AddChannel(c.name, c.unit);
    filter->AddCurve(c.name, 0, channel, c.axis, c.style, RGB16(colour++));
  }
  graph_.SetTitle(title);
  graph_.KeepOffScreen(filter);
  start_s_ = CZel_Comm::DriveTime();
}

void WatchedRun::Take(std::span<const double> values) {
  if (!document_) return;
  std::vector<double> point{CZel_Comm::DriveTime() - start_s_};
  point.insert(point.end(), values.begin(), values.end());
  point.resize(static_cast<std::size_t>(document_->GetChannelCount()),
               std::numeric_limits<double>::quiet_NaN());
  document_->AddPoint(point);
  graph_.RefreshGraph();
  graph_.DoZoomOut();
}

std::string ShownVariableUnit(const CZel_Setup& setup, const char* name) {
  const CZel_Variable* v = setup.FindVariable(name, 0);
  return v ? v->GetSelectedUnit().GetName() : "";
}

double ReadShownVariable(CZel_Setup& setup, const char* name) {
  const double base = ZelQuietLiveValue(setup, name);
  const CZel_Variable* v = setup.FindVariable(name, 0);
  return v ? v->GetSelectedUnit().FromBase(base) : base;
}

}  // namespace dcservo
