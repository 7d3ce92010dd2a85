#pragma once
// What a failed test or commissioning step can tell of its cause, in the order in which one
// cause hides the next: the conditions that the drive reports in its protection register
// (a switch, ENABLE, a short circuit), then the supply, the encoder, the load, the coupling
// and last the tuning. The run's own record (what it logged or watched) tells the causes
// apart where the failure text alone cannot; the symptom that the test's failure text names
// comes after. One row per cause, with what to do about it. The tests' failure texts stay as
// they stand; a diagnosis stands beside them.

#include <string>
#include <string_view>
#include <vector>

#include "host/zel_setup.h"

namespace dcservo {

class CMyTestDlg;

// Why a step did not run when the engineer declined its question about the shaft.
inline constexpr char kCancelledByUser[] = "cancelled by the user";

struct Diagnosis {
  const char* cause;
  const char* advice;
};

// Null when neither the drive's conditions (`mer`) nor the failure say more than the
// failure itself.
const Diagnosis* DiagnoseFailure(unsigned mer, std::string_view failure);

// What a run showed of its cause, beside its failure text and the drive's conditions. A
// tuning run logs the reference, the response and the current; the inertia test watches the
// speed and the current. Samples in one unit per quantity (the response in the reference's).
struct RunEvidence {
  unsigned mer = 0;
  std::vector<double> reference, response;         // empty for a run that logs neither
  std::vector<double> current_reference, current;  // A; empty for a run without them
  std::vector<double> voltage;  // the voltage reference the inertia test watched, V
  double current_limit_A = 0.0;                    // what the run's current reference may reach
  double test_current_A = 0.0;                     // the inertia test's constant current
  // The longest run of samples where the current fell short of its reference although the
  // setup's supply would have driven it there at that speed: the supply gives less than the
  // setup says.
  int supply_short_samples = 0;
  // One step of the response's measurement against the reference's largest departure from
  // rest: an encoder too coarse for the test's speed.
  double response_quantum = 0.0;
  bool resonance_limits_loop = false;
  // The current reference swung from one sign to the other, sample after sample, at a good
  // share of its limit: the loop oscillated.
  bool oscillated = false;
  // The loop model, with the setup's rigid load, gives the gains that ran their margins: an
  // oscillation then comes from what the model lacks (a compliant coupling), not the gains.
  bool model_keeps_margins = false;
  // The current step read R or L off the setup's (one of them, not both alike).
  bool armature_mismatch = false;
};
const Diagnosis* DiagnoseEvidence(const RunEvidence& evidence, std::string_view failure);

// The evidence that the test's last run left, read from the drive and the test's record;
// null when no cause can be told. The test's record of a run that a protection ended is
// uploaded for it.
const Diagnosis* DiagnoseRun(CMyTestDlg& test, std::string_view failure);

// Whether the diagnosis is that the shaft stood still under its current: a brake, a stop, or
// friction beyond that current, which more current tells apart.
bool SaysShaftHeld(const Diagnosis* diagnosis);

// The drive's protection register as it reads now; 0 when it cannot be read.
unsigned ReadDriveConditions(CZel_Setup& setup);

// A failure text as a terminal line or a report shows it: the tests' tab indents and
// carriage returns become plain spaces and line breaks.
std::string ReadableText(std::string_view text);

}  // namespace dcservo
