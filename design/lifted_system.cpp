#include "design/lifted_system.h"

#include <array>
#include <utility>
#include <vector>

namespace dcservo {

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

namespace open_loop_sweep {

// A complex number as (real, imaginary) in one vector register: a product is two
// multiplications of such pairs and one sum, where the library's operator takes six scalar
// operations and a blend of its real and imaginary results.
using Lane = double __attribute__((vector_size(16)));

Lane Swapped(Lane v) { return Lane{v[1], v[0]}; }

double Norm(Lane v) {
  const Lane squares = v * v;
  return squares[0] + squares[1];
}

// 1 / v through its squared size: the library's division scales against overflows that
// these sizes never reach.
Lane Reciprocal(Lane v, double norm) { return Lane{v[0], -v[1]} / Lane{norm, norm}; }

// A factor of many products, split once into (re, re) and (-im, im).
struct Factor {
  Lane re;
  Lane im;
};

Factor FactorOf(Lane f) { return {Lane{f[0], f[0]}, Lane{f[1], f[1]} * Lane{-1.0, 1.0}}; }

// f * q: (fr qr - fi qi, fr qi + fi qr), the library's operations for finite values. Adding the
// negated product subtracts it to the bit; a product taken the other way round, q * f, is the
// same to the bit too (its terms commute).
Lane Times(const Factor& f, Lane q) { return f.re * q + f.im * Swapped(q); }

// A row of z - H that the elimination has finished, from its pivot's column k on, as the back
// substitution reads it: the element after the pivot and the rest (rest[j] for the columns from
// k + 2, and the right-hand side in column n), which is a frequency's own eliminated row or,
// for a row that no step changed, -H itself (only the diagonal holds z, and it is never in the
// rest). Rows thus swap as a handful of values instead of element by element.
struct Solved {
  Lane next;
  Lane reciprocal;  // of the pivot
  const Lane* rest;
};

// Frequencies solved side by side: four hide most of the latency of each one's chain of
// divisions; more run out of registers.
inline constexpr int kSideBySide = 4;

// One sweep's -H, b and c, and a workspace for each frequency solved side by side.
struct Sweep {
  // One frequency's elimination.
  struct Frequency {
    std::vector<Lane> eliminated;  // n by n + 1: row k + 1 from column k + 2, made at step k
    std::vector<Solved> rows;  // the triangle that the elimination leaves
    std::vector<Factor> x;  // the solution
  };

  template <int S>
  void Solve(const double* omega, std::complex<double>* gain);

