#include "design/notch_placement.h"

#include <cmath>


namespace dcservo {

std::optional<MeasuredNotchMargins> NotchOnMeasuredLoop(std::span<const BodePoint> open_loop,
                                                        const FilterDescription& notch,
                                                        double sampling_period_s) {
  const auto stored = StoredCoefficientsOf(notch, sampling_period_s);
  if (!stored) return std::nullopt;
  MeasuredNotchMargins m;
  m.before = MarginsOfCurve(open_loop);
  m.with_notch = MarginsOfCurve(WithFilter(open_loop, *stored, sampling_period_s));
  const CurveMargins& w = m.with_notch;
  m.kept = w.phase_margin_deg && *w.phase_margin_deg >= kPhaseMarginWarn_deg &&
           (!w.gain_margin_db || *w.gain_margin_db >= kGainMarginWarn_dB);
  if (!open_loop.empty()) {
    m.from_hz = open_loop.front().frequency_hz;
    m.to_hz = open_loop.back().frequency_hz;
  }
  return m;
}

std::string DescribeMeasuredMargins(const CurveMargins& m) {
  const auto whole = [](const std::optional<double>& v) {
    return v ? std::to_string(std::lround(*v)) : std::string("none");
  };
  return "phase margin " + whole(m.phase_margin_deg) + " deg, gain margin " +
         whole(m.gain_margin_db) + " dB";
}

std::string MeasuredNotchRefusal(const MeasuredNotchMargins& m) {
  if (m.kept) return "";
  if (!m.with_notch.phase_margin_deg)
    return "with the notch the measured open loop does not cross 0 dB between " +
           NotchHzText(m.from_hz) + " and " + NotchHzText(m.to_hz) +
           " Hz, so its phase margin cannot be judged: measure a wider band";
  return "with the notch the measured open loop keeps too little margin: " +
         DescribeMeasuredMargins(m.with_notch);
}

NotchPlacement PlaceNotch(CZel_Setup& setup, double frequency_hz,
                          std::span<const BodePoint> measured_open_loop) {
  NotchPlacement out;
  const int filter = FirstFreeFilter(setup);
  if (!filter) {
    out.refusal = "no filter is free for the notch: switch one off first";
    return out;
  }
  std::string why;
  const std::optional<DriveModel> model = DriveModelOf(setup, &why);
  if (!model) {
    out.refusal = "the speed loop cannot be modelled, so no notch is placed: " + why;
    return out;
  }
  out.refusal = NotchFrequencyRefusal(frequency_hz, model->OuterPeriod());
  if (!out.refusal.empty()) return out;
  out.proposal = ProposeNotch(*model, StructureOfLoop(setup, TunedLoop::Speed), frequency_hz);
  if (!out.proposal) {
    out.refusal = "the drive cannot store the coefficients of a notch at this frequency";
    return out;
  }
  if (!measured_open_loop.empty()) {
    out.measured = NotchOnMeasuredLoop(measured_open_loop, out.proposal->notch, model->OuterPeriod());
    if (!out.measured) {
      out.refusal = "the notch cannot be stored at the speed loop's rate";
      return out;
    }
    out.refusal = MeasuredNotchRefusal(*out.measured);
    if (!out.refusal.empty()) return out;
  }
  if (!out.proposal->margins_kept) {
    out.refusal = "not placed: the speed loop would keep no margins above the warning limits "
                  "with the " + DescribeNotch(*out.proposal);
    return out;
  }
  if (!ApplyNotch(setup, *out.proposal)) {
    out.refusal = "the notch could not be written into filter " + std::to_string(filter);
    return out;
  }
  out.filter = filter;
  return out;
}

}  // namespace dcservo
