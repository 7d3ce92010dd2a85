#include "design/speed_proposal.h"

#include <cmath>
#include <cstdio>

#include "design/controller_tuning.h"
#include "host/zel_quiet_value.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

// Corners tried for the low pass, as shares of the speed loop's sampling rate: from where it
// costs little phase down to where it costs the band more than it saves.
constexpr double kCornerShares[] = {0.3, 0.2, 0.15, 0.1, 0.075, 0.05, 0.035, 0.025, 0.02};
constexpr double kButterworthQ = 0.707;
// The jump of one count, amplified by the closed loop's peak sensitivity, is most but not all
// of the ripple a run shows: the current loop's own overshoot and the integral part add a
// little. The band is chosen for this share of the target.
constexpr double kRippleInHand = 0.9;
// Rounds of lowering the band for the ripple that the sensitivity at the lowered band gives.
constexpr int kRippleRounds = 6;
// Bisection steps for the highest band with margins: 2^-8 of the octaves searched, a fraction
// of a percent over the few octaves a band may fall.
constexpr int kBandSteps = 8;
// The search judges margins on a coarser sweep than a report does; the proposal's own margins
// come from the full one.
constexpr int kSearchSweep = 200;

// The loop with the speed gains that the same design gives for band `w` instead of the one
// asked for: Kp grows with the band, Ki with its square.
DriveModel AtBand(const DriveModel& model, double requested, double w) {
  DriveModel out = model;
  const double r = w / requested;
  out.kps = model.kps * r;
  out.kis = model.kis * r * r;
  return out;
}

// A degree and half a decibel in hand, for the coarser sweep of the search.
bool MarginsKept(const std::optional<LoopMargins>& m) {
  return m && m->stable && m->phase_margin_deg.value_or(180.0) >= kPhaseMarginWarn_deg + 1.0 &&
         m->gain_margin_db.value_or(1e9) >= kGainMarginWarn_dB + 0.5;
}

std::optional<LoopMargins> SpeedMargins(const SpeedProposalInputs& in, const DriveModel& model,
                                        double w, int sweep = kSearchSweep) {
  return MarginsOf(AtBand(model, in.requested_rad_s, w), in.structure, TunedLoop::Speed, sweep);
}

// A band and the margins of the loop at it.
struct BandMargins {
  double band = 0.0;
  std::optional<LoopMargins> margins;
};

// The highest band up to `highest` whose loop keeps its margins, with them; nothing when even
// the lowest band does not.
std::optional<BandMargins> HighestBandWithMargins(const SpeedProposalInputs& in,
                                                  const DriveModel& model, double highest) {
  if (auto m = SpeedMargins(in, model, highest); MarginsKept(m)) return BandMargins{highest, m};
  double lo = in.lowest_rad_s, hi = highest;
  if (!(lo < hi)) return std::nullopt;
  BandMargins kept{lo, SpeedMargins(in, model, lo)};
  if (!MarginsKept(kept.margins)) return std::nullopt;
  for (int i = 0; i < kBandSteps; ++i) {
    const double mid = std::sqrt(lo * hi);
    if (auto m = SpeedMargins(in, model, mid); MarginsKept(m)) {
      lo = mid;
      kept = {mid, std::move(m)};
    } else {
      hi = mid;
    }
  }
  return kept;
}

// The loop with this low pass (or none) on its speed feedback; nothing when the filter has no
// stored form.
std::optional<DriveModel> ModelWithFilter(const SpeedProposalInputs& in,
                                          const std::optional<FilterDescription>& filter) {
  DriveModel model = in.model;
  if (filter) {
    const auto c = StoredCoefficientsOf(*filter, model.OuterPeriod());
    if (!c) return std::nullopt;
    model.speed_feedback_filters.push_back(*c);
  }
  return model;
}

