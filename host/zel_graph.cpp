#include "host/zel_graph.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/zel_dialog.h"
#include "host/zel_errors.h"

namespace {

// Dark enough to read on white, distinct in order: the first curves of a plot never look
// alike.
constexpr std::uint32_t kPalette[16] = {
    0x000000, 0x1f4fd8, 0xd62728, 0x2ca02c, 0x9467bd, 0xff7f0e, 0x17becf, 0x8c564b,
    0x7f7f7f, 0xbcbd22, 0x0b2e6b, 0xe377c2, 0x006d5b, 0xa0522d, 0x4b0082, 0xb8860b,
};

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

// Extent with a margin, never empty.
ZelAxisRange Padded(double lo, double hi, double margin) {
  if (!(lo <= hi)) return {};
  if (hi == lo) {
    const double pad = lo == 0.0 ? 1.0 : std::fabs(lo) * 0.1;
    return {lo - pad, hi + pad};
  }
  const double pad = (hi - lo) * margin;
  return {lo - pad, hi + pad};
}

// The margins of a zoomed-out axis: none in time, a little above and below the curves.
constexpr double kXMargin = 0.0;
constexpr double kYMargin = 0.05;

// The shown `range` of an axis whose data, `extent` so far, take in `v`: once `v` falls
// outside, the range becomes the extent with its margin and a quarter of its span to spare on
// the side that grew, so that a run coming in point by point moves it seldom.
void Grow(ZelAxisRange& range, std::optional<ZelAxisRange>& extent, double v, double margin) {
  constexpr double kRoom = 0.25;
  const bool single = !extent || extent->lo == extent->hi;
  extent = extent ? ZelAxisRange{std::min(extent->lo, v), std::max(extent->hi, v)}
                  : ZelAxisRange{v, v};
  if (!single && v >= range.lo && v <= range.hi) return;
  range = Padded(extent->lo, extent->hi, margin);
  if (extent->lo == extent->hi) return;
  const double room = (extent->hi - extent->lo) * kRoom;
  if (v == extent->hi) range.hi += room;
  if (v == extent->lo) range.lo -= room;
}

}  // namespace

std::uint32_t RGB16(int index) { return kPalette[((index % 16) + 16) % 16]; }

// --- filter and document -------------------------------------------------------------------

int CGraphFilter::AddCurve(const CXYCurve& curve) {
  curves_.push_back(curve);
  return GetCount() - 1;
}

int CGraphFilter::AddCurve(const std::string& name, int x_channel, int y_channel, int axis,
                           int style, std::uint32_t colour) {
  return AddCurve(CXYCurve{name, x_channel, y_channel, axis, style, colour});
}

const CXYCurve* CGraphFilter::GetAt(int index) const {
  return index >= 0 && index < GetCount() ? &curves_[static_cast<std::size_t>(index)] : nullptr;
}

CGraphDocument::CGraphDocument() { AddFilter(); }

int CGraphDocument::AddChannel(const std::string& name, const std::string& unit) {
  channels_.push_back({name, unit, std::vector<double>(static_cast<std::size_t>(points_), 0.0)});
  return GetChannelCount() - 1;
}

const std::string& CGraphDocument::GetChannelName(int channel) const {
  return channel >= 0 && channel < GetChannelCount()
             ? channels_[static_cast<std::size_t>(channel)].name
             : EmptyText();
}

const std::string& CGraphDocument::GetChannelUnit(int channel) const {
  return channel >= 0 && channel < GetChannelCount()
             ? channels_[static_cast<std::size_t>(channel)].unit
             : EmptyText();
}

void CGraphDocument::SetChannelUnit(int channel, const std::string& unit) {
  if (channel >= 0 && channel < GetChannelCount())
    channels_[static_cast<std::size_t>(channel)].unit = unit;
}

void CGraphDocument::AddPoint(const std::vector<double>& values) {
  for (std::size_t c = 0; c < channels_.size(); ++c)
    channels_[c].values.push_back(c < values.size() ? values[c]
                                                    : std::numeric_limits<double>::quiet_NaN());
  ++points_;
}

int CGraphDocument::SetPoint(int index, const std::vector<double>& values) {
  if (index < 0 || index >= points_) return 0;
  for (std::size_t c = 0; c < channels_.size(); ++c)
    channels_[c].values[static_cast<std::size_t>(index)] = c < values.size() ? values[c] : 0.0;
  return 1;
}

int CGraphDocument::SetValue(int channel, int point, double value) {
  if (channel < 0 || channel >= GetChannelCount() || point < 0 || point >= points_) return 0;
  channels_[static_cast<std::size_t>(channel)].values[static_cast<std::size_t>(point)] = value;
  return 1;
}

double CGraphDocument::GetValue(int channel, int point) const {
  if (channel < 0 || channel >= GetChannelCount() || point < 0 || point >= points_)
    return std::numeric_limits<double>::quiet_NaN();
  return channels_[static_cast<std::size_t>(channel)].values[static_cast<std::size_t>(point)];
}

void CGraphDocument::ClearPoints() {
  for (Channel& c : channels_) c.values.clear();
  points_ = 0;
}

CGraphFilter* CGraphDocument::GetAt(int index) {
  return index >= 0 && index < GetFilterCount() ? filters_[static_cast<std::size_t>(index)].get()
                                                : nullptr;
}

int CGraphDocument::AddFilter() {
  filters_.push_back(std::make_unique<CGraphFilter>(*this));
  return GetFilterCount() - 1;
}

