#include "design/two_mass_fit.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace dcservo {
namespace two_mass_detail {

using TmComplex = std::complex<double>;

// The lowest coherent points, where the masses move as one, give the total inertia.
constexpr std::size_t kInertiaPoints = 3;
constexpr int kRefits = 5;

// G = (1 + b2 s + a2 s^2) / (1 + b1 s + a1 s^2).
struct Shape {
  double a1 = 0.0, b1 = 0.0, a2 = 0.0, b2 = 0.0;
  TmComplex Denominator(TmComplex s) const { return 1.0 + b1 * s + a1 * s * s; }
  TmComplex At(double omega) const {
    const TmComplex s{0.0, omega};
    return (1.0 + b2 * s + a2 * s * s) / Denominator(s);
  }
};

struct Sample {
  double omega;
  TmComplex g;  // normalised by K / (J s)
  double weight;
};

std::optional<Shape> FitShape(const std::vector<Sample>& samples) {
  Shape shape;
  bool have = false;
  for (int pass = 0; pass < kRefits; ++pass) {
    const auto rows = static_cast<Eigen::Index>(2 * samples.size());
    Eigen::MatrixXd a(rows, 4);
    Eigen::VectorXd y(rows);
    for (std::size_t k = 0; k < samples.size(); ++k) {
      const Sample& p = samples[k];
      const TmComplex s{0.0, p.omega};
      const double w = p.weight / (have ? std::abs(shape.Denominator(s)) : 1.0);
      // G (1 + b1 s + a1 s^2) - (b2 s + a2 s^2) = 1 - G, in a1, b1, a2, b2.
      const TmComplex row[4] = {p.g * s * s, p.g * s, -s * s, -s};
      const TmComplex rhs = 1.0 - p.g;
      for (int part = 0; part < 2; ++part) {
        const auto r = static_cast<Eigen::Index>(2 * k + part);
        for (int c = 0; c < 4; ++c) a(r, c) = w * (part ? row[c].imag() : row[c].real());
        y(r) = w * (part ? rhs.imag() : rhs.real());
      }
    }
    const Eigen::VectorXd x = a.colPivHouseholderQr().solve(y);
    if (!x.allFinite()) return std::nullopt;
    shape = {x(0), x(1), x(2), x(3)};
    have = true;
  }
  if (!(shape.a1 > 0.0) || !(shape.a2 > shape.a1) || !(shape.b1 > 0.0)) return std::nullopt;
  return shape;
}

double MedianOfInertias(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace two_mass_detail

using namespace two_mass_detail;

std::complex<double> TwoMassShape(const TwoMassPlant& plant, double frequency_hz) {
  const double wr = 2.0 * std::numbers::pi * plant.resonance_hz;
  const double wa = 2.0 * std::numbers::pi * plant.anti_resonance_hz;
  const double c = plant.damping_Nm_s_per_rad;
  const Shape shape{1.0 / (wr * wr), 2.0 * plant.damping_ratio / wr, 1.0 / (wa * wa),
                    plant.load_inertia_kgm2 > 0.0 && plant.stiffness_Nm_per_rad > 0.0
                        ? c / plant.stiffness_Nm_per_rad
                        : 0.0};
  return shape.At(2.0 * std::numbers::pi * frequency_hz);
}

std::optional<PlantIdentification> IdentifyPlant(std::span<const BodePoint> plant,
                                                 double torque_constant) {
  std::vector<const BodePoint*> coherent;
  for (const BodePoint& p : plant)
    if (p.coherence >= kLeastCoherence && std::abs(p.response) > 0.0) coherent.push_back(&p);
  if (coherent.size() < 2 || !(torque_constant > 0.0)) return std::nullopt;

  PlantIdentification id;
  std::vector<double> inertias;
  double coherence = 0.0;
  for (std::size_t k = 0; k < std::min(kInertiaPoints, coherent.size()); ++k) {
    const double omega = 2.0 * std::numbers::pi * coherent[k]->frequency_hz;
    inertias.push_back(torque_constant / (omega * std::abs(coherent[k]->response)));
    coherence += coherent[k]->coherence / static_cast<double>(std::min(kInertiaPoints, coherent.size()));
  }
  id.total_inertia_kgm2 = MedianOfInertias(inertias);
  const auto [low, high] = std::minmax_element(inertias.begin(), inertias.end());
  id.inertia_confidence =
      std::clamp(1.0 - (*high - *low) / id.total_inertia_kgm2, 0.0, 1.0) * coherence;

  std::vector<Sample> samples;
  for (const BodePoint* p : coherent) {
    const double omega = 2.0 * std::numbers::pi * p->frequency_hz;
    samples.push_back(
        {omega, p->response * TmComplex{0.0, omega} * id.total_inertia_kgm2 / torque_constant,
         p->coherence});
  }
  const auto peak = std::max_element(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
    return std::abs(a.g) < std::abs(b.g);
  });
  const auto dip = std::min_element(samples.begin(), peak + 1, [](const Sample& a, const Sample& b) {
    return std::abs(a.g) < std::abs(b.g);
  });
  const auto db = [](TmComplex g) { return 20.0 * std::log10(std::abs(g)); };
  if (db(peak->g) < kCouplingPeak_dB || db(dip->g) > kCouplingDip_dB) return id;
  const std::optional<Shape> shape = FitShape(samples);
  if (!shape) return id;

  TwoMassPlant c;
  const double wr = 1.0 / std::sqrt(shape->a1), wa = 1.0 / std::sqrt(shape->a2);
  c.total_inertia_kgm2 = id.total_inertia_kgm2;
  c.resonance_hz = wr / (2.0 * std::numbers::pi);
  c.anti_resonance_hz = wa / (2.0 * std::numbers::pi);
  c.damping_ratio = 0.5 * shape->b1 * wr;
  c.motor_inertia_kgm2 = id.total_inertia_kgm2 * (wa / wr) * (wa / wr);
  c.load_inertia_kgm2 = id.total_inertia_kgm2 - c.motor_inertia_kgm2;
  c.stiffness_Nm_per_rad = c.load_inertia_kgm2 * wa * wa;
  c.damping_Nm_s_per_rad = std::max(0.0, shape->b2 * c.stiffness_Nm_per_rad);
  double error = 0.0, weight = 0.0;
  for (const Sample& s : samples) {
    error += s.weight * std::norm(shape->At(s.omega) / s.g - 1.0);
    weight += s.weight;
  }
  c.confidence = std::clamp(1.0 - std::sqrt(error / weight), 0.0, 1.0);
  id.coupling = c;
  return id;
}

std::optional<ShaftCoupling> ConfidentCoupling(const PlantIdentification& plant) {
  if (!plant.coupling || plant.coupling->confidence < kConfidentFit) return std::nullopt;
  const TwoMassPlant& c = *plant.coupling;
  const double total = c.motor_inertia_kgm2 + c.load_inertia_kgm2;
  if (!(c.motor_inertia_kgm2 > 0.0) || !(c.load_inertia_kgm2 > 0.0)) return std::nullopt;
  return ShaftCoupling{c.load_inertia_kgm2 / total, c.resonance_hz, c.damping_ratio};
}

}  // namespace dcservo
