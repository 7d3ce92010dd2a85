// The drive model read from a setup: the chip parameters as the drive holds them, and the
// structure of its loops.

#include "design/drive_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "derive/register_bits.h"
#include "units/drive_modes.h"
#include "units/parameter_reader.h"
#include "units/scales.h"
#include "units/timing.h"

namespace dcservo {

namespace {

// ---- reading the drive from the setup ---------------------------------------------------------

class ChipReader {
 public:
  explicit ChipReader(CZel_Setup& setup) : setup_(setup) {}
  double Value(const char* name, double fallback) const {
    const CZel_Parameter* p = setup_.FindOptionalParameter(name);
    const double v = p ? p->GetValueInBaseUnit() : fallback;
    return std::isfinite(v) ? std::trunc(v) : fallback;
  }
  // M 2^S / 32767, as the firmware multiplies.
  double Gain(const char* mantissa, const char* shift) const {
    return Gain(Value(mantissa, 0.0), Value(shift, 0.0));
  }
  static double Gain(double mantissa, double shift) {
    return mantissa * std::ldexp(1.0, static_cast<int>(std::clamp(shift, 0.0, 30.0))) / kFullScale;
  }
  // A limit register is the distance from full scale.
  double Limit(const char* name) const { return std::clamp(kFullScale - Value(name, 0.0), 0.0, kFullScale); }
  // A first-order coefficient: 32767 passes the signal as it is.
  double Smoothing(const char* name) const {
    return std::clamp(Value(name, kFullScale), 0.0, kFullScale) / kFullScale;
  }

