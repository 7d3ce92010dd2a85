// The motor model and the sensors against their closed forms.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string_view>

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

TEST(Converter, FullScaleIsTheTopLeftAlignedCount) {
  const dcsim::Converter adc(1024);
  EXPECT_EQ(adc.Max(), 65472);
  EXPECT_EQ(dcsim::Converter(4096).Max(), 65520);
  // Current: 10 A peak over the signed span.
  const double per_ampere = adc.Max() / 20.0;
  const std::pair<double, dcsim::i64> currents[] = {
      {10.0, 32704}, {-10.0, -32704}, {-10.02, -32768}, {0.0, 0},
      {1.5, 4928},   {-1.5, -4928},   {50.0, 32704}};
  for (const auto& [amperes, counts] : currents) {
    SCOPED_TRACE(amperes);
    EXPECT_EQ(adc.Bipolar(amperes * per_ampere), counts);
  }
  EXPECT_EQ(adc.Unipolar(65472), 65472);
  EXPECT_EQ(adc.Unipolar(-5), 0);
  EXPECT_EQ(adc.Unipolar(70000), 65472);
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

TEST(DriveVariables, UnknownOrReadOnlyNamesAreErrors) {
  dcsim::SimulatedDrive drive = MakeDrive();
  double v = 0;
  EXPECT_FALSE(drive.ReadVariable("NoSuchVariable", v));
  EXPECT_EQ(drive.LastError(), "the drive has no variable \"NoSuchVariable\"");
  EXPECT_FALSE(drive.WriteVariable("APOS", 5));
  EXPECT_EQ(drive.LastError(), "the drive's variable \"APOS\" cannot be written");
  EXPECT_TRUE(drive.WriteVariable("VAR_I2", 1));  // names compare without regard to case
  ASSERT_TRUE(drive.ReadVariable("var_i2", v));
  EXPECT_EQ(v, 1);
  std::string error;
  EXPECT_FALSE(drive.Inject("no_such_fault", 1, error));
  EXPECT_EQ(error, "no fault or action is called \"no_such_fault\"");
  EXPECT_FALSE(drive.Inject("inertia", 0, error));
  EXPECT_FALSE(drive.Schedule(1.0, "vdc", NAN, error));
  std::vector<ZelProgramVariable> vars;
  EXPECT_FALSE(drive.DescribeProgram("No_Such_Test", vars));
  EXPECT_EQ(drive.StartProgram("No_Such_Test", {}), 0u);
  EXPECT_EQ(drive.StartProgram("VDC_Detection_Test", {{"NoSuch", 1}}), 0u);
}

}  // namespace
