#include "design/loop_response.h"

#include <cmath>
#include <numbers>

#include "derive/step.h"
#include "design/controller_tuning.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/scales.h"

namespace dcservo {
namespace {

using Complex = std::complex<double>;

std::optional<LoopPlant> Finite(LoopPlant plant) {
  if (!(plant.sampling_period_s > 0.0) || !std::isfinite(plant.sampling_period_s))
    return std::nullopt;
  for (double c : plant.num) {
    if (!std::isfinite(c)) return std::nullopt;
  }
  for (double c : plant.den) {
    if (!std::isfinite(c)) return std::nullopt;
  }
  return plant;
}

// One sample of computation delay in front of every plant.
Polynomial Delayed(Polynomial p) {
  p.insert(p.begin(), 0.0);
  return p;
}

std::optional<LoopPlant> CurrentPlant(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::R, param::L, param::Ts_C);
  if (!p) return std::nullopt;
  auto [r, l, ts] = *p;
  const double tc = BaseValue(ts);
  // The R-L circuit under a voltage held for one sample, exactly.
  const double a = std::exp(-BaseValue(r) * tc / BaseValue(l));
  const double b = (1.0 - a) / BaseValue(r) * CurrentScale(setup) / VoltageScale(setup);
  return Finite({tc, Delayed({0.0, b}), {1.0, -a}});
}

std::optional<LoopPlant> SpeedPlant(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::Jt, param::K);
  if (!p) return std::nullopt;
  auto [jt, k] = *p;
  const double tsp = SpeedPositionLoopPeriod(setup);
  const double c =
      MotorSpeedScale(setup) * BaseValue(k) * tsp / (BaseValue(jt) * CurrentScale(setup));
  return Finite({tsp, Delayed({0.0, c}), {1.0, -1.0}});
}

std::optional<LoopPlant> PositionPlant(CZel_Setup& setup) {
  CZel_Parameter* type = setup.FindParameter(param::PositionControlType);
  if (!type) return std::nullopt;
  const double tsp = SpeedPositionLoopPeriod(setup);
  if (IsCode(BaseValue(type), PositionControlType::OverSpeedLoop)) {
    const double c = MotorPositionScale(setup) * tsp / MotorSpeedScale(setup);
    return Finite({tsp, Delayed({0.0, c}), {1.0, -1.0}});
  }
  auto p = FindParameters(setup, param::Jt, param::K);
  if (!p) return std::nullopt;
  auto [jt, k] = *p;
  // K / (Jt s^2) under a current held for one sample: Ts^2 / 2 (z^-1 + z^-2) / (1 - z^-1)^2.
  const double c = MotorPositionScale(setup) * BaseValue(k) * tsp * tsp /
                   (2.0 * BaseValue(jt) * CurrentScale(setup));
  return Finite({tsp, Delayed({0.0, c, c}), {1.0, -2.0, 1.0}});
}

struct GainNames {
  const char* kp;
  const char* ki;
  const char* kd;  // null: a PI controller
};

GainNames NamesOf(TunedLoop loop) {
  switch (loop) {
    case TunedLoop::Current:
      return {param::Kp_C_scl, param::Ki_C_scl, nullptr};
    case TunedLoop::Speed:
      return {param::Kp_S_scl, param::Ki_S_scl, nullptr};
    case TunedLoop::Position: break;
  }
  return {param::Kp_P_scl, param::Ki_P_scl, param::Kd_P_scl};
}

}  // namespace

const char* LoopName(TunedLoop loop) {
  switch (loop) {
    case TunedLoop::Current: return "current";
    case TunedLoop::Speed: return "speed";
    case TunedLoop::Position: break;
  }
  return "position";
}

std::optional<LoopPlant> TunedLoopPlant(CZel_Setup& setup, TunedLoop loop) {
  switch (loop) {
    case TunedLoop::Current: return CurrentPlant(setup);
    case TunedLoop::Speed: return SpeedPlant(setup);
    case TunedLoop::Position: break;
  }
  return PositionPlant(setup);
}

