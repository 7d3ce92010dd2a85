#include "design/drive_model.h"

#include <Eigen/Dense>
#include <unsupported/Eigen/MatrixFunctions>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <numeric>

#include "derive/register_bits.h"
#include "design/lifted_system.h"
#include "derive/step.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/scales.h"
#include "units/timing.h"

namespace dcservo {

namespace {

// ---- the model's state --------------------------------------------------------------------

constexpr int kSlots = 3;
constexpr int kMaxWindow = 64;

// Every number that carries over from one PWM period to the next, so that the linear
// analysis can take the model apart state by state.
struct State {
  double i = 0.0, w = 0.0, theta = 0.0;                   // the motor
  double w_load = 0.0, theta_load = 0.0;                  // the load beyond a compliant shaft
  double cur_int = 0.0, u_filt = 0.0, command = 0.0;      // current loop
  double iq_ref = 0.0;
  double spd_int = 0.0;                                   // speed loop
  double pos_int = 0.0, pos_prev_err = 0.0, deriv = 0.0;  // position loop
  double speed_command = 0.0, target = 0.0, traj_speed = 0.0, traj_accel = 0.0;
  double tacho_position = 0.0;
  std::array<std::array<double, 4>, kSlots * 3> bq{};     // x1 x2 y1 y2 per place and slot
  std::array<double, kMaxWindow> positions{};             // the last encoder readings
  // Not part of the linear state: flags and the sample count.
  bool have_prev_err = false;
  int ring = 0;
};

// The states that the linear analysis follows, as pointers into a State.
std::vector<double*> LinearStates(State& s, int window, bool coupled) {
  std::vector<double*> v = {&s.i,       &s.w,      &s.theta,        &s.cur_int, &s.u_filt,
                            &s.command, &s.iq_ref, &s.spd_int,      &s.pos_int, &s.pos_prev_err,
                            &s.deriv,   &s.tacho_position};
  if (coupled) {
    v.push_back(&s.w_load);
    v.push_back(&s.theta_load);
  }
  for (auto& slot : s.bq) {
    for (double& x : slot) v.push_back(&x);
  }
  for (int k = 0; k < window; ++k) v.push_back(&s.positions[static_cast<std::size_t>(k)]);
  return v;
}

// Where a loop is cut open for its margins: the signal that the loop's controller hands on.
enum class BreakPoint { None, Command, CurrentReference, SpeedReference };

struct Options {
  ModelStructure structure = ModelStructure::Current;
  bool linear = false;  // no steps, no limits
  bool blocked = false;
  double current_limit = 0.0, speed_limit = 0.0;
  BreakPoint cut = BreakPoint::None;
};

class Machine {
 public:
  Machine(const DriveModel& m, const Options& o) : m_(m), o_(o) {
    window_ = m.loops_in_fast_loop ? std::clamp(m.slper / std::max(m.clper, 1), 1, kMaxWindow) : 1;
    coupled_ = UsableCoupling(m.coupling);
    if (coupled_) DiscretizeCoupled();
    else Discretize();
  }
  int Window() const { return window_; }
  bool Coupled() const { return coupled_; }

  // One PWM period; `k` counts them from a moment when both loops were due. `injected` is
  // what the cut loop gets instead of its controller's output; `cut_output` receives that
  // output when the cut loop computed in this period.
  // `program(state, fast)` feeds the reference at each sample, as the drive's program does;
  // a template, as it runs at every sample of every prediction.
  template <class Program>
  void Period(State& s, long long k, double injected, double* cut_output,
              const Program& program) {
    const double first_half = s.command;
    const bool slow = k % m_.slper == 0;
    const bool fast = k % m_.clper == 0;
    if (slow) SlowSample(s, injected, cut_output, program);
    if (fast) FastSample(s, injected, cut_output, program);
    Plant(s, first_half, s.command);
  }

  double CurrentLimit() const {
    const double chip = o_.structure == ModelStructure::PositionOverCurrent ? m_.sat_p : m_.sat_s;
    return o_.current_limit > 0.0 ? std::min(o_.current_limit, kFullScale) : chip;
  }
  // What the drive logs at the end of a sample: the readings the loops computed from.
  double LoggedPosition() const { return position_; }
  double LoggedCurrent() const { return current_; }
  double MeasuredCurrent(const State& s) const {
    const double c = s.i * m_.current_counts_per_A;
    if (o_.linear) return c;
    const double step = m_.current_step_counts;
    return std::clamp(std::floor(c / step + 0.5) * step, -32768.0, 32768.0 - step);
  }
  double Speed() const { return speed_; }
  bool Saturated() const { return saturated_; }

