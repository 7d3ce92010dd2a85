#pragma once
// The names under which the plug-in's dialogs and tests are registered: the command line's
// `--dialog` and `test` words, the dialog scripts' and every opener's. Here, below both the
// setup dialogs and the tests, because each opens the other by name and neither may include
// the other.

// Hidden from the dynamic linker: each library keeps its own copy of a name (they are compared
// by their letters), and the linker need not bind some 350 of them at every start.
#pragma GCC visibility push(hidden)

namespace dcservo {

// The tooltip of a button whose dialog is not registered in this build.
inline constexpr char kNotBuiltTooltip[] = "Not available: this build does not have it yet.";

}  // namespace dcservo

namespace dcservo::dialog_names {

inline constexpr char kDriveSetup[] = "drive-setup";
inline constexpr char kMotorSetup[] = "motor";
inline constexpr char kFilters[] = "filters";
inline constexpr char kInertiaQuestion[] = "inertia-question";
inline constexpr char kAdvanced[] = "advanced";
inline constexpr char kExternalReference[] = "external-reference";
inline constexpr char kDriveInfo[] = "drive-info";
inline constexpr char kCommission[] = "commission";

inline constexpr char kVdcTest[] = "test-vdc";
inline constexpr char kCurrentTest[] = "test-current";
inline constexpr char kSpeedTest[] = "test-speed";
inline constexpr char kPositionTest[] = "test-position";
inline constexpr char kInertiaTest[] = "test-inertia";
inline constexpr char kEncoderTest[] = "test-encoder";
inline constexpr char kAnalogueTest[] = "test-analogue";
inline constexpr char kFrequencyResponse[] = "frequency-response";

// The notice that the drive setup shows before it opens the current test; a simulated drive
// blocks its shaft once the user has confirmed it, as the user would have.
inline constexpr char kBlockedShaftNotice[] =
    "The test must be performed with motor shaft blocked.";
// Its counterpart before a test that turns the motor, after one that needed it blocked; a
// simulated drive frees its shaft once the user has confirmed it.
inline constexpr char kFreeShaftNotice[] =
    "The test turns the motor: free the motor shaft and make sure the axis can move.";

}  // namespace dcservo::dialog_names

#pragma GCC visibility pop
