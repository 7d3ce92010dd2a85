#include "derive/quantities.h"

namespace dcservo {

std::span<const QuantityDescriptor> Quantities() { return kQuantities; }

const QuantityDescriptor* QuantityNamed(std::string_view scaled) {
  for (const QuantityDescriptor& q : kQuantities) {
    if (q.scaled && zel::NamesEqual(q.scaled, scaled)) return &q;
  }
  return nullptr;
}

}  // namespace dcservo
