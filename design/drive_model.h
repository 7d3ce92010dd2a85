#pragma once
// The one model of the drive's loops that every prediction, margin and predicted figure
// comes from. It runs what the firmware runs, PWM period by PWM period, in floating point:
// the current loop every CLPER periods, its command taking effect half a period after the
// current was sampled; the speed and position loops every SLPER periods (or in the fast loop),
// the speed measured as a difference of encoder positions; the biquads at their places with
// their quantised slots; the output filter, the feedforwards and every limit; the converter
// and encoder steps when asked. The motor is the setup's R, L, K and Jt.
//
// It reads the chip parameters that the drive reads, from the setup. The simulated drive
// compiles the same registers on its own, in fixed point: the two are independent readings,
// and a test holds them to each other.
//
// Linear questions (stability, margins) are answered exactly for this periodic system: the
// model is lifted to the loop's own sampling period (one transition matrix over the period)
// and its eigenvalues and frequency response come from that matrix.

#include <complex>
#include <optional>
#include <string>
#include <vector>

#include "design/loop_response.h"
#include "design/shaft_coupling.h"
#include "dsp/biquad.h"
#include "host/zel_setup.h"

namespace dcservo {

enum class ModelStructure { Current, Speed, PositionOverSpeed, PositionOverCurrent };

enum class SpeedSensor { Encoder, Tacho, TachoAndLoadEncoder };

struct DriveModel {
  // Timing.
  double pwm_period_s = 5e-5;
  int clper = 1, slper = 10;
  bool loops_in_fast_loop = false;
  // Conversions between the drive's counts and SI units at the motor.
  double current_counts_per_A = 0.0;
  double volts_per_count = 0.0;             // of the PWM command
  double position_counts_per_rad = 0.0;     // what the position loop counts
  double speed_counts_per_rad_s = 0.0;      // what the speed loop counts (per slow sample)
  double current_step_counts = 64.0;        // one step of the current converter
  SpeedSensor sensor = SpeedSensor::Encoder;
  double tacho_per_encoder = 1.0;
  // The motor and its load.
  double R = 0.0, L = 0.0, K = 0.0, J = 0.0;
  std::optional<ShaftCoupling> coupling;  // none: the motor and its load one rigid mass
  // Current loop: gains per sample on counts, limits in counts, output filter (1: none).
  double kpi = 0.0, kii = 0.0, sat_iq = 32767.0, sat_pwm = 32767.0, filter_q = 1.0;
  double load_feedforward = 0.0;
  // Speed loop.
  double kps = 0.0, kis = 0.0, sat_s = 32767.0, imax_s = 32767.0;
  // Position loop.
  double kpp = 0.0, kip = 0.0, kdp = 0.0, kdfp = 1.0, sat_p = 32767.0, imax_p = 32767.0;
  // Feedforwards.
  double kffs = 0.0, kffa = 0.0;
  // The biquads at their three places, in slot order.
  std::vector<BiquadCoefficients> speed_reference_filters, current_reference_filters,
      speed_feedback_filters;

