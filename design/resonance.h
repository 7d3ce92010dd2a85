#pragma once
// A mechanical resonance between the motor and its load, read from what the speed test logs
// at constant speed: the current reference's spectrum and the peak that names the resonance
// (design/notch_proposal.h places the notch for it).
//
// What the logs show: the same logs carry a tone that is no resonance at all. The encoder's
// counts make the loop hunt between neighbouring counts, and that limit cycle stands 15-20 dB
// over the spectrum's floor on a perfectly rigid shaft (about 290 Hz and its harmonic on the
// bundled drive). A coupling that the loop barely feels only moves that tone a little; one that
// it drives hard pulls the loop's oscillation to its own frequency and stands higher. Neither
// the tone's frequency nor the rigid loop model's run tells the two apart (the model hunts at
// another frequency than the drive), so the height over the floor does.

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

// The peak that names a resonance: the strongest bin above kLowestResonance_Hz standing this
// far over the floor (the median of those bins). The encoder's hunting on the rigid bundled
// drive stands 15-20 dB over that floor and is no resonance: a coupling that the loop drives
// hard enough to matter takes the loop's oscillation to itself and stands higher.
inline constexpr double kResonanceOverFloor_dB = 22.0;
// Below this the loop's own band and the profile's ramps live.
inline constexpr double kLowestResonance_Hz = 100.0;

struct Resonance {
  double frequency_hz = 0.0;
  double peak_db = 0.0;  // over the spectrum's floor
  // The rigid loop's gain at the frequency, times the peak's height over the floor: near 1
  // (0 dB) the resonance takes the margins away.
  double loop_gain_db = 0.0;
  bool limits_loop = false;
};

// The loop gain (dB) at the resonance from which it limits the loop: the gain margin's
// warning limit.
inline constexpr double kLimitingLoopGain_dB = -kGainMarginWarn_dB;

// The resonance that `spectrum` (of the current reference at constant speed) shows; nothing
// when no peak stands out. The peak's frequency is refined between its bins (a parabola
// through the levels of the peak bin and its neighbours).
std::optional<Resonance> FindResonance(const Spectrum& spectrum);
// Whether it limits the loop, from the rigid loop's gain |L| at its frequency.
void JudgeResonance(Resonance& resonance, double rigid_loop_gain);

// One line each for the terminal.
std::string DescribeResonance(const Resonance& resonance);

}  // namespace dcservo
