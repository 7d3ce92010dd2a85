#pragma once
// A motor coupled to its load through a compliant shaft, identified from the measured plant
// (motor current to motor speed): the total inertia from the low frequencies, where the two
// masses move as one, and where the curve leaves K / (J s), the coupling's anti-resonance
// (the load standing still while the motor swings against the shaft) below its resonance
// (both masses swinging against each other).
//
// Normalised by K / (J s), the plant is
//   G(s) = (1 + 2 zeta_a s / w_a + s^2 / w_a^2) / (1 + 2 zeta_r s / w_r + s^2 / w_r^2),
// with w_a^2 = k / Jload and w_r^2 = k J / (Jmotor Jload). Its four coefficients are fitted
// by linear least squares on G D = N, weighted again by the last fit's 1 / |D| (so the points
// near the resonance do not swamp the rest) a few times.

#include <optional>
#include <span>

#include "design/frequency_response.h"

namespace dcservo {

struct TwoMassPlant {
  double total_inertia_kgm2 = 0.0;
  double motor_inertia_kgm2 = 0.0, load_inertia_kgm2 = 0.0;
  double stiffness_Nm_per_rad = 0.0, damping_Nm_s_per_rad = 0.0;
  double resonance_hz = 0.0, anti_resonance_hz = 0.0;
  double damping_ratio = 0.0;  // of the resonance
  double confidence = 0.0;     // how well the model follows the points it was fitted on
};

struct PlantIdentification {
  double total_inertia_kgm2 = 0.0;
  double inertia_confidence = 0.0;
  std::optional<TwoMassPlant> coupling;  // none on a rigid drive
};

// A coupling is named where the normalised plant rises this far above its low-frequency
// level and has fallen this far below it at a lower frequency.
inline constexpr double kCouplingPeak_dB = 6.0;
inline constexpr double kCouplingDip_dB = -3.0;

// From the measured plant and the motor's torque constant; nothing without two coherent
// points.
std::optional<PlantIdentification> IdentifyPlant(std::span<const BodePoint> plant,
                                                 double torque_constant_Nm_per_A);

// The coupled plant's response at `frequency_hz`, normalised by K / (J s).
std::complex<double> TwoMassShape(const TwoMassPlant& plant, double frequency_hz);

// How closely a fit must follow its points for the loop model to take the coupling it found.
inline constexpr double kConfidentFit = 0.8;

// The coupling as the loop model takes it (design/drive_model.h); nothing on a rigid drive or
// where the fit is less sure than kConfidentFit.
std::optional<ShaftCoupling> ConfidentCoupling(const PlantIdentification& plant);

}  // namespace dcservo
