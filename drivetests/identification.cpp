#include "drivetests/identification.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "names/drive_names.h"

namespace dcservo {

namespace {

// The tolerance that a confidence speaks of.
constexpr double kTolerance = 0.05;
// After the reference changes, the loop needs this long to hold the new speed.
constexpr double kSettle_s = 0.05;
// The reference is logged in whole counts while the profile moves it in fractions: a ramp
// starts (and its acceleration feedforward acts) up to one count's time before the logged
// reference moves. A constant speed holds this long after a sample too.
constexpr double kHoldsAfter_s = 0.01;
// Fewer samples than this tell nothing that a fit can trust.
constexpr std::size_t kFewestSamples = 8;
// A loop further off its reference than this share of it is not following it.
constexpr double kFollowing = 0.1;

// Ordinary least squares through the normal equations: the coefficients and their
// covariance. Nothing when the columns do not determine the coefficients.
struct Fit {
  std::vector<double> c;
  std::vector<std::vector<double>> cov;
  double StdError(std::size_t i) const { return std::sqrt(std::max(cov[i][i], 0.0)); }
};

// The rows of a fit, `width` values each, in one block: a fit over a long log takes its
// samples in without an allocation for each.
class FitRows {
 public:
  explicit FitRows(std::size_t width) : width_(width) {}
  std::size_t Width() const { return width_; }
  std::size_t size() const { return width_ == 0 ? 0 : values_.size() / width_; }
  bool empty() const { return values_.empty(); }
  const double* operator[](std::size_t r) const { return values_.data() + r * width_; }
  // Takes `width` values from `row`.
  void Add(const double* row) { values_.insert(values_.end(), row, row + width_); }

 private:
  std::size_t width_;
  std::vector<double> values_;
};

std::optional<Fit> LeastSquares(const FitRows& rows, const std::vector<double>& y) {
  const std::size_t k = rows.empty() ? 0 : rows.Width();
  if (k == 0 || rows.size() <= k) return std::nullopt;
  // [A | I] reduced to [I | A^-1], with A = X'X; the right-hand side X'y rides along.
  std::vector<std::vector<double>> m(k, std::vector<double>(2 * k + 1, 0.0));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t i = 0; i < k; ++i) {
      for (std::size_t j = 0; j < k; ++j) m[i][j] += rows[r][i] * rows[r][j];
      m[i][2 * k] += rows[r][i] * y[r];
    }
  }
  for (std::size_t i = 0; i < k; ++i) m[i][k + i] = 1.0;
  for (std::size_t col = 0; col < k; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < k; ++r) {
      if (std::abs(m[r][col]) > std::abs(m[pivot][col])) pivot = r;
    }
    std::swap(m[col], m[pivot]);
    const double diagonal = m[col][col];
    double scale = 0.0;
    for (std::size_t j = 0; j < k; ++j) scale = std::max(scale, std::abs(m[col][j]));
    if (!(std::abs(diagonal) > 1e-12 * scale) || !std::isfinite(diagonal)) return std::nullopt;
    for (double& v : m[col]) v /= diagonal;
    for (std::size_t r = 0; r < k; ++r) {
      if (r == col) continue;
      const double f = m[r][col];
      for (std::size_t j = 0; j < m[r].size(); ++j) m[r][j] -= f * m[col][j];
    }
  }
  Fit fit;
  for (std::size_t i = 0; i < k; ++i) fit.c.push_back(m[i][2 * k]);
  double residual = 0.0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    double predicted = 0.0;
    for (std::size_t i = 0; i < k; ++i) predicted += rows[r][i] * fit.c[i];
    residual += (y[r] - predicted) * (y[r] - predicted);
  }
  const double variance = residual / static_cast<double>(rows.size() - k);
  fit.cov.assign(k, std::vector<double>(k, 0.0));
  for (std::size_t i = 0; i < k; ++i) {
    for (std::size_t j = 0; j < k; ++j) fit.cov[i][j] = variance * m[i][k + j];
  }
  return fit;
}

