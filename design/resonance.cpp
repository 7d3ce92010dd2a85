#include "design/resonance.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

#include <unsupported/Eigen/FFT>

namespace dcservo {
namespace {

// A periodic Hann window: its sum is the coherent gain that a sine on a bin is read through.
std::vector<double> HannWindow(std::size_t n) {
  std::vector<double> w(n);
  for (std::size_t i = 0; i < n; ++i) {
    w[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                 static_cast<double>(n));
  }
  return w;
}

// Adds one segment's power per bin, windowed and scaled so that a sine of RMS value A centred
// on a bin reads A^2 there.
class SegmentPower {
 public:
  explicit SegmentPower(std::size_t n) : window_(HannWindow(n)), windowed_(n) {
    for (double w : window_) window_sum_ += w;
    fft_.SetFlag(Eigen::FFT<double>::HalfSpectrum);
  }

  void Add(std::span<const double> x, double mean, std::vector<double>& power) {
    for (std::size_t i = 0; i < x.size(); ++i) windowed_[i] = (x[i] - mean) * window_[i];
    fft_.fwd(bins_, windowed_);
    for (std::size_t k = 0; k < power.size(); ++k) {
      // A sine of peak A reads A/2 at its bin through the window's coherent gain; RMS A/sqrt2.
      const double peak = 2.0 * std::abs(bins_[k]) / window_sum_;
      power[k] += peak * peak / 2.0;
    }
  }

 private:
  std::vector<double> window_;
  double window_sum_ = 0.0;
  std::vector<double> windowed_;
  std::vector<std::complex<double>> bins_;
  Eigen::FFT<double> fft_;
};

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

}  // namespace

double Spectrum::LevelDb(std::size_t k) const {
  return 20.0 * std::log10(std::max(amplitude[k], 1e-300));
}

std::optional<Spectrum> AverageSpectrum(std::span<const std::vector<double>> stretches,
                                        double period_s, std::size_t segment) {
  if (segment < 8 || !(period_s > 0.0)) return std::nullopt;
  const std::size_t bins = segment / 2 + 1;
  std::vector<double> power(bins, 0.0);
  SegmentPower segment_power(segment);
  int segments = 0;
  for (const std::vector<double>& s : stretches) {
    if (s.size() < segment) continue;
    double mean = 0.0;
    for (double v : s) mean += v;
    mean /= static_cast<double>(s.size());
    for (std::size_t start = 0; start + segment <= s.size(); start += segment / 2) {
      segment_power.Add(std::span(s).subspan(start, segment), mean, power);
      ++segments;
    }
  }
  if (segments == 0) return std::nullopt;
  Spectrum out;
  out.resolution_hz = 1.0 / (period_s * static_cast<double>(segment));
  for (std::size_t k = 0; k < bins; ++k) {
    out.frequency_hz.push_back(static_cast<double>(k) * out.resolution_hz);
    out.amplitude.push_back(std::sqrt(power[k] / segments));
  }
  return out;
}

}  // namespace dcservo

namespace dcservo {

namespace {

// Past this the windows of the hunting tone's harmonics cover the whole band.
constexpr int kHighestHarmonic = 8;

// The loop's hunting tone and its harmonics, as a spectrum shows them.
class HuntingTones {
 public:
  HuntingTones(const Spectrum& s, double crossover_hz)
      : s_(s), crossover_hz_(crossover_hz), sample_rate_hz_(2.0 * s.frequency_hz.back()) {
    for (std::size_t k = 0; k < s.amplitude.size(); ++k)
      if (HarmonicAt(s.frequency_hz[k]) == 1) tone_ = std::max(tone_, s.amplitude[k]);
  }

  bool Own(std::size_t k) const {
    const int n = HarmonicAt(s_.frequency_hz[k]);
    if (n <= 1) return n == 1;
    return s_.amplitude[k] <= tone_ * std::pow(10.0, kHarmonicOverTone_dB / 20.0);
  }

 private:
  // The lowest harmonic whose window holds `hz` or one of its images about the sampling
  // rate; 0 for none.
  int HarmonicAt(double hz) const {
    const double lowest = kHuntingBelowCrossover * crossover_hz_;
    const double highest = kHuntingAboveCrossover * crossover_hz_;
    int found = 0;
    for (int m = 0; m * sample_rate_hz_ - hz <= kHighestHarmonic * highest; ++m) {
      for (double image : {m * sample_rate_hz_ + hz, m * sample_rate_hz_ - hz}) {
        if (!(image > 0.0)) continue;
        const int n = std::max(1, static_cast<int>(std::ceil(image / highest)));
        if (n <= kHighestHarmonic && n * lowest <= image && (found == 0 || n < found))
          found = n;
      }
    }
    return found;
  }

