// The test programs as the test dialogs see them: names, variables, the unset sentinel.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/programs.h"
#include "sim/simulated_drive.h"

namespace {

std::vector<std::string> WithProfile(std::vector<std::string> names) {
  for (const char* p : {"a", "b"})
    for (int i = 0; i < 6; ++i) names.push_back(p + std::to_string(i));
  return names;
}

TEST(TestPrograms, EachTestHasItsProgramWithExactlyItsVariables) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
      {"Current_Controller_Tuning_Test", {"In1", "Imax_Prot_Test", "STARTED", "test_flag"}},
      {"Speed_Controller_Tuning_Test",
       WithProfile({"IlimPS_Test", "Imax_Prot_Test", "MultiC", "STARTED", "test_flag"})},
      {"Position_Controller_Tuning_Test_with_SpdCtrl",
       WithProfile({"LimitSpeed", "Imax_Prot_Test", "MultiC", "STARTED", "test_flag"})},
      {"Position_Controller_Tuning_Test_without_SpdCtrl",
       WithProfile({"IlimPS_Test", "Imax_Prot_Test", "MultiC", "STARTED", "test_flag"})},
      {"Total_Inertia_Identification_Test",
       {"In1", "LimitSpeedMax", "Imax_Prot_Test", "STARTED", "test_flag", "delta_time",
        "delta_speed"}},
      {"VDC_Detection_Test", {"STARTED", "test_flag"}},
      {"Encoder_Connection_Test", {"STARTED", "test_flag"}},
      {"Analogue_Reference_Test", {"STARTED", "test_flag"}},
      {"Frequency_Response_Test",
       {"Frequency", "Amplitude", "Periods", "Speed", "Speed_Gain_Shift", "Imax_Prot_Test",
        "STARTED", "test_flag"}},
  };
  EXPECT_EQ(dcsim::TestProgramNames().size(), cases.size());
  dcsim::SimulatedDrive drive{dcsim::PlantConfig{}};
  for (const auto& [program, expected] : cases) {
    SCOPED_TRACE(program);
    std::vector<ZelProgramVariable> vars;
    ASSERT_TRUE(drive.DescribeProgram(program, vars));
    std::vector<std::string> names;
    for (const auto& v : vars) {
      names.push_back(v.name);
      // Nothing has run yet: STARTED reads 0 and every result is unset.
      const bool result = v.name == "test_flag" || v.name == "delta_time" || v.name == "delta_speed";
      EXPECT_EQ(v.value, result ? dcsim::kUnset : 0.0) << v.name;
    }
    EXPECT_THAT(names, testing::UnorderedElementsAreArray(expected));
  }
}

TEST(TestPrograms, TheProfileRunsEverySegmentAndSumsExactly) {
  // Ramp 0 -> 20 in 199 + 1 samples, hold, ramp back, rest; the increments in 16.16.
  const auto program = dcsim::MakeTestProgram("Speed_Controller_Tuning_Test");
  const double counts[6] = {199, 1, 10, 199, 1, 5};
  const double slopes[6] = {6554, 6474, 0, -6554, -6474, 0};
  for (int i = 0; i < 6; ++i) {
    *program->Find("a" + std::to_string(i)) = counts[i];
    *program->Find("b" + std::to_string(i)) = slopes[i] / 65536.0;
  }
  dcsim::Profile profile;
  profile.Load(*program);
  EXPECT_EQ(profile.TotalSamples(), 415);
  dcsim::i64 sum = 0, peak = 0, increment = 0;
  int samples = 0;
  while (profile.Next(increment)) {
    sum += increment;
    peak = std::max(peak, sum);
    ++samples;
  }
  EXPECT_EQ(samples, 415);
  EXPECT_EQ(peak, 20 * 65536);
  EXPECT_EQ(sum, 0);
}

// The excitation: the sine rides on the current reference for its periods and no longer, and a
// request that cannot run is refused at once with the axis left off.
TEST(TestPrograms, TheFrequencyResponseProgramInjectsItsSineForItsPeriodsOrRefuses) {
  struct Case {
    double frequency_hz, amplitude, periods;
    double flag;  // test_flag once it ended
  };
  const Case cases[] = {
      {100.0, 400.0, 5.0, 1.0},
      {0.0, 400.0, 5.0, -1.0},      // no frequency
      {10000.0, 400.0, 5.0, -1.0},  // half the fast loop's rate
      {100.0, 0.0, 5.0, -1.0},
      {100.0, 400.0, 0.0, -1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.frequency_hz << " Hz, " << c.amplitude << ", "
                                    << c.periods);
    dcsim::SimulatedDrive drive{dcsim::PlantConfig{}};
    std::vector<ZelProgramVariable> vars;
    ASSERT_TRUE(drive.DescribeProgram("Frequency_Response_Test", vars));
    for (ZelProgramVariable& v : vars) {
      if (v.name == "Frequency") v.value = c.frequency_hz;
      if (v.name == "Amplitude") v.value = c.amplitude;
      if (v.name == "Periods") v.value = c.periods;
    }
    ASSERT_NE(drive.StartProgram("Frequency_Response_Test", vars), 0u);
    double peak = 0.0, time_on = 0.0;
    while (drive.ProgramRunning() && time_on < 1.0) {
      drive.RunFor(drive.FastPeriod());
      peak = std::max(peak, std::abs(drive.Value(dcsim::LiveVar::CurrentInjection)));
      time_on += drive.FastPeriod();
    }
    double flag = 0.0, started = 0.0;
    ASSERT_TRUE(drive.ReadProgramVariable("test_flag", flag));
    ASSERT_TRUE(drive.ReadProgramVariable("STARTED", started));
    EXPECT_EQ(flag, c.flag);
    EXPECT_EQ(started, 1.0);
    EXPECT_FALSE(drive.AxisOn());
    EXPECT_EQ(drive.Value(dcsim::LiveVar::CurrentInjection), 0.0);
    if (c.flag > 0) {
      EXPECT_NEAR(peak, c.amplitude, 1.0);
      EXPECT_NEAR(time_on, c.periods / c.frequency_hz, 2.0 * drive.FastPeriod());
    } else {
      EXPECT_EQ(peak, 0.0);
    }
  }
}

}  // namespace

