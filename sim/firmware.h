#pragma once
// The drive's control loops in fixed point, driven by the chip settings: a PI current loop
// in the fast loop, a PI speed loop and a PID position loop in the slow loop (or in the fast
// loop with UPGRADE bit 6), speed and acceleration feedforward, the three biquad places and
// the control-error protections.
//
// The controllers are the discrete forms that the gain design assumes: out = Kp e + Ki sum(e)
// with the integral gain per sample, and Kd (e - e_prev) per sample through a first-order
// filter for the position loop. Errors and outputs are in internal units, so a scaled gain
// acts on them as it is.

#include <cstdint>

#include "sim/chip_settings.h"
#include "sim/fixed_point.h"

namespace dcsim {

enum class Structure { Current, Speed, PositionOverSpeed, PositionOverCurrent };

Structure StructureOfAcr(unsigned acr);

class Firmware {
 public:
  void Configure(const ChipSettings& settings) {
    s_ = settings;
    iq_limit_q16_ = s_.sat_iq << kFrac;
    iq_limit_wide_ = s_.sat_iq << (kFrac + 32);
  }
  const ChipSettings& Settings() const { return s_; }

  // Clears every controller state, reference and test limit; the axis starts from rest.
  void Reset();

  // --- what the running program sets ---
  Structure structure = Structure::Current;
  i64 current_command = 0;    // current counts, current structure
  i64 speed_command_q16 = 0;  // trajectory speed, speed structure
  i64 target_q16 = 0;         // trajectory position, position structures
  // Change of the trajectory speed over the last sample, for the acceleration feedforward.
  i64 trajectory_accel_q16 = 0;
  // The trajectory speed of a position profile, for the speed feedforward.
  i64 trajectory_speed_q16 = 0;
  // Limits a test puts in place of the chip's; 0 or less keeps the chip's.
  i64 current_limit_override = 0;
  i64 speed_limit_override = 0;
  // A current added to the reference in the fast loop, after the speed and position loops:
  // the excitation of a frequency response run.
  i64 current_injection = 0;
  // The speed loop's gains divided by 2^n: a softer pass band that holds the shaft while an
  // excitation runs.
  int speed_gain_shift = 0;

  // One sample of the speed and position loops: position and speed as the loops see them
  // (speed in counts per slow-loop sample, or tacho counts).
  void SlowLoop(i64 position, i64 speed);
  // One sample of the current loop; the voltage command (32767 = the supply). Here, where the
  // drive's period loop can take it in: it runs at every PWM period.
  i64 FastLoop(i64 measured_current) {
    if (structure == Structure::Current) iq_ref_ = current_command;
    const i64 reference = iq_ref_ + current_injection + s_.load_feedforward;
    const i64 e = ToQ16(reference - measured_current);
    cur_int_ = s_.kii.Integrate(cur_int_, e, iq_limit_wide_);
    // A current error is at most 17 bits and a gain at most 2^14, so the sum fits.
    const i64 u = Clamp(s_.kpi.Apply(e) + (cur_int_ >> 32), iq_limit_q16_);
    s_.filter_q.Step(u_filt_q16_, u);
    u_cmd_ = Clamp(FromQ16(u_filt_q16_), s_.sat_pwm);
    return u_cmd_;
  }

  // --- what the drive shows ---
  i64 CurrentReference() const { return iq_ref_; }
  i64 VoltageCommand() const { return u_cmd_; }
  i64 SpeedReference() const { return FromQ16(spd_ref_q16_); }
  i64 TargetPosition() const { return FromQ16(target_q16); }
  i64 PositionError() const { return pos_err_; }
  i64 SpeedError() const { return spd_err_; }
  i64 FilteredSpeed() const { return FromQ16(speed_q16_); }
  bool ControlErrorTripped() const { return control_error_; }

 private:
  i64 CurrentLimit() const;
  i64 SpeedLimit() const;
  i64 Filter(int first, int count, i64 x);
  void CheckControlErrors(bool position_loop, bool speed_loop);

  ChipSettings s_;
  // The current loop's limits in its accumulators' formats: they change with the chip only.
  i64 iq_limit_q16_ = 32767 << kFrac;
  i64 iq_limit_wide_ = i64{32767} << (kFrac + 32);

  // Position loop.
  // The integrators hold Q48 of their output within limits of at most 32767 counts.
  i64 pos_int_ = 0;
  i64 pos_prev_err_q16_ = 0;
  i64 deriv_q16_ = 0;
  bool have_prev_err_ = false;
  // Speed loop.
  i64 spd_int_ = 0;
  i64 spd_ref_q16_ = 0;
  i64 speed_q16_ = 0;
  // Current loop.
  i64 cur_int_ = 0;
  i64 u_filt_q16_ = 0;
  i64 iq_ref_ = 0;
  i64 u_cmd_ = 0;

  i64 pos_err_ = 0, spd_err_ = 0;
  i64 pos_err_count_ = 0, spd_err_count_ = 0;
  bool control_error_ = false;
  BiquadState bq_[3];
};

}  // namespace dcsim
