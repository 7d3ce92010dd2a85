#include "drivetests/diagnosis.h"

#include <algorithm>
#include <cmath>

#include "design/drive_model.h"
#include "drivetests/current_test_dlg.h"
#include "drivetests/drive_test_targets.h"
#include "drivetests/inertia_test_dlg.h"
#include "drivetests/my_test_dlg.h"
#include "drivetests/tuning_run_dlg.h"
#include "host/zel_graph.h"
#include "host/zel_mer.h"
#include "host/zel_quiet_value.h"
#include "names/drive_names.h"
#include "units/scales.h"

namespace dcservo {
namespace {

struct ConditionRow {
  unsigned mer_bit;
  Diagnosis diagnosis;
};

// In the order of precedence: a switch or the ENABLE input stops the drive before any
// protection could trip.
// The conditions that stop the drive whatever else is wrong, in the order of precedence: a
// switch or the ENABLE input stops the drive before any protection could trip.
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
};

// A control error is what every cause below the conditions ends in: it names a cause only
// when the run's record names none.
constexpr ConditionRow kControlError = {
    zel_mer::kControlError,
    {"the control error protection tripped: the motor did not follow its reference",
     "check that the shaft turns freely and that the load stays within the current limit"}};

// The causes that a run's record tells apart, in the order in which one hides the next.
constexpr Diagnosis kSupplyShort = {
    "the drive's supply gives less voltage than the setup's Vdc: the current fell short of its "
    "reference at speeds where the setup's supply would have driven it",
    "check the supply and its wiring, then run the DC voltage test (`dcservo test vdc --accept`) "
    "so that Vdc is the supply's, and tune the loops again"};
constexpr Diagnosis kSupplyNotSetups = {
    "the drive's supply is not the setup's Vdc: the current step applied the voltage reference "
    "scaled by the real supply, which reads R and L off by one factor",
    "check the supply, then run the DC voltage test (`dcservo test vdc --accept`) so that Vdc "
    "is the supply's, and tune the current loop again"};
constexpr Diagnosis kShaftTurnedInStep = {
    "the motor shaft turned during the current step: it was not blocked",
    "block the motor shaft, as the test's notice asks, and run the test again"};
constexpr Diagnosis kArmature = {
    "the motor's R or L in the setup is not the motor's: the current step reads it otherwise "
    "(the run's warning names which, and its value)",
    "set R and L in the motor setup to the motor's (the values the step identified), then tune "
    "the current loop again"};
constexpr Diagnosis kEncoderCoarse = {
    "the encoder has too few lines for this test's speed: one count per speed sample is coarser "
    "than the speed the test asks for",
    "check No_encoder_lines against the encoder's data; with the right number, raise TestSpeed "
    "to several counts per speed sample, or fit an encoder with more lines"};
constexpr Diagnosis kEncoderBackwards = {
    "the encoder counts backwards: the measured speed ran against the direction the torque "
    "drove the shaft, so the loop pushed the wrong way",
    "swap the encoder's A and B signals, or reverse the encoder counting in the motor setup; "
    "the encoder test, turning the shaft by hand in the positive direction, confirms it"};
constexpr Diagnosis kEncoderMissing = {
    "an encoder signal does not reach the drive: the shaft turned (the current fell away with "
    "its back EMF) while the measured speed stayed at zero",
    "check the encoder's A and B signals, its supply and its wiring; the encoder test "
    "(`dcservo test encoder`) shows whether pulses arrive"};
constexpr Diagnosis kShaftHeld = {
    "the shaft did not turn although the drive gave it its current: a brake, a mechanical stop, "
    "or friction or a load torque beyond the torque of that current holds it",
    "free the shaft (release the brake, remove the blocking) and check the load for friction; "
    "commissioning runs the inertia test again at the most current the setup allows"};
constexpr Diagnosis kLoadBeyondCurrent = {
    "the load needs more torque than the current limit gives: the current sat at its limit "
    "while the motor fell behind its reference (friction or inertia beyond what the current "
    "allows)",
    "check the load for friction (a dragging brake, a tight coupling or bearing) and its "
    "inertia; lengthen the profile's ramps (TaPS, TaNS) or raise TestLimitCurrent within the "
    "motor's rating"};
constexpr Diagnosis kCoupling = {
    "a compliant coupling to the load resonates within the speed loop's band: the loop "
    "oscillated, or its current showed the resonance, where the model of the setup's rigid "
    "load keeps the margins",
    "place a notch on the resonance: `dcservo filters SETUP --spectrum REPORT --apply-notch` "
    "with this run's JSON report, or the filters dialog; or stiffen the coupling"};
constexpr Diagnosis kPlantNotModel = {
    "the motion departs from what the loop model predicts for the setup's rigid load, although "
    "the model keeps the loop's margins: a compliant coupling resonates, or the load is not "
    "the setup's (Jt, Jload_over_J)",
    "run `dcservo test speed --json` and read its current spectrum for a resonance; place a "
    "notch on it (`dcservo filters SETUP --spectrum REPORT --apply-notch`), and check Jt with "
    "the inertia test"};
constexpr Diagnosis kTuning = {
    "the loop's gains: the run missed its targets with no fault of the drive, the encoder or "
    "the load in its record",
    "take the tuner's proposal (`dcservo tune speed --apply-proposal`, or Tune in the test) and "
    "run the test again"};

struct SymptomRow {
  const char* in_failure;  // a phrase of the test's own failure text
  Diagnosis diagnosis;
};

constexpr SymptomRow kSymptoms[] = {
    // A step the engineer stopped at its question says nothing of the drive.
    {kCancelledByUser,
     {"the run was stopped at the question before this step: nothing of the drive was judged",
      "run again and answer the question when the shaft is as it asks (a script answers with "
      "--yes)"}},
    // First: a run that lost its drive tells nothing of the motor, whatever else it says.
    {"the link to the drive at",
     {"the link to the drive was lost in the middle of the step: the drive stopped answering",
      "check the cable or the network to the drive, and that the drive (or `dcservo "
      "simdrive`) still runs and serves; then run again"}},
    {"did not come to rest",
     {"the shaft kept turning with the drive off: a load drives it (gravity on a vertical axis, "
      "a tensioned belt), or a hand turns it",
      "hold or balance the load (a brake, a counterweight) before the step, and check the axis "
      "for a load torque"}},
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
  RunEvidence nothing_recorded;
  nothing_recorded.mer = mer;
  return DiagnoseEvidence(nothing_recorded, failure);
}

namespace {

double PeakOf(const std::vector<double>& v) {
  double peak = 0.0;
  for (double x : v) peak = std::max(peak, std::abs(x));
  return peak;
}

// A run of a test whose current reference reads at least this share of the limit is at it.
constexpr double kAtLimit = 0.95;
// A current below this share of its reference has fallen away from it.
constexpr double kFallenAway = 0.6;
// A speed reading below this share of the reference's largest did not move.
constexpr double kStill = 0.05;
// Fewer samples than this in a row are the loop's own transients.
constexpr int kSustained = 10;

bool Contains(std::string_view text, std::string_view phrase) {
  return text.find(phrase) != std::string_view::npos;
}

// The tuning run's record: did the speed read the way the reference went, not at all, or
// the other way; and did the current stay at its limit, or fall away from it.
const Diagnosis* DiagnoseMotion(const RunEvidence& e) {
  const double reference_peak = PeakOf(e.reference), response_peak = PeakOf(e.response);
  if (e.response_quantum > 0.0 && reference_peak < 2.0 * e.response_quantum)
    return &kEncoderCoarse;
  if (!(reference_peak > 0.0)) return nullptr;
  double agreement = 0.0;
  const std::size_t n = std::min(e.reference.size(), e.response.size());
  for (std::size_t k = 0; k < n; ++k) agreement += e.reference[k] * e.response[k];
  if (agreement < 0.0 && response_peak > 0.2 * reference_peak) return &kEncoderBackwards;
  const std::size_t m = std::min(e.current_reference.size(), e.current.size());
  int at_limit = 0, fallen = 0, longest = 0, stretch = 0;
  double stretch_sign = 0.0;
  for (std::size_t k = 0; k < m; ++k) {
    const double i_ref = e.current_reference[k];
    const bool limited = e.current_limit_A > 0.0 && std::abs(i_ref) >= kAtLimit * e.current_limit_A;
    if (limited) {
      ++at_limit;
      if (std::abs(e.current[k]) < kFallenAway * std::abs(i_ref)) ++fallen;
    }
    const double sign = limited ? (i_ref > 0.0 ? 1.0 : -1.0) : 0.0;
    stretch = limited && sign == stretch_sign ? stretch + 1 : (limited ? 1 : 0);
    stretch_sign = sign;
    longest = std::max(longest, stretch);
  }
  if (response_peak < kStill * reference_peak) {
    if (at_limit < kSustained) return nullptr;
    return 2 * fallen >= at_limit ? &kEncoderMissing : &kShaftHeld;
  }
  // A loop that holds its current at the limit in one direction for a stretch is short of
  // torque; one that swings it from limit to limit oscillates, which the coupling or the
  // tuning explains.
  if (longest >= kSustained && longest * 20 >= static_cast<int>(m)) return &kLoadBeyondCurrent;
  return nullptr;
}

// The inertia test's record of a run that read no speed: the current that stayed, or fell
// away as the shaft turned unseen.
const Diagnosis* DiagnoseStandstill(const RunEvidence& e) {
  if (e.current.empty() || !(e.test_current_A > 0.0) || PeakOf(e.response) > 0.0) return nullptr;
  if (PeakOf(e.current) < 0.5 * e.test_current_A) return nullptr;  // the supply, or the loop
  // The current loop holds the current while it has voltage to spare: a shaft that turns
  // unseen shows in the voltage that its back EMF asks for, rising along the run, where a
  // held one needs R i throughout.
  double first = 0.0, last = 0.0;
  for (std::size_t k = 0; k < e.voltage.size(); ++k) {
    if (std::abs(e.current[std::min(k, e.current.size() - 1)]) < 0.5 * e.test_current_A) continue;
    if (first == 0.0) first = std::abs(e.voltage[k]);
    last = std::abs(e.voltage[k]);
  }
  return first > 0.0 && last > 2.0 * first ? &kEncoderMissing : &kShaftHeld;
}

}  // namespace

const Diagnosis* DiagnoseEvidence(const RunEvidence& e, std::string_view failure) {
  for (const ConditionRow& row : kConditions) {
    if (e.mer & row.mer_bit) return &row.diagnosis;
  }
  // The current test's own findings: no symptom of a loop comes before them.
  if (Contains(failure, "the drive's supply is about")) return &kSupplyNotSetups;
  if (Contains(failure, "shaft turned during the current step")) return &kShaftTurnedInStep;
  if (e.supply_short_samples >= kSustained) return &kSupplyShort;
  if (e.armature_mismatch) return &kArmature;
  if (const Diagnosis* d = DiagnoseMotion(e)) return d;
  if (Contains(failure, "measured speed is ZERO"))
    if (const Diagnosis* d = DiagnoseStandstill(e)) return d;
  if (e.resonance_limits_loop || (e.oscillated && e.model_keeps_margins)) return &kCoupling;
  if (e.oscillated) return &kTuning;
  if (e.mer & kControlError.mer_bit) return &kControlError.diagnosis;
  for (const SymptomRow& row : kSymptoms) {
    if (Contains(failure, row.in_failure)) return &row.diagnosis;
  }
  // A loop that oscillates in its log, or strays off the prediction, where the model keeps the
  // margins runs on a plant other than the model's: the gains are not what is wrong.
  if (!e.reference.empty() && e.model_keeps_margins &&
      (Contains(failure, "off the prediction") || Contains(failure, kOscillationFigure)))
    return &kPlantNotModel;
  if (!e.reference.empty() && Contains(failure, "Target missed")) return &kTuning;
  return nullptr;
}

namespace {

// A channel of a run's plot by the variable it shows; empty when the plot has none.
std::vector<double> ChannelOf(const CGraphDocument& doc, std::string_view variable) {
  std::vector<double> out;
  for (int c = 0; c < doc.GetChannelCount(); ++c) {
    if (doc.GetChannelName(c) != variable) continue;
    for (int k = 0; k < doc.GetPointCount(); ++k) out.push_back(doc.GetValue(c, k));
    break;
  }
  return out;
}

// Sign changes of the current reference, each at a quarter of the limit or more, on this share
// of the samples: an oscillation, not the ramps' few reversals.
bool SwingsFromLimitToLimit(const std::vector<double>& current_reference, double limit_A) {
  int swings = 0;
  for (std::size_t k = 1; k < current_reference.size(); ++k) {
    if (current_reference[k] * current_reference[k - 1] < 0.0 &&
        std::abs(current_reference[k] - current_reference[k - 1]) > 0.5 * limit_A)
      ++swings;
  }
  return swings >= kSustained && swings * 20 >= static_cast<int>(current_reference.size());
}

// The longest run of samples where the current fell well short of its reference while the
// speed moved, and the setup's supply would have driven that current at that speed (R i + K w
// well within it).
int SupplyShortSamples(CZel_Setup& setup, const RunEvidence& e, std::string_view response_unit,
                       const char* response_variable) {
  const CZel_Variable* response = setup.FindVariable(response_variable, 0);
  if (!response || response->GetSelectedUnit().GetName() != response_unit) return 0;
  const ParameterReader quiet = ParameterReader::Quiet(setup);
  const double to_motor = LoadSpeedScale(quiet) / MotorSpeedScale(quiet);
  const double r = ZelQuietBaseValue(setup, param::R), k = ZelQuietBaseValue(setup, param::K);
  const double vdc = ZelQuietBaseValue(setup, param::Vdc);
  const double moving = kStill * PeakOf(e.reference);
  const std::size_t n = std::min({e.response.size(), e.current.size(), e.current_reference.size()});
  // In a row: a loop that oscillates swings its current past its reference and back, where a
  // supply that cannot drive it leaves it short sample after sample.
  int longest = 0, run = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double i_ref = std::abs(e.current_reference[i]);
    const double w_motor = std::abs(response->GetSelectedUnit().ToBase(e.response[i]) * to_motor);
    const bool short_of_it = std::abs(e.response[i]) > moving && i_ref > 0.3 * e.current_limit_A &&
                             i > 0 && e.current_reference[i] * e.current_reference[i - 1] > 0.0 &&
                             e.current[i] * e.current_reference[i] >= 0.0 &&
                             std::abs(e.current[i]) < kFallenAway * i_ref &&
                             r * i_ref + k * w_motor < 0.8 * vdc;
    run = short_of_it ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

}  // namespace

const Diagnosis* DiagnoseRun(CMyTestDlg& test, std::string_view failure) {
  CZel_Setup& setup = test.GetSetup();
  RunEvidence e;
  e.mer = ReadDriveConditions(setup);
  // A setup or a record without a quantity tells less, not an error: the upload and every
  // reading below ask quietly.
  test.UploadWhatWasLogged();
  const CGraphWindow* graph = test.GetRunGraph();
  const CGraphDocument* doc = graph ? graph->GetDocument() : nullptr;
  if (auto* tuning = dynamic_cast<CTuningRunDlg*>(&test); tuning && doc) {
    const std::vector<std::string> logged = tuning->LoggedVariables();
    e.reference = ChannelOf(*doc, logged[0]);
    e.response = ChannelOf(*doc, logged[1]);
    e.current_reference = ChannelOf(*doc, var::Current_Reference);
    e.current = ChannelOf(*doc, var::Motor_Current);
    e.current_limit_A = ZelQuietBaseValue(setup, param::TestLimitCurrent);
    const TuningRunFigures& f = tuning->GetFigures();
    e.response_quantum = f.quantum;
    e.resonance_limits_loop = f.resonance && f.resonance->limits_loop;
    e.oscillated = SwingsFromLimitToLimit(e.current_reference, e.current_limit_A);
    if (const std::optional<DriveModel> model = DriveModelOf(setup)) {
      const std::optional<LoopMargins> m =
          MarginsOf(*model, StructureOfLoop(setup, TunedLoop::Speed), TunedLoop::Speed);
      e.model_keeps_margins = m && m->stable && m->phase_margin_deg &&
                              *m->phase_margin_deg >= kPhaseMarginFail_deg &&
                              (!m->gain_margin_db || *m->gain_margin_db >= kGainMarginFail_dB);
    }
    for (int c = 0; c < doc->GetChannelCount(); ++c) {
      if (doc->GetChannelName(c) == logged[1])
        e.supply_short_samples =
            SupplyShortSamples(setup, e, doc->GetChannelUnit(c), logged[1].c_str());
    }
  } else if (auto* current = dynamic_cast<CTestCurrent*>(&test)) {
    e.armature_mismatch =
        !ArmatureMismatches(current->GetEvaluation().identified, ZelQuietBaseValue(setup, param::R),
                            ZelQuietBaseValue(setup, param::L))
             .empty();
  } else if (dynamic_cast<CTotalInertiaTest*>(&test) && doc) {
    e.response = ChannelOf(*doc, var::Motor_Speed);
    e.current = ChannelOf(*doc, var::Motor_Current);
    e.voltage = ChannelOf(*doc, var::Voltage_Reference);
    e.test_current_A = ZelQuietBaseValue(setup, param::TestCurrent);
  }
  return DiagnoseEvidence(e, failure);
}

bool SaysShaftHeld(const Diagnosis* diagnosis) { return diagnosis == &kShaftHeld; }

unsigned ReadDriveConditions(CZel_Setup& setup) {
  CZel_Variable* mer = nullptr;
  {
    // A drive without MER tells nothing more: no report.
    mer = setup.FindVariable(var::MER, 0);
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
