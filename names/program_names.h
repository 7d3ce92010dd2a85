#pragma once
// The names of the drive's test programs and of their variables, each spelt once, as the
// drive spells them (names/drive_names.h has the setup's names). A test holds every constant
// to the programs of the simulated drive.

// Hidden from the dynamic linker: each library keeps its own copy of a name (they are compared
// by their letters), and the linker need not bind some 350 of them at every start.
#pragma GCC visibility push(hidden)

namespace dcservo {

// The drive's test programs, as a host asks the drive to describe, select and start them.
namespace drive_program {
inline constexpr char Analogue_Reference_Test[] = "Analogue_Reference_Test";
inline constexpr char Current_Controller_Tuning_Test[] = "Current_Controller_Tuning_Test";
inline constexpr char Encoder_Connection_Test[] = "Encoder_Connection_Test";
inline constexpr char Frequency_Response_Test[] = "Frequency_Response_Test";
inline constexpr char Position_Controller_Tuning_Test_with_SpdCtrl[] =
    "Position_Controller_Tuning_Test_with_SpdCtrl";
inline constexpr char Position_Controller_Tuning_Test_without_SpdCtrl[] =
    "Position_Controller_Tuning_Test_without_SpdCtrl";
inline constexpr char Speed_Controller_Tuning_Test[] = "Speed_Controller_Tuning_Test";
inline constexpr char Total_Inertia_Identification_Test[] = "Total_Inertia_Identification_Test";
inline constexpr char VDC_Detection_Test[] = "VDC_Detection_Test";
}  // namespace drive_program

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