  double period_s = 0.0;
  long n = 0;
  // -H, row by row, each element with its zero imaginary part, and b as the last column
  std::vector<Lane> minus_h;
  std::vector<double> c;
  std::array<Frequency, kSideBySide> frequencies;
};

// Gaussian elimination of the subdiagonal with partial pivoting between the two rows, then
// back substitution, for S frequencies side by side: each frequency's operations are those of
// the elimination alone, in its order. Pivots compare by their squared size.
template <int S>
void Sweep::Solve(const double* omega, std::complex<double>* gain) {
  if (n == 0) {
    for (int s = 0; s < S; ++s) gain[s] = -std::complex<double>();
    return;
  }
  const Lane* h = minus_h.data();
  const long columns = n + 1;
  std::array<Solved*, S> rows;
  std::array<Lane*, S> eliminated;
  std::array<Factor*, S> solution;
  // Row k as step k - 1 left it: its pivot, the element after it and the rest.
  std::array<Lane, S> z, pivot, next;
  std::array<const Lane*, S> rest;
  for (int s = 0; s < S; ++s) {
    rows[s] = frequencies[s].rows.data();
    eliminated[s] = frequencies[s].eliminated.data();
    solution[s] = frequencies[s].x.data();
    const std::complex<double> zs = std::polar(1.0, omega[s] * period_s);
    z[s] = Lane{zs.real(), zs.imag()};
    pivot[s] = h[0] + z[s];
    next[s] = h[1];
    rest[s] = h;
  }
  for (long k = 0; k + 1 < n; ++k) {
    // Row k + 1 is as it started until this step: -H, its diagonal with z.
    const Lane* below = h + (k + 1) * columns;
    const Lane below_pivot = below[k], below_diagonal = below[k + 1];
    const double below_size = Norm(below_pivot);
    std::array<Factor, S> f;
    std::array<const Lane*, S> minuend, subtrahend;
    std::array<Lane*, S> into;
    for (int s = 0; s < S; ++s) {
      Lane upper_pivot = pivot[s], upper_next = next[s];
      const Lane* upper_rest = rest[s];
      Lane lower_pivot = below_pivot, lower_next = below_diagonal + z[s];
      const Lane* lower_rest = below;
      double size = Norm(upper_pivot);
      if (below_size > size) {
        std::swap(upper_pivot, lower_pivot);
        std::swap(upper_next, lower_next);
        std::swap(upper_rest, lower_rest);
        size = below_size;
      }
      const Lane reciprocal = Reciprocal(upper_pivot, size);
      rows[s][k] = {upper_next, reciprocal, upper_rest};
      f[s] = FactorOf(Times(FactorOf(lower_pivot), reciprocal));
      minuend[s] = lower_rest;
      subtrahend[s] = upper_rest;
      into[s] = eliminated[s] + (k + 1) * columns;
      // A squared size may underflow to zero: only a pivot of zero leaves row k + 1 as it is.
      // Its columns are still worked out below, with the others', into a row that nothing reads.
      if (size != 0.0 || upper_pivot[0] != 0.0 || upper_pivot[1] != 0.0) {
        pivot[s] = lower_next - Times(f[s], upper_next);
        rest[s] = into[s];
      } else {
        pivot[s] = lower_next;
        rest[s] = lower_rest;
      }
    }
    // The columns after the pivot's neighbour, and the right-hand side.
    for (long j = k + 2; j <= n; ++j)
      for (int s = 0; s < S; ++s) into[s][j] = minuend[s][j] - Times(f[s], subtrahend[s][j]);
    for (int s = 0; s < S; ++s) next[s] = rest[s][k + 2];
  }
  std::array<Lane, S> g{};
  for (long k = n - 1; k >= 0; --k) {
    std::array<Lane, S> sum;
    for (int s = 0; s < S; ++s) {
      if (k + 1 == n) {
        rows[s][k] = {Lane{}, Reciprocal(pivot[s], Norm(pivot[s])), rest[s]};
        sum[s] = rest[s][n];
      } else {
        sum[s] = rows[s][k].rest[n] - Times(solution[s][k + 1], rows[s][k].next);
      }
    }
    for (long j = k + 2; j < n; ++j)
      for (int s = 0; s < S; ++s) sum[s] -= Times(solution[s][j], rows[s][k].rest[j]);
    for (int s = 0; s < S; ++s) {
      const Lane xk = Times(FactorOf(sum[s]), rows[s][k].reciprocal);
      solution[s][k] = FactorOf(xk);
      g[s] += Lane{c[k], c[k]} * xk;
    }
  }
  // The controller's output answers what it was fed with the opposite sign: L = -G.
  for (int s = 0; s < S; ++s) gain[s] = {-g[s][0], -g[s][1]};
}

}  // namespace open_loop_sweep

struct OpenLoopSweep::Work : open_loop_sweep::Sweep {};

OpenLoopSweep::OpenLoopSweep(const Lifted& l) : work_(std::make_unique<Work>()) {
  Work& w = *work_;
  w.period_s = l.period_s;
  w.n = l.a.rows();
  if (w.n == 0) return;
  const Eigen::HessenbergDecomposition<Eigen::MatrixXd> hessenberg(l.a);
  const Eigen::MatrixXd q = hessenberg.matrixQ();
  const Eigen::MatrixXd h = hessenberg.matrixH();
  const Eigen::VectorXd b = q.transpose() * l.b;
  const Eigen::RowVectorXd c = l.c * q;
  const auto rows = static_cast<std::size_t>(w.n);
  const std::size_t columns = rows + 1;
  w.minus_h.resize(rows * columns);
  for (long i = 0; i < w.n; ++i) {
    open_loop_sweep::Lane* row = w.minus_h.data() + static_cast<std::size_t>(i) * columns;
    for (long j = 0; j < w.n; ++j) row[j] = open_loop_sweep::Lane{-h(i, j), 0.0};
    row[w.n] = open_loop_sweep::Lane{b(i), 0.0};
  }
  w.c.assign(c.data(), c.data() + w.n);
  for (open_loop_sweep::Sweep::Frequency& f : w.frequencies) {
    f.eliminated.resize(rows * columns);
    f.rows.resize(rows);
    f.x.resize(rows);
  }
}

OpenLoopSweep::~OpenLoopSweep() = default;

std::complex<double> OpenLoopSweep::At(double omega) {
  std::complex<double> gain;
  work_->Solve<1>(&omega, &gain);
  return gain;
}

std::vector<std::complex<double>> OpenLoopSweep::At(const std::vector<double>& omega) {
  std::vector<std::complex<double>> gain(omega.size());
  std::size_t i = 0;
  constexpr auto side_by_side = static_cast<std::size_t>(open_loop_sweep::kSideBySide);
  for (; i + side_by_side <= omega.size(); i += side_by_side)
    work_->Solve<open_loop_sweep::kSideBySide>(&omega[i], &gain[i]);
  for (; i < omega.size(); ++i) work_->Solve<1>(&omega[i], &gain[i]);
  return gain;
}

}  // namespace dcservo
