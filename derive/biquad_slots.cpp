#include "derive/biquad_slots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "derive/step.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

std::string Name(const char* pattern, int index) {
  char text[32];
  std::snprintf(text, sizeof text, pattern, index);
  return text;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

// Why a normalised frequency cannot be designed, or empty.
std::string FrequencyProblem(const char* what, double hz, double ts) {
  if (!std::isfinite(hz) || hz <= 0.0)
    return std::string(what) + " " + Number(hz) + " Hz is not above 0";
  if (hz * ts >= 0.5)
    return std::string(what) + " " + Number(hz) + " Hz is at or above the Nyquist limit of " +
           Number(0.5 / ts) + " Hz";
  return {};
}

// Why the filter's description cannot be designed, or empty.
std::string DescriptionProblem(const FilterReport& r, double type_value, double ts) {
  if (r.type < 0 || r.type >= kBiquadTypeCount)
    return "type code " + Number(type_value) + " is not a filter type";
  if (!(ts > 0.0) || !std::isfinite(ts))
    return "the slow-loop period Ts_S = " + Number(ts) + " s is not usable";
  const bool lead_lag = IsLeadLag(r.type);
  std::string problem =
      FrequencyProblem(lead_lag ? "lead frequency" : "frequency", r.frequency_hz, ts);
  if (problem.empty() && lead_lag)
    problem = FrequencyProblem("lag frequency", r.lag_frequency_hz, ts);
  if (problem.empty() && UsesQ(r.type) && !(r.q > 0.0 && std::isfinite(r.q)))
    problem = "Q = " + Number(r.q) + " is not above 0";
  return problem;
}

// The quantised design, or why it does not fit the slot.
std::string Quantise(const FilterReport& r, double ts, double sf_max, BiquadSlot& stored) {
  const auto designed = DesignBiquad(r.type, r.frequency_hz * ts,
                                     IsLeadLag(r.type) ? r.lag_frequency_hz * ts : r.q, 0.0);
  if (!designed || !AllFinite(*designed))
    return "the design gives coefficients that are not finite";
  BiquadSlot slot;
  for (int extra = 0; extra < 2; ++extra) {
    slot = QuantizeBiquad(*designed, extra);
    if (BlocksZeroFrequency(r.type))
      ForceZeroDcGain(slot);
    else
      ForceUnityDcGain(slot);
    // The correction may push B0 past full scale; one more shift makes room for it.
    if (std::abs(slot.quantised.b0) < kBiquadOne) break;
  }
  if (std::abs(slot.quantised.b0) >= kBiquadOne)
    return "its zero-frequency correction does not fit 32 bits";
  if (slot.scale_factor > sf_max)
    return "it needs SF = " + Number(slot.scale_factor) + ", more than the slot holds (" +
           Number(sf_max) + ")";
  stored = slot;
  return {};
}

void WriteSlot(const std::array<CZel_Parameter*, 6>& params, const BiquadSlot& slot) {
  const double values[6] = {slot.quantised.b0, slot.quantised.b1, slot.quantised.b2,
                            slot.quantised.a1, slot.quantised.a2, slot.scale_factor};
  for (int k = 0; k < 6; ++k) params[k]->SetValueInBaseUnit(values[k]);
}

std::optional<std::array<CZel_Parameter*, 6>> FindSlot(CZel_Setup& setup, int slot) {
  const auto names = SlotParameterNames(slot);
  return FindParameters(setup, names[0].c_str(), names[1].c_str(), names[2].c_str(),
                        names[3].c_str(), names[4].c_str(), names[5].c_str());
}

void Analyse(FilterReport& r, double ts) {
  r.dc_gain = std::abs(FilterResponse(r.stored, ts, 0.0));
  r.corner_gain = std::abs(FilterResponse(r.stored, ts, r.frequency_hz));
  r.poles = FilterPoles(r.stored);
  r.pole_radius = std::max(std::abs(r.poles[0]), std::abs(r.poles[1]));
  if (!r.refused && r.pole_radius >= 1.0)
    r.warnings.push_back(
        "the quantised filter has a pole " + std::string(r.pole_radius > 1.0 ? "outside" : "on") +
        " the unit circle (radius " + Number(r.pole_radius) + "): it is not stable");
}

struct Request {
  bool on = false;
  long long place = -1;
};

// Each filter's switch and place; 0 when one is missing.
int ReadRequests(CZel_Setup& setup, std::array<Request, kBiquadFilterCount>& requests,
                 BiquadReport& r) {
  int done = 1;
  for (int i = 1; i <= kBiquadFilterCount; ++i) {
    auto p =
        FindParameters(setup, Name("BQFilter%d", i).c_str(), Name("BQFilterLocation%d", i).c_str());
    if (!p) {
      done = 0;
      continue;
    }
    Request& q = requests[i - 1];
    q = {(*p)[0]->GetValueInBaseUnit() != 0.0, Truncated((*p)[1]->GetValueInBaseUnit())};
    if (q.on && (q.place < 0 || q.place > 2))
      r.warnings.push_back("filter " + std::to_string(i) + " is on but its place " +
                           std::to_string(q.place) + " is none of 0, 1, 2: left out");
  }
  return done;
}

// The enabled filters into consecutive slots, by place and then by number; the number of
// slots used. `done` drops to 0 for a filter not designed.
int DesignBySlotOrder(CZel_Setup& setup, const std::array<Request, kBiquadFilterCount>& requests,
                      BiquadReport& r, int& done) {
  int slot = 0;
  for (int place = 0; place < 3; ++place) {
    for (int i = 1; i <= kBiquadFilterCount; ++i) {
      if (!requests[i - 1].on || requests[i - 1].place != place) continue;
      ++slot;
      FilterReport f;
      if (!DesignBiquadFilter(setup, i, slot, &f)) done = 0;
      f.place = place;
      if (f.slot) {
        r.slots[slot - 1] = f.stored;
        r.filters.push_back(std::move(f));
      }
      ++r.counts[place];
    }
  }
  return slot;
}

}  // namespace