// --- window --------------------------------------------------------------------------------

CGraphWindow::~CGraphWindow() { Detach(); }

int CGraphWindow::SubclassDlgItem(int id, CZel_Dialog* parent, CGraphFilter* filter) {
  if (!parent || !filter) return 0;
  const ZelControlDef* def = parent->GetControlDef(id);
  if (!def || def->kind != ZelControlKind::Graph) {
    ZelReportError("dialog " + std::to_string(parent->Template().id) + " has no graph control " +
                   std::to_string(id));
    return 0;
  }
  Detach();
  parent_ = parent;
  id_ = id;
  filter_ = filter;
  drawn_ = 0;
  for (auto& extent : extent_) extent.reset();
  parent_->AttachGraph(id_, this);
  return 1;
}

void CGraphWindow::Detach() {
  if (parent_ && parent_->GetGraph(id_) == this) parent_->DetachGraph(id_);
  parent_ = nullptr;
  filter_ = nullptr;
  id_ = 0;
}

void CGraphWindow::KeepOffScreen(CGraphFilter* filter) {
  Detach();
  filter_ = filter;
  drawn_ = 0;
  for (auto& extent : extent_) extent.reset();
}

void CGraphWindow::Notify(ZelGraphEvent event, int point) {
  if (parent_) parent_->NotifyGraph(id_, event, point);
}

void CGraphWindow::RefreshGraph() {
  if (!filter_) return;
  drawn_ = filter_->GetDocument().GetPointCount();
  Notify(ZelGraphEvent::Refresh, -1);
}

void CGraphWindow::DoZoomOut() {
  if (!filter_) return;
  const CGraphDocument& doc = filter_->GetDocument();
  const int n = std::min(drawn_, doc.GetPointCount());
  constexpr double inf = std::numeric_limits<double>::infinity();
  double xlo = inf, xhi = -inf;
  double ylo[2] = {inf, inf}, yhi[2] = {-inf, -inf};
  for (int c = 0; c < filter_->GetCount(); ++c) {
    const CXYCurve& curve = *filter_->GetAt(c);
    const int a = curve.axis == 2 ? 1 : 0;
    for (int i = 0; i < n; ++i) {
      const double x = doc.GetValue(curve.x_channel, i), y = doc.GetValue(curve.y_channel, i);
      if (!std::isfinite(x) || !std::isfinite(y) || (log_x_ && x <= 0)) continue;
      xlo = std::min(xlo, x);
      xhi = std::max(xhi, x);
      ylo[a] = std::min(ylo[a], y);
      yhi[a] = std::max(yhi[a], y);
    }
  }
  x_ = Padded(xlo, xhi, kXMargin);
  y1_ = Padded(ylo[0], yhi[0], kYMargin);
  y2_ = Padded(ylo[1], yhi[1], kYMargin);
  auto extent = [](double lo, double hi) {
    return lo <= hi ? std::optional<ZelAxisRange>({lo, hi}) : std::nullopt;
  };
  extent_[0] = extent(xlo, xhi);
  extent_[1] = extent(ylo[0], yhi[0]);
  extent_[2] = extent(ylo[1], yhi[1]);
  Notify(ZelGraphEvent::ZoomOut, -1);
}

void CGraphWindow::TakeIn(int point) {
  const CGraphDocument& doc = filter_->GetDocument();
  for (int c = 0; c < filter_->GetCount(); ++c) {
    const CXYCurve& curve = *filter_->GetAt(c);
    const double x = doc.GetValue(curve.x_channel, point), y = doc.GetValue(curve.y_channel, point);
    if (!std::isfinite(x) || !std::isfinite(y) || (log_x_ && x <= 0)) continue;
    Grow(x_, extent_[0], x, kXMargin);
    if (curve.axis == 2) Grow(y2_, extent_[2], y, kYMargin);
    else Grow(y1_, extent_[1], y, kYMargin);
  }
}

bool CGraphWindow::HasDrawnPoints() const {
  return filter_ && std::min(drawn_, filter_->GetDocument().GetPointCount()) > 0;
}

void CGraphWindow::UpdateLastPoint() {
  if (!filter_) return;
  const int count = filter_->GetDocument().GetPointCount();
  if (count == 0) return;
  drawn_ = count;
  TakeIn(count - 1);
  Notify(ZelGraphEvent::LastPoint, count - 1);
}

void CGraphWindow::UpdatePoint(int index) {
  if (!filter_ || index < 0 || index >= filter_->GetDocument().GetPointCount()) return;
  drawn_ = std::max(drawn_, index + 1);
  TakeIn(index);
  Notify(ZelGraphEvent::Point, index);
}

int CGraphWindow::CreateWMF(const std::string& base_name) {
  if (!filter_ || base_name.empty()) return 0;
  const std::string failures[] = {ZelUi().SaveGraphPicture(*this, base_name + ".png"),
                                  ZelWriteGraphSvg(*this, base_name + ".svg"),
                                  ZelWriteGraphCsv(*this, base_name + ".csv")};
  std::string reasons;
  for (const std::string& failure : failures) {
    if (!failure.empty()) reasons += (reasons.empty() ? "" : "; ") + failure;
  }
  if (!reasons.empty()) {
    ZelReportError("the plot could not be saved: " + reasons);
    return 0;
  }
  Notify(ZelGraphEvent::Saved, -1);
  return 1;
}