 private:
  double Limit(double x, double limit) const { return o_.linear ? x : std::clamp(x, -limit, limit); }
  double Whole(double x) const { return o_.linear ? x : std::nearbyint(x); }

  double Position(const State& s) const {
    if (m_.sensor == SpeedSensor::Tacho) return s.tacho_position;
    const double x = s.theta * m_.position_counts_per_rad;
    return o_.linear ? x : std::floor(x);
  }
  double TachoSpeed(const State& s) const { return Whole(s.w * m_.speed_counts_per_rad_s); }

  double Filter(const std::vector<BiquadCoefficients>& place, int first, State& s, double x) {
    for (std::size_t n = 0; n < place.size(); ++n) {
      const BiquadCoefficients& c = place[n];
      auto& z = s.bq[static_cast<std::size_t>(first) + n];
      const double y = c.b0 * x + c.b1 * z[0] + c.b2 * z[1] - c.a1 * z[2] - c.a2 * z[3];
      z = {x, z[0], y, z[2]};
      x = y;
    }
    return x;
  }

  void Measure(State& s) {
    if (m_.sensor == SpeedSensor::Tacho) {
      speed_ = TachoSpeed(s);
      s.tacho_position += speed_;
      position_ = s.tacho_position;
      return;
    }
    const double position = position_ = Position(s);
    double& oldest = s.positions[static_cast<std::size_t>(s.ring)];
    const double encoder_speed = position - oldest;
    oldest = position;
    s.ring = (s.ring + 1) % window_;
    speed_ = m_.sensor == SpeedSensor::Encoder ? encoder_speed : TachoSpeed(s);
  }

  template <class Program>
  void SlowSample(State& s, double injected, double* out, const Program& program) {
    if (m_.loops_in_fast_loop) return;
    Measure(s);
    program(s, false);
    OuterLoops(s, injected, out);
  }

  template <class Program>
  void FastSample(State& s, double injected, double* out, const Program& program) {
    if (m_.loops_in_fast_loop) {
      Measure(s);
      program(s, false);
      OuterLoops(s, injected, out);
    }
    program(s, true);
    CurrentLoop(s, injected, out);
  }

  void OuterLoops(State& s, double injected, double* out) {
    const ModelStructure st = o_.structure;
    const double speed = Filter(m_.speed_feedback_filters, 6, s, speed_);
    if (st == ModelStructure::Current) return;
    const double current_limit = CurrentLimit();
    double speed_loop_ref = s.speed_command;
    if (st == ModelStructure::PositionOverSpeed || st == ModelStructure::PositionOverCurrent) {
      const bool over_speed = st == ModelStructure::PositionOverSpeed;
      const double limit = over_speed ? SpeedLimit() : current_limit;
      const double e = s.target - Position(s);
      s.pos_int = Limit(s.pos_int + m_.kip * e, std::min(m_.imax_p, limit));
      const double d_raw = s.have_prev_err || o_.linear ? m_.kdp * (e - s.pos_prev_err) : 0.0;
      s.deriv += m_.kdfp * (d_raw - s.deriv);
      s.pos_prev_err = e;
      s.have_prev_err = true;
      double u = Limit(m_.kpp * e + s.pos_int + s.deriv, limit);
      if (over_speed) {
        double ff = m_.kffs * s.traj_speed;
        if (m_.sensor == SpeedSensor::TachoAndLoadEncoder) ff *= m_.tacho_per_encoder;
        u = Filter(m_.speed_reference_filters, 0, s, Limit(u + ff, limit));
        speed_loop_ref = Cut(BreakPoint::SpeedReference, u, injected, out);
      } else {
        u = Filter(m_.current_reference_filters, 3, s, u) + m_.kffa * s.traj_accel;
        s.iq_ref = Cut(BreakPoint::CurrentReference, SaturateCurrent(Whole(u), current_limit),
                       injected, out);
        return;
      }
    }
    if (st == ModelStructure::Speed || st == ModelStructure::PositionOverSpeed) {
      const double e = speed_loop_ref - speed;
      s.spd_int = Limit(s.spd_int + m_.kis * e, std::min(m_.imax_s, current_limit));
      double u = Limit(m_.kps * e + s.spd_int, current_limit);
      u = Filter(m_.current_reference_filters, 3, s, u) + m_.kffa * s.traj_accel;
      s.iq_ref = Cut(BreakPoint::CurrentReference, SaturateCurrent(Whole(u), current_limit),
                     injected, out);
    }
  }

