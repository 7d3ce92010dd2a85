#include "design/step_response.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dcservo {

namespace {

constexpr double kSettlingBand = 0.02;

// The time at which the curve first reaches `level` from `from` on, between samples.
std::optional<double> Crossing(std::span<const double> t, std::span<const double> y,
                               std::size_t from, double level, double direction) {
  for (std::size_t i = from; i < y.size(); ++i) {
    if ((y[i] - level) * direction < 0.0) continue;
    if (i == from) return t[i];
    const double share = (level - y[i - 1]) / (y[i] - y[i - 1]);
    return t[i - 1] + share * (t[i] - t[i - 1]);
  }
  return std::nullopt;
}

}  // namespace

std::optional<StepFigures> MeasureStep(std::span<const double> t,
                                       std::span<const double> reference,
                                       std::span<const double> y) {
  const std::size_t n = std::min({t.size(), reference.size(), y.size()});
  if (n < 3) return std::nullopt;
  std::size_t step = 1;
  while (step < n && reference[step] == reference[0]) ++step;
  if (step >= n - 1) return std::nullopt;
  const std::size_t tail = std::max<std::size_t>(1, (n - step) / 10);
  double final_value = 0.0;
  for (std::size_t i = n - tail; i < n; ++i) final_value += y[i];
  final_value /= static_cast<double>(tail);
  const double start = y[step - 1];
  const double change = final_value - start;
  if (change == 0.0) return std::nullopt;
  const double direction = change > 0.0 ? 1.0 : -1.0;
  const auto t10 = Crossing(t, y, step, start + 0.1 * change, direction);
  const auto t90 = Crossing(t, y, step, start + 0.9 * change, direction);
  if (!t10 || !t90) return std::nullopt;

  StepFigures f;
  f.rise_time_s = *t90 - *t10;
  double peak = 0.0;
  for (std::size_t i = step; i < n; ++i) peak = std::max(peak, (y[i] - final_value) * direction);
  f.overshoot_pct = 100.0 * peak / std::fabs(change);
  std::size_t last_outside = step - 1;
  for (std::size_t i = step; i < n; ++i) {
    if (std::fabs(y[i] - final_value) > kSettlingBand * std::fabs(change)) last_outside = i;
  }
  const std::size_t settled = std::min(last_outside + 1, n - 1);
  f.settling_time_s = t[settled] - t[step - 1];
  f.steady_state_error = reference[n - 1] - final_value;
  return f;
}

std::vector<double> ClosedLoopStepResponse(const LoopModel& loop, int samples) {
  // y (D + N) = N r, both in powers of z^-1.
  const Polynomial& num = loop.open_num;
  const Polynomial den = Add(loop.open_den, loop.open_num);
  std::vector<double> y(static_cast<std::size_t>(std::max(samples, 0)), 0.0);
  if (den.empty() || den[0] == 0.0) return y;
  for (std::size_t k = 0; k < y.size(); ++k) {
    double acc = 0.0;
    for (std::size_t j = 0; j < num.size() && j <= k; ++j) acc += num[j];  // r = 1 from 0 on
    for (std::size_t j = 1; j < den.size() && j <= k; ++j) acc -= den[j] * y[k - j];
    y[k] = acc / den[0];
  }
  return y;
}

std::vector<std::string> CompareStepFigures(const StepFigures& measured,
                                            const StepFigures& predicted) {
  std::vector<std::string> lines;
  char text[200];
  if (predicted.rise_time_s > 0.0 &&
      std::fabs(measured.rise_time_s - predicted.rise_time_s) >
          kRiseTimeTolerance * predicted.rise_time_s) {
    std::snprintf(text, sizeof text,
                  "the rise time is %.3g ms where the model predicts %.3g ms (more than %.0f %% "
                  "apart)",
                  measured.rise_time_s * 1e3, predicted.rise_time_s * 1e3,
                  kRiseTimeTolerance * 100.0);
    lines.emplace_back(text);
  }
  if (std::fabs(measured.overshoot_pct - predicted.overshoot_pct) > kOvershootTolerance_pct) {
    std::snprintf(text, sizeof text,
                  "the overshoot is %.3g %% where the model predicts %.3g %% (more than %.0f "
                  "points apart)",
                  measured.overshoot_pct, predicted.overshoot_pct, kOvershootTolerance_pct);
    lines.emplace_back(text);
  }
  return lines;
}

}  // namespace dcservo