  double FastPeriod() const { return pwm_period_s * clper; }
  double SlowPeriod() const { return pwm_period_s * slper; }
  // The period at which the speed and position loops compute.
  double OuterPeriod() const { return loops_in_fast_loop ? FastPeriod() : SlowPeriod(); }
  bool operator==(const DriveModel&) const = default;
};

// What a setup says of its drive: the model, or why it gives none. The query reports nothing
// to the host, whatever the setup lacks; a caller that talks to the user says what it needs.
struct DriveModelQuery {
  std::optional<DriveModel> model;
  std::string why;  // empty when there is a model
  // The first of the motor's parameters that the setup lacks: without it there is no model.
  std::string missing_motor;
  // The parameters that the scales under the model read and the setup lacks, each once: each
  // read as 0, as the host's lookup has it, and the model is built all the same.
  std::vector<std::string> missing_scale_inputs;
};
DriveModelQuery QueryDriveModel(CZel_Setup& setup);
// The same as a model or nothing, with the reason in `why`.
std::optional<DriveModel> DriveModelOf(CZel_Setup& setup, std::string* why = nullptr);
// DriveModelOf with the host told of each scale input that the setup lacks, as a reporting
// lookup tells it: for a caller whose user must hear that the model rests on a broken setup.
std::optional<DriveModel> ReportedDriveModelOf(CZel_Setup& setup, std::string* why = nullptr);

// The motor's speed (rad/s) per ampere of motor current at `omega_rad_s`: K / (J s), shaped by
// the coupling where there is one.
std::complex<double> PlantResponse(const DriveModel& model, double omega_rad_s);

// The structure the setup's control mode closes.
ModelStructure StructureOf(CZel_Setup& setup);
ModelStructure StructureOfLoop(CZel_Setup& setup, TunedLoop loop);

// What a test program does to the loops, run through the model.
struct ModelRun {
  ModelStructure structure = ModelStructure::Current;
  bool shaft_blocked = false;
  bool quantised = true;  // converter and encoder steps, integer registers
  // Limits that the test puts in place of the chip's, counts; 0 keeps the chip's.
  double current_limit = 0.0;
  double speed_limit = 0.0;
  // Current structure: the current command per fast sample. Otherwise the program's
  // increment of the reference per outer-loop sample (speed counts per sample for the speed
  // structure, position counts for the position structures), as the profile writes it.
  std::vector<double> reference;
  bool operator==(const ModelRun&) const = default;
};

struct ModelTrace {
  double period_s = 0.0;  // between samples: the fast loop for a current run, else outer
  // Per sample, as the drive logs them: the reference, the measured response (current
  // counts, speed counts per sample or position counts), the current reference and the
  // motor current (counts).
  std::vector<double> reference, response, current_reference, current;
  // Samples at which the current reference sat at its limit.
  std::vector<bool> current_saturated;
};

// The last few answers are kept: a test predicts its run when its gains are tuned and again
// when it starts, with the same gains.
ModelTrace SimulateRun(const DriveModel& model, const ModelRun& run);

// Stability margins of one loop, its outer loops open and its inner loops closed.
struct LoopMargins {
  double sampling_period_s = 0.0;
  std::optional<double> crossover_rad_s;  // open-loop gain 1; none when it never gets there
  std::optional<double> phase_margin_deg;
  std::optional<double> gain_margin_db;   // none when the phase never reaches -180 degrees
  // Where the phase crosses -180 degrees with the gain margin above: the frequency at which
  // the loop hunts between a sensor's steps (design/resonance.h).
  std::optional<double> phase_crossover_rad_s;
  std::optional<double> bandwidth_rad_s;  // closed loop -3 dB
  double pole_radius = 0.0;               // largest closed-loop pole, |z| at its period
  // The largest |1 / (1 + L)|: how much the closed loop amplifies what enters at its sensor
  // (a speed count's jump, say) at the worst frequency.
  double peak_sensitivity = 1.0;
  std::vector<std::complex<double>> poles;
  bool stable = false;
};

// Nothing when the setup's structure does not close this loop in a way the model can lift
// (the slow loop's period not a whole number of fast periods).
// `points`: of the logarithmic sweep that finds the crossovers; a search that asks many
// times may take fewer. The last few answers are kept: a run's prediction, its diagnosis and
// its report ask about the same gains.
inline constexpr int kMarginSweepPoints = 800;
std::optional<LoopMargins> MarginsOf(const DriveModel& model, ModelStructure structure,
                                     TunedLoop loop, int points = kMarginSweepPoints);

// The open loop's frequency response of one loop (as MarginsOf breaks it), at `omega_rad_s`.
std::vector<std::complex<double>> OpenLoopFrequencyResponse(const DriveModel& model,
                                                            ModelStructure structure,
                                                            TunedLoop loop,
                                                            const std::vector<double>& omega_rad_s);

// What a loop must keep, and what only deserves a word.
inline constexpr double kPhaseMarginWarn_deg = 45.0;
inline constexpr double kGainMarginWarn_dB = 6.0;
inline constexpr double kPhaseMarginFail_deg = 30.0;
inline constexpr double kGainMarginFail_dB = 4.0;

// One line per margin below its limit: `failures` those below the failing limits (and an
// unstable loop), `warnings` those only below the warning ones.
void JudgeMargins(const LoopMargins& margins, std::vector<std::string>& failures,
                  std::vector<std::string>& warnings);

}  // namespace dcservo
