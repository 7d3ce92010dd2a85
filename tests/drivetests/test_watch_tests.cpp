// The encoder connections and analogue reference tests, which watch a live variable every
// 20 ms until the user presses Stop: on a drive whose every answer the case sets, then on
// the simulated drive with a hand on the shaft or the potentiometer.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numbers>

#include "drivetests/analogue_test_dlg.h"
#include "drivetests/encoder_test_dlg.h"
#include "names/program_names.h"
#include "tests/support/test_runs.h"

namespace {

using namespace dcservo;
using testing_support::FakeDrive;
using testing_support::FakeDriveRun;
using testing_support::SimulatedRun;
using ::testing::HasSubstr;

const std::vector<ZelProgramVariable> kWatchVariables = {{"STARTED", 0.0},
                                                         {"test_flag", kUnsetValue}};

// ---- encoder connections ---------------------------------------------------------------------

class EncoderTest : public FakeDriveRun<CTestEncoderConnections> {
 protected:
  EncoderTest() : FakeDriveRun(drive_program::Encoder_Connection_Test, kWatchVariables) {
    drive_->live["APOS"] = 0.0;
    drive_->live["var_i2"] = 0.0;
  }
  // Start, then the counter reads each of `counts` on a tick of its own.
  std::vector<RunStep> TicksAt(std::initializer_list<double> counts) {
    std::vector<RunStep> steps = {Click(kIdcTestStartStop), Wait(20)};
    for (double c : counts) {
      steps.push_back(Drive([c](FakeDrive& f) { f.live["APOS"] = c; }));
      steps.push_back(Wait(20));
    }
    return steps;
  }
};

// 500 lines: 2000 counts a turn.
TEST_F(EncoderTest, PulsesAreSeenWhenTheCounterMovesWithinATurn) {
  struct Case {
    const char* name;
    double at_start;  // where the shaft stands when Start is pressed
    std::initializer_list<double> counts;
    bool pulses;
    const char* shown;
    double angle;
  };
  constexpr double kOffATurn = 757783.0;
  const Case cases[] = {
      {"no movement", 0.0, {0.0, 0.0}, false, "0", 0.0},
      {"at rest off a whole turn", kOffATurn, {kOffATurn}, false, "757783",
       kOffATurn * std::numbers::pi / 1000.0},
      {"a whole turn between two ticks", 0.0, {2000.0, -4000.0}, false, "-4000", 0.0},
      {"a count", 0.0, {2001.0}, true, "2001", 2001.0 * std::numbers::pi / 1000.0},
      {"backwards", 0.0, {-3.0}, true, "-3", -3.0 * std::numbers::pi / 1000.0},
      {"back to the index from where it stood", 5.0, {0.0}, false, "0", 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dlg_.reset();
    drive_->live["APOS"] = c.at_start;
    Run(Then(TicksAt(c.counts), Check([&c](CTestEncoderConnections& d) {
               EXPECT_EQ(d.m_bTestRunning, 1);
               EXPECT_EQ(d.PulsesSeen(), c.pulses);
               EXPECT_EQ(d.GetChildText(kEncCounter), c.shown);
               EXPECT_NEAR(d.GetDiagram().GetAngle(), c.angle, 1e-12);
               EXPECT_EQ(d.GetControlState(kEncDiagram).indicator.angle_rad, c.angle);
             })));
  }
}

TEST_F(EncoderTest, StopPassesOnlyAfterPulsesAndThenEndsTheProgram) {
  Run(Then(TicksAt({}), Click(kIdcTestStartStop), Check([this](CTestEncoderConnections& d) {
             EXPECT_EQ(d.m_bTestRunning, 0);
             EXPECT_EQ(d.m_nTestResult, -1);
             EXPECT_EQ(d.m_strError,
                       "No encoder pulses have been detected.\r\nCheck the encoder connection "
                       "and power supply.");
             EXPECT_EQ(drive_->live["var_i2"], 0.0);
           })));
  dlg_.reset();
  Run(Then(TicksAt({7.0}), Click(kIdcTestStartStop), Check([this](CTestEncoderConnections& d) {
             EXPECT_EQ(d.m_nTestResult, 1) << d.m_strError;
             EXPECT_EQ(drive_->live["var_i2"], 1.0);
           })));
  dlg_.reset();
  drive_->live["APOS"] = 0.0;
  drive_->refuse_live_writes = true;
  Run(Then(TicksAt({7.0}), Click(kIdcTestStartStop), Check([](CTestEncoderConnections& d) {
             EXPECT_EQ(d.GetChildText(kIdcTestResult), "Test failed");
             EXPECT_THAT(d.m_strError, HasSubstr("var_i2"));
           })));
}

TEST_F(EncoderTest, AnEncoderWithoutLinesIsRefusedBeforeTheProgramStarts) {
  setup_->FindParameter("No_encoder_lines")->SetMinInBaseUnit(0.0);
  Set("No_encoder_lines", 0.5);
  Run({Click(kIdcTestStartStop), Check([this](CTestEncoderConnections& d) {
         EXPECT_EQ(d.m_bTestRunning, 0);
         EXPECT_TRUE(drive_->starts.empty());
       })});
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_THAT(ui_.Messages()[0].text, HasSubstr("encoder lines"));
}

using EncoderOnSimulatedDrive = SimulatedRun<CTestEncoderConnections>;

TEST_F(EncoderOnSimulatedDrive, AMissingChannelFailsAndSwappedChannelsCountBackwards) {
  struct Case {
    const char* fault;  // empty: a sound encoder
    int result;
    bool backwards;
  };
  // A count running backwards under a positive turn fails: every loop would push the wrong way.
  for (const Case c : {Case{"encoder_a_missing", -1, false}, Case{"encoder_b_missing", -1, false},
                       Case{"encoder_swapped", -1, true}, Case{"", 1, false}}) {
    SCOPED_TRACE(c.fault);
    dlg_.reset();
    if (*c.fault) Fault(c.fault, 1.0);
    Act("turn", 1.0, drive_->Now() + 0.1);  // a hand turns the shaft by one radian
    Run({Click(kIdcTestStartStop), Wait(800), Click(kIdcTestStartStop),
         Check([&c](CTestEncoderConnections& d) {
           EXPECT_EQ(d.m_nTestResult, c.result) << d.m_strError;
           const int counter = std::stoi(d.GetChildText(kEncCounter));
           if (c.result == 1 || c.backwards) {
             EXPECT_EQ(counter < 0, c.backwards) << counter;
           }
           if (c.backwards) {
             EXPECT_THAT(d.m_strError, ::testing::HasSubstr("runs backwards"));
           }
         })});
    if (*c.fault) Fault(c.fault, 0.0);
  }
}

// ---- analogue reference ----------------------------------------------------------------------

class AnalogueTest : public FakeDriveRun<CTestAnalogueRef> {
 protected:
  AnalogueTest() : FakeDriveRun(drive_program::Analogue_Reference_Test, kWatchVariables) {}
  static const ZelIndicatorState& Bar(const CTestAnalogueRef& d, int id) {
    return d.GetControlState(id).indicator;
  }
};

TEST_F(AnalogueTest, TheVoltageBarFollowsTheInputRangeAtBothEndsAndTheMiddle) {
  struct Case {
    double range;
    double lo, hi, reference;
  };
  const Case cases[] = {{20.0, -10.0, 10.0, 0.0},
                        {5.0, 0.0, 5.0, 0.0},
                        {3.3, 0.0, 3.3, 0.0},
                        {10.0, 0.0, 3.3, 0.0}};  // only 20 and 5 are ranges of their own
  for (const Case& c : cases) {
    Set("AnalogueInputsRange", c.range);
    // The ends and the middle; above full scale reads a little above the maximum.
    for (double ad5 : {0.0, 32736.0, 65472.0, 65535.0}) {
      SCOPED_TRACE(std::to_string(c.range) + " V at " + std::to_string(ad5));
      dlg_.reset();
      drive_->live["AD5"] = ad5;
      const double expected = RoundDecimalValue((c.hi - c.lo) * ad5 / 65472.0 + c.lo, 2);
      Run({Click(kIdcTestStartStop), Wait(40), Check([&](CTestAnalogueRef& d) {
             const ZelIndicatorState& bar = Bar(d, kAnVoltageBar);
             EXPECT_EQ(bar.lo, c.lo);
             EXPECT_EQ(bar.hi, c.hi);
             EXPECT_EQ(bar.reference, c.reference);
             EXPECT_NEAR(bar.value, expected, 1e-12);
             EXPECT_EQ(d.GetChildText(kAnVoltageEdit), FormatValue("%.2f", expected));
             EXPECT_EQ(bar.colour, 0xFF0000u);
             EXPECT_EQ(bar.format, "%.2G");
           })});
    }
  }
}

TEST_F(AnalogueTest, TheCommandRowFollowsTheControlMode) {
  struct Case {
    int mode;
    const char* label;
    const char* max;
  };
  const Case cases[] = {{0, "Position command", "POS_max"},
                        {1, "Speed command", "SPD_max"},
                        {2, "Current command", "CRT_max"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Set("ControlMode", c.mode);
    dlg_.reset();
    drive_->live["AD5"] = 65472.0;
    const CZel_Parameter* max = setup_->FindParameter(c.max);
    const double hi = max->GetSelectedUnit().FromBase(max->GetValueInBaseUnit());
    Run({Check([&](CTestAnalogueRef& d) {
           EXPECT_EQ(d.GetChildText(kAnCommandLabel), c.label);
           EXPECT_EQ(d.GetChildText(kAnCommandUnit), max->GetSelectedUnit().GetName());
           // Before a run the bar stands at its reference (zero on these ranges), as the
           // voltage's does: no command drawn as the lowest one, labelled twice.
           EXPECT_EQ(Bar(d, kAnCommandBar).value, Bar(d, kAnCommandBar).reference);
         }),
         Click(kIdcTestStartStop), Wait(40), Check([&](CTestAnalogueRef& d) {
           const ZelIndicatorState& bar = Bar(d, kAnCommandBar);
           EXPECT_NEAR(bar.hi, hi, 1e-9);
           // The bundled drive's command ranges are symmetric: the bar grows from 0.
           EXPECT_EQ(bar.reference, 0.0);
           EXPECT_NEAR(bar.value, RoundDecimalValue(hi, 2), 1e-12);
           EXPECT_EQ(bar.colour, 0x00FF00u);
           EXPECT_EQ(bar.format, "%.2f");
         }),
         Click(kIdcTestStartStop), Wait(20),
         Check([](CTestAnalogueRef& d) { EXPECT_EQ(d.m_nTestResult, 1) << d.m_strError; })});
  }
}

TEST_F(AnalogueTest, AMissingInputOrAShortCircuitFailsTheRun) {
  Run({Click(kIdcTestStartStop), Wait(40), Check([](CTestAnalogueRef& d) {
         EXPECT_EQ(d.m_bTestRunning, 0);
         EXPECT_THAT(d.m_strError, HasSubstr("AD5"));
       })});
  dlg_.reset();
  drive_->live["AD5"] = 0.0;
  drive_->live["MER"] = 0x0002;
  Run({Click(kIdcTestStartStop), Wait(40), Check([](CTestAnalogueRef& d) {
         EXPECT_EQ(d.m_strError, "Drive / Motor shortcircuit protection triggered.");
       })});
}

using AnalogueOnSimulatedDrive = SimulatedRun<CTestAnalogueRef>;

TEST_F(AnalogueOnSimulatedDrive, ThePotentiometerMovesBothBars) {
  Act("pot", -10.0, drive_->Now() + 0.05);
  Act("pot", 5.0, drive_->Now() + 0.3);
  Run({Click(kIdcTestStartStop), Wait(200), Check([](CTestAnalogueRef& d) {
         EXPECT_NEAR(d.GetVoltageBar().State().value, -10.0, 0.02);
         EXPECT_NEAR(d.GetCommandBar().State().value, d.GetCommandBar().State().lo, 0.02);
       }),
       Wait(300), Check([](CTestAnalogueRef& d) {
         EXPECT_NEAR(d.GetVoltageBar().State().value, 5.0, 0.03);
         const ZelIndicatorState& command = d.GetCommandBar().State();
         EXPECT_NEAR(command.value, command.lo + 0.75 * (command.hi - command.lo),
                     0.002 * (command.hi - command.lo));
       }),
       Click(kIdcTestStartStop), Wait(20),
       Check([](CTestAnalogueRef& d) { EXPECT_EQ(d.m_nTestResult, 1) << d.m_strError; })});
}

}  // namespace