  double SaturateCurrent(double u, double limit) {
    saturated_ = !o_.linear && std::fabs(u) >= limit;
    return Limit(u, limit);
  }

  double SpeedLimit() const {
    return o_.speed_limit > 0.0 ? std::min(o_.speed_limit, kFullScale) : m_.sat_p;
  }

  double Cut(BreakPoint here, double computed, double injected, double* out) const {
    if (o_.cut != here) return computed;
    if (out) *out = computed;
    return injected;
  }

  void CurrentLoop(State& s, double injected, double* out) {
    current_ = MeasuredCurrent(s);
    const double e = s.iq_ref + m_.load_feedforward - current_;
    s.cur_int = Limit(s.cur_int + m_.kii * e, m_.sat_iq);
    const double u = Limit(m_.kpi * e + s.cur_int, m_.sat_iq);
    s.u_filt += m_.filter_q * (u - s.u_filt);
    s.command = Cut(BreakPoint::Command, Limit(Whole(s.u_filt), m_.sat_pwm), injected, out);
  }

  // Each half of the PWM period exactly, the bridge's average voltage held over it.
  void Plant(State& s, double first_half, double second_half) const {
    if (coupled_) {
      CoupledPlant(s, first_half, second_half);
      return;
    }
    for (const double command : {first_half, second_half}) {
      const Eigen::Vector3d x(s.i, s.w, s.theta);
      const Eigen::Vector3d next = half_.phi * x + half_.gamma * (command * m_.volts_per_count);
      s.i = next(0);
      s.w = next(1);
      s.theta = next(2);
    }
  }

  void Discretize() {
    Eigen::Matrix4d a = Eigen::Matrix4d::Zero();
    a(0, 0) = -m_.R / m_.L;
    a(0, 3) = 1.0 / m_.L;
    if (!o_.blocked) {
      a(0, 1) = -m_.K / m_.L;
      a(1, 0) = m_.K / m_.J;
      a(2, 1) = 1.0;
    }
    const Eigen::Matrix4d e = (a * (0.5 * m_.pwm_period_s)).exp();
    half_.phi = e.topLeftCorner<3, 3>();
    half_.gamma = e.topRightCorner<3, 1>();
  }

  using CoupledVector = Eigen::Matrix<double, 5, 1>;
  void CoupledPlant(State& s, double first_half, double second_half) const {
    for (const double command : {first_half, second_half}) {
      CoupledVector x;
      x << s.i, s.w, s.theta, s.w_load, s.theta_load;
      const CoupledVector next =
          coupled_half_.phi * x + coupled_half_.gamma * (command * m_.volts_per_count);
      s.i = next(0);
      s.w = next(1);
      s.theta = next(2);
      s.w_load = next(3);
      s.theta_load = next(4);
    }
  }

  // The motor and the load each a mass, the shaft between them a spring k with a damper c:
  // k and c from the free-free resonance w (k (1/Jm + 1/Jload) = w^2) and its damping ratio.
  void DiscretizeCoupled() {
    const ShaftCoupling& c = *m_.coupling;
    const double jm = (1.0 - c.load_share) * m_.J, jl = c.load_share * m_.J;
    const double reduced = jm * jl / m_.J;
    const double w = 2.0 * std::numbers::pi * c.resonance_hz;
    const double k = w * w * reduced, d = 2.0 * c.damping_ratio * w * reduced;
    Eigen::Matrix<double, 6, 6> a = Eigen::Matrix<double, 6, 6>::Zero();
    a(0, 0) = -m_.R / m_.L;
    a(0, 5) = 1.0 / m_.L;
    if (!o_.blocked) {
      a(0, 1) = -m_.K / m_.L;
      a.row(1) << m_.K / jm, -d / jm, -k / jm, d / jm, k / jm, 0.0;
      a(2, 1) = 1.0;
    }
    a.row(3) << 0.0, d / jl, k / jl, -d / jl, -k / jl, 0.0;
    a(4, 3) = 1.0;
    const Eigen::Matrix<double, 6, 6> e = (a * (0.5 * m_.pwm_period_s)).exp();
    coupled_half_.phi = e.topLeftCorner<5, 5>();
    coupled_half_.gamma = e.topRightCorner<5, 1>();
  }