const char* FilterPlaceName(int place) {
  switch (place) {
    case 0: return "Position Controller Output";
    case 1: return "Speed Controller Output";
    case 2: return "Speed Feedback";
    default: return "";
  }
}

bool BiquadReport::AnyRefused() const {
  return std::any_of(filters.begin(), filters.end(),
                     [](const FilterReport& f) { return f.refused; });
}

std::array<std::string, 6> SlotParameterNames(int slot) {
  return {Name("BQ%dB0", slot), Name("BQ%dB1", slot), Name("BQ%dB2", slot),
          Name("BQ%dA1", slot), Name("BQ%dA2", slot), Name("BQ%dSF", slot)};
}

int DesignBiquadFilter(CZel_Setup& setup, int filter, int slot, FilterReport* report) {
  auto p =
      FindParameters(setup, param::Ts_S, Name("BQFilterType%d", filter).c_str(),
                     Name("BQFilterQ%d", filter).c_str(), Name("BQFilterF1%d", filter).c_str());
  auto slot_params = FindSlot(setup, slot);
  if (!p || !slot_params) return 0;
  auto [ts_param, type_param, q_param, f1_param] = *p;
  const double ts = ts_param->GetValueInBaseUnit();
  const double type_value = type_param->GetValueInBaseUnit();
  FilterReport r;
  r.filter = filter;
  r.slot = slot;
  // Truncated like every code the drive stores; anything far outside the table is simply
  // not a type.
  r.type = std::abs(type_value) < kBiquadTypeCount + 1.0 ? static_cast<int>(Truncated(type_value))
                                                         : kBiquadTypeCount;
  r.type_name = BiquadTypeName(r.type);
  r.frequency_hz = f1_param->GetValueInBaseUnit();
  r.q = q_param->GetValueInBaseUnit();
  if (IsLeadLag(r.type)) {
    const CZel_Parameter* f2_param = setup.FindParameter(Name("BQFilterF2%d", filter));
    if (!f2_param) return 0;
    r.lag_frequency_hz = f2_param->GetValueInBaseUnit();
  }

  BiquadSlot stored;
  std::string problem = DescriptionProblem(r, type_value, ts);
  if (problem.empty()) problem = Quantise(r, ts, (*slot_params)[5]->GetMaxInBaseUnit(), stored);
  r.refused = !problem.empty();
  if (r.refused) {
    r.warnings.push_back(problem + ": its slot holds zeros");
  } else if (r.type >= kFirstUnofferedType && r.type <= kLastUnofferedType) {
    r.warnings.push_back(r.type_name + " is not offered: designed at 0 dB, it is flat");
  }
  WriteSlot(*slot_params, stored);
  r.stored = stored;
  Analyse(r, ts);
  if (report) *report = std::move(r);
  return problem.empty() ? 1 : 0;
}

