#include "sim/firmware.h"

#include <algorithm>

namespace dcsim {

namespace {

// Keeps a sum of terms inside what a 64-bit Q16 signal carries before it is limited.
constexpr i64 kSaturation = i64{1} << 60;

i64 Saturate(i128 x) { return static_cast<i64>(Clamp(x, i128{kSaturation})); }

// Saturate(a + b) without the wide sum: a sum that leaves 64 bits is far beyond the cap.
i64 SaturatedSum(i64 a, i64 b) {
  i64 sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) [[unlikely]] return b < 0 ? -kSaturation : kSaturation;
  return Clamp(sum, kSaturation);
}

i64 WideLimit(i64 limit) { return limit << (kFrac + 32); }

}  // namespace

Structure StructureOfAcr(unsigned acr) {
  if (acr & kAcrPositionLoop)
    return (acr & kAcrSpeedLoop) ? Structure::PositionOverSpeed : Structure::PositionOverCurrent;
  if (acr & kAcrSpeedLoop) return Structure::Speed;
  return Structure::Current;
}

void Firmware::Reset() {
  current_command = speed_command_q16 = target_q16 = 0;
  trajectory_accel_q16 = trajectory_speed_q16 = 0;
  current_limit_override = speed_limit_override = 0;
  current_injection = 0;
  speed_gain_shift = 0;
  pos_int_ = spd_int_ = cur_int_ = 0;
  pos_prev_err_q16_ = deriv_q16_ = 0;
  have_prev_err_ = false;
  spd_ref_q16_ = speed_q16_ = u_filt_q16_ = 0;
  iq_ref_ = u_cmd_ = pos_err_ = spd_err_ = 0;
  pos_err_count_ = spd_err_count_ = 0;
  control_error_ = false;
  for (BiquadState& b : bq_) b = {};
}

// The limit of whichever controller produces the current reference.
i64 Firmware::CurrentLimit() const {
  const i64 chip = structure == Structure::PositionOverCurrent ? s_.sat_p : s_.sat_s;
  return current_limit_override > 0 ? std::min<i64>(current_limit_override, 32767) : chip;
}

i64 Firmware::SpeedLimit() const {
  return speed_limit_override > 0 ? std::min<i64>(speed_limit_override, 32767) : s_.sat_p;
}

i64 Firmware::Filter(int first, int count, i64 x) {
  for (int slot = first; slot < first + count; ++slot) x = BiquadStep(s_.biquads[slot], bq_[slot], x);
  return x;
}

void Firmware::SlowLoop(i64 position, i64 speed) {
  const int n_spdref = s_.spdref_biquads, n_iqref = s_.iqref_biquads;
  speed_q16_ = Filter(n_spdref + n_iqref, s_.aspd_biquads, ToQ16(speed));
  if (structure == Structure::Current) return;

  const i64 current_limit = CurrentLimit();
  i64 speed_loop_ref = 0;
  const bool position_loop = structure == Structure::PositionOverSpeed ||
                             structure == Structure::PositionOverCurrent;
  if (position_loop) {
    const bool over_speed = structure == Structure::PositionOverSpeed;
    const i64 limit = over_speed ? SpeedLimit() : current_limit;
    const i64 e = target_q16 - ToQ16(position);
    pos_err_ = FromQ16(e);
    pos_int_ = s_.kip.Integrate(pos_int_, e, WideLimit(std::min(s_.imax_p, limit)));
    const i64 d_raw = have_prev_err_ ? s_.kdp.Apply(e - pos_prev_err_q16_) : 0;
    s_.derivative_filter.Step(deriv_q16_, d_raw);
    pos_prev_err_q16_ = e;
    have_prev_err_ = true;
    i64 out = Clamp(Saturate(static_cast<i128>(s_.kpp.Apply(e)) + (pos_int_ >> 32) + deriv_q16_),
                    limit << kFrac);
    if (over_speed) {
      // The trajectory's speed is in position counts; a tacho loop counts differently.
      i64 ff = s_.kffs.Apply(trajectory_speed_q16);
      if (s_.sensors == Sensors::TachoAndLoadEncoder) ff *= s_.tacho_per_encoder;
      out = Clamp(SaturatedSum(out, ff), limit << kFrac);
      speed_loop_ref = Filter(0, n_spdref, out);
    } else {
      out = Filter(n_spdref, n_iqref, out);
      out = SaturatedSum(out, s_.kffa.Apply(trajectory_accel_q16));
      iq_ref_ = Clamp(FromQ16(out), current_limit);
    }
  } else {
    speed_loop_ref = speed_command_q16;
  }

  if (structure == Structure::Speed || structure == Structure::PositionOverSpeed) {
    spd_ref_q16_ = speed_loop_ref;
    const i64 full_error = spd_ref_q16_ - speed_q16_;
    spd_err_ = FromQ16(full_error);
    const i64 e = full_error >> std::clamp(speed_gain_shift, 0, 30);
    spd_int_ = s_.kis.Integrate(spd_int_, e, WideLimit(std::min(s_.imax_s, current_limit)));
    i64 out = Clamp(SaturatedSum(s_.kps.Apply(e), spd_int_ >> 32),
                    current_limit << kFrac);
    out = Filter(n_spdref, n_iqref, out);
    out = SaturatedSum(out, s_.kffa.Apply(trajectory_accel_q16));
    iq_ref_ = Clamp(FromQ16(out), current_limit);
  }
  CheckControlErrors(position_loop, structure == Structure::Speed ||
                                        structure == Structure::PositionOverSpeed);
}

void Firmware::CheckControlErrors(bool position_loop, bool speed_loop) {
  auto watch = [this](bool active, i64 error, i64 band, i64 delay, i64& count) {
    if (!active || delay >= kProtectionOff || (error <= band && error >= -band)) {
      count = 0;
      return;
    }
    if (++count > delay) control_error_ = true;
  };
  watch(position_loop, pos_err_, s_.errmax, s_.terrmax, pos_err_count_);
  watch(speed_loop, spd_err_, s_.serrmax, s_.tserrmax, spd_err_count_);
}

}  // namespace dcsim