namespace {

// What a host reads of a watched shaft.
std::vector<double> WatchedReadings(dcsim::SimulatedDrive& drive) {
  std::vector<double> out;
  for (const char* name : {"APOS", "ASPD", "IQ", "AD5"}) {
    double v = 0.0;
    EXPECT_TRUE(drive.ReadVariable(name, v)) << name;
    out.push_back(v);
  }
  out.push_back(static_cast<double>(drive.PeriodsSimulated()));
  out.push_back(drive.ProgramRunning() ? 1.0 : 0.0);
  return out;
}

}  // namespace

TEST(TestPrograms, AStillShaftWithTheAxisOffReadsAsWhenEveryPeriodIsStepped) {
  // A fast-loop log makes the drive step every period; without one, the periods between two
  // slow samples of a still shaft pass in one stride. Hand turns and the host's Stop arrive
  // in the middle of slow periods.
  const std::vector<std::pair<double, std::pair<const char*, double>>> actions = {
      {0.01234, {"turn", 1.0}}, {0.7, {"pot", 2.5}}, {0.90003, {"turn", -0.37}},
      {1.60001, {"var_i2", 1.0}}};
  const double looks[] = {0.0061, 0.25, 0.51, 0.8, 1.2, 1.45, 1.7};
  std::vector<std::vector<double>> seen[2];
  for (int stepped = 0; stepped < 2; ++stepped) {
    dcsim::SimulatedDrive drive{dcsim::PlantConfig{}};
    ASSERT_NE(drive.StartProgram("Encoder_Connection_Test", {}), 0u);
    if (stepped) {
      ZelLogRequest every_period{{"var_u2"}, 16000, ZelLogRequest::kFastLoop, 10};
      ASSERT_TRUE(drive.StartLog(every_period));
    }
    std::string error;
    for (const auto& [at, action] : actions)
      ASSERT_TRUE(drive.Schedule(at, action.first, action.second, error)) << error;
    for (double t : looks) {
      drive.AdvanceTo(t);
      seen[stepped].push_back(WatchedReadings(drive));
    }
  }
  EXPECT_EQ(seen[0], seen[1]);
  // The turns were counted (2000 counts a turn) and the program ended on the host's word.
  EXPECT_NEAR(seen[0][3][0], 1.0 / (2.0 * 3.14159265358979) * 2000.0, 1.0);
  EXPECT_EQ(seen[0].back()[5], 0.0);
}

TEST(TestPrograms, ALogTakenInBlocksWhileItRecordsIsTheWholeLog) {
  // A host that draws the log as it records looks every 20 ms; each look appends what it
  // lacks, and a log started anew is taken from its first point.
  dcsim::SimulatedDrive drive{dcsim::PlantConfig{}};
  ASSERT_NE(drive.StartProgram("Encoder_Connection_Test", {}), 0u);
  std::string error;
  ASSERT_TRUE(drive.Schedule(0.01, "turn", 3.0, error)) << error;
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(drive.StartLog({{"APOS", "var_u2"}, 700, ZelLogRequest::kFastLoop, 3}));
    ZelLogData blocks;
    std::size_t recorded = 0, looks = 0;
    for (double t = drive.Now(); recorded < 700 && looks < 100; ++looks) {
      drive.AdvanceTo(t += 0.02);
      ASSERT_TRUE(drive.UploadLogBlock(blocks, true, recorded)) << drive.LastError();
      EXPECT_EQ(blocks.points.size(), recorded);
    }
    EXPECT_GT(looks, 2u);
    ZelLogData whole;
    whole.points.assign(5, {1.0});  // what an earlier upload left behind
    ASSERT_TRUE(drive.UploadLog(whole));
    EXPECT_EQ(whole.points.size(), 700u);
    EXPECT_EQ(blocks.points, whole.points);
    EXPECT_EQ(blocks.period_s, whole.period_s);
  }
}
