#include "design/polynomial.h"

#include <algorithm>
#include <cmath>

namespace dcservo {
namespace {

using Complex = std::complex<double>;

// Both roots of x^2 + b x + c without the cancellation of the schoolbook formula.
void QuadraticRoots(double b, double c, std::vector<Complex>& out) {
  const double disc = b * b - 4.0 * c;
  if (disc >= 0.0) {
    const double q = -0.5 * (b + std::copysign(std::sqrt(disc), b));
    if (q == 0.0) {
      out.insert(out.end(), {0.0, 0.0});
      return;
    }
    out.push_back(q);
    out.push_back(c / q);
    return;
  }
  const double im = 0.5 * std::sqrt(-disc);
  out.push_back({-0.5 * b, im});
  out.push_back({-0.5 * b, -im});
}

// Durand-Kerner on a monic polynomial (ascending, monic[n] == 1), then Newton polishing.
// The loops and filters analysed here have degree five at most, where this converges in a
// few dozen sweeps.
void IteratedRoots(const std::vector<double>& monic, std::vector<Complex>& out) {
  const std::size_t n = monic.size() - 1;
  double bound = 1.0;
  for (std::size_t k = 0; k < n; ++k) bound = std::max(bound, 1.0 + std::abs(monic[k]));
  std::vector<Complex> z(n);
  const Complex seed(0.4, 0.9);
  Complex w = 1.0;
  for (std::size_t k = 0; k < n; ++k) {
    w *= seed;
    z[k] = w * bound;
  }
  for (int sweep = 0; sweep < 2000; ++sweep) {
    double largest_step = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
      Complex denominator = 1.0;
      for (std::size_t j = 0; j < n; ++j) {
        if (j != k) denominator *= z[k] - z[j];
      }
      if (denominator == 0.0) denominator = 1e-300;
      const Complex step = Evaluate(monic, z[k]) / denominator;
      z[k] -= step;
      largest_step = std::max(largest_step, std::abs(step) / (1.0 + std::abs(z[k])));
    }
    if (largest_step < 1e-15) break;
  }
  Polynomial derivative(n);
  for (std::size_t k = 1; k <= n; ++k) derivative[k - 1] = monic[k] * static_cast<double>(k);
  for (Complex& root : z) {
    for (int i = 0; i < 3; ++i) {
      const Complex slope = Evaluate(derivative, root);
      if (std::abs(slope) < 1e-300) break;
      const Complex next = root - Evaluate(monic, root) / slope;
      if (std::abs(Evaluate(monic, next)) >= std::abs(Evaluate(monic, root))) break;
      root = next;
    }
    if (std::abs(root.imag()) < 1e-12 * (1.0 + std::abs(root.real()))) root.imag(0.0);
  }
  out.insert(out.end(), z.begin(), z.end());
}

}  // namespace

Polynomial Multiply(std::span<const double> a, std::span<const double> b) {
  if (a.empty() || b.empty()) return {};
  Polynomial out(a.size() + b.size() - 1, 0.0);
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (std::size_t j = 0; j < b.size(); ++j) out[i + j] += a[i] * b[j];
  }
  return out;
}

Polynomial Add(std::span<const double> a, std::span<const double> b) {
  Polynomial out(std::max(a.size(), b.size()), 0.0);
  for (std::size_t i = 0; i < a.size(); ++i) out[i] += a[i];
  for (std::size_t i = 0; i < b.size(); ++i) out[i] += b[i];
  return out;
}

std::complex<double> Evaluate(std::span<const double> p, std::complex<double> x) {
  Complex value = 0.0;
  for (std::size_t k = p.size(); k-- > 0;) value = value * x + p[k];
  return value;
}

std::vector<std::complex<double>> Roots(std::span<const double> p) {
  std::size_t top = p.size();
  while (top > 0 && p[top - 1] == 0.0) --top;
  std::vector<Complex> roots;
  if (top <= 1) return roots;
  std::size_t low = 0;
  while (p[low] == 0.0) {
    roots.push_back(0.0);
    ++low;
  }
  std::vector<double> monic(p.begin() + low, p.begin() + top);
  const double lead = monic.back();
  for (double& c : monic) c /= lead;
  const std::size_t degree = monic.size() - 1;
  if (degree == 1) {
    roots.push_back(-monic[0]);
  } else if (degree == 2) {
    QuadraticRoots(monic[1], monic[0], roots);
  } else if (degree > 2) {
    IteratedRoots(monic, roots);
  }
  return roots;
}

std::vector<std::complex<double>> RootsInZ(std::span<const double> p_in_inverse_z) {
  // z^n p(z^-1) has the coefficients in the opposite order; zeros at the z^-n end only
  // lengthen the list and would show as poles at the origin that are not there.
  std::size_t n = p_in_inverse_z.size();
  while (n > 0 && p_in_inverse_z[n - 1] == 0.0) --n;
  std::vector<double> in_z(p_in_inverse_z.rend() - static_cast<std::ptrdiff_t>(n),
                           p_in_inverse_z.rend());
  return Roots(in_z);
}

double LargestMagnitude(std::span<const std::complex<double>> roots) {
  double largest = 0.0;
  for (const Complex& r : roots) largest = std::max(largest, std::abs(r));
  return largest;
}

}  // namespace dcservo