double Relative(double std_error, double value) {
  return value != 0.0 ? std::abs(std_error / value) : INFINITY;
}

// Relative standard error of a / b from those of a and b and their covariance.
double RatioRelative(const Fit& f, std::size_t a, std::size_t b) {
  const double ra = f.StdError(a) / f.c[a], rb = f.StdError(b) / f.c[b];
  const double cross = f.cov[a][b] / (f.c[a] * f.c[b]);
  return std::sqrt(std::max(ra * ra + rb * rb - 2.0 * cross, 0.0));
}

double Sign(double v) { return v > 0.0 ? 1.0 : v < 0.0 ? -1.0 : 0.0; }

// No friction drives a shaft: a fit that finds it negative found none, and how far below zero
// it landed is error, not friction. The confidence is that of zero with that error added.
void NoFrictionBelowZero(double& value, double& confidence, double std_error, double scale) {
  if (!(value < 0.0)) return;
  confidence = std::min(confidence, ConfidenceOf(Relative(std::hypot(value, std_error), scale)));
  value = 0.0;
}

// At most this share of the samples may be set aside as outliers.
constexpr double kMostOutliers = 0.2;

// Least squares that sets aside the few samples far off the fit: a stiff loop answers each
// count of the speed measurement with a short burst of current that the logger catches at
// one instant and misses at the next, which a plain mean takes as torque. A loop that
// flips its current every sample has no few far-off samples, and keeps them all.
std::optional<Fit> RobustLeastSquares(FitRows rows, std::vector<double> y) {
  const double all = static_cast<double>(y.size());
  std::optional<Fit> fit = LeastSquares(rows, y);
  for (int pass = 0; fit && pass < 3; ++pass) {
    std::vector<double> residual(y.size());
    for (std::size_t r = 0; r < y.size(); ++r) {
      double predicted = 0.0;
      for (std::size_t i = 0; i < fit->c.size(); ++i) predicted += rows[r][i] * fit->c[i];
      residual[r] = std::abs(y[r] - predicted);
    }
    std::vector<double> sorted = residual;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    double largest = 0.0;
    for (double v : y) largest = std::max(largest, std::abs(v));
    const double threshold = 3.0 * std::max(1.4826 * sorted[sorted.size() / 2], 1e-3 * largest);
    FitRows kept_rows(rows.Width());
    std::vector<double> kept_y;
    for (std::size_t r = 0; r < y.size(); ++r) {
      if (residual[r] > threshold) continue;
      kept_rows.Add(rows[r]);
      kept_y.push_back(y[r]);
    }
    if (kept_y.size() == y.size() ||
        static_cast<double>(kept_y.size()) < (1.0 - kMostOutliers) * all)
      break;
    rows = std::move(kept_rows);
    y = std::move(kept_y);
    fit = LeastSquares(rows, y);
  }
  return fit;
}

}  // namespace

double ConfidenceOf(double relative_std_error) {
  if (!(relative_std_error >= 0.0)) return 0.0;
  if (relative_std_error == 0.0) return 1.0;
  return std::erf(kTolerance / (std::sqrt(2.0) * relative_std_error));
}