// The best band with this low pass (or none) on the speed feedback. Its margins are the
// search's coarse ones: only the proposal taken is worth the full sweep (WithFullMargins).
std::optional<SpeedLoopProposal> WithFilter(const SpeedProposalInputs& in,
                                            const std::optional<FilterDescription>& filter) {
  const std::optional<DriveModel> with = ModelWithFilter(in, filter);
  if (!with) return std::nullopt;
  const DriveModel& model = *with;
  SpeedLoopProposal p;
  p.requested_rad_s = in.requested_rad_s;
  p.feedback_low_pass = filter;
  p.allowed_A = in.ripple_share_of_In * in.rated_A;
  const double ripple_at_request = CountJump_A(model);
  const double designed_A = kRippleInHand * p.allowed_A;
  const double ripple_band = in.requested_rad_s * designed_A / ripple_at_request;
  double band = std::min(in.requested_rad_s, std::max(ripple_band, in.lowest_rad_s));
  if (band < in.requested_rad_s) p.limited_by = PassBandLimit::Ripple;
  std::optional<BandMargins> kept = HighestBandWithMargins(in, model, band);
  if (!kept) return std::nullopt;
  if (kept->band < band) p.limited_by = PassBandLimit::Margins;
  band = kept->band;
  // The first round judges the band that the search ended on, whose margins it has.
  p.margins = std::move(kept->margins);
  for (int round = 0;; ++round) {
    if (round > 0) p.margins = SpeedMargins(in, model, band);
    const double sensitivity = p.margins ? p.margins->peak_sensitivity : 1.0;
    p.jump_A = ripple_at_request * band / in.requested_rad_s;
    p.ripple_A = p.jump_A * sensitivity;
    if (p.ripple_A <= designed_A * 1.001 || round == kRippleRounds) break;
    if (band <= in.lowest_rad_s) {
      p.limited_by = PassBandLimit::Floor;
      break;
    }
    band = std::max(in.lowest_rad_s, band * designed_A / p.ripple_A);
    p.limited_by = PassBandLimit::Ripple;
  }
  p.pass_band_rad_s = band;
  return p;
}

// The proposal with the margins that a report gives its loop.
SpeedLoopProposal WithFullMargins(const SpeedProposalInputs& in, SpeedLoopProposal p) {
  const std::optional<DriveModel> model = ModelWithFilter(in, p.feedback_low_pass);
  p.margins = SpeedMargins(in, *model, p.pass_band_rad_s, kMarginSweepPoints);
  return p;
}

bool Usable(double v) { return v > 0.0 && std::isfinite(v); }

}  // namespace

const char* PassBandLimitText(PassBandLimit limit) {
  switch (limit) {
    case PassBandLimit::None: return "nothing: the band asked for is kept";
    case PassBandLimit::Ripple: return "the current ripple of one speed count";
    case PassBandLimit::Margins: return "the loop's phase and gain margins";
    case PassBandLimit::Floor: return "the lowest pass band the setup takes";
  }
  return "";
}

std::optional<SpeedLoopProposal> ProposeSpeedLoop(const SpeedProposalInputs& in) {
  if (!Usable(in.requested_rad_s) || !Usable(in.rated_A) || !Usable(in.damping) ||
      !Usable(in.model.kps) || !Usable(in.model.current_counts_per_A) ||
      !Usable(in.ripple_share_of_In) || !(in.lowest_rad_s > 0.0) ||
      !SpeedQuantum_rad_s(in.model))
    return std::nullopt;
  std::optional<SpeedLoopProposal> best = WithFilter(in, std::nullopt);
  const bool needs_filter = !best || !best->RippleMet() || best->limited_by != PassBandLimit::None;
  if (in.filter_free && needs_filter) {
    const double rate_hz = 1.0 / in.model.OuterPeriod();
    double previous_band = 0.0;
    for (double share : kCornerShares) {
      // Corners in whole hertz, as a user would type them.
      const FilterDescription low_pass{kPlaceSpeedFeedback, kLowPass2ndOrder,
                                       std::round(share * rate_hz), kButterworthQ};
      const std::optional<SpeedLoopProposal> p = WithFilter(in, low_pass);
      if (!p) continue;
      // Past the corner where the margins start to hold the band down, lower corners only
      // cost more phase.
      if (p->limited_by == PassBandLimit::Margins && p->pass_band_rad_s < previous_band) break;
      previous_band = p->pass_band_rad_s;
      // A filter must earn its place: a wider band, or the ripple target met where it was not.
      const bool better = !best || (p->RippleMet() && !best->RippleMet()) ||
                          (p->RippleMet() == best->RippleMet() &&
                           p->pass_band_rad_s > best->pass_band_rad_s * 1.01);
      if (better) best = p;
    }
  }
  if (best) best = WithFullMargins(in, std::move(*best));
  if (best && in.has_acceleration_feedforward)
    best->acceleration_feedforward =
        in.model.kps / (2.0 * in.damping * in.requested_rad_s * in.model.OuterPeriod());
  return best;
}

