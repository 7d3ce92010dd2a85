#include "design/biquad_designer.h"

namespace dcservo {

CBiquadDesigner::CBiquadDesigner() {
  for (int code = 0; code < kBiquadTypeCount; ++code) names_[code] = BiquadTypeName(code);
}

void CBiquadDesigner::GetOfferedTypes(std::vector<std::string>& names,
                                      std::vector<int>& codes) const {
  names.clear();
  codes.clear();
  for (int code = 0; code < kBiquadTypeCount; ++code) {
    if (!IsBiquadTypeOffered(code)) continue;
    names.push_back(names_[code]);
    codes.push_back(code);
  }
}

const std::string& CBiquadDesigner::TypeName(int code) const {
  static const std::string none;
  return code >= 0 && code < kBiquadTypeCount ? names_[code] : none;
}

void CBiquadDesigner::ComputeCoefficients(int type, double f1n, double third, double gain_db) {
  if (auto c = DesignBiquad(type, f1n, third, gain_db)) c_ = *c;
}

StepResult CBiquadDesigner::DesignFilter(CZel_Setup& setup, int filter, int slot,
                                         FilterReport* report) {
  FilterReport r;
  const int done = DesignBiquadFilter(setup, filter, slot, &r);
  if (done) c_ = r.stored.quantised;
  const StepResult result =
      done ? StepResult::Done : (r.refused ? StepResult::Refused : StepResult::Missing);
  // A missing parameter leaves the report as it was.
  if (report && r.slot) *report = std::move(r);
  return result;
}

StepResult CBiquadDesigner::DesignAllFilters(CZel_Setup& setup, BiquadReport* report) {
  BiquadReport own;
  BiquadReport& r = report ? *report : own;
  if (DesignBiquadFilters(setup, &r)) return StepResult::Done;
  return r.AnyRefused() ? StepResult::Refused : StepResult::Missing;
}

void CBiquadDesigner::WriteFiltersToChip(CZel_Setup& setup) { WriteBiquadFiltersToChip(setup); }

}  // namespace dcservo