  struct Half {
    Eigen::Matrix3d phi;
    Eigen::Vector3d gamma;
  };
  struct CoupledHalf {
    Eigen::Matrix<double, 5, 5> phi;
    CoupledVector gamma;
  };

  const DriveModel& m_;
  Options o_;
  int window_ = 1;
  bool coupled_ = false;
  Half half_;
  CoupledHalf coupled_half_;
  double speed_ = 0.0, position_ = 0.0, current_ = 0.0;
  bool saturated_ = false;
};

// ---- lifting the linear model to a loop's period ------------------------------------------------

int PeriodsOf(const DriveModel& m, BreakPoint cut) {
  if (cut == BreakPoint::Command) return m.clper;
  return m.loops_in_fast_loop ? m.clper : m.slper;
}

Lifted Lift(const DriveModel& model, const Options& options) {
  Machine machine(model, options);
  State probe;
  const int n = static_cast<int>(LinearStates(probe, machine.Window(), machine.Coupled()).size());
  const int periods = std::lcm(PeriodsOf(model, options.cut), model.clper);
  Lifted lifted;
  lifted.a.resize(n, n);
  lifted.b.resize(n);
  lifted.c.resize(n);
  lifted.period_s = periods * model.pwm_period_s;
  auto run = [&](int column, double injected, double* output) {
    State s;
    auto states = LinearStates(s, machine.Window(), machine.Coupled());
    if (column >= 0) *states[static_cast<std::size_t>(column)] = 1.0;
    s.have_prev_err = true;
    for (int k = 0; k < periods; ++k) {
      double computed = 0.0;
      machine.Period(s, k, injected, &computed, [](State&, bool) {});
      if (k == 0 && output) *output = computed;
    }
    Eigen::VectorXd after(n);
    for (int j = 0; j < n; ++j) after(j) = *states[static_cast<std::size_t>(j)];
    return after;
  };
  for (int j = 0; j < n; ++j) {
    double computed = 0.0;
    lifted.a.col(j) = run(j, 0.0, &computed);
    lifted.c(j) = computed;
  }
  lifted.b = run(-1, 1.0, nullptr);
  return WithoutUntouched(lifted);
}

// Where a loop is cut, in the structure in which it is the outermost loop closed.
struct LoopCut {
  ModelStructure structure;
  BreakPoint cut;
};

LoopCut CutOf(ModelStructure structure, TunedLoop loop) {
  switch (loop) {
    case TunedLoop::Current: return {ModelStructure::Current, BreakPoint::Command};
    case TunedLoop::Speed: return {ModelStructure::Speed, BreakPoint::CurrentReference};
    case TunedLoop::Position: break;
  }
  if (structure == ModelStructure::PositionOverCurrent)
    return {ModelStructure::PositionOverCurrent, BreakPoint::CurrentReference};
  return {ModelStructure::PositionOverSpeed, BreakPoint::SpeedReference};
}

// The linear model with the loop cut open at its controller's output.
Lifted LiftOpenLoop(const DriveModel& model, const LoopCut& where) {
  Options open;
  open.structure = where.structure;
  open.linear = true;
  open.cut = where.cut;
  return Lift(model, open);
}

// A state that no loop sees (the absolute position of a speed loop, a controller that the
// structure leaves idle) stays where it is: an eigenvalue of exactly one that means nothing
// for stability.
// The tolerance covers the integrator chain of a free shaft (speed, then position), whose
// eigenvalues a solver splits by the square root of the rounding error.
bool Idle(std::complex<double> pole) { return std::abs(pole - 1.0) < 1e-6; }

double Degrees(double radians) { return radians * 180.0 / std::numbers::pi; }

}  // namespace

// ---- public -----------------------------------------------------------------------------------

std::complex<double> PlantResponse(const DriveModel& model, double omega_rad_s) {
  const std::complex<double> s{0.0, omega_rad_s};
  const std::complex<double> rigid = model.K / (model.J * s);
  if (!UsableCoupling(model.coupling)) return rigid;
  const ShaftCoupling& c = *model.coupling;
  const double wr = 2.0 * std::numbers::pi * c.resonance_hz;
  // The anti-resonance: the load standing still while the motor swings against the shaft.
  const double wa2 = wr * wr * (1.0 - c.load_share);
  const std::complex<double> damping = 2.0 * c.damping_ratio / wr * s;
  return rigid * (1.0 + damping + s * s / wa2) / (1.0 + damping + s * s / (wr * wr));
}

ModelStructure StructureOfLoop(CZel_Setup& setup, TunedLoop loop) {
  return CutOf(StructureOf(setup), loop).structure;
}

namespace {

ModelTrace RunModel(const DriveModel& model, const ModelRun& run) {
  Options o;
  o.structure = run.structure;
  o.linear = !run.quantised;
  o.blocked = run.shaft_blocked;
  o.current_limit = run.current_limit;
  o.speed_limit = run.speed_limit;
  Machine machine(model, o);
  ModelTrace trace;
  const bool current_run = run.structure == ModelStructure::Current;
  trace.period_s = current_run ? model.FastPeriod() : model.OuterPeriod();
  const int per_sample = current_run ? model.clper : (model.loops_in_fast_loop ? model.clper : model.slper);
  std::size_t next = 0;
  double previous_increment = 0.0;
  // The program feeds the reference before the loops compute, as the drive's programs do.
  const auto program = [&](State& s, bool fast) {
    if (fast != current_run) return;
    if (next >= run.reference.size()) return;
    const double r = run.reference[next++];
    if (current_run) {
      s.iq_ref = r;
    } else if (run.structure == ModelStructure::Speed) {
      const double increment =
          model.sensor == SpeedSensor::TachoAndLoadEncoder ? r * model.tacho_per_encoder : r;
      s.speed_command += increment;
      s.traj_accel = increment;
    } else {
      s.target += r;
      s.traj_speed = r;
      s.traj_accel = r - previous_increment;
      previous_increment = r;
    }
  };
  State s;
  const long long periods = static_cast<long long>(run.reference.size()) * per_sample;
  for (long long k = 0; k < periods; ++k) {
    const bool logged = k % per_sample == 0;
    machine.Period(s, k, 0.0, nullptr, program);
    if (!logged) continue;
    // What the drive's logger records at the end of the sample's computation.
    if (current_run) {
      trace.reference.push_back(s.iq_ref);
      trace.response.push_back(machine.LoggedCurrent());
    } else {
      const bool position = run.structure != ModelStructure::Speed;
      trace.reference.push_back(position ? s.target : s.speed_command);
      trace.response.push_back(position ? machine.LoggedPosition() : machine.Speed());
    }
    trace.current_reference.push_back(s.iq_ref);
    trace.current.push_back(machine.LoggedCurrent());
    trace.current_saturated.push_back(machine.Saturated());
  }
  return trace;
}

// Runs of the model asked last. A trace is a function of the model and the run alone, so a
// kept one is the answer.
class RecentRuns {
 public:
  const ModelTrace& Of(const DriveModel& model, const ModelRun& run) {
    for (const Entry& e : entries_)
      if (e.kept && e.run == run && e.model == model) return e.trace;
    Entry& e = entries_[next_];
    next_ = (next_ + 1) % entries_.size();
    e = {true, model, run, RunModel(model, run)};
    return e.trace;
  }