// The armature's equation integrated from the start of the log, L (i(t) - i(0)) = integral of
// (u - R i): sums do not amplify the current converter's steps as differences would.
std::vector<IdentifiedValue> IdentifyArmature(std::span<const double> voltage_V,
                                              std::span<const double> current_A,
                                              double period_s) {
  const std::size_t n = std::min(voltage_V.size(), current_A.size());
  if (n < kFewestSamples || !(period_s > 0.0)) return {};
  const auto step = std::find_if(voltage_V.begin(), voltage_V.begin() + n,
                                 [&](double u) { return u != voltage_V[0]; });
  const auto first = static_cast<std::size_t>(step - voltage_V.begin());
  if (first + kFewestSamples > n) return {};
  double peak = 0.0;
  for (std::size_t k = 0; k < n; ++k) peak = std::max(peak, std::abs(current_A[k] - current_A[0]));
  if (!(peak > 0.0)) return {};

  FitRows rows(2);
  std::vector<double> y;
  double volt_seconds = 0.0, amp_seconds = 0.0;
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const double previous = k > 0 ? voltage_V[k - 1] : voltage_V[0];
    volt_seconds += 0.5 * (previous + voltage_V[k]) * period_s;
    amp_seconds += 0.5 * (current_A[k] + current_A[k + 1]) * period_s;
    const double row[] = {volt_seconds, -amp_seconds};
    rows.Add(row);
    y.push_back(current_A[k + 1] - current_A[0]);
  }
  const std::optional<Fit> fit = LeastSquares(rows, y);
  if (!fit || !(fit->c[0] > 0.0) || !(fit->c[1] > 0.0)) return {};
  const double L = 1.0 / fit->c[0], R = fit->c[1] / fit->c[0];
  return {{param::R, R, "ohm", ConfidenceOf(RatioRelative(*fit, 1, 0))},
          {param::L, L, "H", ConfidenceOf(Relative(fit->StdError(0), fit->c[0]))}};
}

namespace {

// R and L read within these of the setup's are the setup's; the two off by factors closer
// than kAlike are off together.
constexpr double kArmatureAgrees = 1.2;
constexpr double kAlike = 1.15;

// The identified value over the setup's; nothing when either is missing or untrusted.
std::optional<double> ArmatureRatio(const std::vector<IdentifiedValue>& identified,
                                    const char* name, double setup_value) {
  for (const IdentifiedValue& v : identified) {
    if (v.name != name) continue;
    const double ratio = v.value / setup_value;
    if (v.confidence < kArmatureTrusted || !std::isfinite(ratio) || !(ratio > 0.0))
      return std::nullopt;
    return ratio;
  }
  return std::nullopt;
}

bool Within(double ratio, double factor) { return ratio <= factor && ratio >= 1.0 / factor; }

}  // namespace

std::optional<double> SupplyFactor(const std::vector<IdentifiedValue>& identified,
                                   double setup_R, double setup_L) {
  const std::optional<double> r = ArmatureRatio(identified, param::R, setup_R);
  const std::optional<double> l = ArmatureRatio(identified, param::L, setup_L);
  if (!r || !l || !Within(*r / *l, kAlike)) return std::nullopt;
  const double both = std::sqrt(*r * *l);
  if (Within(both, kArmatureAgrees)) return std::nullopt;
  return both;
}

std::vector<std::string> ArmatureMismatches(const std::vector<IdentifiedValue>& identified,
                                            double setup_R, double setup_L) {
  std::vector<std::string> out;
  if (SupplyFactor(identified, setup_R, setup_L)) return out;
  struct Row {
    const char* name;
    double setup_value, shown_scale;
    const char* unit;
  };
  for (const Row& row : {Row{param::R, setup_R, 1.0, "ohm"}, Row{param::L, setup_L, 1e3, "mH"}}) {
    const std::optional<double> ratio = ArmatureRatio(identified, row.name, row.setup_value);
    if (!ratio || Within(*ratio, kArmatureAgrees)) continue;
    char text[200];
    std::snprintf(text, sizeof text,
                  "the step reads the armature's %s as %.3g %s where the setup has %.3g %s: set "
                  "%s in the motor setup to the motor's and tune the current loop again",
                  row.name, *ratio * row.setup_value * row.shown_scale, row.unit,
                  row.setup_value * row.shown_scale, row.unit, row.name);
    out.emplace_back(text);
  }
  return out;
}

double FrictionFit::TorqueAt(double speed_rad_s) const {
  return coulomb_Nm + viscous_Nm_s * std::abs(speed_rad_s);
}

