#include "design/frequency_response.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace dcservo {
namespace frequency_response_detail {

using FrComplex = std::complex<double>;

double FrDegrees(double rad) { return rad * 180.0 / std::numbers::pi; }

// The phasors of several signals over one block: each fitted with sin, cos, an offset and a
// slope, time counted from the log's start so that every block shares one phase reference.
class BlockFit {
 public:
  BlockFit(double omega_rad_s, double period_s, std::size_t first, std::size_t count)
      : first_(first), basis_(static_cast<Eigen::Index>(count), 4) {
    const double middle = (static_cast<double>(first) + 0.5 * static_cast<double>(count)) * period_s;
    for (std::size_t k = 0; k < count; ++k) {
      const double t = static_cast<double>(first + k) * period_s;
      const auto row = static_cast<Eigen::Index>(k);
      basis_(row, 0) = std::sin(omega_rad_s * t);
      basis_(row, 1) = std::cos(omega_rad_s * t);
      basis_(row, 2) = 1.0;
      basis_(row, 3) = t - middle;
    }
    solver_.compute(basis_.transpose() * basis_);
  }
  // Re{X e^(j w t)} is the signal's sine.
  FrComplex Phasor(const std::vector<double>& signal) const {
    const Eigen::Map<const Eigen::VectorXd> y(signal.data() + first_, basis_.rows());
    const Eigen::Vector4d c = solver_.solve(basis_.transpose() * y);
    return {c(1), -c(0)};
  }

 private:
  std::size_t first_;
  Eigen::MatrixXd basis_;
  Eigen::LDLT<Eigen::Matrix4d> solver_;
};

// Sums of the blocks' cross and auto spectra for one input/output pair.
struct CrossSums {
  FrComplex xy;
  double xx = 0.0, yy = 0.0;
  void Add(FrComplex x, FrComplex y) {
    xy += std::conj(x) * y;
    xx += std::norm(x);
    yy += std::norm(y);
  }
  BodePoint Point(double frequency_hz) const {
    BodePoint p;
    p.frequency_hz = frequency_hz;
    p.response = xx > 0.0 ? xy / xx : FrComplex{};
    p.coherence = xx > 0.0 && yy > 0.0 ? std::clamp(std::norm(xy) / (xx * yy), 0.0, 1.0) : 0.0;
    return p;
  }
};

constexpr std::size_t kMostBlocks = 8;
constexpr double kLeastBlockSamples = 8.0;

double Interpolated(double a, double b, double t) { return a + t * (b - a); }

}  // namespace frequency_response_detail

using namespace frequency_response_detail;

double BodePoint::MagnitudeDb() const { return 20.0 * std::log10(std::abs(response)); }
double BodePoint::PhaseDeg() const { return FrDegrees(std::arg(response)); }

double SettleTime(double frequency_hz) {
  return std::max(kSettleTime_s, kSettlePeriods / frequency_hz);
}

std::optional<MeasuredPoint> AnalyseExcitation(const ExcitationLog& log, const CountScales& scales) {
  const std::size_t n = log.injection.size();
  if (!(log.frequency_hz > 0.0) || !(log.period_s > 0.0) || log.current_reference.size() != n ||
      log.current.size() != n || log.position.size() != n || !(scales.current_counts_per_A > 0.0) ||
      !(scales.position_counts_per_rad > 0.0))
    return std::nullopt;
  const double samples_per_period = 1.0 / (log.frequency_hz * log.period_s);
  const auto settle = static_cast<std::size_t>(std::ceil(SettleTime(log.frequency_hz) / log.period_s));
  if (settle >= n) return std::nullopt;
  const std::size_t usable = n - settle;
  const double block_least = std::max(samples_per_period, kLeastBlockSamples);
  const std::size_t blocks =
      std::min(kMostBlocks, static_cast<std::size_t>(static_cast<double>(usable) / block_least));
  if (blocks < 2) return std::nullopt;
  const std::size_t length = usable / blocks;

  const double omega = 2.0 * std::numbers::pi * log.frequency_hz;
  // The loops' answer c is the controllers' reference; the current that enters the plant is
  // c + d, d the injection. Open loop -c / (c + d), closed loop -c / d.
  CrossSums plant, open_loop, closed_loop, current_loop;
  double excitation = 0.0;
  for (std::size_t b = 0; b < blocks; ++b) {
    const BlockFit fit(omega, log.period_s, settle + b * length, length);
    const FrComplex d = fit.Phasor(log.injection);
    const FrComplex c = fit.Phasor(log.current_reference);
    const FrComplex i = fit.Phasor(log.current);
    const FrComplex speed = FrComplex{0.0, omega} * fit.Phasor(log.position) / scales.position_counts_per_rad;
    plant.Add(i / scales.current_counts_per_A, speed);
    open_loop.Add(c + d, -c);
    closed_loop.Add(d, -c);
    current_loop.Add(c + d, i);
    excitation += std::abs(d);
  }
  if (!(excitation > 0.0)) return std::nullopt;
  return MeasuredPoint{plant.Point(log.frequency_hz), open_loop.Point(log.frequency_hz),
                       closed_loop.Point(log.frequency_hz), current_loop.Point(log.frequency_hz)};
}