 private:
  struct Entry {
    bool kept = false;
    DriveModel model;
    ModelRun run;
    ModelTrace trace;
  };
  std::array<Entry, 2> entries_;
  std::size_t next_ = 0;
};

}  // namespace

ModelTrace SimulateRun(const DriveModel& model, const ModelRun& run) {
  thread_local RecentRuns recent;
  return recent.Of(model, run);
}

std::vector<std::complex<double>> OpenLoopFrequencyResponse(const DriveModel& model,
                                                            ModelStructure structure,
                                                            TunedLoop loop,
                                                            const std::vector<double>& omega) {
  OpenLoopSweep sweep(LiftOpenLoop(model, CutOf(structure, loop)));
  return sweep.At(omega);
}

namespace {

// A sweep's frequencies as fractions of the Nyquist frequency, logarithmically from 1e-5 up
// to 1: the same for every loop swept with as many points, and a power for each, so kept.
const std::vector<double>& FiveDecadesUpToOne(int points) {
  thread_local std::vector<double> fractions;
  if (fractions.size() != static_cast<std::size_t>(points)) {
    fractions.resize(static_cast<std::size_t>(points));
    for (int k = 0; k < points; ++k)
      fractions[k] = std::pow(1e-5, 1.0 - static_cast<double>(k) / (points - 1));
  }
  return fractions;
}

std::optional<LoopMargins> SweptMargins(const DriveModel& model, ModelStructure structure,
                                        TunedLoop loop, int points) {
  const LoopCut where = CutOf(structure, loop);
  if (where.cut != BreakPoint::Command && !model.loops_in_fast_loop &&
      model.slper % model.clper != 0)
    return std::nullopt;
  const Lifted lifted = LiftOpenLoop(model, where);
  LoopMargins margins;
  margins.sampling_period_s = lifted.period_s;

  // The closed loop: the same lifted system with the controller's output fed back.
  const Eigen::MatrixXd closed = lifted.a + lifted.b * lifted.c;
  const Eigen::VectorXcd eigen = closed.eigenvalues();
  for (long j = 0; j < eigen.size(); ++j) {
    if (Idle(eigen(j))) continue;
    margins.poles.push_back(eigen(j));
    margins.pole_radius = std::max(margins.pole_radius, std::abs(eigen(j)));
  }
  margins.stable = margins.pole_radius < 1.0;

  // A logarithmic sweep up to the Nyquist frequency, the phase unwrapped from its lowest
  // frequency, where every loop of the drive lags by less than a full turn.
  const double nyquist = std::numbers::pi / lifted.period_s;
  const int sweep = std::max(points, 16);
  OpenLoopSweep open_loop(lifted);
  std::vector<double> w(static_cast<std::size_t>(sweep)), gain_db(w.size()), phase(w.size());
  const std::vector<double>& span = FiveDecadesUpToOne(sweep);
  for (int k = 0; k < sweep; ++k) w[k] = nyquist * span[k] * (1 - 1e-9);
  const std::vector<std::complex<double>> response = open_loop.At(w);
  for (int k = 0; k < sweep; ++k) {
    const std::complex<double> l = response[k];
    gain_db[k] = 20.0 * std::log10(std::abs(l));
    margins.peak_sensitivity = std::max(margins.peak_sensitivity, 1.0 / std::abs(1.0 + l));
    if (!margins.bandwidth_rad_s && std::abs(l / (1.0 + l)) < std::numbers::sqrt2 / 2.0)
      margins.bandwidth_rad_s = w[k];
    double p = Degrees(std::arg(l));
    if (k == 0) {
      if (p > 0.0) p -= 360.0;
    } else {
      while (p - phase[k - 1] > 180.0) p -= 360.0;
      while (p - phase[k - 1] < -180.0) p += 360.0;
    }
    phase[k] = p;
  }
  auto between = [](int k, const std::vector<double>& v, double level) {
    return std::clamp((level - v[k - 1]) / (v[k] - v[k - 1]), 0.0, 1.0);
  };
  for (int k = 1; k < sweep; ++k) {
    if ((gain_db[k - 1] >= 0.0) != (gain_db[k] >= 0.0)) {
      const double t = between(k, gain_db, 0.0);
      // The unwrapped phase may sit turns away from the principal one; a margin is told in
      // (-180, 180], where a negative one says the loop is past -180 degrees at crossover.
      double pm = 180.0 + phase[k - 1] + t * (phase[k] - phase[k - 1]);
      pm -= 360.0 * std::ceil((pm - 180.0) / 360.0);
      // Between a coupling's anti-resonance and its resonance the phase leads by up to 180
      // degrees, and a stable loop may cross there with its phase above 0: its margin is its
      // distance from -180 degrees, not a loop past it.
      if (margins.stable && pm < 0.0) pm = -pm;
      if (!margins.phase_margin_deg || pm < *margins.phase_margin_deg) {
        margins.phase_margin_deg = pm;
        margins.crossover_rad_s = w[k - 1] * std::pow(w[k] / w[k - 1], t);
      }
    }
    // A crossing of -180 degrees, give or take whole turns. One where the phase climbs back
    // through it counts above the gain crossover only: below it (a double integrator's -270
    // degrees rising) it tells how far the gain may fall, which no tuning here lowers.
    const double low = std::min(phase[k - 1], phase[k]);
    const double level = -180.0 + 360.0 * std::ceil((low + 180.0) / 360.0);
    if (level <= std::max(phase[k - 1], phase[k]) && phase[k] != phase[k - 1]) {
      const double t = between(k, phase, level);
      const double gm = -(gain_db[k - 1] + t * (gain_db[k] - gain_db[k - 1]));
      const bool counts = phase[k] < phase[k - 1] || gm > 0.0;
      if (counts && (!margins.gain_margin_db || gm < *margins.gain_margin_db)) {
        margins.gain_margin_db = gm;
        margins.phase_crossover_rad_s = w[k - 1] * std::pow(w[k] / w[k - 1], t);
      }
    }
  }
  return margins;
}

// Answers of MarginsOf for the models asked last. The margins are a function of the model
// alone, so a kept answer is the answer; a search over many candidates only passes through.
class RecentMargins {
 public:
  const std::optional<LoopMargins>* Find(const DriveModel& model, ModelStructure structure,
                                         TunedLoop loop, int points) const {
    for (const Entry& e : entries_)
      if (e.structure == structure && e.loop == loop && e.points == points && e.model == model)
        return &e.margins;
    return nullptr;
  }
  const std::optional<LoopMargins>& Keep(const DriveModel& model, ModelStructure structure,
                                         TunedLoop loop, int points,
                                         std::optional<LoopMargins> margins) {
    Entry& e = entries_[next_];
    next_ = (next_ + 1) % entries_.size();
    e = {model, structure, loop, points, std::move(margins)};
    return e.margins;
  }

