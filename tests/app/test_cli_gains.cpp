#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/app/cli_runner.h"

namespace {

TEST(CliGains, SyncShowsTheGainThatTheStoredMantissaGives) {
  const auto result =
      testing_support::RunDcservo("sync --set Kp_C_scl=0.75 --print KPI,SFTKPI,Kp_C_scl");
  ASSERT_EQ(result.exit_code, 0) << result.err;
  char expected_gain[64];
  std::snprintf(expected_gain, sizeof expected_gain, "%.17g", 24575.0 / 32767.0);
  EXPECT_EQ(result.out, "KPI=24575\nSFTKPI=0\nKp_C_scl=" + std::string(expected_gain) + "\n");
}

}  // namespace
