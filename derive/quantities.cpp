#include "derive/quantities.h"

namespace dcservo {

std::span<const QuantityDescriptor> Quantities() { return kQuantities; }

const QuantityDescriptor* QuantityNamed(std::string_view scaled) {
  // Asked for each field a dialog shows, so the table is indexed once; a name that two rows
  // share finds the first.
  static const zel::NameMap<const QuantityDescriptor*> by_scaled_name = [] {
    zel::NameMap<const QuantityDescriptor*> index;
    for (const QuantityDescriptor& q : kQuantities) {
      if (q.scaled) index.Insert(q.scaled, &q);
    }
    return index;
  }();
  const QuantityDescriptor* const* found = by_scaled_name.Find(scaled);
  return found ? *found : nullptr;
}

}  // namespace dcservo
