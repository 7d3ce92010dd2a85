#include "derive/display_step.h"

#include <cmath>

#include "derive/quantities.h"
#include "names/drive_names.h"
#include "units/scales.h"

namespace dcservo {
namespace {

// Values the drive measures rather than takes: one count of the converter that reads them is
// all the precision a measured value carries (the supply test keeps its reading as Vdc).
struct MeasuredSource {
  const char* scaled;
  double (*count)(CZel_Setup&);
};

// The converter's own level, not a count of the 16 bits it is read in: a 10-bit converter's
// reading carries two decimals of a 60 V range, not four (47.9765 V).
double OneSupplyCount(CZel_Setup& setup) {
  const CZel_Parameter* levels = setup.FindOptionalParameter(param::ADCResolution);
  const CZel_Parameter* range = setup.FindOptionalParameter(param::VdcMaxMeasurable);
  const double n = levels ? levels->GetValueInBaseUnit() : 0.0;
  if (range && n >= 2.0) return range->GetValueInBaseUnit() / n;
  return 1.0 / MeasuredVoltageScale(setup);
}

const MeasuredSource kMeasuredSources[] = {
    {param::Vdc, OneSupplyCount},
};

// A pass band is no register of the drive: it is as fine as the proportional gain that it
// tunes, which grows with it (in proportion, for the speed loop and a position loop over it),
// so one count of that gain is the band's share of it.
struct PassBandGain {
  const char* pass_band;
  const char* gain;
};

const PassBandGain kPassBandGains[] = {
    {param::PB_C, param::Kp_C_scl},
    {param::PB_S, param::Kp_S_scl},
    {param::PB_P, param::Kp_P_scl},
};

double PassBandStep(CZel_Setup& setup, const CZel_Parameter& band, const char* gain_name) {
  CZel_Parameter* gain = setup.FindParameter(gain_name);
  if (!gain) return 0.0;
  const double kp = std::abs(gain->GetValueInBaseUnit());
  const double step = std::abs(band.GetValueInBaseUnit()) * DisplayStep(setup, *gain) / kp;
  return kp > 0.0 && std::isfinite(step) ? step : 0.0;
}

bool IsInteger(ZelStorageType type) { return type != ZelStorageType::Double; }

// Puts a parameter back as it was, range included (a derivation step sets the range too).
class KeepParameter {
 public:
  explicit KeepParameter(CZel_Parameter& p)
      : p_(p), value_(p.GetValueInInternalUnit()), min_(p.GetMinInBaseUnit()),
        max_(p.GetMaxInBaseUnit()) {}
  ~KeepParameter() {
    p_.SetMinInBaseUnit(min_);
    p_.SetMaxInBaseUnit(max_);
    p_.SetValueInInternalUnit(value_);
  }
  KeepParameter(const KeepParameter&) = delete;
  KeepParameter& operator=(const KeepParameter&) = delete;

 private:
  CZel_Parameter& p_;
  double value_, min_, max_;
};

// How far the scaled value moves when the register moves by one count; the smaller of the
// two directions, since a step clamps at the end of its range.
double StepThroughRegister(CZel_Setup& setup, const QuantityDescriptor& q, CZel_Parameter& scaled,
                           CZel_Parameter& chip) {
  KeepParameter keep_scaled(scaled), keep_chip(chip);
  const auto derive = [&] { return (!q.guard || q.guard(setup)) && q.to_scaled(setup) == StepResult::Done; };
  // The step is measured from what the register holds now, not from the scaled value: a
  // value typed but not yet derived into the register would read as one huge step.
  if (!derive()) return 0.0;
  const double value = scaled.GetValueInBaseUnit();
  const double count = chip.GetValueInInternalUnit();
  double step = 0.0;
  for (double delta : {1.0, -1.0}) {
    if (!chip.SetValueInInternalUnit(count + delta)) continue;
    if (chip.GetValueInInternalUnit() == count) continue;  // saturated in its type
    if (!derive()) continue;
    const double moved = std::abs(scaled.GetValueInBaseUnit() - value);
    if (moved > 0.0 && std::isfinite(moved) && (step == 0.0 || moved < step)) step = moved;
  }
  return step;
}

}  // namespace

double DisplayStep(CZel_Setup& setup, const CZel_Quantity& quantity) {
  // The drive takes a value kept in internal units as whole counts, stored as a double or
  // not (a test's speed snapped to whole counts, a ramp in whole samples, a limit truncated
  // into a program's input), unless a register it is derived from is finer or coarser.
  const double count = quantity.IsStoredInBaseUnit() ? 0.0 : std::abs(quantity.ScaleFactor());
  if (IsInteger(quantity.GetType())) return quantity.IsStoredInBaseUnit() ? 1.0 : count;
  ZelQuietErrors quiet;
  CZel_Parameter* scaled = setup.FindParameter(quantity.GetName());
  if (!scaled) return count;
  if (const QuantityDescriptor* q = QuantityNamed(quantity.GetName()); q && q->to_scaled) {
    for (const char* name : q->display) {
      CZel_Parameter* chip = name ? setup.FindParameter(name) : nullptr;
      if (!chip) continue;
      if (const double step = StepThroughRegister(setup, *q, *scaled, *chip); step > 0.0)
        return step;
    }
  }
  for (const MeasuredSource& source : kMeasuredSources) {
    if (!zel::NamesEqual(source.scaled, quantity.GetName())) continue;
    if (const double step = source.count(setup); step > 0.0 && std::isfinite(step)) return step;
  }
  for (const PassBandGain& band : kPassBandGains) {
    if (!zel::NamesEqual(band.pass_band, quantity.GetName())) continue;
    if (const double step = PassBandStep(setup, *scaled, band.gain); step > 0.0) return step;
  }
  return count;
}

}  // namespace dcservo
