// The tracking targets of the speed and position tests, worked by hand.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "drivetests/drive_test_targets.h"

namespace {

using dcservo::CycleFigures;
using dcservo::TargetCheck;

const TargetCheck* Find(const std::vector<TargetCheck>& checks, const std::string& figure) {
  for (const TargetCheck& c : checks)
    if (c.figure == figure) return &c;
  return nullptr;
}

// The position test on the bundled drive: 0.16 rad predicted, steps of 0.00314 rad, 50 %
// tolerance. Below the tracking limit is not enough when the run departs from the prediction
// by more than half the predicted error and a step (0.0834 rad): the model is not the drive
// (an inertia identified 30 % high predicted 4.9 rad of error where the drive showed 0.2).
TEST(TrackingTargets, ARunFarFromItsPredictionFailsEvenBelowTheLimit) {
  const dcservo::TestTargets* targets = dcservo::TargetsOf("position");
  ASSERT_NE(targets, nullptr);
  struct Case {
    double measured, predicted, deviation;
    bool tracking_met, prediction_met;
  };
  for (const Case& c : {Case{0.16, 0.16, 0.0175, true, true}, Case{0.195, 4.94, 4.98, true, false},
                        Case{0.30, 0.16, 0.05, false, true}}) {
    SCOPED_TRACE(c.deviation);
    dcservo::TuningRunFigures f;
    f.unit = "rad";
    f.quantum = 0.00314159;
    f.final_value = 6.2832;
    CycleFigures m, p;
    m.rms_error = c.measured;
    m.deviation_rms = c.deviation;
    p.rms_error = c.predicted;
    f.cycles = {m};
    f.predicted = p;
    const std::vector<TargetCheck> checks = dcservo::CheckTrackingTargets(*targets, f);
    const TargetCheck* tracking = Find(checks, "tracking error (RMS)");
    const TargetCheck* prediction = Find(checks, "response off the prediction (RMS)");
    ASSERT_TRUE(tracking && prediction);
    EXPECT_EQ(tracking->met, c.tracking_met);
    EXPECT_EQ(prediction->met, c.prediction_met) << prediction->target;
  }
}

// The report lists each test's targets in full: the tracking clause is the longest, and the
// clause after it must follow whole (a fixed line once cut it at "plus one s").
TEST(TrackingTargets, TheReportsDescriptionsKeepEveryClauseWhole) {
  const std::vector<std::string> lines = dcservo::TargetDescriptions();
  const std::string speed = "speed: RMS tracking error at most 50 % above predicted";
  const auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.starts_with(speed);
  });
  ASSERT_NE(it, lines.end());
  EXPECT_NE(it->find("plus one step, RMS tracking error under 50 % of the reference's motion"),
            std::string::npos)
      << *it;
  EXPECT_TRUE(it->ends_with("overshoot under 20 %")) << *it;
}

}  // namespace
