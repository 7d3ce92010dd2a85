#pragma once
// A mechanical resonance between the motor and its load, read from what the speed test logs
// at constant speed: the current reference's spectrum and the peak that names the resonance
// (design/notch_proposal.h places the notch for it).
//
// What the logs show: the same logs carry tones that are no resonance at all. The encoder's
// counts make the loop hunt between neighbouring counts, a limit cycle near the frequency at
// which the loop's phase crosses -180 degrees (LoopMargins::phase_crossover_rad_s; on the rigid
// bundled drive the model puts it at 313 Hz and the drive hunts at 289 Hz, its harmonic at
// 578 Hz, 15-20 dB over the floor; behind the tuner's low pass on the speed feedback near
// 65 Hz, 47 dB over the floor, its harmonics up to 30 dB). Those tones are set aside; what stands
// out elsewhere is the coupling, where the loop drives it hard enough to ring.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "design/drive_model.h"

namespace dcservo {

// An averaged amplitude spectrum: per bin from 0 to half the sampling rate, the RMS amplitude
// in the signal's unit.
struct Spectrum {
  double resolution_hz = 0.0;
  std::vector<double> frequency_hz, amplitude;
  bool Empty() const { return amplitude.empty(); }
  // The level of bin `k` in dB of the signal's unit.
  double LevelDb(std::size_t k) const;
};

// Samples per segment of the averaged spectrum: about 8 Hz bins at the usual 2 kHz loop,
// and stretches of a quarter of a second give a few segments each.
inline constexpr std::size_t kSpectrumSegment = 256;

// Welch's average over every stretch (one stretch of constant speed each, sampled every
// `period_s`): Hann windows of `segment` samples overlapping by half, each stretch's mean
// removed. Stretches shorter than a segment are left out; nothing when none is long enough.
std::optional<Spectrum> AverageSpectrum(std::span<const std::vector<double>> stretches,
                                        double period_s,
                                        std::size_t segment = kSpectrumSegment);

// The peak that names a resonance: the strongest bin above kLowestResonance_Hz, off the
// loop's own hunting tones, standing this far over the floor (the median of those bins). A
// coupling that the loop barely feels moves the hunting tone by a few tens of hertz and stands
// 20 dB at most: one that the loop drives hard rings on its own and stands higher.
inline constexpr double kResonanceOverFloor_dB = 22.0;
// Below this the loop's own band and the profile's ramps live.
inline constexpr double kLowestResonance_Hz = 100.0;

// Where a hunting tone sits against the phase crossover: a sampled limit cycle takes a whole
// number of samples or so, at or a little below it (289 Hz for 313 Hz, 65 for 73 behind the
// low pass).
inline constexpr double kHuntingBelowCrossover = 0.8;
inline constexpr double kHuntingAboveCrossover = 1.1;
// A harmonic of the hunting tone stands no higher than the tone itself, give or take this.
inline constexpr double kHarmonicOverTone_dB = 3.0;
// The crossover is wanted to a few percent only: MarginsOf's sweep may be this coarse.
inline constexpr int kHuntingSweepPoints = 200;

struct Resonance {
  double frequency_hz = 0.0;
  double peak_db = 0.0;  // over the spectrum's floor
  // The rigid loop's gain at the frequency, times the peak's height over the floor: near 1
  // (0 dB) the resonance takes the margins away.
  double loop_gain_db = 0.0;
  bool limits_loop = false;
  double ring_A = 0.0;  // the peak bin's RMS: what the current spends ringing there
};

// The loop gain (dB) at the resonance from which it limits the loop: the gain margin's
// warning limit.
inline constexpr double kLimitingLoopGain_dB = -kGainMarginWarn_dB;
// A ring this many steps of the current converter high (RMS) limits the loop whatever the
// rigid loop's gain there says: the rigid loop misses the resonance's own gain, which is what
// the loop feels. A coupling that the loop leaves alone shows a few steps at most (800 Hz at a
// damping of 0.1: 3-4 steps of 20 mA on the bundled drive); one that the loop drives rings
// with twenty and more (800 Hz at 0.01: 0.46 A, 24 steps, while the rigid loop's gain with the
// peak said -12 dB), and a notch took that ring down over a hundred times.
inline constexpr double kLimitingRing_steps = 10.0;

// The resonance that `spectrum` (of the current reference at constant speed) shows; nothing
// when no peak stands out. With `phase_crossover_hz`, the loop's phase crossover, its hunting
// tone and the harmonics of it (folded about the spectrum's Nyquist frequency) are set aside:
// a bin within kHuntingBelowCrossover..kHuntingAboveCrossover of the crossover, or of a
// multiple of it that stands no higher than that tone (kHarmonicOverTone_dB). The peak's
// frequency is refined between its bins (a parabola through the levels of the peak bin and its
// neighbours).
std::optional<Resonance> FindResonance(const Spectrum& spectrum,
                                       std::optional<double> phase_crossover_hz = std::nullopt);
// Whether it limits the loop: the rigid loop's gain |L| at its frequency with the peak's
// height at or above kLimitingLoopGain_dB, or a ring of kLimitingRing_steps of the current
// converter's step `converter_step_A` (0: unknown, the gain alone judges).
void JudgeResonance(Resonance& resonance, double rigid_loop_gain, double converter_step_A);

// One line each for the terminal.
std::string DescribeResonance(const Resonance& resonance);

}  // namespace dcservo