 private:
  struct Entry {
    DriveModel model;
    ModelStructure structure = ModelStructure::Current;
    TunedLoop loop = TunedLoop::Current;
    int points = -1;  // no sweep has this many: an empty entry matches nothing
    std::optional<LoopMargins> margins;
  };
  std::array<Entry, 8> entries_;
  std::size_t next_ = 0;
};

}  // namespace

std::optional<LoopMargins> MarginsOf(const DriveModel& model, ModelStructure structure,
                                     TunedLoop loop, int points) {
  thread_local RecentMargins recent;
  if (const std::optional<LoopMargins>* kept = recent.Find(model, structure, loop, points))
    return *kept;
  return recent.Keep(model, structure, loop, points,
                     SweptMargins(model, structure, loop, points));
}

void JudgeMargins(const LoopMargins& m, std::vector<std::string>& failures,
                  std::vector<std::string>& warnings) {
  char text[200];
  if (!m.stable) {
    std::snprintf(text, sizeof text,
                  "the loop is unstable: a closed-loop pole lies at |z| = %.4g, outside the unit "
                  "circle",
                  m.pole_radius);
    failures.emplace_back(text);
  }
  if (m.phase_margin_deg) {
    const double pm = *m.phase_margin_deg;
    std::snprintf(text, sizeof text, "the phase margin is %.1f degrees (at least %.0f %s)", pm,
                  pm < kPhaseMarginFail_deg ? kPhaseMarginFail_deg : kPhaseMarginWarn_deg,
                  pm < kPhaseMarginFail_deg ? "needed" : "advised");
    if (pm < kPhaseMarginFail_deg) failures.emplace_back(text);
    else if (pm < kPhaseMarginWarn_deg) warnings.emplace_back(text);
  }
  if (m.gain_margin_db) {
    const double gm = *m.gain_margin_db;
    std::snprintf(text, sizeof text, "the gain margin is %.1f dB (at least %.0f %s)", gm,
                  gm < kGainMarginFail_dB ? kGainMarginFail_dB : kGainMarginWarn_dB,
                  gm < kGainMarginFail_dB ? "needed" : "advised");
    if (gm < kGainMarginFail_dB) failures.emplace_back(text);
    else if (gm < kGainMarginWarn_dB) warnings.emplace_back(text);
  }
}

}  // namespace dcservo
