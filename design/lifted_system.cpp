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

OpenLoopSweep::OpenLoopSweep(const Lifted& l) : period_s_(l.period_s), n_(l.a.rows()) {
  if (n_ == 0) return;
  const Eigen::HessenbergDecomposition<Eigen::MatrixXd> hessenberg(l.a);
  const Eigen::MatrixXd q = hessenberg.matrixQ();
  const Eigen::MatrixXd h = hessenberg.matrixH();
  minus_h_.resize(static_cast<std::size_t>(n_ * n_));
  for (long i = 0; i < n_; ++i)
    for (long j = 0; j < n_; ++j) minus_h_[static_cast<std::size_t>(i * n_ + j)] = -h(i, j);
  b_ = q.transpose() * l.b;
  c_ = l.c * q;
  m_.resize(minus_h_.size());
  x_.resize(static_cast<std::size_t>(n_));
}

namespace {

using SweepComplex = std::complex<double>;

// a * b, as the library's operator computes it for finite values.
SweepComplex SweepProduct(SweepComplex a, SweepComplex b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

}  // namespace

std::complex<double> OpenLoopSweep::At(double omega) {
  const SweepComplex z = std::polar(1.0, omega * period_s_);
  const long n = n_;
  SweepComplex* m = m_.data();
  SweepComplex* x = x_.data();
  for (long i = 0; i < n; ++i) {
    // Only the Hessenberg band and what lies above it is ever read.
    SweepComplex* row = m + i * n;
    const double* minus_h = minus_h_.data() + i * n;
    for (long j = std::max(i - 1, 0L); j < n; ++j) row[j] = minus_h[j];
    row[i] += z;
    x[i] = b_(i);
  }
  // Gaussian elimination of the subdiagonal with partial pivoting between the two rows.
  // Pivots compare by their squared size and divide through their reciprocal: the library's
  // complex division and magnitude guard against overflows that these sizes never reach.
  for (long k = 0; k + 1 < n; ++k) {
    SweepComplex* upper = m + k * n;
    SweepComplex* lower = upper + n;
    if (std::norm(lower[k]) > std::norm(upper[k])) {
      for (long j = k; j < n; ++j) std::swap(upper[j], lower[j]);
      std::swap(x[k], x[k + 1]);
    }
    if (upper[k] == 0.0) continue;
    const SweepComplex f = SweepProduct(lower[k], ReciprocalOfPivot(upper[k]));
    for (long j = k + 1; j < n; ++j) lower[j] -= SweepProduct(f, upper[j]);
    x[k + 1] -= SweepProduct(f, x[k]);
  }
  SweepComplex g = 0.0;
  for (long k = n - 1; k >= 0; --k) {
    const SweepComplex* row = m + k * n;
    SweepComplex sum = x[k];
    for (long j = k + 1; j < n; ++j) sum -= SweepProduct(row[j], x[j]);
    x[k] = SweepProduct(sum, ReciprocalOfPivot(row[k]));
    g += c_(k) * x[k];
  }
  // The controller's output answers what it was fed with the opposite sign: L = -G.
  return -g;
}

}  // namespace dcservo
