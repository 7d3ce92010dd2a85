#include "design/lifted_system.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace dcservo {

namespace {

std::complex<double> ReciprocalOfPivot(std::complex<double> z) {
  const double size = std::norm(z);
  return {z.real() / size, -z.imag() / size};
}

}  // namespace

Lifted WithoutUntouched(const Lifted& full) {
  const long n = full.a.rows();
  std::vector<long> kept;
  for (long j = 0; j < n; ++j) {
    Eigen::VectorXd unit = Eigen::VectorXd::Unit(n, j);
    const bool alone = full.a.col(j) == unit && full.a.row(j) == unit.transpose() &&
                       full.b(j) == 0.0 && full.c(j) == 0.0;
    if (!alone) kept.push_back(j);
  }
  Lifted reduced;
  reduced.period_s = full.period_s;
  const long m = static_cast<long>(kept.size());
  reduced.a.resize(m, m);
  reduced.b.resize(m);
  reduced.c.resize(m);
  for (long r = 0; r < m; ++r) {
    reduced.b(r) = full.b(kept[r]);
    reduced.c(r) = full.c(kept[r]);
    for (long c = 0; c < m; ++c) reduced.a(r, c) = full.a(kept[r], kept[c]);
  }
  return reduced;
}

OpenLoopSweep::OpenLoopSweep(const Lifted& l) : period_s_(l.period_s) {
  const long n = l.a.rows();
  if (n == 0) return;
  const Eigen::HessenbergDecomposition<Eigen::MatrixXd> hessenberg(l.a);
  const Eigen::MatrixXd q = hessenberg.matrixQ();
  h_ = hessenberg.matrixH();
  b_ = q.transpose() * l.b;
  c_ = l.c * q;
  m_.resize(n, n);
  x_.resize(n);
}

std::complex<double> OpenLoopSweep::At(double omega) {
  using Complex = std::complex<double>;
  const Complex z = std::polar(1.0, omega * period_s_);
  const long n = h_.rows();
  for (long j = 0; j < n; ++j) {
    // Only the Hessenberg band holds anything; the rest of m_ is never read.
    for (long i = 0; i <= std::min(j + 1, n - 1); ++i) m_(i, j) = -h_(i, j);
    m_(j, j) += z;
  }
  for (long j = 0; j < n; ++j) x_(j) = b_(j);
  // Gaussian elimination of the subdiagonal with partial pivoting between the two rows.
  // Pivots compare by their squared size and divide through their reciprocal: the library's
  // complex division and magnitude guard against overflows that these sizes never reach.
  for (long k = 0; k + 1 < n; ++k) {
    if (std::norm(m_(k + 1, k)) > std::norm(m_(k, k))) {
      for (long j = k; j < n; ++j) std::swap(m_(k, j), m_(k + 1, j));
      std::swap(x_(k), x_(k + 1));
    }
    if (m_(k, k) == 0.0) continue;
    const Complex f = m_(k + 1, k) * ReciprocalOfPivot(m_(k, k));
    for (long j = k + 1; j < n; ++j) m_(k + 1, j) -= f * m_(k, j);
    x_(k + 1) -= f * x_(k);
  }
  Complex g = 0.0;
  for (long k = n - 1; k >= 0; --k) {
    Complex sum = x_(k);
    for (long j = k + 1; j < n; ++j) sum -= m_(k, j) * x_(j);
    x_(k) = sum * ReciprocalOfPivot(m_(k, k));
    g += c_(k) * x_(k);
  }
  // The controller's output answers what it was fed with the opposite sign: L = -G.
  return -g;
}

}  // namespace dcservo