std::vector<double> LogSpacedFrequencies(double from_hz, double to_hz, int points) {
  std::vector<double> f;
  if (points < 1 || !(from_hz > 0.0) || !(to_hz >= from_hz)) return f;
  if (points == 1) return {from_hz};
  for (int k = 0; k < points; ++k)
    f.push_back(from_hz * std::pow(to_hz / from_hz, static_cast<double>(k) / (points - 1)));
  return f;
}

BodeCurves ModelCurves(const DriveModel& model, std::span<const double> frequency_hz) {
  std::vector<double> omega;
  for (double f : frequency_hz) omega.push_back(2.0 * std::numbers::pi * f);
  const auto speed = OpenLoopFrequencyResponse(model, ModelStructure::Speed, TunedLoop::Speed, omega);
  const auto current =
      OpenLoopFrequencyResponse(model, ModelStructure::Speed, TunedLoop::Current, omega);
  BodeCurves curves;
  for (std::size_t k = 0; k < omega.size(); ++k) {
    const double f = frequency_hz[k];
    curves.plant.push_back({f, PlantResponse(model, omega[k]), 1.0});
    curves.open_loop.push_back({f, speed[k], 1.0});
    curves.closed_loop.push_back({f, speed[k] / (1.0 + speed[k]), 1.0});
    curves.current_loop.push_back({f, current[k] / (1.0 + current[k]), 1.0});
  }
  return curves;
}

CurveMargins MarginsOfCurve(std::span<const BodePoint> open_loop) {
  std::vector<double> w, gain_db, phase;
  for (const BodePoint& p : open_loop) {
    if (p.coherence < kLeastCoherence || !(std::abs(p.response) > 0.0)) continue;
    double deg = p.PhaseDeg();
    if (phase.empty()) {
      if (deg > 0.0) deg -= 360.0;
    } else {
      while (deg - phase.back() > 180.0) deg -= 360.0;
      while (deg - phase.back() < -180.0) deg += 360.0;
    }
    w.push_back(2.0 * std::numbers::pi * p.frequency_hz);
    gain_db.push_back(p.MagnitudeDb());
    phase.push_back(deg);
  }
  CurveMargins margins;
  for (std::size_t k = 1; k < w.size(); ++k) {
    const auto at = [&](const std::vector<double>& v, double level) {
      return std::clamp((level - v[k - 1]) / (v[k] - v[k - 1]), 0.0, 1.0);
    };
    const auto omega_at = [&](double t) { return w[k - 1] * std::pow(w[k] / w[k - 1], t); };
    if ((gain_db[k - 1] >= 0.0) != (gain_db[k] >= 0.0)) {
      const double t = at(gain_db, 0.0);
      const double pm = 180.0 + Interpolated(phase[k - 1], phase[k], t);
      if (!margins.phase_margin_deg || pm < *margins.phase_margin_deg) {
        margins.phase_margin_deg = pm;
        margins.crossover_rad_s = omega_at(t);
      }
    }
    const double level = -180.0 + 360.0 * std::floor((phase[k - 1] + 180.0) / 360.0);
    if ((phase[k - 1] - level) * (phase[k] - level) <= 0.0 && phase[k] < phase[k - 1]) {
      const double gm = -Interpolated(gain_db[k - 1], gain_db[k], at(phase, level));
      if (!margins.gain_margin_db || gm < *margins.gain_margin_db) margins.gain_margin_db = gm;
    }
  }
  return margins;
}

std::vector<BodePoint> WithFilter(std::span<const BodePoint> open_loop,
                                  const BiquadCoefficients& filter, double sampling_period_s) {
  std::vector<BodePoint> out(open_loop.begin(), open_loop.end());
  for (BodePoint& p : out) p.response *= FilterResponse(filter, sampling_period_s, p.frequency_hz);
  return out;
}

std::vector<std::string> CompareMargins(const CurveMargins& measured, const CurveMargins& model) {
  std::vector<std::string> lines;
  char text[200];
  if (measured.phase_margin_deg && model.phase_margin_deg &&
      std::abs(*measured.phase_margin_deg - *model.phase_margin_deg) > kMarginAgreement_deg) {
    std::snprintf(text, sizeof text,
                  "the model does not hold for this drive: phase margin measured %.1f deg, the "
                  "model's %.1f deg",
                  *measured.phase_margin_deg, *model.phase_margin_deg);
    lines.push_back(text);
  }
  if (measured.gain_margin_db && model.gain_margin_db &&
      std::abs(*measured.gain_margin_db - *model.gain_margin_db) > kMarginAgreement_dB) {
    std::snprintf(text, sizeof text,
                  "the model does not hold for this drive: gain margin measured %.1f dB, the "
                  "model's %.1f dB",
                  *measured.gain_margin_db, *model.gain_margin_db);
    lines.push_back(text);
  }
  return lines;
}

}  // namespace dcservo
