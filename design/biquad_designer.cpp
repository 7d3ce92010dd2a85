#include "design/biquad_designer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>

#include "derive/step.h"

namespace dcservo {
namespace {

using Complex = std::complex<double>;

constexpr double kTwoTo31 = 2147483648.0;

struct TypeRow {
  const char* name;
  std::uint8_t offered;
};

// The type code is the index. Peak and the shelves need a gain, which the drive's filter
// description has no field for, so they are never offered.
constexpr TypeRow kTypes[kBiquadTypeCount] = {
    {"Low Pass 1st order", 1}, {"Low Pass 2nd order", 1}, {"Notch", 1},
    {"High Pass", 1},          {"Band Pass", 1},          {"Peak", 0},
    {"Low Shelf", 0},          {"High Shelf", 0},         {"Lead-lag 1st order", 1},
    {"Lead-lag 2nd order", 1},
};

constexpr int kHighPass = 3;
constexpr int kBandPass = 4;
constexpr int kFirstUnofferedType = 5;
constexpr int kLastUnofferedType = 7;

bool IsLeadLag(int type) { return type == kLeadLag1stOrder || type == kLeadLag2ndOrder; }
bool UsesQ(int type) { return type >= 1 && type <= 5; }
// High pass and band pass block zero frequency by design.
bool BlocksZeroFrequency(int type) { return type == kHighPass || type == kBandPass; }

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

bool AllFinite(const BiquadCoefficients& c) {
  return std::isfinite(c.b0) && std::isfinite(c.b1) && std::isfinite(c.b2) &&
         std::isfinite(c.a1) && std::isfinite(c.a2);
}

double Largest(const BiquadCoefficients& c) {
  return std::max({std::abs(c.b0), std::abs(c.b1), std::abs(c.b2), std::abs(c.a1),
                   std::abs(c.a2)});
}

double RoundHalfUp(double x) { return std::floor(x + 0.5); }

// Why a normalised frequency cannot be designed, or empty.
std::string FrequencyProblem(const char* what, double hz, double ts) {
  if (!std::isfinite(hz) || hz <= 0.0) return std::string(what) + " " + Number(hz) + " Hz is not above 0";
  if (hz * ts >= 0.5)
    return std::string(what) + " " + Number(hz) + " Hz is at or above the Nyquist limit of " +
           Number(0.5 / ts) + " Hz";
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
    r.warnings.push_back("the quantised filter has a pole " +
                         std::string(r.pole_radius > 1.0 ? "outside" : "on") +
                         " the unit circle (radius " + Number(r.pole_radius) +
                         "): it is not stable");
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
  return std::any_of(filters.begin(), filters.end(), [](const FilterReport& f) { return f.refused; });
}

std::array<std::string, 6> SlotParameterNames(int slot) {
  return {Name("BQ%dB0", slot), Name("BQ%dB1", slot), Name("BQ%dB2", slot),
          Name("BQ%dA1", slot), Name("BQ%dA2", slot), Name("BQ%dSF", slot)};
}

CBiquadDesigner::CBiquadDesigner() {
  for (int code = 0; code < kBiquadTypeCount; ++code) {
    names_[code] = kTypes[code].name;
    offered_[code] = kTypes[code].offered;
  }
}

void CBiquadDesigner::GetOfferedTypes(std::vector<std::string>& names, std::vector<int>& codes) const {
  names.clear();
  codes.clear();
  for (int code = 0; code < kBiquadTypeCount; ++code) {
    if (offered_[code] != 1) continue;
    names.push_back(names_[code]);
    codes.push_back(code);
  }
}

const std::string& CBiquadDesigner::TypeName(int code) const {
  static const std::string none;
  return code >= 0 && code < kBiquadTypeCount ? names_[code] : none;
}

void CBiquadDesigner::ComputeCoefficients(int type, double f1n, double third, double gain_db) {
  if (type < 0 || type >= kBiquadTypeCount) return;
  const double k = std::tan(std::numbers::pi * f1n);
  const double k2 = k * k;
  const double v = std::pow(10.0, std::abs(gain_db) / 20.0);
  const bool boost = gain_db >= 0.0;
  const double sqrt2 = std::numbers::sqrt2;
  const double sqrt2v = std::sqrt(2.0 * v);
  const double q = third;
  BiquadCoefficients& c = c_;
  if (type == 0) {
    c = {k / (k + 1.0), k / (k + 1.0), 0.0, (k - 1.0) / (k + 1.0), 0.0};
    return;
  }
  if (IsLeadLag(type)) {
    const double kz = k;
    const double kp = std::tan(std::numbers::pi * third);
    const double r = kp / kz;
    const double d = kp + 1.0;
    if (type == kLeadLag1stOrder) {
      c = {(kz + 1.0) * r / d, (kz - 1.0) * r / d, 0.0, (kp - 1.0) / d, 0.0};
    } else {
      const double lead = (kz + 1.0) * r / d;
      const double trail = (kz - 1.0) * r / d;
      const double pole = (kp - 1.0) / d;
      c = {lead * lead, 2.0 * r * r * (k2 - 1.0) / (d * d), trail * trail, 2.0 * pole, pole * pole};
    }
    return;
  }
  const double n = 1.0 / (1.0 + k / q + k2);
  const double a1 = 2.0 * (k2 - 1.0) * n;
  const double a2 = (1.0 - k / q + k2) * n;
  switch (type) {
    case 1: c = {k2 * n, 2.0 * k2 * n, k2 * n, a1, a2}; break;
    case 2: c = {(1.0 + k2) * n, 2.0 * (k2 - 1.0) * n, (1.0 + k2) * n, a1, a2}; break;
    case 3: c = {n, -2.0 * n, n, a1, a2}; break;
    case 4: c = {k / q * n, 0.0, -k / q * n, a1, a2}; break;
    case 5:
      if (boost) {
        c = {(1.0 + v * k / q + k2) * n, a1, (1.0 - v * k / q + k2) * n, a1, a2};
      } else {
        const double nc = 1.0 / (1.0 + v * k / q + k2);
        c = {(1.0 + k / q + k2) * nc, 2.0 * (k2 - 1.0) * nc, (1.0 - k / q + k2) * nc,
             2.0 * (k2 - 1.0) * nc, (1.0 - v * k / q + k2) * nc};
      }
      break;
    case 6:
      if (boost) {
        const double ns = 1.0 / (1.0 + sqrt2 * k + k2);
        c = {(1.0 + sqrt2v * k + v * k2) * ns, 2.0 * (v * k2 - 1.0) * ns,
             (1.0 - sqrt2v * k + v * k2) * ns, 2.0 * (k2 - 1.0) * ns, (1.0 - sqrt2 * k + k2) * ns};
      } else {
        const double ns = 1.0 / (1.0 + sqrt2v * k + v * k2);
        c = {(1.0 + sqrt2 * k + k2) * ns, 2.0 * (k2 - 1.0) * ns, (1.0 - sqrt2 * k + k2) * ns,
             2.0 * (v * k2 - 1.0) * ns, (1.0 - sqrt2v * k + v * k2) * ns};
      }
      break;
    case 7:
      if (boost) {
        const double ns = 1.0 / (1.0 + sqrt2 * k + k2);
        c = {(v + sqrt2v * k + k2) * ns, 2.0 * (k2 - v) * ns, (v - sqrt2v * k + k2) * ns,
             2.0 * (k2 - 1.0) * ns, (1.0 - sqrt2 * k + k2) * ns};
      } else {
        const double ns = 1.0 / (v + sqrt2v * k + k2);
        c = {(1.0 + sqrt2 * k + k2) * ns, 2.0 * (k2 - 1.0) * ns, (1.0 - sqrt2 * k + k2) * ns,
             2.0 * (k2 - v) * ns, (v - sqrt2v * k + k2) * ns};
      }
      break;
    default: break;
  }
}

void CBiquadDesigner::QuantizeCoefficients(int extra_shift) {
  if (!AllFinite(c_)) {
    c_ = {};
    sf_ = 1.0;
    return;
  }
  const double m = Largest(c_);
  // 2^(n-1) <= m < 2^n: the ceiling of log2 m, except that a largest coefficient of exactly
  // 1, 2, 4, ... takes one shift more, since +2^31 does not fit the drive's 32 bits. Taken
  // from the exponent, so no logarithm rounds it the wrong way.
  int n = 0;
  if (m >= 1.0) std::frexp(m, &n);
  n += extra_shift;
  // Within half a step below 2^n the largest coefficient would still round up to 2^31.
  if (RoundHalfUp(std::ldexp(m, 31 - n)) >= kTwoTo31) ++n;
  sf_ = std::ldexp(1.0, n);
  auto quantise = [n](double x) { return RoundHalfUp(std::ldexp(x, 31 - n)); };
  c_ = {quantise(c_.b0), quantise(c_.b1), quantise(c_.b2), quantise(c_.a1), quantise(c_.a2)};
}

void CBiquadDesigner::ForceUnityDcGain() {
  const double one = kTwoTo31 / sf_;
  if (c_.b0 + c_.b1 + c_.b2 - c_.a1 - c_.a2 != one)
    c_.b0 = RoundHalfUp(one - c_.b1 - c_.b2 + c_.a1 + c_.a2);
}

void CBiquadDesigner::ForceZeroDcGain() { c_.b0 = -(c_.b1 + c_.b2); }

int CBiquadDesigner::DesignFilter(CZel_Setup& setup, int filter, int slot, FilterReport* report) {
  auto p = FindParameters(setup, "Ts_S", Name("BQFilterType%d", filter).c_str(),
                          Name("BQFilterQ%d", filter).c_str(), Name("BQFilterF1%d", filter).c_str());
  auto slot_params = FindSlot(setup, slot);
  if (!p || !slot_params) return 0;
  auto [ts_param, type_param, q_param, f1_param] = *p;
  const double ts = ts_param->GetValueInBaseUnit();
  const double type_value = type_param->GetValueInBaseUnit();
  // Truncated like every code the drive stores; anything far outside the table is simply
  // not a type.
  const int type = std::abs(type_value) < kBiquadTypeCount + 1.0
                       ? static_cast<int>(Truncated(type_value))
                       : kBiquadTypeCount;
  const double q = q_param->GetValueInBaseUnit();
  const double f1 = f1_param->GetValueInBaseUnit();
  double f2 = 0.0;
  if (IsLeadLag(type)) {
    const CZel_Parameter* f2_param = setup.FindParameter(Name("BQFilterF2%d", filter));
    if (!f2_param) return 0;
    f2 = f2_param->GetValueInBaseUnit();
  }

  FilterReport r;
  r.filter = filter;
  r.slot = slot;
  r.type = type;
  r.type_name = TypeName(r.type);
  r.frequency_hz = f1;
  r.q = q;
  r.lag_frequency_hz = f2;

  std::string problem;
  if (type < 0 || type >= kBiquadTypeCount) {
    problem = "type code " + Number(type_value) + " is not a filter type";
  } else if (!(ts > 0.0) || !std::isfinite(ts)) {
    problem = "the slow-loop period Ts_S = " + Number(ts) + " s is not usable";
  } else {
    problem = FrequencyProblem(IsLeadLag(r.type) ? "lead frequency" : "frequency", f1, ts);
    if (problem.empty() && IsLeadLag(r.type)) problem = FrequencyProblem("lag frequency", f2, ts);
    if (problem.empty() && UsesQ(r.type) && !(q > 0.0 && std::isfinite(q)))
      problem = "Q = " + Number(q) + " is not above 0";
  }

  BiquadSlot stored;
  if (problem.empty()) {
    ComputeCoefficients(r.type, f1 * ts, IsLeadLag(r.type) ? f2 * ts : q, 0.0);
    const BiquadCoefficients designed = c_;
    if (!AllFinite(designed)) problem = "the design gives coefficients that are not finite";
    for (int extra = 0; problem.empty() && extra < 2; ++extra) {
      c_ = designed;
      QuantizeCoefficients(extra);
      if (BlocksZeroFrequency(r.type))
        ForceZeroDcGain();
      else
        ForceUnityDcGain();
      // The correction may push B0 past full scale; one more shift makes room for it.
      if (std::abs(c_.b0) < kTwoTo31) break;
    }
    if (problem.empty() && std::abs(c_.b0) >= kTwoTo31)
      problem = "its zero-frequency correction does not fit 32 bits";
    const double sf_max = (*slot_params)[5]->GetMaxInBaseUnit();
    if (problem.empty() && sf_ > sf_max)
      problem = "it needs SF = " + Number(sf_) + ", more than the slot holds (" + Number(sf_max) + ")";
    if (problem.empty()) stored = {c_, sf_};
  }
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

int CBiquadDesigner::DesignAllFilters(CZel_Setup& setup, BiquadReport* report) {
  BiquadReport r;
  int done = 1;
  struct Request {
    bool on = false;
    long long place = -1;
  };
  std::array<Request, kBiquadFilterCount> requests{};
  for (int i = 1; i <= kBiquadFilterCount; ++i) {
    auto p = FindParameters(setup, Name("BQFilter%d", i).c_str(), Name("BQFilterLocation%d", i).c_str());
    if (!p) {
      done = 0;
      continue;
    }
    requests[i - 1] = {(*p)[0]->GetValueInBaseUnit() != 0.0, Truncated((*p)[1]->GetValueInBaseUnit())};
    if (requests[i - 1].on && (requests[i - 1].place < 0 || requests[i - 1].place > 2))
      r.warnings.push_back("filter " + std::to_string(i) + " is on but its place " +
                           std::to_string(requests[i - 1].place) + " is none of 0, 1, 2: left out");
  }
  {
    ZelQuietErrors quiet;
    if (const CZel_Parameter* ts = setup.FindParameter("Ts_S")) r.sampling_period_s = ts->GetValueInBaseUnit();
  }

  int slot = 1;
  for (int place = 0; place < 3; ++place) {
    for (int i = 1; i <= kBiquadFilterCount; ++i) {
      if (!requests[i - 1].on || requests[i - 1].place != place) continue;
      FilterReport f;
      if (!DesignFilter(setup, i, slot, &f)) done = 0;
      f.place = place;
      if (f.slot) {
        r.slots[slot - 1] = f.stored;
        r.filters.push_back(std::move(f));
      }
      ++r.counts[place];
      ++slot;
    }
  }
  for (; slot <= kBiquadFilterCount; ++slot) {
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

void CBiquadDesigner::WriteFiltersToChip(CZel_Setup& setup) {
  ZelQuietErrors quiet;
  for (const char* name : kBiquadCountNames) {
    if (CZel_Parameter* p = setup.FindParameter(name)) p->WriteToChip();
  }
  for (int slot = 1; slot <= kBiquadFilterCount; ++slot) {
    for (const std::string& name : SlotParameterNames(slot)) {
      if (CZel_Parameter* p = setup.FindParameter(name)) p->WriteToChip();
    }
  }
}

int ComputeBiquadFilterSlots(CZel_Setup& setup) {
  CBiquadDesigner designer;
  return designer.DesignAllFilters(setup);
}

std::complex<double> FilterResponse(const BiquadSlot& slot, double sampling_period_s,
                                    double frequency_hz) {
  const double scale = slot.scale_factor / kTwoTo31;
  const BiquadCoefficients& c = slot.quantised;
  const Complex z1 = std::polar(1.0, -2.0 * std::numbers::pi * frequency_hz * sampling_period_s);
  const Complex z2 = z1 * z1;
  const Complex num = (c.b0 + c.b1 * z1 + c.b2 * z2) * scale;
  const Complex den = 1.0 + (c.a1 * z1 + c.a2 * z2) * scale;
  return num / den;
}

std::array<std::complex<double>, 2> FilterPoles(const BiquadSlot& slot) {
  const double scale = slot.scale_factor / kTwoTo31;
  const double a1 = slot.quantised.a1 * scale;
  const double a2 = slot.quantised.a2 * scale;
  // z^2 + a1 z + a2.
  const double disc = a1 * a1 - 4.0 * a2;
  if (disc >= 0.0) {
    const double root = std::sqrt(disc);
    return {Complex(0.5 * (-a1 + root)), Complex(0.5 * (-a1 - root))};
  }
  const double im = 0.5 * std::sqrt(-disc);
  return {Complex(-0.5 * a1, im), Complex(-0.5 * a1, -im)};
}

}  // namespace dcservo