std::optional<ControllerGains> StoredControllerGains(CZel_Setup& setup, TunedLoop loop) {
  const GainNames names = NamesOf(loop);
  auto p = FindParameters(setup, names.kp, names.ki);
  if (!p) return std::nullopt;
  ControllerGains gains;
  gains.kp = BaseValue((*p)[0]);
  gains.ki = BaseValue((*p)[1]);
  if (names.kd) {
    const CZel_Parameter* kd = setup.FindParameter(names.kd);
    if (!kd) return std::nullopt;
    gains.kd = BaseValue(kd);
    if (const CZel_Parameter* filter = setup.FindOptionalParameter(param::filter_D))
      gains.derivative_filter = BaseValue(filter);
  }
  return gains;
}

LoopModel CloseLoop(const LoopPlant& plant, const ControllerGains& g) {
  // PI: kp + ki / (1 - z^-1); the derivative adds kd q (1 - z^-1) / (1 - (1 - q) z^-1).
  Polynomial num{g.kp + g.ki, -g.kp};
  Polynomial den{1.0, -1.0};
  if (g.kd != 0.0) {
    const double q = g.derivative_filter;
    const Polynomial smoothing{1.0, -(1.0 - q)};
    const Polynomial difference{1.0, -1.0};
    num = Add(Multiply(num, smoothing),
              Multiply(Polynomial{g.kd * q}, Multiply(difference, difference)));
    den = Multiply(den, smoothing);
  }
  return {plant.sampling_period_s, Multiply(num, plant.num), Multiply(den, plant.den)};
}

std::optional<LoopModel> DesignedLoop(CZel_Setup& setup, TunedLoop loop) {
  const auto plant = TunedLoopPlant(setup, loop);
  const auto gains = StoredControllerGains(setup, loop);
  if (!plant || !gains) return std::nullopt;
  return CloseLoop(*plant, *gains);
}

std::complex<double> OpenLoopResponse(const LoopModel& loop, double omega_rad_s) {
  const Complex inverse_z = std::polar(1.0, -omega_rad_s * loop.sampling_period_s);
  return Evaluate(loop.open_num, inverse_z) / Evaluate(loop.open_den, inverse_z);
}

std::complex<double> ClosedLoopResponse(const LoopModel& loop, double omega_rad_s) {
  const Complex inverse_z = std::polar(1.0, -omega_rad_s * loop.sampling_period_s);
  const Complex n = Evaluate(loop.open_num, inverse_z);
  return n / (Evaluate(loop.open_den, inverse_z) + n);
}

std::vector<std::complex<double>> ClosedLoopPoles(const LoopModel& loop) {
  return RootsInZ(Add(loop.open_den, loop.open_num));
}

std::optional<double> ClosedLoopBandwidth(const LoopModel& loop) {
  const double nyquist = std::numbers::pi / loop.sampling_period_s;
  const double limit = std::numbers::sqrt2 / 2.0;
  auto below = [&](double w) { return std::abs(ClosedLoopResponse(loop, w)) < limit; };
  // A logarithmic sweep finds the first crossing even past a resonance peak; bisection
  // then pins it down.
  constexpr int kSteps = 4000;
  double previous = nyquist * 1e-6;
  if (below(previous)) return std::nullopt;
  for (int i = 1; i <= kSteps; ++i) {
    const double w = nyquist * std::pow(1e-6, 1.0 - static_cast<double>(i) / kSteps);
    if (!below(w)) {
      previous = w;
      continue;
    }
    double lo = previous, hi = w;
    for (int j = 0; j < 80 && hi - lo > 1e-12 * hi; ++j) {
      const double mid = 0.5 * (lo + hi);
      (below(mid) ? hi : lo) = mid;
    }
    return 0.5 * (lo + hi);
  }
  return std::nullopt;
}

}  // namespace dcservo
