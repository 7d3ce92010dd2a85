#include "design/shaft_coupling.h"

#include <cmath>
#include <mutex>
#include <vector>

namespace dcservo {

namespace {

// The couplings that measurements identified, by the setup that they belong to, innermost
// scope last.
struct MeasuredCouplingEntry {
  const CZel_Setup* setup;
  ShaftCoupling coupling;
};
std::mutex g_measured_couplings_lock;
std::vector<MeasuredCouplingEntry> g_measured_couplings;

}  // namespace

bool UsableCoupling(const std::optional<ShaftCoupling>& c) {
  return c && c->load_share > 0.0 && c->load_share < 1.0 && c->resonance_hz > 0.0 &&
         c->damping_ratio >= 0.0 && std::isfinite(c->resonance_hz) && std::isfinite(c->damping_ratio);
}

MeasuredCouplingScope::MeasuredCouplingScope(const CZel_Setup& setup,
                                             const ShaftCoupling& coupling)
    : setup_(&setup) {
  const std::lock_guard<std::mutex> hold(g_measured_couplings_lock);
  g_measured_couplings.push_back({setup_, coupling});
}

MeasuredCouplingScope::~MeasuredCouplingScope() {
  const std::lock_guard<std::mutex> hold(g_measured_couplings_lock);
  for (auto e = g_measured_couplings.rbegin(); e != g_measured_couplings.rend(); ++e) {
    if (e->setup != setup_) continue;
    g_measured_couplings.erase(std::next(e).base());
    return;
  }
}

std::optional<ShaftCoupling> MeasuredCouplingOf(const CZel_Setup& setup) {
  const std::lock_guard<std::mutex> hold(g_measured_couplings_lock);
  for (auto e = g_measured_couplings.rbegin(); e != g_measured_couplings.rend(); ++e)
    if (e->setup == &setup) return e->coupling;
  return std::nullopt;
}

}  // namespace dcservo