namespace {

// The samples where the loop holds a constant speed, each with the stretch it belongs to (its
// first sample): the reference unchanged for a settling time and a little after, the shaft
// turning and following it; `off_limit`: only those whose current is off the test's limit.
// The drive's speed reference moves in whole counts, so a ramp reads as a staircase whose
// treads are no constant speed: the settling time spans many of them.
struct SteadySample {
  std::size_t index, stretch;
};
std::vector<SteadySample> ConstantSpeedSamples(const MotionLog& log, bool off_limit) {
  const std::size_t n = std::min({log.time_s.size(), log.reference_rad_s.size(),
                                  log.current_A.size()});
  std::vector<SteadySample> out;
  std::size_t since = 0;  // first sample of the current stretch of one reference
  std::size_t until = 0;  // first sample after it
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const double w = log.reference_rad_s[k];
    if (w != log.reference_rad_s[since]) since = k;
    if (until <= k)
      for (until = k + 1; until < n && log.reference_rad_s[until] == w; ++until) {
      }
    const bool settled = log.time_s[k] - log.time_s[since] >= std::max(kSettle_s, log.settle_s);
    const bool holds = until < n && log.time_s[until] - log.time_s[k] > kHoldsAfter_s;
    const bool saturated = off_limit && k < log.saturated.size() && log.saturated[k];
    const bool following =
        k >= log.speed_rad_s.size() || std::abs(log.speed_rad_s[k] - w) <= kFollowing * std::abs(w);
    if (settled && holds && following && !saturated && w != 0.0) out.push_back({k, since});
  }
  return out;
}

}  // namespace

std::optional<CurrentRipple> RippleAtConstantSpeed(const MotionLog& log) {
  const std::vector<SteadySample> steady = ConstantSpeedSamples(log, false);
  if (steady.size() < kFewestSamples) return std::nullopt;
  CurrentRipple out;
  double squares = 0.0;
  for (std::size_t first = 0; first < steady.size();) {
    std::size_t last = first;
    double sum = 0.0;
    for (; last < steady.size() && steady[last].stretch == steady[first].stretch; ++last)
      sum += log.current_A[steady[last].index];
    const double mean = sum / static_cast<double>(last - first);
    for (std::size_t i = first; i < last; ++i) {
      const double d = log.current_A[steady[i].index] - mean;
      squares += d * d;
      out.peak_A = std::max(out.peak_A, std::abs(d));
    }
    first = last;
  }
  out.rms_A = std::sqrt(squares / static_cast<double>(steady.size()));
  return out;
}

std::vector<std::vector<double>> CurrentAtConstantSpeed(const MotionLog& log) {
  std::vector<std::vector<double>> stretches;
  const std::vector<SteadySample> steady = ConstantSpeedSamples(log, false);
  for (std::size_t i = 0; i < steady.size(); ++i) {
    if (i == 0 || steady[i].stretch != steady[i - 1].stretch) stretches.emplace_back();
    stretches.back().push_back(log.current_A[steady[i].index]);
  }
  return stretches;
}

