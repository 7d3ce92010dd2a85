// The settling of a logged cycle: a response that leaves the level only as the next ramp's
// feedforward reaches it has settled; one that is still off before that has not.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "drivetests/drive_test_json.h"
#include "drivetests/drive_test_targets.h"
#include "drivetests/tuning_figures.h"

namespace {

using namespace dcservo;

// A 1 ms trace: a 10-sample ramp to 1, a 50-sample hold, a 10-sample ramp back and a 50-sample
// rest; the response follows exactly but is 0.1 off from `off_from` samples before the hold
// ends until it ends.
CycleTrace HoldOffBeforeItsEnd(int off_from) {
  CycleTrace t;
  auto push = [&t](double reference, double response) {
    t.time.push_back(static_cast<double>(t.time.size()) * 1e-3);
    t.reference.push_back(reference);
    t.response.push_back(response);
  };
  for (int i = 0; i < 10; ++i) push(i / 10.0, i / 10.0);
  for (int i = 0; i < 50; ++i) push(1.0, 50 - i <= off_from ? 1.1 : 1.0);
  for (int i = 0; i < 10; ++i) push(1.0 - (i + 1) / 10.0, 1.0 - (i + 1) / 10.0);
  for (int i = 0; i < 50; ++i) push(0.0, 0.0);
  return t;
}

TEST(TuningFigures, SettlingIgnoresOnlyTheNextRampsLead) {
  struct Case {
    int off_from;
    bool settled;
  };
  for (const Case c : {Case{0, true}, Case{2, true}, Case{3, true}, Case{4, false},
                       Case{20, false}}) {
    SCOPED_TRACE(c.off_from);
    const CycleFigures f = FiguresOfCycle(HoldOffBeforeItsEnd(c.off_from), 1.0);
    EXPECT_EQ(!std::isnan(f.settling_s[0]), c.settled);
  }
}

// A scope's sweep whose pre-trigger part began a step into the first ramp, sampled more slowly
// than the reference moves (each level seen twice): the move still goes from 0 to 1 and back,
// as its return to rest shows (the hold was judged at 1.1 and never settled).
TEST(TuningFigures, ASweepThatBeginsIntoTheMoveKeepsTheRestItReturnsTo) {
  for (int first_tenth : {0, 1, 2}) {
    SCOPED_TRACE(first_tenth);
    CycleTrace t;
    auto push = [&t](double value, int times) {
      for (int k = 0; k < times; ++k) {
        t.time.push_back(static_cast<double>(t.time.size()) * 1e-3);
        t.reference.push_back(value);
        t.response.push_back(value);
      }
    };
    for (int i = first_tenth; i < 10; ++i) push(i / 10.0, 2);
    push(1.0, 50);
    for (int i = 9; i >= 0; --i) push(i / 10.0, 2);
    push(0.0, 50);
    const CycleFigures f = FiguresOfCycle(t, 1.0);
    EXPECT_FALSE(std::isnan(f.settling_s[0]));
    EXPECT_FALSE(std::isnan(f.settling_s[1]));
    EXPECT_NEAR(f.overshoot_percent, 0.0, 1e-9);
  }
}

// A settling as the dialog's lines and the JSON give it: the log's as measured, even within its
// first point; the scope's as a bound where it ended within the first sample after the ramp
// (it read "0.0 ms", a time the 2.5 ms samples cannot tell).
TEST(TuningFigures, ASettlingShorterThanTheScopesSampleIsABound) {
  const double never = std::numeric_limits<double>::quiet_NaN();
  const nlohmann::ordered_json absent;
  const struct {
    const char* name;
    double resolution_s, settling_s;
    const char* text;
    nlohmann::ordered_json time, bound;
  } cases[] = {
      {"log, within its first point", 0.0, 0.0, "settling 0.0 ms / 0.0 ms;", 0.0, absent},
      {"scope, within its first sample", 0.0025, 0.0, "settling under 2.5 ms / under 2.5 ms;",
       nullptr, 0.0025},
      {"scope, after two samples", 0.0025, 0.005, "settling 5.0 ms / 5.0 ms;", 0.005, absent},
      {"scope, never", 0.0025, never, "settling not settled / not settled;", nullptr, absent},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CycleFigures f;
    f.cycle = 1;
    f.settling_resolution_s = c.resolution_s;
    f.settling_s[0] = f.settling_s[1] = c.settling_s;
    f.deviation_rms = 0.5;
    TuningRunFigures run;
    run.unit = "rpm";
    run.cycles = {f};
    EXPECT_NE(FiguresText(run).find(c.text), std::string::npos) << FiguresText(run);
    const nlohmann::ordered_json j = TrackingFiguresJson(f);
    for (const char* key : {"settling_time_s", "settling_time_second_ramp_s"}) EXPECT_EQ(j[key], c.time);
    for (const char* key : {"settling_time_under_s", "settling_time_second_ramp_under_s"})
      EXPECT_EQ(j.contains(key) ? j[key] : absent, c.bound) << key;
  }
}

// The oscillation is looked for in the log: an on-line run, which records none, does not
// claim "none" for it (it did, and counted it as met).
TEST(TuningFigures, OnlyALoggedRunJudgesTheOscillation) {
  for (const bool on_line : {false, true}) {
    SCOPED_TRACE(on_line);
    TuningRunFigures run;
    run.on_line = on_line;
    run.cycles = {CycleFigures{}};
    std::vector<std::string> figures;
    for (const TargetCheck& check : CheckTrackingTargets(*TargetsOf("speed"), run))
      figures.push_back(check.figure);
    EXPECT_EQ(std::count(figures.begin(), figures.end(), std::string(kOscillationFigure)),
              on_line ? 0 : 1);
  }
}

}  // namespace

// The prediction read forward along a log gives what a search of the whole prediction gives,
// whichever way the times go: rising by less or more than a sample, standing, on a sample,
// outside the prediction at either end, and back to an earlier time.
TEST(TuningFigures, APredictionReadForwardIsThePredictionSearched) {
  CycleTrace p;
  for (int k = 0; k < 40; ++k) {
    p.time.push_back(0.01 + 1e-3 * k);
    p.response.push_back(std::sin(0.3 * k) + 0.01 * k * k);
  }
  p.reference = p.response;
  const double times[] = {-1.0,  0.0,   0.01,  0.0103, 0.0103, 0.011, 0.0111, 0.0175,
                          0.0175, 0.030, 0.0301, 0.045, 0.049, 0.05,  0.02,  0.0205,
                          0.012,  0.0485, 1.0,   0.0105};
  PredictionReader reader(p);
  for (double t : times) EXPECT_EQ(reader.At(t), PredictedAt(p, t)) << "at " << t;
  EXPECT_EQ(PredictionReader(CycleTrace{}).At(0.5), 0.0);
}