  const Spectrum& s_;
  double crossover_hz_, sample_rate_hz_;
  double tone_ = 0.0;
};

// A coupling that rings hard rings with harmonics, and one of them (or its image about the
// sampling rate) may stand higher than the ring itself; near the Nyquist frequency the ring's
// own folded harmonic sits near half of it. A peak that may be the 2nd or 3rd harmonic of a
// bin standing out by this much less than a resonance names nothing: which of the two is the
// coupling the spectrum cannot tell.
constexpr double kRingUnderItsHarmonic_dB = 6.0;

bool MayBeAHarmonic(const Spectrum& s, std::size_t peak, double floor,
                    const std::optional<HuntingTones>& hunting) {
  const double sample_rate_hz = 2.0 * s.frequency_hz.back();
  const double least =
      floor * std::pow(10.0, (kResonanceOverFloor_dB - kRingUnderItsHarmonic_dB) / 20.0);
  for (int n : {2, 3}) {
    for (double image : {s.frequency_hz[peak], sample_rate_hz - s.frequency_hz[peak]}) {
      const double hz = image / n;
      const auto k = static_cast<std::size_t>(std::lround(hz / s.resolution_hz));
      if (hz < kLowestResonance_Hz || k + 1 >= s.amplitude.size()) continue;
      for (std::size_t j = k - 1; j <= k + 1; ++j) {
        const bool the_peak_itself = j + 1 >= peak && j <= peak + 1;
        if (!the_peak_itself && !(hunting && hunting->Own(j)) && s.amplitude[j] >= least)
          return true;
      }
    }
  }
  return false;
}

}  // namespace

std::optional<Resonance> FindResonance(const Spectrum& s, std::optional<double> phase_crossover_hz) {
  std::size_t first = 0;
  while (first < s.frequency_hz.size() && s.frequency_hz[first] < kLowestResonance_Hz) ++first;
  if (first + 3 > s.amplitude.size()) return std::nullopt;
  const std::vector<double> band(s.amplitude.begin() + static_cast<std::ptrdiff_t>(first),
                                 s.amplitude.end());
  const double floor = Median(band);
  std::optional<HuntingTones> hunting;
  if (phase_crossover_hz && *phase_crossover_hz > 0.0) hunting.emplace(s, *phase_crossover_hz);
  std::optional<std::size_t> strongest;
  for (std::size_t k = first; k < s.amplitude.size(); ++k) {
    if (hunting && hunting->Own(k)) continue;
    if (!strongest || s.amplitude[k] > s.amplitude[*strongest]) strongest = k;
  }
  if (!strongest || !(floor > 0.0) ||
      20.0 * std::log10(s.amplitude[*strongest] / floor) < kResonanceOverFloor_dB)
    return std::nullopt;
  const std::size_t peak = *strongest;
  if (MayBeAHarmonic(s, peak, floor, hunting)) return std::nullopt;
  Resonance r;
  r.frequency_hz = s.frequency_hz[peak];
  if (peak > 0 && peak + 1 < s.amplitude.size()) {
    const double a = s.LevelDb(peak - 1), b = s.LevelDb(peak), c = s.LevelDb(peak + 1);
    const double curvature = a - 2.0 * b + c;
    if (curvature < 0.0) r.frequency_hz += 0.5 * (a - c) / curvature * s.resolution_hz;
  }
  r.peak_db = 20.0 * std::log10(s.amplitude[peak] / floor);
  r.ring_A = s.amplitude[peak];
  return r;
}

void JudgeResonance(Resonance& r, double rigid_loop_gain, double converter_step_A) {
  r.loop_gain_db = 20.0 * std::log10(std::max(rigid_loop_gain, 1e-12)) + r.peak_db;
  const bool rings = converter_step_A > 0.0 && r.ring_A >= kLimitingRing_steps * converter_step_A;
  r.limits_loop = r.loop_gain_db >= kLimitingLoopGain_dB || rings;
}

std::string DescribeResonance(const Resonance& r) {
  char text[240];
  std::snprintf(text, sizeof text,
                "at %.0f Hz, %.1f dB over the current spectrum's floor, ringing at %.3g A RMS; "
                "loop gain with it %.1f dB: %s",
                r.frequency_hz, r.peak_db, r.ring_A, r.loop_gain_db,
                r.limits_loop ? "it limits the loop (tune speed --notch)"
                              : "it does not limit the loop");
  return text;
}

}  // namespace dcservo
