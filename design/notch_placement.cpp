#include "design/notch_placement.h"

#include "host/zel_errors.h"

namespace dcservo {

NotchPlacement PlaceNotch(CZel_Setup& setup, double frequency_hz) {
  NotchPlacement out;
  const int filter = FirstFreeFilter(setup);
  if (!filter) {
    out.refusal = "no filter is free for the notch: switch one off first";
    return out;
  }
  std::string why;
  std::optional<DriveModel> model;
  {
    ZelQuietErrors quiet;  // the reason comes back in `why`
    model = DriveModelOf(setup, &why);
  }
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
