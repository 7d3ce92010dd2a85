#pragma once
// The current spectrum that the last speed run of this session measured, kept for the views
// that place filters after the test has closed (the filters dialog, opened from the drive
// setup), and a spectrum's levels read on another frequency axis than its bins.
//
// Only a spectrum logged at the speed loop's own rate is kept: a slower log folds what rings
// above its Nyquist frequency onto a lower one (an 800 Hz coupling reads at 200 Hz in a log at
// 1 kHz), and a notch placed where the folded peak shows would miss the resonance and still
// cost the loop its phase.

#include <optional>
#include <span>
#include <vector>

#include "design/resonance.h"
#include "host/zel_setup.h"

namespace dcservo {

struct MeasuredSpectrum {
  Spectrum current;  // of the current reference at constant speed, A RMS per bin
  std::optional<Resonance> resonance;
};

// Whether the spectrum's bins reach the Nyquist frequency of a loop sampled every
// `period_s`: it was logged at that loop's rate.
bool AtLoopRate(const Spectrum& spectrum, double period_s);

// What the newest speed run of `setup` measured: its spectrum when at the speed loop's rate
// (Ts_S), else nothing, which forgets an earlier run's (the drive may have changed since).
void RememberMeasuredSpectrum(const CZel_Setup& setup, const std::optional<Spectrum>& spectrum,
                              const std::optional<Resonance>& resonance);
// The spectrum that the newest speed run of `setup` left, if any. One setup is edited at a
// time: another setup's run forgets it.
std::optional<MeasuredSpectrum> LastMeasuredSpectrum(const CZel_Setup& setup);
void ForgetMeasuredSpectrum();

// The spectrum's level in dB of 1 A at each of `frequency_hz`, straight between the levels of
// its bins (as a plot joins them); below its first bin above 0 Hz (the mean, taken out) and
// past its last, the level of the nearest of those.
std::vector<double> SpectrumLevelsDb(const Spectrum& spectrum, std::span<const double> frequency_hz);
// `grid` with the spectrum's bins between its ends added, in order: a peak one bin wide is
// drawn at its height however coarse the grid is there.
std::vector<double> WithSpectrumBins(std::vector<double> grid, const Spectrum& spectrum);
// The ripple at `frequency_hz`: the largest bin within one bin of it (a tone between two bins
// spreads over both through the window), A RMS. 0 for an empty spectrum.
double AmplitudeNear(const Spectrum& spectrum, double frequency_hz);

}  // namespace dcservo
