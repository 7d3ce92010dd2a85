#include "derive/compute_all.h"

#include "derive/pipelines.h"
#include "units/control_structure.h"

namespace dcservo {

void ComputeParameterRanges(CZel_Setup&) {
  // No editable parameter of this build has a range that depends on the others yet.
}

void ComputeAllOptions(CZel_Setup* setup) {
  if (!setup) return;
  ComputeScaledParameters(*setup);
  ComputeParameterRanges(*setup);
  ComputeControlStructureOptions(*setup);
  AssignUnitTypes(*setup);
}

}  // namespace dcservo
