// The comparison of two commissioning records whose tracking errors are in different units.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "drivetests/commissioning_report.h"

namespace {

using nlohmann::ordered_json;
using ::testing::HasSubstr;

// A record of one speed step whose first cycle tracked with this RMS error.
ordered_json SpeedRecord(const char* unit, double rms_error) {
  ordered_json tracking = {{"unit", unit},
                           {"measured", {{"rms_error", rms_error}}},
                           {"predicted", nullptr}};
  ordered_json step = {{"step", "speed"}, {"title", "Speed"}, {"verdict", "succeeded"},
                       {"tracking", tracking}};
  return {{"steps", ordered_json::array({step})}, {"values", ordered_json::object()}};
}

// An earlier record in rad/s set beside one in rpm is compared in rpm (1 rad/s is
// 9.5493 rpm); units of another kind stay each with its own value, and differ.
TEST(CommissioningComparison, TrackingErrorsInAnotherUnitOfTheSameKindCompareAsNumbers) {
  struct Case {
    const char* before_unit;
    double before;
    double now_rpm;
    const char* row;
  };
  const Case cases[] = {
      {"rad/s", 1.0, 9.549296585513721,
       "<tr><td>Tracking error (RMS), measured</td><td>9.5493 rpm</td><td>9.5493 rpm</td>"},
      {"rad/s", 1.0, 20.0,
       "<tr class=\"changed\"><td>Tracking error (RMS), measured</td><td>9.5493 rpm</td>"
       "<td>20 rpm</td>"},
      {"A", 1.0, 1.0,
       "<tr class=\"changed\"><td>Tracking error (RMS), measured</td><td>1 A</td>"
       "<td>1 rpm</td>"},
  };
  for (const Case& c : cases) {
    const std::string html = dcservo::ComparisonReportHtml(SpeedRecord("rpm", c.now_rpm),
                                                           SpeedRecord(c.before_unit, c.before));
    EXPECT_THAT(html, HasSubstr(c.row)) << c.before_unit << " " << c.now_rpm;
  }
}

}  // namespace
