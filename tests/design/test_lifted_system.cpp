#include "design/lifted_system.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace dcservo {
namespace {

Lifted LiftedOf(const std::vector<std::vector<double>>& a, double period_s) {
  const long n = static_cast<long>(a.size());
  Lifted l;
  l.period_s = period_s;
  l.a.resize(n, n);
  l.b.resize(n);
  l.c.resize(n);
  for (long i = 0; i < n; ++i) {
    for (long j = 0; j < n; ++j) l.a(i, j) = a[i][j];
    l.b(i) = 1.0 + 0.25 * static_cast<double>(i);
    l.c(i) = 0.5 - 0.125 * static_cast<double>(i);
  }
  return l;
}

// -c (zI - A)^-1 b by a dense solve, the loop gain's definition.
std::complex<double> DenseGain(const Lifted& l, double omega) {
  const std::complex<double> z = std::polar(1.0, omega * l.period_s);
  const Eigen::MatrixXcd m =
      z * Eigen::MatrixXcd::Identity(l.a.rows(), l.a.cols()) - l.a.cast<std::complex<double>>();
  const Eigen::VectorXcd x = m.partialPivLu().solve(l.b.cast<std::complex<double>>());
  return -(l.c.cast<std::complex<double>>() * x)(0);
}

bool SameBits(std::complex<double> a, std::complex<double> b) {
  return std::bit_cast<std::uint64_t>(a.real()) == std::bit_cast<std::uint64_t>(b.real()) &&
         std::bit_cast<std::uint64_t>(a.imag()) == std::bit_cast<std::uint64_t>(b.imag());
}

// The frequencies swept side by side give each the bits it gets alone, whichever of them swaps
// its rows or meets a zero pivot, and the gain the dense solve gives.
TEST(OpenLoopSweep, FrequenciesSideBySideAnswerAsAloneAndAsADenseSolve) {
  struct Case {
    const char* name;
    std::vector<std::vector<double>> a;
  };
  const Case cases[] = {
      {"one state", {{0.9}}},
      {"two states", {{0.8, 0.3}, {-1.6, 0.7}}},
      // The subdiagonal outweighs z - a(k, k) at some frequencies and not at others.
      {"five states",
       {{0.95, 0.2, -0.1, 0.05, 0.3},
        {1.7, 0.4, 0.6, -0.2, 0.1},
        {-0.3, 0.9, -0.5, 0.8, 0.2},
        {0.6, -0.4, 1.2, 0.1, -0.7},
        {0.2, 0.5, -0.9, 1.4, 0.6}}},
      // Already Hessenberg with a zero below the first pivot, which z = 1 makes zero: that
      // step eliminates nothing at zero frequency.
      {"zero pivot", {{1.0, 0.5, 0.2}, {0.0, 0.3, 0.4}, {0.0, 0.6, -0.2}}},
  };
  const double period_s = 1e-3;
  std::vector<double> omega;
  for (int k = 0; k <= 40; ++k) omega.push_back(std::numbers::pi / period_s * k / 40.0);
  for (const Case& c : cases) {
    const Lifted l = LiftedOf(c.a, period_s);
    OpenLoopSweep sweep(l);
    const std::vector<std::complex<double>> swept = sweep.At(omega);
    ASSERT_EQ(swept.size(), omega.size());
    for (std::size_t k = 0; k < omega.size(); ++k) {
      const std::complex<double> alone = sweep.At(omega[k]);
      EXPECT_TRUE(SameBits(swept[k], alone))
          << c.name << " at " << omega[k] << ": " << swept[k] << " and " << alone;
      if (!std::isfinite(alone.real())) continue;
      const std::complex<double> dense = DenseGain(l, omega[k]);
      EXPECT_LT(std::abs(alone - dense), 1e-9 * std::abs(dense)) << c.name << " at " << omega[k];
    }
  }
}

}  // namespace
}  // namespace dcservo
