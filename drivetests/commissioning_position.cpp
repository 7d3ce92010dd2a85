#include <cstdio>

#include "design/drive_model.h"
#include "design/speed_proposal.h"
#include "drivetests/commissioning_step_run.h"
#include "host/zel_quiet_value.h"
#include "names/drive_names.h"

namespace dcservo::commissioning {

// The position loop's band kept below the speed loop's that the steps so far chose: what was
// changed, or nothing.
std::optional<std::string> KeepPositionBelowSpeedLoop(CZel_Setup& setup) {
  const ModelStructure structure = StructureOfLoop(setup, TunedLoop::Position);
  const double speed = ZelQuietBaseValue(setup, param::PB_S),
               position = ZelQuietBaseValue(setup, param::PB_P);
  const double most = speed / kCascadeSeparation;
  // A band a rounding above the limit is no band the loops would feel.
  if (structure != ModelStructure::PositionOverSpeed || !(position > most * 1.01))
    return std::nullopt;
  setup.SetParameterValueInBaseUnit(param::PB_P, most);
  char text[200];
  std::snprintf(text, sizeof text,
                "the position loop's pass band was lowered to a third of the speed loop's "
                "(PB_S %.3g rad/s): PB_P %.3g -> %.3g rad/s",
                speed, position, setup.GetParameterValueInBaseUnit(param::PB_P));
  return std::string(text);
}

}  // namespace dcservo::commissioning
