#include "derive/compute_all.h"

#include "derive/parameter_ranges.h"
#include "derive/pipelines.h"
#include "units/control_structure.h"

namespace dcservo {

void ComputeAllOptions(CZel_Setup* setup) {
  if (!setup) return;
  ComputeScaledParameters(*setup);
  ComputeParameterRanges(*setup);
  ComputeControlStructureOptions(*setup);
  AssignUnitTypes(*setup);
}

}  // namespace dcservo
