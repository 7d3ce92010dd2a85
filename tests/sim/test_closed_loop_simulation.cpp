// The simulation tier: the test programs on the bundled drive, the firmware's loops closed
// around the motor model, and the drive's protections. The encoder and analogue watches run on
// it through their dialogs.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "tests/sim/sim_run.h"

namespace {

using simtest::Inputs;
using simtest::SimRun;

// 10 % to 90 % rise of the current loop that the tuning designs for (damping 1): the armature
// 1/(Ls + R) under kp + ki/s has the closed loop (b s + w^2) / (s + w)^2, b = 2w - R/L.
double DesignedRiseTime(double w, double R, double L) {
  const double b = 2 * w - R / L;
  auto y = [&](double t) { return 1 - std::exp(-w * t) * (1 + w * t) + b * t * std::exp(-w * t); };
  auto crossing = [&](double level) {
    double lo = 0, hi = 20 / w;
    for (int n = 0; n < 200; ++n) (y(0.5 * (lo + hi)) < level ? lo : hi) = 0.5 * (lo + hi);
    return lo;
  };
  return crossing(0.9) - crossing(0.1);
}

// Time at which a logged channel first reaches `level`, between samples by interpolation.
double Crossing(CZel_SingleAxisLogger& log, int channel, std::size_t from, double level) {
  for (std::size_t k = from + 1; k < log.GetPointsRead(); ++k) {
    const double a = log.GetValue(k - 1, channel), b = log.GetValue(k, channel);
    if (b >= level && a < level) {
      const double ta = log.GetValue(k - 1, 0), tb = log.GetValue(k, 0);
      return ta + (tb - ta) * (level - a) / (b - a);
    }
  }
  return NAN;
}

TEST(CurrentLoopSimulation, StepRiseTimeMatchesThePassBandOfItsTuning) {
  // A sampled loop that updates its PWM half a period after sampling runs ahead of the
  // continuous design by about 1.7 w Ts_C; the tolerance allows for that and for the current
  // converter's 64-count steps.
  struct Case {
    double pass_band, pwmper, tolerance;
  };
  const Case cases[] = {{1000, 1000, 0.08}, {1000, 500, 0.05}, {2000, 500, 0.12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "pass band " << c.pass_band << " PWMPER " << c.pwmper);
    SimRun run;
    run.SetInternal("PWMPER", c.pwmper);
    const double Tc = 2 * c.pwmper / run.Base("DSP_freq"), R = run.Base("R"), L = run.Base("L");
    const double VS = dcservo::VoltageScale(*run.setup), CS = dcservo::CurrentScale(*run.setup);
    const double w = c.pass_band, tau = L / R;
    ASSERT_GT(tau, 4 * Tc);
    run.SetGain("KPI", "SFTKPI", R * (2 * w * tau - 1) * VS / CS);
    run.SetGain("KII", "SFTKII", R * w * w * tau * Tc * VS / CS);
    run.Fault("shaft_blocked");

    CZel_SingleAxisLogger& log =
        run.Log({"Current_Reference", "Motor_Current"}, static_cast<int>(8.0 / w / Tc) + 20, 2);
    const double step = std::trunc(3.0 * CS);
    run.Execute("Current_Controller_Tuning_Test",
                {{"In1", step}, {"Imax_Prot_Test", std::trunc(9.0 * CS)}}, &log);
    EXPECT_GT(run.Var("test_flag"), 0);
    run.Upload();
    // The log is in amperes, the program's input in converter counts.
    const double step_A = step / CS;
    const double start = Crossing(log, 1, 0, 0.5 * step_A);
    ASSERT_FALSE(std::isnan(start));
    const double rise = Crossing(log, 2, 0, 0.9 * step_A) - Crossing(log, 2, 0, 0.1 * step_A);
    EXPECT_NEAR(rise / DesignedRiseTime(w, R, L), 1.0, c.tolerance) << "rise " << rise;
  }
}

// The setup's profile of the speed or the position test, as the tuning tests build it.
Inputs SetupProfile(SimRun& run, const dcservo::ProfileNames& names) {
  const auto inputs = dcservo::ProfileInputsOf(*run.setup, names);
  EXPECT_TRUE(inputs);
  return inputs ? simtest::ProgramProfile(dcservo::BuildReferenceProfile(*inputs)) : Inputs{};
}

// The speed test's inputs on the bundled drive, with the setup's profile or the one given.
Inputs SpeedInputs(SimRun& run, const Inputs& profile = {}) {
  return simtest::Join({{"IlimPS_Test", run.Internal("TestLimitCurrent")},
                        {"Imax_Prot_Test", run.Internal("TestProtectionCurrent")},
                        {"MultiC", 0}},
                       profile.empty()
                           ? SetupProfile(run, dcservo::kSpeedProfileNames)
                           : profile);
}

Inputs PositionInputs(SimRun& run, bool over_speed) {
  Inputs limits = over_speed ? Inputs{{"LimitSpeed", std::trunc(run.Internal("Limit_Speed"))}}
                             : Inputs{{"IlimPS_Test", run.Internal("TestLimitCurrent")}};
  limits.push_back({"Imax_Prot_Test", std::trunc(run.Internal("TestProtectionCurrent"))});
  limits.push_back({"MultiC", 0});
  return simtest::Join(limits, SetupProfile(run, dcservo::kPositionProfileNames));
}

TEST(PositionSimulation, BothStructuresBringTheLoadToTheTargetAndBack) {
  struct Case {
    const char* program;
    bool over_speed;
  };
  const Case cases[] = {{"Position_Controller_Tuning_Test_with_SpdCtrl", true},
                        {"Position_Controller_Tuning_Test_without_SpdCtrl", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    SimRun run;
    CZel_Setup& setup = *run.setup;
    if (!c.over_speed) {
      // The position loop straight over the current loop, tuned at its pass band.
      const double w = run.Base("PB_P"), z = 1.0, Jt = run.Base("Jt"), Ts = run.Base("Ts_S");
      const double D = run.Base("K") * dcservo::MotorPositionScale(setup);
      const double CS = dcservo::CurrentScale(setup), a = (2 * z + 1) * w;
      run.SetGain("KIP", "SFTKIP", w * w * w * Ts * Jt * CS / D);
      run.SetGain("KPP", "SFTKPP", a * w * Jt * CS / D);
      run.SetGain("KDP", "SFTKDP", a * Jt * CS / (D * Ts));
      run.SetInternal("SATP", run.Internal("SATS"));
      run.SetInternal("IMAXP", run.Internal("IMAXS"));
    }
    CZel_SingleAxisLogger& log = run.Log({"Target_Position", "Load_Position"});
    log.CorrectPointsNo();
    run.Execute(c.program, PositionInputs(run, c.over_speed), &log);
    EXPECT_EQ(run.Var("test_flag"), 1);
    EXPECT_EQ(run.drive->Mer(), 0u);
    run.Upload();
    const double target = run.Base("TestPosition"), count = 1.0 / dcservo::LoadPositionScale(setup);
    // Held at the target from 0.2 s to 0.7 s, back at 0 after 0.9 s.
    EXPECT_NEAR(run.Mean(1, 0.3, 0.7), target, 1e-9);
    EXPECT_NEAR(run.Mean(2, 0.5, 0.7), target, 5 * count);
    EXPECT_NEAR(run.Mean(2, 1.1, 1.4), 0.0, 5 * count);
  }
}

TEST(PositionSimulation, ARunStartsFreshAfterAFailedOne) {
  SimRun run;
  // A speed test whose current limit cannot move the load trips the speed-error protection.
  const Inputs starved = simtest::Join({{"IlimPS_Test", 50}},
                                       simtest::PositiveProfile(40));
  run.Execute("Speed_Controller_Tuning_Test", starved);
  ASSERT_EQ(run.drive->Mer() & 0x0008, 0x0008u);
  // The next run acknowledges the trip and uses the chip's own current limit again.
  CZel_SingleAxisLogger& log = run.Log({"Target_Position", "Load_Position"});
  const double count = 1 / dcservo::LoadPositionScale(*run.setup);
  const double start = run.Live("Load_Position") * count;
  run.Execute("Position_Controller_Tuning_Test_with_SpdCtrl", PositionInputs(run, true), &log);
  EXPECT_EQ(run.drive->Mer(), 0u);
  run.Upload();
  // The profile starts where the load stood when the run began, give or take its coasting.
  EXPECT_NEAR(run.Mean(1, 0.5, 0.7) - start, run.Base("TestPosition"), 2 * count);
  EXPECT_NEAR(run.Mean(2, 0.5, 0.7), run.Mean(1, 0.5, 0.7), 5 * count);
}

// Stop during a repeating run ends it as the profile's end does: the shaft comes to rest
// before the axis goes off (it coasted on at full speed, and the next run started on it). A
// run started at once after Stop lets the stopped one finish that first (it cut the closing
// hold short and started on the turning shaft).
TEST(StopSimulation, ARepeatingRunStoppedAtSpeedLeavesTheShaftAtRest) {
  struct Case {
    const char* program;
    bool position, over_speed;
    double stop_at;  // s, while the load moves fastest in the first cycle
  };
  const Case cases[] = {{"Speed_Controller_Tuning_Test", false, false, 0.4},
                        {"Position_Controller_Tuning_Test_with_SpdCtrl", true, true, 0.15}};
  for (const Case& c : cases) {
    for (const bool restart_at_once : {false, true}) {
      SCOPED_TRACE(std::string(c.program) + (restart_at_once ? ", restarted at once" : ""));
      SimRun run;
      const Inputs inputs = c.position ? PositionInputs(run, c.over_speed) : SpeedInputs(run);
      ASSERT_NO_FATAL_FAILURE(run.Start(c.program, simtest::Join(inputs, {{"MultiC", 1}})));
      while (run.drive->Now() < c.stop_at) run.Advance(0.02);
      ASSERT_TRUE(run.drive->ProgramRunning());
      const double moving = std::abs(run.Live("Load_Speed"));
      EXPECT_GT(moving, 5.0);
      run.drive->StopProgram();
      if (restart_at_once) {
        ASSERT_NO_FATAL_FAILURE(run.Start(c.program, inputs));
        EXPECT_EQ(run.drive->Mer(), 0u);
        EXPECT_LE(std::abs(run.Live("Load_Speed")), 1.0) << "was " << moving;
        EXPECT_TRUE(run.WaitForEnd(run.drive->Now() + 3.0));
        continue;
      }
      ASSERT_TRUE(run.WaitForEnd(c.stop_at + 3.0));
      EXPECT_EQ(run.drive->Mer(), 0u);
      EXPECT_LE(std::abs(run.Live("Load_Speed")), 1.0) << "was " << moving;
    }
  }
}

// Speed-loop gains at the pass band for a loop sampled every Ts that counts speed in MSS.
void TuneSpeedLoop(SimRun& run, double Ts, double MSS) {
  const double w = run.Base("PB_S"), J = run.Base("Jt"), K = run.Base("K");
  const double CS = dcservo::CurrentScale(*run.setup);
  run.SetGain("KIS", "SFTKIS", w * w * Ts * J * CS / (K * MSS));
  run.SetGain("KPS", "SFTKPS", 2 * w * J * CS / (K * MSS));
}

// The plateau runs from 0.1 s to 0.6 s, the rest from 0.8 s; one count per sample is
// 2 pi rad/s here.
TEST(SpeedSimulation, TheLoadFollowsTheProfileAsTunedInTheFastLoopOrThroughABiquad) {
  struct Case {
    const char* what;
    void (*configure)(SimRun&);
    int aspd_biquads;
    double from;  // the plateau's mean from here to 0.6 s
  };
  const Case cases[] = {
      {"the setup's own gains", [](SimRun&) {}, 0, 0.2},
      {"loops in the fast loop, gains for the fast period",
       [](SimRun& run) {
         run.SetInternal("UPGRADE", static_cast<int>(run.Internal("UPGRADE")) | 0x40);
         TuneSpeedLoop(run, run.Base("Ts_C"), dcservo::MotorSpeedScale(*run.setup));
       },
       0, 0.2},
      {"a first-order low pass at 100 Hz for the 0.5 ms slow loop on the speed feedback",
       [](SimRun& run) {
         const std::pair<const char*, double> slot[] = {
             {"BQ1B0", 293622725}, {"BQ1B1", 293622725}, {"BQ1B2", 0},      {"BQ1A1", -1560238198},
             {"BQ1A2", 0},         {"BQ1SF", 1},         {"ASPD_BQ_INI", 1}};
         for (const auto& [name, value] : slot) run.SetInternal(name, value);
       },
       1, 0.3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimRun run;
    c.configure(run);
    CZel_SingleAxisLogger& log = run.Log({"Speed_Reference", "Load_Speed"});
    log.CorrectPointsNo();
    run.Execute("Speed_Controller_Tuning_Test", SpeedInputs(run), &log);
    EXPECT_EQ(run.Var("STARTED"), 1);
    EXPECT_EQ(run.Var("test_flag"), 1);
    EXPECT_EQ(run.drive->Mer(), 0u);
    EXPECT_EQ(run.drive->GetSettings().aspd_biquads, c.aspd_biquads);
    run.Upload();
    const double speed = run.Base("TestSpeed");
    EXPECT_NEAR(run.Mean(1, 0.2, 0.6), speed, 1e-9);
    EXPECT_NEAR(run.Mean(2, c.from, 0.6), speed, 0.5);
    EXPECT_NEAR(run.Mean(2, 0.9, 1.2), 0.0, 0.5);
    EXPECT_GE(log.GetValue(log.GetPointsRead() - 1, 0), 1.19);  // the log covers the run
  }
}

TEST(SpeedSimulation, EncoderAndTachoFeedbackBothTrackTheirTunedLoop) {
  struct Case {
    const char* what;
    double scr;  // sensor code in bits 0-5
    bool tacho;
  };
  const Case cases[] = {{"encoder on the motor", 0x100, false}, {"tacho on the motor", 0x10F, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimRun run;
    run.SetInternal("SCR", c.scr);
    // The speed scale that the loop counts in: encoder counts per sample, or tacho counts.
    const double Ts = run.Base("Ts_S");
    const double E = run.Base("No_encoder_lines") * 4 / (2 * std::numbers::pi);
    const double T = run.Base("ADCResolution") * run.Base("Tacho_gain") / run.Base("AnalogueInputsRange");
    const double MSS = c.tacho ? T : E * Ts;
    TuneSpeedLoop(run, Ts, MSS);
    const double speed = run.Base("TestSpeed"), V = std::round(speed * MSS);
    run.Execute("Speed_Controller_Tuning_Test",
                SpeedInputs(run, simtest::PositiveProfile(V)),
                &run.Log({"Motor_Speed"}));
    EXPECT_EQ(run.drive->Mer(), 0u);
    run.Upload();
    // Motor_Speed reads in the encoder's scale; a tacho count is a different step.
    const double measured = run.Mean(1, 0.2, 0.6) * dcservo::MotorSpeedScale(*run.setup) / MSS;
    EXPECT_NEAR(measured, V / MSS, 0.02 * speed);
  }
}

TEST(ProtectionSimulation, FaultsSetTheirMerBitsAndStopTheRun) {
  struct Case {
    const char* what;
    const char* program;
    const char* condition;
    double at;  // 0: from the start
    unsigned mer_bit;  // 0: the test's own protection, which leaves MER clear and test_flag 0
    bool started;
    double protection_A = 9;  // the current test's own limit
  };
  const Case cases[] = {
      {"shorted motor", "Current_Controller_Tuning_Test", "short_circuit", 0, 0x0002, true},
      {"ENABLE off", "Current_Controller_Tuning_Test", "enable_off", 0, 0x8000, false},
      {"swapped encoder runs away", "Speed_Controller_Tuning_Test", "encoder_swapped", 0, 0x0008, true},
      {"positive limit switch", "Speed_Controller_Tuning_Test", "limit_positive", 0.3, 0x0040, true},
      {"negative limit switch", "Speed_Controller_Tuning_Test", "limit_negative", 0.3, 0x0080, true},
      {"ENABLE lost", "Speed_Controller_Tuning_Test", "enable_off", 0.3, 0x8000, true},
      {"the test's own current protection", "Current_Controller_Tuning_Test", "shaft_blocked", 0, 0,
       true, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimRun run;
    run.Schedule(c.at, c.condition);
    const double CS = dcservo::CurrentScale(*run.setup);
    const Inputs inputs = std::string(c.program) == "Current_Controller_Tuning_Test"
                              ? Inputs{{"In1", std::trunc(1.5 * CS)},
                                       {"Imax_Prot_Test", std::trunc(c.protection_A * CS)}}
                              : SpeedInputs(run);
    run.Execute(c.program, inputs);
    EXPECT_EQ(run.drive->Mer() & c.mer_bit, c.mer_bit);
    if (!c.mer_bit) { EXPECT_TRUE(run.drive->Mer() == 0 && run.Var("test_flag") == 0); }
    EXPECT_EQ(run.Var("STARTED"), c.started ? 1 : 0);
    EXPECT_FALSE(run.drive->AxisOn());
    EXPECT_LT(run.drive->Now(), 1.0);
  }
}

// A driven period takes a shorter way than the full step up to the next slow sample. Both
// must give the same drive, count for count, read at times that fall between slow samples,
// whether the run ends as planned or a protection ends it within such a period, with a
// program's fast ticks and with a fast-loop log whose points read the encoder.
TEST(ProtectionSimulation, TheDriveIsTheSameWhicheverWayItsPeriodsAreStepped) {
  enum class Program { Speed, CurrentStep, FrequencyResponse };
  struct Case {
    const char* what;
    Program program;
    const char* condition;  // nullptr: none
    double at;
    double protection_A;  // 0: the setup's
    int log_divider = 0;  // of a fast-loop log of the position; 0: none
  };
  const Case cases[] = {
      {"the profile", Program::Speed, nullptr, 0, 0},
      {"the test's own current protection", Program::Speed, nullptr, 0, 0.3},
      {"a short circuit at speed", Program::Speed, "short_circuit", 0.0512, 0},
      {"the profile logged until the log is full", Program::Speed, nullptr, 0, 0, 7},
      {"a current step to its end, logged", Program::CurrentStep, nullptr, 0, 9, 1},
      {"a sine injected to its end, logged", Program::FrequencyResponse, nullptr, 0, 9, 3},
      {"a sine that trips the test's own protection", Program::FrequencyResponse, nullptr, 0,
       0.6},
      {"a sine and a short circuit", Program::FrequencyResponse, "short_circuit", 0.0307, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::vector<double>> seen[2];
    ZelLogData logged[2];
    for (int full_step = 0; full_step < 2; ++full_step) {
      SimRun run;
      run.drive->StepEveryPeriodInFull(full_step);
      if (c.condition) run.Schedule(c.at, c.condition);
      const double CS = dcservo::CurrentScale(*run.setup);
      const double protection = std::trunc(c.protection_A * CS);
      if (c.program == Program::Speed) {
        Inputs inputs = SpeedInputs(run);
        if (c.protection_A > 0) inputs.push_back({"Imax_Prot_Test", protection});
        ASSERT_NO_FATAL_FAILURE(run.Start("Speed_Controller_Tuning_Test", inputs));
      } else if (c.program == Program::CurrentStep) {
        ASSERT_NO_FATAL_FAILURE(run.Start("Current_Controller_Tuning_Test",
                                          {{"In1", std::trunc(1.5 * CS)},
                                           {"Imax_Prot_Test", protection}}));
      } else {
        ASSERT_NO_FATAL_FAILURE(run.Start("Frequency_Response_Test",
                                          {{"Frequency", 110},
                                           {"Amplitude", std::trunc(1.0 * CS)},
                                           {"Periods", 20},
                                           {"Speed", 3},
                                           {"Imax_Prot_Test", protection}}));
      }
      if (c.log_divider) {
        ASSERT_TRUE(run.drive->StartLog(
            {{"Motor_Position", "Motor_Current"}, 600, ZelLogRequest::kFastLoop, c.log_divider}));
      }
      using dcsim::LiveVar;
      while (run.drive->Now() < 0.3) {
        run.Advance(0.00135);  // 27 PWM periods
        seen[full_step].push_back({run.drive->Value(LiveVar::MotorPosition),
                                   run.drive->Value(LiveVar::MotorSpeed),
                                   run.drive->Value(LiveVar::MotorCurrent),
                                   run.drive->Value(LiveVar::CurrentReference),
                                   run.drive->Value(LiveVar::VoltageReference),
                                   static_cast<double>(run.drive->Mer()),
                                   run.drive->ProgramRunning() ? 1.0 : 0.0});
      }
      if (c.log_divider) { ASSERT_TRUE(run.drive->UploadLog(logged[full_step])); }
      if (c.protection_A > 0 && c.protection_A < 1) { EXPECT_EQ(run.Var("test_flag"), 0); }
    }
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_NE(seen[0].front(), seen[0].back()) << "nothing happened";
    EXPECT_EQ(logged[0].points, logged[1].points);
    EXPECT_EQ(logged[0].points.empty(), c.log_divider == 0);
  }
}

// The frame handler of an on-line view: frames go to the one scope logger that listens.
CZel_ScopeLogger* g_scope = nullptr;
int g_frames = 0;
int TakeFrame(const std::uint8_t* message, std::size_t bytes) {
  if (g_scope && g_scope->OnMessage(message, bytes) > 0) ++g_frames;
  return 1;
}

TEST(ScopeSimulation, TheSpeedTestStreamsFramesIntoOneTriggeredSweep) {
  SimRun run;
  CZel_ScopeLogger scope(*run.setup, nullptr);
  for (const char* v : {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"})
    ASSERT_EQ(scope.AddVariable(v), 1);
  const double speed = run.Base("TestSpeed");
  ASSERT_EQ(scope.ChangeSettings(1.0, CZel_ScopeLogger::kSingle, 1, "Speed_Reference", 0.5 * speed, 10), 1);
  g_scope = &scope;
  g_frames = 0;
  run.Start("Speed_Controller_Tuning_Test", SpeedInputs(run), &scope);
  int passes = 0;
  while (!scope.DoGracefulStop() && passes++ < 500) {
    run.Advance(0.02);
    CZel_Comm::CheckForUnrequestedMessages(&TakeFrame);
  }
  g_scope = nullptr;
  EXPECT_GT(g_frames, 50);
  EXPECT_EQ(scope.GetFramesLost(), 0);
  // The sweep keeps up to a tenth of the window before the reference passes half the final
  // speed: the ramp gets there sooner after arming, so fewer, and all of them seen.
  const int points = scope.GetPointsNo(), pre = points / 10;
  int trigger = 0;
  while (trigger < points && scope.GetValue(trigger, 1) < 0.5 * speed) ++trigger;
  EXPECT_GT(trigger, 0);
  EXPECT_LE(trigger, pre);
  EXPECT_EQ(scope.GetPointsFilled(), trigger + points - pre);
  EXPECT_GT(scope.GetValue(1, 0), scope.GetValue(0, 0));  // times of points seen, in order
  EXPECT_NEAR(scope.GetValue(points / 2, 1), speed, 1e-9);
}

}  // namespace