std::optional<SpeedProposalInputs> SpeedProposalInputsOf(CZel_Setup& setup, std::string* why) {
  std::optional<DriveModel> model = DriveModelOf(setup, why);
  if (!model) return std::nullopt;
  SpeedProposalInputs in;
  in.model = *model;
  in.structure = StructureOfLoop(setup, TunedLoop::Speed);
  // A missing one reads NaN, which the proposal refuses.
  in.requested_rad_s = ZelQuietBaseValue(setup, param::PB_S);
  in.damping = ZelQuietBaseValue(setup, param::Dump_S);
  in.rated_A = ZelQuietBaseValue(setup, param::In);
  const CZel_Parameter* band = setup.FindOptionalParameter(param::PB_S);
  in.lowest_rad_s = band ? band->GetMinInBaseUnit() : 0.0;
  in.filter_free = FirstFreeFilter(setup) != 0;
  in.has_acceleration_feedforward = setup.FindOptionalParameter(param::KFFA_scl) != nullptr;
  return in;
}

std::optional<SpeedLoopProposal> ProposeSpeedLoopFor(CZel_Setup& setup) {
  const std::optional<SpeedProposalInputs> in = SpeedProposalInputsOf(setup, nullptr);
  return in ? ProposeSpeedLoop(*in) : std::nullopt;
}

int ApplySpeedLoopProposal(CZel_Setup& setup, const SpeedLoopProposal& p) {
  CZel_Parameter* band = setup.FindParameter(param::PB_S);
  if (!band || !band->SetValueInBaseUnit(p.pass_band_rad_s)) return 0;
  if (p.feedback_low_pass) {
    const int filter = FirstFreeFilter(setup);
    if (!filter || !PlaceFilter(setup, filter, *p.feedback_low_pass)) return 0;
  }
  if (p.acceleration_feedforward > 0.0) {
    CZel_Parameter* ff = setup.FindParameter(param::KFFA_scl);
    if (!ff || !ff->SetValueInBaseUnit(p.acceleration_feedforward)) return 0;
  }
  return 1;
}

std::string DescribeProposal(const SpeedLoopProposal& p, const std::string& pass_band_name) {
  char text[600];
  int n = std::snprintf(text, sizeof text, "%s = %.3g rad/s", pass_band_name.c_str(),
                        p.pass_band_rad_s);
  auto add = [&](const char* format, auto... args) {
    if (n >= 0 && n < static_cast<int>(sizeof text))
      n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), format, args...);
  };
  if (p.feedback_low_pass)
    add(" with a 2nd-order low pass at %.0f Hz on the speed feedback",
        p.feedback_low_pass->frequency_hz);
  if (p.acceleration_feedforward > 0.0)
    add(", acceleration feedforward KFFA_scl = %.0f", p.acceleration_feedforward);
  add(": one speed count moves the current reference by %.3g A, %.3g A through the loop's "
      "sensitivity (target %.3g A)",
      p.jump_A, p.ripple_A, p.allowed_A);
  if (p.margins && p.margins->phase_margin_deg)
    add(", phase margin %.0f deg", *p.margins->phase_margin_deg);
  add("; the band is limited by %s", PassBandLimitText(p.limited_by));
  return text;
}

}  // namespace dcservo
