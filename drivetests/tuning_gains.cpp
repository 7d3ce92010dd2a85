#include "drivetests/tuning_gains.h"

#include <algorithm>

#include "derive/pipelines.h"
#include "host/zel_errors.h"
#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"

namespace dcservo {

namespace {

// A gain's registers come from the gains table, in the order they are derived and sent.
GainChipRow GainRow(Gain gain, bool needs_known_motor_inertia = false) {
  return {FixedPointGainOf(gain).scaled, GainWriteOrder(gain), needs_known_motor_inertia};
}

// The speed feedforward's row rederives and resends the acceleration feedforward's
// mantissa after its own pair.
GainChipRow SpeedFeedforwardRow() {
  GainChipRow row = GainRow(Gain::KFFS);
  row.chip.push_back(FixedPointGainOf(Gain::KFFA).mantissa);
  return row;
}

// The acceleration feedforward is derived from the inertia; with the motor's unknown it
// stays as it is.
GainChipRow AccelerationFeedforwardRow() { return GainRow(Gain::KFFA, true); }

const GainChipRow* FindGainRow(TunedLoop loop, const std::string& name) {
  for (const GainChipRow& row : TuningGainRows(loop)) {
    if (zel::NamesEqual(row.scaled, name)) return &row;
  }
  return nullptr;
}

int WriteRegister(CZel_Setup& setup, const char* name) {
  CZel_Parameter* p = setup.FindParameter(name);
  return p && p->WriteToChip();
}

}  // namespace

std::span<const GainChipRow> TuningGainRows(TunedLoop loop) {
  static const GainChipRow speed_rows[] = {
      GainRow(Gain::Kp_S),   GainRow(Gain::Ki_S),          {param::IPSatS, {param::IMAXS}, false},
      SpeedFeedforwardRow(), AccelerationFeedforwardRow(),
  };
  static const GainChipRow position_rows[] = {
      GainRow(Gain::Kp_P),
      GainRow(Gain::Ki_P),
      GainRow(Gain::Kd_P),
      {param::filter_D, {param::KDFP}, false},
      {param::IPSatP, {param::IMAXP}, false},
      SpeedFeedforwardRow(),
      AccelerationFeedforwardRow(),
  };
  if (loop == TunedLoop::Position) return position_rows;
  return speed_rows;
}

void DeriveGainRegisters(CZel_Setup& setup, TunedLoop loop, const std::string& name,
                         bool motor_inertia_known) {
  const GainChipRow* row = FindGainRow(loop, name);
  if (!row || (row->needs_known_motor_inertia && !motor_inertia_known)) return;
  for (const char* chip : row->chip) RunStep(setup, chip, Direction::ToChip);
}

void WriteGainRegisters(CZel_Setup& setup, TunedLoop loop, const std::string& name) {
  const GainChipRow* row = FindGainRow(loop, name);
  if (!row) return;
  for (const char* chip : row->chip) {
    if (!WriteRegister(setup, chip)) return;
  }
}

void WriteLoopGains(CZel_Setup& setup, TunedLoop loop) {
  for (const char* chip : GainWriteOrder(loop)) {
    if (!WriteRegister(setup, chip)) break;
  }
}

std::vector<std::pair<const char*, double>> ReportedGains(const CZel_Setup& setup,
                                                          TunedLoop loop) {
  std::vector<const char*> names;
  for (const GainChipRow& row : TuningGainRows(loop)) names.push_back(row.scaled);
  for (const GainChipRow& row : TuningGainRows(loop)) {
    for (const char* chip : row.chip) {
      if (std::find_if(names.begin(), names.end(), [chip](const char* n) {
            return zel::NamesEqual(n, chip);
          }) == names.end())
        names.push_back(chip);
    }
  }
  std::vector<std::pair<const char*, double>> gains;
  // A drive without feedforward has no such gains: no report.
  for (const char* name : names) {
    if (const CZel_Parameter* p = setup.FindOptionalParameter(name))
      gains.emplace_back(name, p->GetValueInBaseUnit());
  }
  return gains;
}

std::optional<std::pair<double, double>> GainSliderRange(const CZel_Setup& setup,
                                                         const char* name) {
  const CZel_Parameter* p = setup.FindOptionalParameter(name);
  if (!p) return std::nullopt;
  const double v = p->GetValueInBaseUnit();
  double lo = std::max(p->GetMinInBaseUnit(), 0.5 * v);
  double hi = std::min(p->GetMaxInBaseUnit(), 1.5 * v);
  // A gain of 0 would pin the slider; it then spans the parameter's range.
  if (!(lo < hi)) {
    lo = p->GetMinInBaseUnit();
    hi = p->GetMaxInBaseUnit();
  }
  return std::pair{lo, hi};
}

bool FollowTotalInertia(CZel_Setup& setup, bool motor_inertia_known) {
  if (!motor_inertia_known) return false;
  if (!(ZelQuietBaseValue(setup, param::Jm) > 0.0)) return false;
  ComputeJload_over_J(setup);
  return true;
}

bool FollowInertiaRatio(CZel_Setup& setup, bool motor_inertia_known) {
  if (!motor_inertia_known) return false;
  const double jm = ZelQuietBaseValue(setup, param::Jm);
  if (!(jm > 0.0)) return false;
  const double ratio = ZelQuietBaseValue(setup, param::Jload_over_J);
  setup.SetParameterValueInBaseUnit(param::Jt, (ratio + 1.0) * jm);
  return true;
}

}  // namespace dcservo