// K i = Tc sign(w) (+ b w where the run held more than one speed, + a load torque where it ran
// both ways) over the samples at constant speed, off the current limit.
std::optional<FrictionFit> IdentifyFriction(const MotionLog& log, double torque_constant) {
  if (!(torque_constant > 0.0)) return std::nullopt;
  struct Sample {
    double w, torque;
  };
  std::vector<Sample> used;
  for (const SteadySample& s : ConstantSpeedSamples(log, true))
    used.push_back({log.reference_rad_s[s.index], torque_constant * log.current_A[s.index]});
  if (used.size() < kFewestSamples) return std::nullopt;

  double fastest = 0.0, slowest = INFINITY;
  bool forward = false, backward = false;
  for (const Sample& s : used) {
    fastest = std::max(fastest, std::abs(s.w));
    slowest = std::min(slowest, std::abs(s.w));
    forward = forward || s.w > 0.0;
    backward = backward || s.w < 0.0;
  }
  // Columns: Coulomb, then those the run can tell apart from it.
  const bool viscous = fastest - slowest > 0.2 * fastest;
  const bool offset = forward && backward;
  FitRows rows(1 + (viscous ? 1 : 0) + (offset ? 1 : 0));
  std::vector<double> y;
  for (const Sample& s : used) {
    double row[3] = {Sign(s.w)};
    std::size_t width = 1;
    if (viscous) row[width++] = s.w;
    if (offset) row[width++] = 1.0;
    rows.Add(row);
    y.push_back(s.torque);
  }
  const std::optional<Fit> fit = RobustLeastSquares(std::move(rows), std::move(y));
  if (!fit) return std::nullopt;
  FrictionFit out;
  out.coulomb_Nm = fit->c[0];
  // Dry friction is judged against the torque that turned the shaft, not against itself: a
  // shaft with next to none is no worse identified than one with much.
  double typical = 0.0;
  for (const Sample& s : used) typical = std::max(typical, std::abs(s.torque));
  const double coulomb_scale = std::max(std::abs(fit->c[0]), 0.1 * typical);
  out.coulomb_confidence = ConfidenceOf(Relative(fit->StdError(0), coulomb_scale));
  NoFrictionBelowZero(out.coulomb_Nm, out.coulomb_confidence, fit->StdError(0), coulomb_scale);
  if (viscous) {
    out.viscous_Nm_s = fit->c[1];
    double confidence = ConfidenceOf(Relative(fit->StdError(1), fit->c[1]));
    // Against the friction that the fastest speed shows, as the dry part is judged.
    NoFrictionBelowZero(out.viscous_Nm_s, confidence, fit->StdError(1),
                        std::max(std::abs(fit->c[1]), 0.1 * typical / fastest));
    out.viscous_confidence = confidence;
  } else {
    // The loop holds the current through its converter: however quiet the fit, the mean it
    // holds is known no better than one reading's rounding.
    out.held_speed_rad_s = fastest;
    out.held_std_error_Nm =
        std::max(fit->StdError(0), torque_constant * log.current_step_A / std::sqrt(12.0));
  }
  return out;
}

// Two speeds closer than this share of the faster tell the viscous part too poorly to try.
constexpr double kSpeedsApart = 0.2;

std::optional<FrictionFit> FrictionFromTwoSpeeds(const FrictionFit& a, const FrictionFit& b) {
  const double wa = a.held_speed_rad_s, wb = b.held_speed_rad_s;
  if (!(wa > 0.0) || !(wb > 0.0) || std::abs(wa - wb) <= kSpeedsApart * std::max(wa, wb))
    return std::nullopt;
  // Friction at each speed is Tc + b w: two equations, each reading with its own error.
  const double apart = wa - wb;
  const double viscous = (a.coulomb_Nm - b.coulomb_Nm) / apart;
  const double coulomb = a.coulomb_Nm - viscous * wa;
  const double ea = a.held_std_error_Nm, eb = b.held_std_error_Nm;
  const double viscous_error = std::hypot(ea, eb) / std::abs(apart);
  const double coulomb_error = std::hypot(ea * wb, eb * wa) / std::abs(apart);
  FrictionFit out;
  out.coulomb_Nm = coulomb;
  out.viscous_Nm_s = viscous;
  // As each run judges its dry friction: against the torque at the faster speed, not itself.
  const double typical = std::max(a.coulomb_Nm, b.coulomb_Nm);
  const double coulomb_scale = std::max(std::abs(coulomb), 0.1 * typical);
  out.coulomb_confidence = ConfidenceOf(Relative(coulomb_error, coulomb_scale));
  NoFrictionBelowZero(out.coulomb_Nm, out.coulomb_confidence, coulomb_error, coulomb_scale);
  double confidence = ConfidenceOf(Relative(viscous_error, viscous));
  NoFrictionBelowZero(out.viscous_Nm_s, confidence, viscous_error,
                      std::max(std::abs(viscous), 0.1 * typical / std::max(wa, wb)));
  out.viscous_confidence = confidence;
  return out;
}

std::vector<IdentifiedValue> FrictionValues(const FrictionFit& fit) {
  std::vector<IdentifiedValue> out{
      {"friction_coulomb", fit.coulomb_Nm, "Nm", fit.coulomb_confidence}};
  if (fit.viscous_confidence)
    out.push_back({"friction_viscous", fit.viscous_Nm_s, "Nm s/rad", *fit.viscous_confidence});
  return out;
}

