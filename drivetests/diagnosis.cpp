#include "drivetests/diagnosis.h"

#include "host/zel_errors.h"
#include "host/zel_mer.h"

namespace dcservo {
namespace {

struct ConditionRow {
  unsigned mer_bit;
  Diagnosis diagnosis;
};

// In the order of precedence: a switch or the ENABLE input stops the drive before any
// protection could trip.
constexpr ConditionRow kConditions[] = {
    {zel_mer::kDisabled,
     {"the drive's ENABLE input is in its disabled state",
      "switch the ENABLE input on, or check its wiring and its active level"}},
    {zel_mer::kPositiveLimit,
     {"the positive limit switch is active",
      "move the axis off the switch, or check the switch, its wiring and the inputs' active "
      "level"}},
    {zel_mer::kNegativeLimit,
     {"the negative limit switch is active",
      "move the axis off the switch, or check the switch, its wiring and the inputs' active "
      "level"}},
    {zel_mer::kShortCircuit,
     {"the drive's short-circuit protection tripped",
      "check the motor leads and their insulation for a short circuit, then the current "
      "controller's tuning"}},
    {zel_mer::kControlError,
     {"the control error protection tripped: the motor did not follow its reference",
      "check that the shaft turns freely and that the load stays within the current limit"}},
};

struct SymptomRow {
  const char* in_failure;  // a phrase of the test's own failure text
  Diagnosis diagnosis;
};

constexpr SymptomRow kSymptoms[] = {
    // First: a run that lost its drive tells nothing of the motor, whatever else it says.
    {"the link to the drive at",
     {"the link to the drive was lost in the middle of the step: the drive stopped answering",
      "check the cable or the network to the drive, and that the drive (or `dcservo "
      "simdrive`) still runs and serves; then run again"}},
    {"measured speed is NEGATIVE",
     {"the shaft turned against the torque applied: the encoder counts backwards, or a load "
      "pulls the shaft harder than the test current can hold",
      "run the encoder test turning the shaft by hand in the positive direction: if it counts "
      "backwards, swap the encoder's A and B signals or reverse the counting; if it counts "
      "forwards, the load (gravity on a vertical axis, a tensioned belt) needs more torque than "
      "the current limit gives"}},
    {"measured speed is ZERO",
     {"the shaft did not turn, or the drive did not see it turn: the shaft is blocked (a brake, "
      "a mechanical stop) where this step needs it free, or an encoder signal is missing",
      "free the shaft (release the brake, remove the blocking) and run the encoder test: "
      "\"No encoder pulses\" there means an encoder signal does not reach the drive"}},
    // Commissioning's note after it ran the inertia test again at the most current allowed.
    {"the most test current the setup allows",
     {"the load's inertia or friction leaves the most test current too little torque to reach "
      "the test's speed within the test's time",
      "lower TestMaxSpeed so that the motor reaches it in time, and check the load for "
      "friction (a dragging brake, a tight coupling or bearing)"}},
    {"does not reach the programmed speed level",
     {"the motor did not reach the test's speed: the load needs more torque than the test "
      "current gives, or the encoder miscounts",
      "check that the shaft turns freely, raise the test current within the current limit, "
      "and run the encoder test"}},
    {"current ripple at constant speed",
     {"the speed sensor's counts reach the current: each count of speed measurement moves the "
      "current reference by more than the target allows at this pass band",
      "lower the speed loop's pass band or add a low pass on the speed feedback; `dcservo tune "
      "speed --apply-proposal` chooses both within the loop's margins"}},
};

}  // namespace

const Diagnosis* DiagnoseFailure(unsigned mer, std::string_view failure) {
  for (const ConditionRow& row : kConditions) {
    if (mer & row.mer_bit) return &row.diagnosis;
  }
  for (const SymptomRow& row : kSymptoms) {
    if (failure.find(row.in_failure) != std::string_view::npos) return &row.diagnosis;
  }
  return nullptr;
}

unsigned ReadDriveConditions(CZel_Setup& setup) {
  CZel_Variable* mer = nullptr;
  {
    ZelQuietErrors quiet;  // a drive without MER tells nothing more
    mer = setup.FindVariable("MER", 0);
    if (!mer || !mer->ReadFromChip()) return 0;
  }
  const double bits = mer->GetValueInInternalUnit();
  return bits > 0.0 && bits < 65536.0 ? static_cast<unsigned>(bits) & 0xFFFFu : 0u;
}

std::string ReadableText(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\t') {
      if (!out.empty() && out.back() != ' ' && out.back() != '\n') out += ' ';
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace dcservo
