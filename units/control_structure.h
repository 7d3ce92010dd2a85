#pragma once
// Which loops the drive closes and where their feedback comes from, published as setup
// options; and the rotary or linear units of the load-side quantities.

#include <string>
#include <string_view>
#include <vector>

#include "host/zel_setup.h"

namespace dcservo {

// 1 when the options were written; 0 and nothing written when `ControlMode` (or, in
// position mode, `PositionControlType`) is outside its values.
int ComputeControlStructureOptions(CZel_Setup& setup);

// The texts that an option written here can hold ("0" and "1" for a flag, the sensor names
// for a sensor); false for an option that is not one of these.
bool ControlStructureOptionValues(std::string_view option, std::vector<std::string>& values);

// Gives the load-side parameters and live variables rotary units when `TransmissionType`
// is 0 and linear ones otherwise, and the loops' pass bands the units of an angular
// frequency (a setup saved before they had a kind of their own gets it here). Always 1;
// missing entries are skipped.
int AssignUnitTypes(CZel_Setup& setup);

}  // namespace dcservo
