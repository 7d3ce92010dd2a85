#pragma once
// The frequency response measured from a stepped sine on the current reference: per
// frequency the drive logs the injected current, the controllers' current reference, the
// motor current and the motor position; from them the plant (current to speed), the speed
// loop's open and closed loop and the current loop's closed loop, each with its coherence.
// Beside them the one loop model's curves at the same frequencies, and the margins of both.
//
// Each signal is fitted, block by block, with a sine and a cosine at the known frequency plus a
// straight line (the shaft's slow drift and any offset), so a block need not hold a whole
// number of periods. The blocks give the coherence: 1 when every block tells the same ratio,
// lower where the encoder's counts or a disturbance blur it.

#include <complex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "design/drive_model.h"
#include "dsp/biquad.h"

namespace dcservo {

// One run at one frequency as the drive logged it, in the drive's counts, `period_s` apart.
struct ExcitationLog {
  double frequency_hz = 0.0;
  double period_s = 0.0;
  std::vector<double> injection, current_reference, current, position;
};

struct BodePoint {
  double frequency_hz = 0.0;
  std::complex<double> response;
  double coherence = 1.0;  // 0..1; 1 for a model's point
  double MagnitudeDb() const;
  double PhaseDeg() const;  // -180 < phase <= 180
};

// The curves of one measurement, frequency by frequency.
struct BodeCurves {
  std::vector<BodePoint> plant;         // motor current (A) to motor speed (rad/s)
  std::vector<BodePoint> open_loop;     // the speed loop's, dimensionless
  std::vector<BodePoint> closed_loop;   // the speed loop's: current injected to the loop's answer
  std::vector<BodePoint> current_loop;  // the current loop's closed loop
};

// What a count is worth at the motor.
struct CountScales {
  double current_counts_per_A = 0.0;
  double position_counts_per_rad = 0.0;
};

// After a run's start the loops settle (the speed loop takes up its steady turn) for
// kSettleTime_s and kSettlePeriods of the sine, whichever is longer; the analysis leaves that
// much of the log out.
inline constexpr int kSettlePeriods = 2;
inline constexpr double kSettleTime_s = 0.1;
double SettleTime(double frequency_hz);

// The points of one run; nothing when the log is too short for two blocks after settling or
// holds no excitation.
struct MeasuredPoint {
  BodePoint plant, open_loop, closed_loop, current_loop;
};
std::optional<MeasuredPoint> AnalyseExcitation(const ExcitationLog& log, const CountScales& scales);

// `points` frequencies from `from_hz` to `to_hz`, evenly spaced on a logarithmic axis.
std::vector<double> LogSpacedFrequencies(double from_hz, double to_hz, int points);

// The model's curves at those frequencies: the plant (PlantResponse), the speed loop closed over the
// current loop as the drive runs them.
BodeCurves ModelCurves(const DriveModel& model, std::span<const double> frequency_hz);

// Margins read off an open loop's points (interpolated on the logarithmic frequency axis);
// nothing where the curve does not cross. Points with a coherence below kLeastCoherence are
// left out.
struct CurveMargins {
  std::optional<double> crossover_rad_s, phase_margin_deg, gain_margin_db;
};
inline constexpr double kLeastCoherence = 0.8;
CurveMargins MarginsOfCurve(std::span<const BodePoint> open_loop);

// The open loop's points with a filter added to the loop, as the drive runs it every
// `sampling_period_s`: what a notch placed on the measurement does to the measured margins.
std::vector<BodePoint> WithFilter(std::span<const BodePoint> open_loop,
                                  const BiquadCoefficients& filter, double sampling_period_s);

// Where the measured margins and the model's differ by more than these, the model does not
// hold for the drive.
inline constexpr double kMarginAgreement_deg = 3.0;
inline constexpr double kMarginAgreement_dB = 1.0;
// One line per margin that differs, saying which and by how much.
std::vector<std::string> CompareMargins(const CurveMargins& measured, const CurveMargins& model);

}  // namespace dcservo