 private:
  CZel_Setup& setup_;
};

BiquadCoefficients SlotOf(const ChipReader& chip, int slot) {
  char name[16];
  auto c = [&](const char* which) {
    std::snprintf(name, sizeof name, "BQ%d%s", slot + 1, which);
    return chip.Value(name, 0.0);
  };
  const double g = c("SF") / kBiquadOne;
  return {c("B0") * g, c("B1") * g, c("B2") * g, c("A1") * g, c("A2") * g};
}

// The three places share the three slots, each counted from where the place before it stops.
void ReadBiquads(const ChipReader& chip, DriveModel& m) {
  int next = 0;
  auto take = [&](const char* count_name, std::vector<BiquadCoefficients>& place) {
    const int n = static_cast<int>(std::clamp(chip.Value(count_name, 0.0), 0.0, 3.0 - next));
    for (int i = 0; i < n; ++i) place.push_back(SlotOf(chip, next + i));
    next += n;
  };
  take(param::SPDREF_BQ_INI, m.speed_reference_filters);
  take(param::IQREF_BQ_INI, m.current_reference_filters);
  take(param::ASPD_BQ_INI, m.speed_feedback_filters);
}

bool AllFinite(std::initializer_list<double> values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

}  // namespace

DriveModelQuery QueryDriveModel(CZel_Setup& setup) {
  DriveModelQuery q;
  const ParameterReader motor_data = ParameterReader::Quiet(setup);
  const std::array<CZel_Parameter*, 4> motor = {
      motor_data.Find(param::R), motor_data.Find(param::L), motor_data.Find(param::K),
      motor_data.Find(param::Jt)};
  if (!motor_data.Missing().empty()) {
    q.why = "the setup lacks the motor's R, L, K or Jt";
    q.missing_motor = motor_data.Missing().front();
    return q;
  }
  const ParameterReader in = ParameterReader::Quiet(setup);
  const ChipReader chip(setup);
  DriveModel m;
  m.clper = static_cast<int>(std::clamp(chip.Value(param::CLPER, 1.0), 1.0, 65535.0));
  m.slper = static_cast<int>(std::clamp(chip.Value(param::SLPER, 10.0), 1.0, 65535.0));
  m.pwm_period_s = FastLoopPeriod(in) / m.clper;
  m.loops_in_fast_loop =
      (static_cast<unsigned>(chip.Value(param::UPGRADE, 0.0)) & kUpgradePosSpdInFastLoop) != 0;
  m.current_counts_per_A = CurrentScale(in);
  m.volts_per_count = 1.0 / VoltageScale(in);
  m.current_step_counts = kQ16One / std::max(chip.Value(param::ADCResolution, 1024.0), 2.0);
  const double sensors = chip.Value(param::SensorsConfiguration, 0.0);
  m.sensor = IsCode(sensors, SensorsConfiguration::TachoOnMotor) ? SpeedSensor::Tacho
             : IsCode(sensors, SensorsConfiguration::TachoAndEncoderOnLoad)
                 ? SpeedSensor::TachoAndLoadEncoder
                 : SpeedSensor::Encoder;
  m.position_counts_per_rad = MotorPositionScale(in);
  m.speed_counts_per_rad_s = MotorSpeedScale(in);
  m.tacho_per_encoder = std::max(1.0, chip.Value(param::TRANSMISION, 1.0));
  m.R = motor[0]->GetValueInBaseUnit();
  m.L = motor[1]->GetValueInBaseUnit();
  m.K = motor[2]->GetValueInBaseUnit();
  m.J = motor[3]->GetValueInBaseUnit();

  m.kpi = chip.Gain(param::KPI, param::SFTKPI);
  m.kii = chip.Gain(param::KII, param::SFTKII);
  m.sat_iq = chip.Limit(param::SATIQ);
  m.sat_pwm = chip.Limit(param::SATPWM);
  m.filter_q = chip.Smoothing(param::FILTERQ);
  m.load_feedforward = std::trunc(chip.Value(param::FFL, 0.0) * chip.Value(param::KFFL, kFullScale) / kFullScale);
  m.kps = chip.Gain(param::KPS, param::SFTKPS);
  m.kis = chip.Gain(param::KIS, param::SFTKIS);
  m.sat_s = chip.Limit(param::SATS);
  m.imax_s = chip.Limit(param::IMAXS);
  m.kpp = chip.Gain(param::KPP, param::SFTKPP);
  m.kip = chip.Gain(param::KIP, param::SFTKIP);
  m.kdp = chip.Gain(param::KDP, param::SFTKDP);
  m.kdfp = chip.Smoothing(param::KDFP);
  m.sat_p = chip.Limit(param::SATP);
  m.imax_p = chip.Limit(param::IMAXP);
  m.kffs = chip.Gain(param::KFFS, param::SFTSFFW);
  m.kffa = ChipReader::Gain(chip.Value(param::KFFA, 0.0),
                            chip.Value(param::SFTAFFW, 0.0) + chip.Value(param::SFTKFF, 0.0));
  ReadBiquads(chip, m);
  m.coupling = MeasuredCouplingOf(setup);

  q.missing_scale_inputs = in.Missing();
  if (!(m.R > 0.0 && m.L > 0.0 && m.K > 0.0 && m.J > 0.0) ||
      !AllFinite({m.R, m.L, m.K, m.J, m.pwm_period_s, m.current_counts_per_A, m.volts_per_count,
                  m.position_counts_per_rad, m.speed_counts_per_rad_s}) ||
      !(m.pwm_period_s > 0.0))
    q.why = "the motor's data or the drive's timing give no finite model";
  else
    q.model = m;
  return q;
}


std::optional<DriveModel> DriveModelOf(CZel_Setup& setup, std::string* why) {
  DriveModelQuery q = QueryDriveModel(setup);
  if (why && !q.model) *why = std::move(q.why);
  return std::move(q.model);
}

std::optional<DriveModel> ReportedDriveModelOf(CZel_Setup& setup, std::string* why) {
  DriveModelQuery q = QueryDriveModel(setup);
  for (const std::string& name : q.missing_scale_inputs) setup.FindParameter(name);
  if (why && !q.model) *why = std::move(q.why);
  return std::move(q.model);
}

ModelStructure StructureOf(CZel_Setup& setup) {
  const ChipReader chip(setup);
  const double mode = chip.Value(param::ControlMode, ControlMode::Position);
  if (IsCode(mode, ControlMode::Current)) return ModelStructure::Current;
  if (IsCode(mode, ControlMode::Speed)) return ModelStructure::Speed;
  return IsCode(chip.Value(param::PositionControlType, PositionControlType::OverSpeedLoop),
                PositionControlType::OverCurrentLoop)
             ? ModelStructure::PositionOverCurrent
             : ModelStructure::PositionOverSpeed;
}

}  // namespace dcservo