std::optional<double> CorrectedInertia(const InertiaRun& run, const FrictionFit& friction) {
  // A fit that found friction helping the shaft along found none worth taking off.
  const double accelerating =
      run.torque_Nm - std::max(friction.TorqueAt(run.mean_speed_rad_s), 0.0);
  double j = accelerating * run.time_s / run.speed_gain_rad_s;
  // Viscous friction slows the acceleration as the speed rises: J dw/dt = T - Tc - b w
  // crosses the timed speeds in t = J / b ln((T - Tc - b w1) / (T - Tc - b w2)). The friction
  // at the mean speed alone overstates J by the curvature of that logarithm.
  const double b = friction.viscous_Nm_s;
  if (b > 0.0 && friction.viscous_confidence) {
    const double dry = run.torque_Nm - std::max(friction.coulomb_Nm, 0.0);
    const double w1 = std::abs(run.mean_speed_rad_s) - 0.5 * std::abs(run.speed_gain_rad_s);
    const double w2 = w1 + std::abs(run.speed_gain_rad_s);
    const double ratio = (dry - b * w1) / (dry - b * w2);
    if (ratio > 1.0 && std::isfinite(ratio)) j = b * run.time_s / std::log(ratio);
  }
  if (!(accelerating > 0.0) || !std::isfinite(j) || !(j > 0.0)) return std::nullopt;
  return j;
}

std::optional<CoastFit> CoastDeceleration(std::span<const double> time_s,
                                          std::span<const double> position_rad) {
  const std::size_t n = std::min(time_s.size(), position_rad.size());
  if (n < 4) return std::nullopt;
  // Times and positions from the middle reading: the columns stay of one size.
  const double t0 = time_s[n / 2], p0 = position_rad[n / 2];
  FitRows rows(3);
  std::vector<double> y;
  for (std::size_t k = 0; k < n; ++k) {
    const double t = time_s[k] - t0;
    const double row[] = {1.0, t, t * t};
    rows.Add(row);
    y.push_back(position_rad[k] - p0);
  }
  const std::optional<Fit> fit = LeastSquares(rows, y);
  if (!fit || !std::isfinite(fit->c[2])) return std::nullopt;
  return CoastFit{-2.0 * fit->c[2], 2.0 * fit->StdError(2)};
}

std::optional<InertiaWithFriction> InertiaFromCoast(const InertiaRun& run, const CoastFit& coast) {
  if (!(run.time_s > 0.0) || !(run.speed_gain_rad_s > 0.0) || !(run.torque_Nm > 0.0))
    return std::nullopt;
  const double rising = run.speed_gain_rad_s / run.time_s;
  // A coast that sped up had a torque behind it that the drive did not give: no friction to
  // take off, and the coast's error counts all the more.
  const double slowing = std::max(coast.deceleration_rad_s2, 0.0);
  const double coast_error = std::hypot(coast.std_error_rad_s2, coast.deceleration_rad_s2 - slowing);
  const double inertia = run.torque_Nm / (rising + slowing);
  const double rising_error = std::sqrt(2.0) * run.speed_quantum_rad_s / run.time_s;
  const double relative = std::hypot(rising_error, coast_error) / (rising + slowing);
  if (!std::isfinite(inertia) || !(inertia > 0.0)) return std::nullopt;
  return InertiaWithFriction{inertia, inertia * slowing, ConfidenceOf(relative)};
}

std::optional<double> AllowedAcceleration(double torque_constant, double current_limit_A,
                                          double inertia, double friction_Nm) {
  const double torque = kProfileCurrentShare * torque_constant * current_limit_A -
                        std::max(friction_Nm, 0.0);
  const double a = torque / inertia;
  if (!(torque > 0.0) || !std::isfinite(a)) return std::nullopt;
  return a;
}

nlohmann::ordered_json IdentifiedJson(const std::vector<IdentifiedValue>& values) {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  for (const IdentifiedValue& v : values)
    out[v.name] = {{"value", v.value}, {"unit", v.unit}, {"confidence", v.confidence}};
  return out;
}

}  // namespace dcservo
