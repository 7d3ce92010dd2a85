#pragma once
// Internal units per base unit for each kind of quantity, computed afresh from the setup on
// every call (the setup is the only state), and the factor/offset table that the host uses
// to convert any variable or parameter.

#include <cstdint>

#include "host/zel_setup.h"
#include "units/parameter_reader.h"

namespace dcservo {

// Full scale of the drive's Q15 arithmetic: gains, limits, filter coefficients and signed
// 16-bit counts.
inline constexpr double kFullScale = 32767.0;
// One in the Q16 numbers of the reference profiles (slopes) and of the converters' readings,
// which the firmware left-aligns in 16 bits.
inline constexpr double kQ16One = 65536.0;
// The largest count of an unsigned 16-bit register: delays and times in samples.
inline constexpr double kUnsigned16Max = 65535.0;
// The firmware's registers are 16 bits wide; writing one drops anything above.
inline constexpr std::uint32_t kRegister16Bits = 0xFFFF;

// Each scale is read through a setup, which reports a missing parameter to the host, or
// through a reader, whose caller chooses (a quiet reader answers with the names it missed).

// The converters' full-scale count: readings are left-aligned in 16 bits, so an N-count
// converter tops out at 65536 - 65536 / N.
double AdcMax(CZel_Setup& setup);
double AdcMax(const ParameterReader& in);

double VoltageScale(CZel_Setup& setup);
double VoltageScale(const ParameterReader& in);
double MeasuredVoltageScale(CZel_Setup& setup);
double MeasuredVoltageScale(const ParameterReader& in);
double CurrentScale(CZel_Setup& setup);
double CurrentScale(const ParameterReader& in);
double LoadPositionScale(CZel_Setup& setup);
double LoadPositionScale(const ParameterReader& in);
double MotorPositionScale(CZel_Setup& setup);
double MotorPositionScale(const ParameterReader& in);
double LoadSpeedScale(CZel_Setup& setup);
double LoadSpeedScale(const ParameterReader& in);
double MotorSpeedScale(CZel_Setup& setup);
double MotorSpeedScale(const ParameterReader& in);
double AccelerationScale(CZel_Setup& setup);
double AccelerationScale(const ParameterReader& in);
double JerkScale(CZel_Setup& setup);
double JerkScale(const ParameterReader& in);

// True when the table below has a row for the unit; any other unit gets the factor 1.
bool HasScaleForUnit(const char* unit);

// Base-unit value of one internal unit of the named quantity in the named unit.
double ScaleFactor(CZel_Setup& setup, const char* unit, const char* name);
double ScaleFactor(const ParameterReader& in, const char* unit, const char* name);
// Offset in internal units that goes with the factor; only "°C" has one.
double ScaleOffset(CZel_Setup& setup, const char* unit);
double ScaleOffset(const ParameterReader& in, const char* unit);

// A parameter's value in the drive's internal units, also for one that the setup stores in
// base units (a test's currents): what a test program is given. 0 when it is missing.
double DriveInternalValue(CZel_Setup& setup, const char* name);
double DriveInternalValue(const ParameterReader& in, const char* name);

}  // namespace dcservo
