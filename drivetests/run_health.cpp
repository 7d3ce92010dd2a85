#include "drivetests/run_health.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace dcservo {

std::optional<RunCurrent> RunCurrentOf(std::span<const double> reference,
                                       std::span<const double> current, double period_s,
                                       double limit_A, double rated_A) {
  const std::size_t n = std::min(reference.size(), current.size());
  if (n == 0) return std::nullopt;
  RunCurrent c;
  c.limit_A = limit_A;
  c.rated_A = rated_A;
  double sum = 0.0;
  std::size_t at_limit = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sum += current[i] * current[i];
    c.peak_A = std::max(c.peak_A, std::abs(current[i]));
    if (limit_A > 0.0 && std::abs(reference[i]) >= kAtLimitShare * limit_A) ++at_limit;
  }
  c.rms_A = std::sqrt(sum / static_cast<double>(n));
  c.run_s = static_cast<double>(n) * period_s;
  c.at_limit_s = static_cast<double>(at_limit) * period_s;
  return c;
}

namespace {

constexpr std::size_t kHoldEndSkipped = 3;

struct HoldStretch {
  std::size_t begin = 0, end = 0;  // [begin, end)
};

// The stretches where the reference stands still, each from the sample after it stopped.
std::vector<HoldStretch> StillStretches(std::span<const double> reference) {
  std::vector<HoldStretch> holds;
  const std::size_t n = reference.size();
  std::size_t begin = 0;
  for (std::size_t i = 1; i <= n; ++i) {
    const bool moving = i < n && reference[i] != reference[i - 1];
    if (i == n || moving) {
      if (i > begin + 1) holds.push_back({begin, i});
      begin = i;
    }
  }
  return holds;
}

double Swing(std::span<const double> s, std::size_t from, std::size_t to) {
  const auto [lo, hi] = std::minmax_element(s.begin() + static_cast<long>(from),
                                            s.begin() + static_cast<long>(to));
  return *hi - *lo;
}

// How often the signal turns back by more than `hysteresis` from its last extreme: a loop
// still creeping to rest (a slow position loop after an undershoot) moves one way only.
int TurnsBack(std::span<const double> s, std::size_t from, std::size_t to, double hysteresis) {
  int turns = 0, direction = 0;
  double extreme = s[from];
  for (std::size_t i = from + 1; i < to; ++i) {
    const double moved = s[i] - extreme;
    if (direction >= 0 && s[i] > extreme) {
      extreme = s[i];
      direction = 1;
    } else if (direction <= 0 && s[i] < extreme) {
      extreme = s[i];
      direction = -1;
    } else if (std::abs(moved) > hysteresis) {
      turns += direction != 0;
      direction = moved > 0.0 ? 1 : -1;
      extreme = s[i];
    }
  }
  return turns;
}

std::string Describe(const char* what, double first, double second, const OscillationLog& log,
                     double at_s) {
  char text[240];
  std::snprintf(text, sizeof text, what, first * log.unit, log.unit_name.c_str(),
                second * log.unit, log.unit_name.c_str(), at_s);
  return text;
}

}  // namespace

std::string FindBadOscillation(const OscillationLog& log) {
  const std::size_t n = std::min(log.reference.size(), log.signal.size());
  if (n < 8 || !(log.period_s > 0.0)) return {};
  const auto settle = static_cast<std::size_t>(std::ceil(log.settle_s / log.period_s));
  const std::vector<HoldStretch> holds = StillStretches(log.reference.first(n));
  for (const HoldStretch& h : holds) {
    const std::size_t from = h.begin + settle;
    // The feedforward of the next ramp may reach the log a sample or two before its reference.
    const std::size_t skipped = std::max(kHoldEndSkipped, (h.end - h.begin) / 20);
    const std::size_t to = h.end == n ? h.end : h.end - std::min(h.end - h.begin, skipped);
    if (from + 8 > to) continue;
    const std::size_t middle = from + (to - from) / 2;
    const double first = Swing(log.signal, from, middle);
    const double second = Swing(log.signal, middle, to);
    if (second >= kGrowingEnvelope * first && second - first >= kGrowingSteps * log.step)
      return Describe("an oscillation grows while the reference holds still: its swing goes "
                      "from %.4g %s to %.4g %s (peak to peak) by %.3g s",
                      first, second, log, static_cast<double>(h.end - 1) * log.period_s);
  }
  // The run's last stretch, at rest: the loop should be still, or hunt between counts.
  if (log.standstill_swing > 0.0 && !holds.empty() && holds.back().end == n) {
    const HoldStretch& h = holds.back();
    const std::size_t from = std::max(h.begin + settle, h.begin + (h.end - h.begin) / 2);
    if (from + 8 <= h.end) {
      const double swing = Swing(log.signal, from, h.end);
      // Wider than the limit, not at it: the counts' rounding must not make a hunt of just
      // the counts allowed a limit cycle. And it turns back at least twice, once each way: a
      // loop still creeping to rest swings one way only.
      if (swing > log.standstill_swing * (1.0 + 1e-9) &&
          TurnsBack(log.signal, from, h.end, log.step) >= 2)
        return Describe("the loop goes on oscillating at standstill: a swing of %.4g %s peak to "
                        "peak (%.4g %s counts as still) at the end of the run, %.3g s",
                        swing, log.standstill_swing, log,
                        static_cast<double>(n - 1) * log.period_s);
    }
  }
  return {};
}

}  // namespace dcservo
