// What a log says beyond tracking: the current a run drew and an oscillation that grows or
// never stops, on traces built by hand.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "drivetests/run_health.h"

namespace {

using dcservo::FindBadOscillation;
using dcservo::OscillationLog;

// A hold of 400 samples at 1 ms after a ramp, with a tone of `hz` whose amplitude goes from
// `a0` to `a1` along the hold (exponentially), then a hold at rest to the end.
struct HoldTrace {
  std::vector<double> reference, signal;
};

// At rest: a 10 Hz swing of `rest_swing`, or with `creep` a decay from it that never turns.
HoldTrace TraceWithTone(double a0, double a1, double hz, double rest_swing = 0.0,
                        bool creep = false) {
  HoldTrace t;
  const double period = 1e-3;
  for (int i = 0; i < 100; ++i) {  // the ramp
    t.reference.push_back(i * 0.01);
    t.signal.push_back(0.0);
  }
  for (int i = 0; i < 400; ++i) {
    t.reference.push_back(1.0);
    const double a = a0 * std::pow(a1 / a0, i / 399.0);
    t.signal.push_back(a * std::sin(2.0 * std::numbers::pi * hz * i * period));
  }
  for (int i = 0; i < 400; ++i) {  // back at rest
    t.reference.push_back(0.0);
    t.signal.push_back(creep ? -rest_swing * std::exp(-i / 200.0)
                             : rest_swing / 2.0 * std::sin(2.0 * std::numbers::pi * 10.0 * i * period));
  }
  return t;
}

TEST(RunHealth, AnEnvelopeThatGrowsOrASwingAtRestIsFoundAndHuntingIsNot) {
  struct Case {
    const char* what;
    double a0, a1, hz, rest_swing;
    const char* found;  // a fragment of the description; "" for none
    bool creep = false;
  };
  const Case cases[] = {
      {"steady hunting of a few steps", 0.02, 0.02, 289.0, 0.0, ""},
      {"a ring that dies away", 0.5, 0.01, 233.0, 0.0, ""},
      {"a resonance that grows 18 times", 0.02, 0.36, 400.0, 0.0, "grows"},
      {"hunting whose swing doubles", 0.1, 0.2, 65.0, 0.0, ""},
      {"growth of a step or two only: the counts' own jitter", 0.005, 0.012, 400.0, 0.0, ""},
      {"a 10 Hz swing at rest, wider than four steps", 0.001, 0.001, 10.0, 0.1, "at standstill"},
      {"a count of hunting at rest", 0.001, 0.001, 10.0, 0.01, ""},
      {"hunting of just the four steps allowed at rest", 0.001, 0.001, 10.0, 0.04, ""},
      {"a slow loop still creeping to rest, wider than four steps", 0.001, 0.001, 10.0, 0.5, "",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const HoldTrace t = TraceWithTone(c.a0, c.a1, c.hz, c.rest_swing, c.creep);
    OscillationLog log;
    log.reference = t.reference;
    log.signal = t.signal;
    log.period_s = 1e-3;
    log.settle_s = 0.02;
    log.step = 0.01;
    log.unit_name = "A";
    log.standstill_swing = 4.0 * log.step;
    const std::string found = FindBadOscillation(log);
    if (*c.found == '\0')
      EXPECT_EQ(found, "");
    else
      EXPECT_NE(found.find(c.found), std::string::npos) << found;
  }
}

TEST(RunHealth, TheRunsCurrentIsItsRmsItsPeakAndItsTimeAtTheLimit) {
  // 1 ms samples: 200 at the limit of 2 A (the reference a little under it, as the converter
  // rounds), 600 at 1 A.
  std::vector<double> reference, current;
  for (int i = 0; i < 200; ++i) {
    reference.push_back(-1.97);
    current.push_back(-2.1);
  }
  for (int i = 0; i < 600; ++i) {
    reference.push_back(1.0);
    current.push_back(1.0);
  }
  const auto c = dcservo::RunCurrentOf(reference, current, 1e-3, 2.0, 3.0);
  ASSERT_TRUE(c);
  EXPECT_NEAR(c->rms_A, std::sqrt((200 * 2.1 * 2.1 + 600.0) / 800.0), 1e-12);
  EXPECT_DOUBLE_EQ(c->peak_A, 2.1);
  EXPECT_NEAR(c->at_limit_s, 0.2, 1e-12);
  EXPECT_FALSE(dcservo::RunCurrentOf({}, {}, 1e-3, 2.0, 3.0));
}

}  // namespace
