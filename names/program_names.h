#pragma once
// The names of the variables of the drive's test programs, each spelt once, as the drive's
// programs spell them (names/drive_names.h has the setup's names). A test holds every
// constant to the programs of the simulated drive.

// Hidden from the dynamic linker: each library keeps its own copy of a name (they are compared
// by their letters), and the linker need not bind some 350 of them at every start.
#pragma GCC visibility push(hidden)

namespace dcservo {

// The variables of the drive's test programs: a test writes its inputs before the start and
// reads its results and flags while the program runs.
namespace program {
inline constexpr char Amplitude[] = "Amplitude";
inline constexpr char delta_speed[] = "delta_speed";
inline constexpr char delta_time[] = "delta_time";
inline constexpr char Frequency[] = "Frequency";
inline constexpr char IlimPS_Test[] = "IlimPS_Test";
inline constexpr char Imax_Prot_Test[] = "Imax_Prot_Test";
inline constexpr char In1[] = "In1";
inline constexpr char LimitSpeed[] = "LimitSpeed";
inline constexpr char LimitSpeedMax[] = "LimitSpeedMax";
inline constexpr char MultiC[] = "MultiC";
inline constexpr char Periods[] = "Periods";
inline constexpr char Speed[] = "Speed";
inline constexpr char Speed_Gain_Shift[] = "Speed_Gain_Shift";
inline constexpr char STARTED[] = "STARTED";
inline constexpr char test_flag[] = "test_flag";
}  // namespace program

}  // namespace dcservo

#pragma GCC visibility pop