int DesignBiquadFilters(CZel_Setup& setup, BiquadReport* report) {
  BiquadReport r;
  std::array<Request, kBiquadFilterCount> requests{};
  int done = ReadRequests(setup, requests, r);
  {
    if (const CZel_Parameter* ts = setup.FindOptionalParameter(param::Ts_S))
      r.sampling_period_s = ts->GetValueInBaseUnit();
  }
  const int used = DesignBySlotOrder(setup, requests, r, done);
  for (int slot = used + 1; slot <= kBiquadFilterCount; ++slot) {
    if (auto params = FindSlot(setup, slot))
      WriteSlot(*params, {});
    else
      done = 0;
  }
  for (int place = 0; place < 3; ++place) {
    CZel_Parameter* count = setup.FindParameter(kBiquadCountNames[place]);
    if (!count || !count->SetValueInBaseUnit(r.counts[place])) done = 0;
  }
  if (report) *report = std::move(r);
  return done;
}

std::optional<BiquadCoefficients> StoredCoefficientsOf(const FilterDescription& filter,
                                                      double ts) {
  FilterReport r;
  r.type = filter.type;
  r.frequency_hz = filter.frequency_hz;
  r.q = filter.q;
  BiquadSlot slot;
  if (!DescriptionProblem(r, filter.type, ts).empty() ||
      !Quantise(r, ts, std::numeric_limits<double>::infinity(), slot).empty())
    return std::nullopt;
  const double g = slot.scale_factor / kBiquadOne;
  const BiquadCoefficients& c = slot.quantised;
  return BiquadCoefficients{c.b0 * g, c.b1 * g, c.b2 * g, c.a1 * g, c.a2 * g};
}

int FirstFreeFilter(CZel_Setup& setup) {
  for (int i = 1; i <= kBiquadFilterCount; ++i) {
    const CZel_Parameter* on = setup.FindOptionalParameter(Name("BQFilter%d", i));
    if (!on) return 0;
    if (on->GetValueInBaseUnit() == 0.0) return i;
  }
  return 0;
}

int PlaceFilter(CZel_Setup& setup, int filter, const FilterDescription& d) {
  auto p = FindParameters(setup, Name("BQFilterLocation%d", filter).c_str(),
                          Name("BQFilterType%d", filter).c_str(),
                          Name("BQFilterF1%d", filter).c_str(), Name("BQFilterQ%d", filter).c_str(),
                          Name("BQFilter%d", filter).c_str());
  if (!p) return 0;
  auto [place, type, f1, q, on] = *p;
  if (!place->SetValueInBaseUnit(d.place) || !type->SetValueInBaseUnit(d.type) ||
      !f1->SetValueInBaseUnit(d.frequency_hz) || !q->SetValueInBaseUnit(d.q))
    return 0;
  return on->SetValueInBaseUnit(1.0) ? 1 : 0;
}

void WriteBiquadFiltersToChip(CZel_Setup& setup) {
  for (const char* name : kBiquadCountNames) {
    if (CZel_Parameter* p = setup.FindOptionalParameter(name)) p->WriteToChip();
  }
  for (int slot = 1; slot <= kBiquadFilterCount; ++slot) {
    for (const std::string& name : SlotParameterNames(slot)) {
      if (CZel_Parameter* p = setup.FindOptionalParameter(name)) p->WriteToChip();
    }
  }
}

// A filter that could not be designed, for a missing parameter or a refused value, says which
// in the designer's report; the pipeline learns only that the slots are not all new.
StepResult ComputeBiquadFilterSlots(CZel_Setup& setup) {
  return DesignBiquadFilters(setup) ? StepResult::Done : StepResult::Refused;
}

}  // namespace dcservo
