#pragma once
// Real polynomials as the loop and filter analysis needs them: products, values on the
// unit circle, and roots.

#include <complex>
#include <span>
#include <vector>

namespace dcservo {

// Coefficients by ascending power of the variable (element k multiplies x^k).
using Polynomial = std::vector<double>;

Polynomial Multiply(std::span<const double> a, std::span<const double> b);
Polynomial Add(std::span<const double> a, std::span<const double> b);
std::complex<double> Evaluate(std::span<const double> p, std::complex<double> x);

// Roots of sum p[k] x^k, with multiplicity; leading zero coefficients are dropped.
std::vector<std::complex<double>> Roots(std::span<const double> p);

// The roots of a transfer function written in powers of z^-1 (element k multiplies z^-k),
// as points of the z plane.
std::vector<std::complex<double>> RootsInZ(std::span<const double> p_in_inverse_z);

double LargestMagnitude(std::span<const std::complex<double>> roots);

}  // namespace dcservo
