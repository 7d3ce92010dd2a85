#pragma once
// The chip parameters as the firmware uses them: the drive's parameter memory (every value
// written, by name) and the settings compiled from it whenever it changes, so the loops read
// ready multipliers and limits.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "host/zel_names.h"
#include "sim/fixed_point.h"

namespace dcsim {

// ACR: which loops are closed. The simulated drive keeps its own register layouts, apart
// from the plug-in's, as a drive would.
inline constexpr unsigned kAcrCurrentLoop = 0x0100;
inline constexpr unsigned kAcrSpeedLoop = 0x0200;
inline constexpr unsigned kAcrPositionLoop = 0x0400;
// UPGRADE: the speed and position loops run in the fast loop.
inline constexpr unsigned kUpgradeLoopsInFastLoop = 0x0040;
// SCR bits 0-5: the feedback sensors.
inline constexpr unsigned kScrSensorMask = 0x003F;
inline constexpr unsigned kScrTachoOnly = 0x000F;
inline constexpr unsigned kScrTachoAndLoadEncoder = 0x0008;
// A delay of 65535 samples switches a control-error protection off.
inline constexpr std::int64_t kProtectionOff = 65535;

enum class Sensors { MotorEncoder, Tacho, TachoAndLoadEncoder };

struct ChipSettings {
  int pwmper = 1000;
  int clper = 1;
  int slper = 10;
  bool loops_in_fast_loop = false;

  // Current loop.
  QGain kpi, kii;
  i64 sat_iq = 32767;   // output limit of the current controller
  i64 sat_pwm = 32767;  // limit of the PWM command
  FirstOrder filter_q;
  i64 load_feedforward = 0;  // FFL weighted by KFFL, current counts

  // Speed loop.
  QGain kps, kis;
  i64 sat_s = 32767, imax_s = 32767;

  // Position loop.
  QGain kpp, kip, kdp;
  FirstOrder derivative_filter;
  i64 sat_p = 32767, imax_p = 32767;

  // Feedforwards.
  QGain kffs, kffa;

  unsigned acr = kAcrCurrentLoop;
  Sensors sensors = Sensors::MotorEncoder;
  i64 tacho_per_encoder = 1;  // TRANSMISION
  bool reverse_counting = false;

  i64 errmax = 0, terrmax = kProtectionOff;
  i64 serrmax = 0, tserrmax = kProtectionOff;

  std::array<BiquadSlot, 3> biquads{};
  int spdref_biquads = 0, iqref_biquads = 0, aspd_biquads = 0;
};

class ChipMemory {
 public:
  void Write(std::string_view name, double value);
  // The value written, or the drive's own power-up value.
  double Read(std::string_view name, double fallback) const;
  bool Has(std::string_view name) const { return values_.count(std::string(name)) != 0; }
  ChipSettings Compile() const;

 private:
  std::unordered_map<std::string, double, zel::FoldedHash, zel::FoldedEqual> values_;
};

}  // namespace dcsim
