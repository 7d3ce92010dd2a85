// The motor model and the sensors against their closed forms.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string_view>
#include <vector>

#include "sim/plant.h"
#include "sim/simulated_drive.h"

namespace {

constexpr double kPeriod = 50e-6;

dcsim::Plant MakePlant(dcsim::PlantConfig config = {}) {
  dcsim::Plant plant;
  plant.Configure(config, kPeriod);
  return plant;
}

// Holds the voltage for whole periods; the time that passed.
double Hold(dcsim::Plant& plant, double volts, double seconds) {
  const long periods = std::lround(seconds / kPeriod);
  for (long n = periods; n > 0; --n) plant.Step(volts, volts, true);
  return static_cast<double>(periods) * kPeriod;
}

TEST(Armature, AVoltageStepRisesWithTheTimeConstantLOverR) {
  dcsim::Plant plant = MakePlant();
  plant.SetBlocked(true);
  const double R = 1.2, L = 1e-3, V = 12.0, tau = L / R;
  double t = 0.0;
  for (double until : {0.5 * tau, tau, 3 * tau}) {
    SCOPED_TRACE(until / tau);
    t += Hold(plant, V, until - t);
    EXPECT_NEAR(plant.Current(), V / R * (1 - std::exp(-t / tau)), 1e-3);
  }
}

TEST(Rotor, AConstantCurrentAcceleratesAtKiOverJ) {
  dcsim::PlantConfig config;
  config.L_H = 1e6;  // the current cannot change within the run
  config.viscous_Nm_s = 0.0;
  dcsim::Plant plant = MakePlant(config);
  for (double current : {2.0, -0.5}) {
    SCOPED_TRACE(current);
    plant.SetState(current, 0.0, 0.0);
    Hold(plant, 0.0, 0.01);
    const double acceleration = config.K_Nm_per_A * current / config.J_kgm2;
    EXPECT_NEAR(plant.Speed(), acceleration * 0.01, 1e-6 * std::abs(acceleration));
    EXPECT_NEAR(plant.Angle(), 0.5 * acceleration * 1e-4, 0.01 * std::abs(acceleration) * 1e-4);
  }
}

// A voltage step on the free motor against its closed form: armature and rotor make one
// second-order system, s^2 + (R/L) s + K^2/(J L), with two real poles on this motor. The angle
// is what the loops see: a shaft moved by each period's last current instead of its mean runs
// a whole period's travel ahead, a lag that the drive's loop model rightly has and a loop
// around this motor would lack.
TEST(Rotor, AVoltageStepTurnsTheShaftAsItsClosedFormDoes) {
  dcsim::PlantConfig config;
  config.viscous_Nm_s = 0.0;
  dcsim::Plant plant = MakePlant(config);
  const double R = config.R_ohm, L = config.L_H, K = config.K_Nm_per_A, J = config.J_kgm2;
  const double V = 10.0;
  const double root = std::sqrt(R * R / (L * L) - 4.0 * K * K / (J * L));
  const double s1 = 0.5 * (-R / L + root), s2 = 0.5 * (-R / L - root);
  double t = 0.0;
  for (double until : {1e-3, 3e-3, 10e-3}) {
    SCOPED_TRACE(until);
    t += Hold(plant, V, until - t);
    const double speed = V / K * (1.0 + (s2 * std::exp(s1 * t) - s1 * std::exp(s2 * t)) / (s1 - s2));
    const double angle = V / K * (t + (s2 / s1 * std::expm1(s1 * t) - s1 / s2 * std::expm1(s2 * t)) / (s1 - s2));
    EXPECT_NEAR(plant.Speed(), speed, 3e-3 * speed);
    EXPECT_NEAR(plant.Angle(), angle, 0.25 * speed * kPeriod);
  }
}

TEST(Rotor, TheLoadTurnsThroughTheTransmission) {
  dcsim::PlantConfig config;
  config.transmission = 4.0;  // four motor turns per load turn
  dcsim::Plant plant = MakePlant(config);
  plant.TurnByHand(8 * std::numbers::pi, 0.5);
  // Bridge off: a bridge holding 0 V would brake the shaft back after the hand lets go.
  for (int n = 0; n < 12000; ++n) plant.Step(0.0, 0.0, false);
  EXPECT_NEAR(plant.Angle(), 8 * std::numbers::pi, 1e-9);
  EXPECT_NEAR(plant.LoadPosition(), 2 * std::numbers::pi, 1e-9);
}

TEST(Rotor, AtSpeedTheBackEmfBalancesTheSupply) {
  dcsim::PlantConfig config;
  dcsim::Plant plant = MakePlant(config);
  const double V = 24.0, K = config.K_Nm_per_A, R = config.R_ohm, B = config.viscous_Nm_s;
  Hold(plant, V, 0.4);  // some twenty mechanical time constants
  const double speed = K * V / (K * K + R * B);
  EXPECT_NEAR(plant.Speed(), speed, 1e-6 * speed);
  EXPECT_NEAR(plant.Current(), B * speed / K, 1e-6);
}

TEST(Armature, AShortedMotorDrawsCurrentButGivesNoTorque) {
  dcsim::Plant plant = MakePlant();
  plant.SetShorted(true);
  Hold(plant, 1.0, 0.001);
  EXPECT_GT(plant.Current(), 40.0);
  EXPECT_EQ(plant.Speed(), 0.0);
}

// A driven free shaft takes a shorter step than a faulty one; each fault and action must take
// hold of a shaft that is already running so.
TEST(Rotor, EachFaultTakesHoldOfAShaftAlreadyDriven) {
  struct Case {
    const char* what;
    void (*apply)(dcsim::Plant&);
    bool (*holds)(const dcsim::Plant& before, const dcsim::Plant& after);
  };
  const Case cases[] = {
      {"shaft blocked", [](dcsim::Plant& p) { p.SetBlocked(true); },
       [](const dcsim::Plant&, const dcsim::Plant& p) { return p.Speed() == 0.0; }},
      {"leads shorted: no torque, the shaft slows",
       [](dcsim::Plant& p) { p.SetShorted(true); },
       [](const dcsim::Plant& b, const dcsim::Plant& p) { return p.Speed() < b.Speed(); }},
      {"dry friction above the motor's torque stops it",
       [](dcsim::Plant& p) { p.SetCoulombFriction(1.0); },
       [](const dcsim::Plant&, const dcsim::Plant& p) { return p.Speed() == 0.0; }},
      {"a hand turns it", [](dcsim::Plant& p) { p.TurnByHand(-1.0, 1.0); },
       [](const dcsim::Plant&, const dcsim::Plant& p) { return std::abs(p.Speed() + 1.0) < 1e-9; }},
      {"a compliant load lags the motor", [](dcsim::Plant& p) { p.SetResonance(200.0); },
       [](const dcsim::Plant&, const dcsim::Plant& p) { return p.LoadSpeed() != p.Speed(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dcsim::Plant plant = MakePlant();
    Hold(plant, 10.0, 0.01);
    const dcsim::Plant before = plant;
    c.apply(plant);
    Hold(plant, 10.0, 0.02);
    EXPECT_TRUE(c.holds(before, plant)) << plant.Speed() << " rad/s";
  }
}

TEST(Converter, FullScaleIsTheTopLeftAlignedCount) {
  const dcsim::Converter adc(1024);
  EXPECT_EQ(adc.Max(), 65472);
  EXPECT_EQ(dcsim::Converter(4096).Max(), 65520);
  // Current: 10 A peak over the signed span.
  const double per_ampere = adc.Max() / 20.0;
  const std::pair<double, dcsim::i64> currents[] = {
      {10.0, 32704}, {-10.0, -32704}, {-10.02, -32768}, {0.0, 0},
      {1.5, 4928},   {-1.5, -4928},   {50.0, 32704}};
  for (const auto& [amperes, counts] : currents)
    EXPECT_EQ(adc.Bipolar(amperes * per_ampere), counts) << amperes << " A";
  // A signal the converter cannot read (NaN) reads as its lowest level.
  for (auto [in, counts] : {std::pair{65472.0, 65472}, {-5.0, 0}, {70000.0, 65472},
                            {INFINITY, 65472}, {-INFINITY, 0}, {NAN, 0}, {-0.0, 0}})
    EXPECT_EQ(adc.Unipolar(in), counts) << in;
  EXPECT_EQ(adc.Bipolar(NAN), -32768);
}

dcsim::SimulatedDrive MakeDrive() { return dcsim::SimulatedDrive(dcsim::PlantConfig{}); }

void Inject(dcsim::SimulatedDrive& drive, const char* name, double value) {
  std::string error;
  ASSERT_TRUE(drive.Inject(name, value, error)) << error;
}

// The largest load on the lightest shaft drives it far beyond any 32-bit count within a
// fraction of a second; the position register wraps as the drive's does.
TEST(DriveSensors, TheEncoderCountWrapsAt32Bits) {
  dcsim::SimulatedDrive drive = MakeDrive();
  Inject(drive, "inertia", 1e-9);
  Inject(drive, "load_torque", -100);
  for (int step = 0; step < 10; ++step) {
    drive.RunFor(0.02);
    double position = 0;
    ASSERT_TRUE(drive.ReadVariable("APOS", position));
    EXPECT_GE(position, -2147483648.0);
    EXPECT_LE(position, 2147483647.0);
  }
}

TEST(DriveSensors, SupplyAndAnalogueInputReadAsLeftAlignedCounts) {
  struct Case {
    const char* condition;
    double value;
    const char* variable;
    double counts;
  };
  const Case cases[] = {
      {"vdc", 60.0, "var_u2", 65472}, {"vdc", 48.0, "var_u2", 52352}, {"vdc", 0.01, "var_u2", 0},
      {"pot", 10.0, "AD5", 65472},    {"pot", -10.0, "AD5", 0},       {"pot", 12.0, "AD5", 65472},
      {"pot", 5.0, "AD5", 49088},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.condition << "=" << c.value);
    dcsim::SimulatedDrive drive = MakeDrive();
    Inject(drive, c.condition, c.value);
    double counts = -1;
    ASSERT_TRUE(drive.ReadVariable(c.variable, counts));
    EXPECT_EQ(counts, c.counts);
  }
}

TEST(DriveSensors, TheEncoderCountsFourPerLineAndShowsItsFaultsAndDirection) {
  struct Case {
    const char* fault;  // nullptr: none; COUNTINGDIR: the counting direction reversed
    double turns;
    double counts;
  };
  const Case cases[] = {{nullptr, 1, 2000},          {nullptr, -2.5, -5000},
                        {"encoder_swapped", 1, -2000}, {"encoder_a_missing", 1, 0},
                        {"encoder_b_missing", -1, 0},  {"COUNTINGDIR", 1, -2000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.fault ? c.fault : "none") << " " << c.turns);
    dcsim::SimulatedDrive drive = MakeDrive();
    if (c.fault && std::string_view(c.fault) == "COUNTINGDIR") {
      ASSERT_TRUE(drive.WriteParameter("COUNTINGDIR", 1));
    } else if (c.fault) {
      Inject(drive, c.fault, 1);
    }
    // Slightly more than the turn, so that rounding of the angle cannot lose the last count.
    Inject(drive, "turn", c.turns * 2 * std::numbers::pi + 1e-6);
    drive.RunFor(1.0);
    double apos = 0;
    ASSERT_TRUE(drive.ReadVariable("APOS", apos));
    EXPECT_EQ(apos, c.counts);
  }
}

// The texts for unknown variables and faults and for a fault's range are held by the
// `dcservo drive` tests, which pass on the drive's own.
TEST(DriveVariables, UnknownOrReadOnlyNamesAreErrors) {
  dcsim::SimulatedDrive drive = MakeDrive();
  double v = 0;
  EXPECT_FALSE(drive.WriteVariable("APOS", 5));
  EXPECT_EQ(drive.LastError(), "the drive's variable \"APOS\" cannot be written");
  EXPECT_TRUE(drive.WriteVariable("VAR_I2", 1));
  ASSERT_TRUE(drive.ReadVariable("var_i2", v));
  EXPECT_EQ(v, 1);
  std::string error;
  EXPECT_FALSE(drive.Schedule(1.0, "vdc", NAN, error));
  std::vector<ZelProgramVariable> vars;
  EXPECT_FALSE(drive.DescribeProgram("No_Such_Test", vars));
  EXPECT_EQ(drive.StartProgram("No_Such_Test", {}), 0u);
  EXPECT_EQ(drive.StartProgram("VDC_Detection_Test", {{"NoSuch", 1}}), 0u);
}

}  // namespace

// A compliant coupling: two inertias on a shaft. Set free, the shaft's twist swings at the
// free-free resonance w_r (less its damping, w_r sqrt(1 - zeta^2)); driven by the motor, the
// motor stands still at the anti-resonance w_a = w_r sqrt(Jm / J), where the load swings
// against it. The motor's torque is its current through a near-zero inductance and a torque
// constant too small for its back EMF to damp anything.
struct CompliantCase {
  double hz, zeta, load_share;
};
dcsim::Plant MakeCompliantPlant(const CompliantCase& c) {
  dcsim::PlantConfig config;
  config.R_ohm = 1.0;
  config.L_H = 1e-9;
  config.K_Nm_per_A = 1e-4;
  config.viscous_Nm_s = 0.0;
  config.resonance_Hz = c.hz;
  config.resonance_damping = c.zeta;
  config.load_share = c.load_share;
  return MakePlant(config);
}

// The twist's swing after a push, from its zero crossings.
double FreeSwingHz(const CompliantCase& c) {
  dcsim::Plant plant = MakeCompliantPlant(c);
  Hold(plant, 1.0, 0.001);
  std::vector<double> crossings;
  double previous = plant.Speed() - plant.LoadSpeed();
  for (long n = 1; n < std::lround(0.05 / kPeriod); ++n) {
    plant.Step(0.0, 0.0, true);
    const double twist_rate = plant.Speed() - plant.LoadSpeed();
    if ((previous < 0.0) != (twist_rate < 0.0))
      crossings.push_back((static_cast<double>(n - 1) + previous / (previous - twist_rate)) * kPeriod);
    previous = twist_rate;
  }
  if (crossings.size() < 3) return 0.0;
  return 0.5 * static_cast<double>(crossings.size() - 1) / (crossings.back() - crossings.front());
}

// The motor's speed over its current at `hz`, from whole periods after the start has died.
double MotorAdmittance(const CompliantCase& c, double hz) {
  dcsim::Plant plant = MakeCompliantPlant(c);
  const double w = 2.0 * std::numbers::pi * hz;
  std::complex<double> speed, current;
  const long settle = std::lround(0.4 / kPeriod);
  const long periods = std::lround(std::round(0.2 * hz) / hz / kPeriod);
  for (long n = 0; n < settle + periods; ++n) {
    const double t = static_cast<double>(n) * kPeriod;
    const double v = std::sin(w * (t + 0.5 * kPeriod));
    plant.Step(v, v, true);
    if (n < settle) continue;
    const std::complex<double> phasor = std::polar(1.0, -w * (t + kPeriod));
    speed += plant.Speed() * phasor;
    current += plant.Current() * phasor;
  }
  return std::abs(speed / current);
}

TEST(CompliantLoad, SwingsAtItsResonanceAndHoldsTheMotorAtItsAntiResonance) {
  for (const CompliantCase& c :
       {CompliantCase{300.0, 0.02, 1.0 / 3.0}, CompliantCase{800.0, 0.1, 0.5},
        CompliantCase{150.0, 0.01, 0.8}}) {
    SCOPED_TRACE(c.hz);
    EXPECT_NEAR(FreeSwingHz(c), c.hz * std::sqrt(1.0 - c.zeta * c.zeta), 0.01 * c.hz);
    const double anti = c.hz * std::sqrt(1.0 - c.load_share);
    double lowest = INFINITY, at = 0.0;
    for (double f = 0.95 * anti; f <= 1.05 * anti; f += 0.0025 * anti) {
      const double y = MotorAdmittance(c, f);
      if (y < lowest) lowest = y, at = f;
    }
    EXPECT_NEAR(at, anti, 0.01 * anti);
    // Off the anti-resonance the motor moves more.
    EXPECT_GT(MotorAdmittance(c, 0.8 * anti), 1.2 * lowest);
  }
}

// Rigid again with 0 Hz; a compliant load stands still with the motor when nothing pushes.
TEST(CompliantLoad, ZeroHertzIsRigidAndRestIsRest) {
  dcsim::Plant plant = MakeCompliantPlant({300.0, 0.05, 0.5});
  Hold(plant, 0.0, 0.01);
  EXPECT_EQ(plant.Speed(), 0.0);
  EXPECT_EQ(plant.LoadSpeed(), 0.0);
  plant.SetResonance(0.0);
  Hold(plant, 1.0, 0.001);
  EXPECT_DOUBLE_EQ(plant.Speed(), plant.LoadSpeed());
}
