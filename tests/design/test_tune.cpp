#include "design/tune.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "design/controller_tuning.h"
#include "design/design_report.h"
#include "tests/support/test_setups.h"

namespace {

using dcservo::LoopTuneReport;
using dcservo::TunedLoop;
using testing_support::LoadBundledSetup;

void Set(CZel_Setup& s, const char* name, double v) {
  ASSERT_TRUE(s.SetParameterValueInBaseUnit(name, v)) << name;
}
double Value(const CZel_Setup& s, const std::string& name) {
  return s.GetParameterValueInBaseUnit(name);
}

std::string AllWarnings(const LoopTuneReport& r) {
  std::string text;
  for (const auto& g : r.gains) {
    for (const auto& w : g.warnings) text += w + "\n";
  }
  for (const auto& w : r.warnings) text += w + "\n";
  for (const auto& f : r.loop_failures) text += f + "\n";
  return text;
}

TEST(Tune, ShowsTheGainsThatTheChipPairsGiveBack) {
  struct Case {
    TunedLoop loop;
    int (*design)(CZel_Setup&);
  };
  const Case cases[] = {{TunedLoop::Current, dcservo::ComputeCurrentControllerGains},
                        {TunedLoop::Speed, dcservo::ComputeSpeedControllerGains},
                        {TunedLoop::Position, dcservo::ComputePositionControllerGains}};
  for (const Case& c : cases) {
    SCOPED_TRACE(dcservo::LoopName(c.loop));
    auto s = LoadBundledSetup();
    Set(*s, "PB_C", 2345);
    Set(*s, "PB_S", 87);
    Set(*s, "PB_P", 23);
    auto raw = LoadBundledSetup();
    Set(*raw, "PB_C", 2345);
    Set(*raw, "PB_S", 87);
    Set(*raw, "PB_P", 23);
    ASSERT_EQ(c.design(*raw), 1);

    LoopTuneReport report;
    ASSERT_EQ(dcservo::TuneController(*s, c.loop, &report), 1);
    ASSERT_EQ(report.gains.size(), c.loop == TunedLoop::Position ? 3u : 2u);
    bool any_changed = false;
    for (const auto& g : report.gains) {
      SCOPED_TRACE(g.name);
      EXPECT_EQ(g.designed, Value(*raw, g.name));
      const double from_chip =
          Value(*s, g.mantissa) * std::pow(2.0, Value(*s, g.shift)) / 32767.0;
      EXPECT_EQ(Value(*s, g.name), from_chip);
      EXPECT_EQ(g.stored, from_chip);
      EXPECT_EQ(Value(*s, g.mantissa), std::round(Value(*s, g.mantissa)));
      if (g.stored != g.designed) any_changed = true;
    }
    EXPECT_TRUE(any_changed) << "the scaled gains show the quantised values";
    ASSERT_TRUE(report.stored_loop);
    EXPECT_LT(report.stored_loop->pole_radius, 1.0);
  }
}

TEST(Tune, ReportsWhatTheEncodingAndTheSamplingDoToTheGains) {
  struct Case {
    const char* name;
    TunedLoop loop;
    const char* parameter;
    double value;
    const char* expected;  // a warning containing this text
  };
  const Case cases[] = {
      {"integral gain below one mantissa step", TunedLoop::Position, "PB_P", 1,
       "turns Ki_P_scl"},
      {"integral gain of a few mantissa steps", TunedLoop::Position, "PB_P", 10,
       "stores Ki_P_scl"},
      {"pass band below R/L", TunedLoop::Current, "PB_C", 200, "Kp_C_scl = -"},
      {"inertia far above the drive's gains", TunedLoop::Speed, "Jt", 1.0, "saturates"},
      {"pass band near the sampling rate", TunedLoop::Current, "PB_C", 20000, "unstable"},
      {"electrical time constant within four samples", TunedLoop::Current, "L", 1e-4,
       "Dump_C is not used"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = LoadBundledSetup();
    Set(*s, c.parameter, c.value);
    LoopTuneReport report;
    dcservo::TuneController(*s, c.loop, &report);
    const std::string warnings = AllWarnings(report);
    EXPECT_NE(warnings.find(c.expected), std::string::npos) << warnings;
    EXPECT_NE(dcservo::FormatTuneReport(report).find(c.expected), std::string::npos);
  }
}

TEST(Tune, MissingChipParameterChangesNothing) {
  auto s = testing_support::MakeTimingSetup({{"R", 1.2}, {"L", 1e-3}, {"PB_C", 2000},
                                             {"Dump_C", 1}, {"Ts_C", 5e-5}, {"Kp_C_scl", 7},
                                             {"Ki_C_scl", 7}, {"KPI", 7}, {"SFTKPI", 7},
                                             {"KII", 7}});
  ZelCollectErrors errors;
  LoopTuneReport report;
  EXPECT_EQ(dcservo::TuneCurrentController(*s, &report), 0);
  for (const char* name : {"Kp_C_scl", "Ki_C_scl", "KPI", "SFTKPI", "KII"})
    EXPECT_EQ(Value(*s, name), 7) << name;
  EXPECT_TRUE(report.gains.empty());
  ASSERT_FALSE(errors.Messages().empty());
  EXPECT_NE(std::string(errors.Messages()[0]).find("SFTKII"), std::string::npos);
}

}  // namespace
