// Every parameter at a value no drive has, then the chip parameters derived from it (where
// flags and register bits are made of doubles): each step answers or refuses, and no count or
// flag is made of a double that its integer cannot hold (the sanitizer build checks those
// conversions; here, that every stored value is still finite).

#include <cmath>
#include <string>

#include "derive/pipelines.h"
#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

TEST(ExtremeValues, TheChipIsDerivedWithAnyOneParameterAtEitherExtreme) {
  const auto names = [] {
    std::vector<std::string> all;
    const auto setup = LoadBundledSetup();
    const CZel_Parameters& list = setup->GetParameters();
    for (int i = 0; i < list.GetParametersCount(); ++i) all.push_back(list[i]->GetName());
    return all;
  }();
  for (const double extreme : {1e300, -1e300}) {
    for (const std::string& name : names) {
      SCOPED_TRACE(name + " = " + std::to_string(extreme));
      auto s = LoadBundledSetup();
      s->FindParameter(name)->SetValueInInternalUnit(extreme);
      ZelCollectErrors quiet;
      dcservo::ComputeChipParameters(*s);
      const CZel_Parameters& list = s->GetParameters();
      for (int i = 0; i < list.GetParametersCount(); ++i)
        ASSERT_TRUE(std::isfinite(list[i]->GetValueInInternalUnit())) << list[i]->GetName();
    }
  }
}

}  // namespace
