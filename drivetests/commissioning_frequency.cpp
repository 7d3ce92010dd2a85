#include <algorithm>
#include <cmath>
#include <cstdio>

#include "derive/pipelines.h"
#include "design/drive_model.h"
#include "design/notch_placement.h"
#include "design/tune.h"
#include "design/two_mass_fit.h"
#include "drivetests/bode_plot.h"
#include "drivetests/commissioning_step_run.h"
#include "drivetests/frequency_response_run.h"
#include "drivetests/my_test_dlg.h"
#include "host/zel_comm.h"
#include "host/zel_errors.h"
#include "host/zel_headless.h"
#include "host/zel_quiet_value.h"
#include "names/drive_names.h"

namespace dcservo::commissioning {

namespace {

// The sweep of `test frequency --loop plant` as it runs by default: the plant measured with
// the speed loop softened, from 10 Hz to 1 kHz (or the fast loop's quarter rate) over 30
// frequencies, at a third of the motor's rated current.
constexpr double kSweepFrom_hz = 10.0, kSweepTo_hz = 1000.0;
constexpr int kSweepPoints = 30;
constexpr int kPlantGainShift = 3;
constexpr double kAmplitudeOfRated = 1.0 / 3.0;

FrequencyRunRequest PlantSweep(const CZel_Setup& setup, const DriveModel& model) {
  FrequencyRunRequest request;
  const double highest = std::min(kSweepTo_hz, 0.25 / model.FastPeriod());
  request.frequency_hz = LogSpacedFrequencies(kSweepFrom_hz, highest, kSweepPoints);
  const double rated = ZelQuietBaseValue(setup, param::In);
  request.amplitude_A = (rated > 0.0 ? rated : 3.0) * kAmplitudeOfRated;
  request.speed_gain_shift = kPlantGainShift;
  request.speed_counts = kExcitationTurn_rad_s * model.speed_counts_per_rad_s;
  const double protection = ZelQuietBaseValue(setup, param::TestProtectionCurrent);
  request.protection_A = protection > 0.0 ? protection : 0.0;
  return request;
}

// The fitted coupling, without the total inertia: that is the inertia step's to identify, and
// the record takes a step's last Jt as the one found.
std::vector<IdentifiedValue> CouplingValues(const PlantIdentification& plant) {
  std::vector<IdentifiedValue> values = PlantValues(plant);
  std::erase_if(values, [](const IdentifiedValue& v) { return v.name == param::Jt; });
  return values;
}

std::string CouplingNote(const ShaftCoupling& c, bool taken) {
  char text[200];
  std::snprintf(text, sizeof text,
                "a compliant coupling: resonance %.4g Hz, damping ratio %.2g, load share %.2g; %s",
                c.resonance_hz, c.damping_ratio, c.load_share,
                taken ? "the loop model takes it for the steps after this one"
                      : "the fit is not sure enough for the loop model to take it");
  return text;
}

void KeepFrequencyPlot(StepOutcome& outcome, RecordedPlot plot) {
  outcome.svg = std::move(plot.svg);
  outcome.plot = std::move(plot.scene);
  outcome.csv = std::move(plot.csv);
}

// A run the drive stopped fails as the other steps' do: the drive's own words for the
// protection first, the diagnosis from its protection register, and what it logged up to then.
void FailFrequencyStep(StepOutcome& outcome, CZel_DriveLink& link,
                       const FrequencyMeasurementRun& run, const DriveModel& model) {
  double mer = 0.0;
  unsigned bits = 0;
  if (!link.Lost() && link.ReadVariable(var::MER, mer) && std::isfinite(mer))
    bits = static_cast<unsigned>(static_cast<long long>(mer)) & 0xFFFFu;
  const std::string condition = DriveErrorText(bits);
  outcome.failure = condition.empty() ? run.error : condition + " (" + run.error + ")";
  outcome.diagnosis = DiagnoseFailure(bits, outcome.failure);
  if (run.stopped)
    KeepFrequencyPlot(outcome, ExcitationRunPlot(*run.stopped, {model.current_counts_per_A,
                                                                model.position_counts_per_rad}));
}

}  // namespace

StepOutcome MeasureFrequencyStep(const CommissioningStep& step, CZel_Setup& setup,
                                 ZelHeadlessBackend& ui,
                                 std::optional<MeasuredCouplingScope>& measured,
                                 const std::function<void(const std::string&)>& status) {
  StepOutcome outcome;
  outcome.step = &step;
  std::string why;
  const std::optional<DriveModel> model = ReportedDriveModelOf(setup, &why);
  CZel_DriveLink* link = CZel_Comm::GetLink();
  if (!model) {
    outcome.failure = "the setup gives no model of the drive: " + why;
    return outcome;
  }
  if (!link) return StepNotRun(step, "no drive is connected");
  const FrequencyRunRequest sweep = PlantSweep(setup, *model);
  const auto tell = [&status](int done, int total) {
    if (!status) return;
    char text[80];
    std::snprintf(text, sizeof text, "Measuring the frequency response: %d of %d frequencies", done,
                  total);
    status(text);
  };
  tell(0, static_cast<int>(sweep.frequency_hz.size()));
  const FrequencyMeasurementRun run = MeasureFrequencyResponse(
      *model, sweep, link->LogCapacityWords(),
      [&ui](double s) {
        ui.Advance(s * 1000.0);
        CZel_Comm::Synchronize();
      },
      tell);
  if (run.error == kNoFrequencyResponseProgram) {
    // An older firmware: the steps after this one go on with the rigid load of the setup.
    outcome.succeeded = true;
    outcome.run.warnings.push_back(std::string("skipped: ") + kNoFrequencyResponseProgram +
                                   "; the speed loop is tuned for a rigid load");
    if (status) status(outcome.run.warnings.back());
    return outcome;
  }
  if (!run.error.empty()) {
    FailFrequencyStep(outcome, *link, run, *model);
    return outcome;
  }
  KeepFrequencyPlot(outcome, BodePlotOf("Plant: motor current to motor speed", run.measured.plant,
                                        run.model.plant));
  outcome.succeeded = true;
  const std::optional<PlantIdentification> id = IdentifyPlant(run.measured.plant, model->K);
  if (!id || !id->coupling) {
    outcome.run.warnings.push_back(
        "no compliant coupling: the load moves with the motor as one "
        "mass up to the highest frequency measured");
    return outcome;
  }
  outcome.run.identified = CouplingValues(*id);
  const std::optional<ShaftCoupling> coupling = ConfidentCoupling(*id);
  if (coupling) measured.emplace(setup, *coupling);
  ShaftCoupling shown;
  shown.resonance_hz = id->coupling->resonance_hz;
  shown.damping_ratio = id->coupling->damping_ratio;
  shown.load_share = coupling
                         ? coupling->load_share
                         : id->coupling->load_inertia_kgm2 /
                               (id->coupling->motor_inertia_kgm2 + id->coupling->load_inertia_kgm2);
  outcome.run.warnings.push_back(CouplingNote(shown, coupling.has_value()));
  return outcome;
}

namespace {

bool KeepsAdvisedMargins(const LoopMargins& m) {
  std::vector<std::string> failures, warnings;
  JudgeMargins(m, failures, warnings);
  return failures.empty() && warnings.empty();
}

// The margins of the speed loop as the tuner would propose it for the setup as it stands; the
// setup is left as it was.
std::optional<LoopMargins> ProposedSpeedLoopMargins(CZel_Setup& setup) {
  const SetupSnapshot kept(setup);
  std::optional<LoopMargins> margins;
  {
    ZelQuietErrors quiet;
    SynchroniseSetup(setup);
    LoopTuneReport report;
    if (TuneSpeedController(setup, &report) && report.proposal) margins = report.proposal->margins;
  }
  kept.Restore(setup);
  return margins;
}

// Three digits: a margin just under its limit must not read as the limit.
std::string MarginsToThreeDigits(const LoopMargins& m) {
  if (!m.stable) return "unstable";
  char phase[48] = "no phase margin", gain[48] = "gain margin unlimited";
  if (m.phase_margin_deg)
    std::snprintf(phase, sizeof phase, "phase margin %.3g deg", *m.phase_margin_deg);
  if (m.gain_margin_db) std::snprintf(gain, sizeof gain, "gain margin %.3g dB", *m.gain_margin_db);
  return std::string(phase) + ", " + gain;
}

}  // namespace

std::optional<std::string> NotchTheMeasuredCoupling(CZel_Setup& setup) {
  const std::optional<ShaftCoupling> coupling = MeasuredCouplingOf(setup);
  if (!coupling) return std::nullopt;
  const std::optional<LoopMargins> proposed = ProposedSpeedLoopMargins(setup);
  if (!proposed || KeepsAdvisedMargins(*proposed)) return std::nullopt;
  // A notch sits at a whole hertz.
  const double at_hz = std::round(coupling->resonance_hz);
  char found[320];
  std::snprintf(found, sizeof found,
                "the coupling that the frequency response measured at %.0f Hz leaves the speed "
                "loop as the tuner proposes it %s (under %.0f deg or %.0f dB): ",
                at_hz, MarginsToThreeDigits(*proposed).c_str(), kPhaseMarginWarn_deg,
                kGainMarginWarn_dB);
  const NotchPlacement placed = PlaceNotch(setup, at_hz);
  if (!placed.filter) return found + std::string("no notch, ") + placed.refusal;
  return found + std::string("the ") + DescribeNotch(*placed.proposal) + ", was placed in filter " +
         std::to_string(placed.filter) + " before the speed step";
}

}  // namespace dcservo::commissioning
