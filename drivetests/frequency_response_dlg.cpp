#include "drivetests/frequency_response_dlg.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "derive/pipelines.h"
#include "design/bode.h"
#include "design/notch_placement.h"
#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_format.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "names/program_names.h"

namespace dcservo {
namespace frequency_dlg_detail {

constexpr double kDefaultFrom_hz = 10.0, kDefaultTo_hz = 1000.0;
constexpr int kDefaultPoints = 30;

// What the fit found, in the order the dialog lists it, by the names PlantValues gives.
struct FoundRow {
  const char* name;
  const char* label;
};
constexpr FoundRow kFoundRows[] = {
    {"resonance", "Resonance"},         {"anti_resonance", "Anti-resonance"},
    {"motor_inertia", "Motor inertia"}, {"load_inertia", "Load inertia"},
    {param::Jt, "Total inertia"},
};

// A measured value to three significant figures: the fit tells no more.
std::string Significant(double value) {
  if (!std::isfinite(value) || value == 0.0) return ZelFormatValue(value, 0.0);
  return ZelFormatValue(value, std::pow(10.0, std::floor(std::log10(std::abs(value))) - 2.0));
}

std::string Percent(double share) { return ZelFormatValue(100.0 * share, 1.0) + " %"; }

std::string FoundText(const std::optional<PlantIdentification>& id) {
  if (!id) return "The measurement has too few coherent points to identify the plant.";
  const std::vector<IdentifiedValue> values = PlantValues(*id);
  std::string text = id->coupling ? "" : "no resonance found";
  for (const FoundRow& row : kFoundRows) {
    for (const IdentifiedValue& v : values) {
      if (v.name != row.name) continue;
      text += std::string(text.empty() ? "" : "\r\n") + row.label + ": " + Significant(v.value) +
              " " + v.unit + " (confidence " + Percent(v.confidence) + ")";
    }
  }
  return text;
}

// "67.1 deg, 10.7 dB, 202.3 rad/s": the phase margin, the gain margin and the crossover.
std::string MarginsFigures(const CurveMargins& m) {
  const auto figure = [](const std::optional<double>& v, const char* unit) {
    return v ? ZelFormatValue(*v, 0.1) + " " + unit : std::string("none");
  };
  return figure(m.phase_margin_deg, "deg") + ", " + figure(m.gain_margin_db, "dB") + ", " +
         figure(m.crossover_rad_s, "rad/s");
}

std::string MarginsText(const FrequencyMeasurementRun& run,
                        const std::optional<CurveMargins>& coupled_model) {
  const CurveMargins measured = MarginsOfCurve(run.measured.open_loop);
  const CurveMargins model = MarginsOfCurve(run.model.open_loop);
  std::string text = "Speed loop margins (phase, gain, crossover)\r\nmeasured: " +
                     MarginsFigures(measured) + "\r\nmodel: " + MarginsFigures(model);
  if (coupled_model) text += "\r\ncoupled model: " + MarginsFigures(*coupled_model);
  for (const std::string& w : CompareMargins(measured, model)) text += "\r\nWarning: " + w;
  return text;
}

// The model of the drive with the filters as the setup describes them now (the filters
// dialog that opened this one designs them into their slots only at its OK).
std::optional<DriveModel> ModelOfSetup(CZel_Setup& setup, std::string& why) {
  // Designing the slots to model them asks nothing of the user: a filter that cannot be designed
  // is no error here. The model's reason comes back in `why`.
  ZelQuietErrors quiet;
  BiquadReport designed;
  return WithFilterSlotsDesigned(setup, designed, [&] { return DriveModelOf(setup, &why); });
}

// A field's number as the setup dialogs read one (a decimal point whatever the locale);
// nothing for text that is not a finite number.
std::optional<double> NumberOf(const std::string& text) {
  double value = 0.0;
  if (!ZelParseValue(text, value)) return std::nullopt;
  return value;
}

// A vertical line at `x` over [lo, hi] in `channel`: two rows of their own.
void AddMarker(CGraphDocument& doc, int channel, double x, double lo, double hi) {
  if (!(x > 0.0) || !std::isfinite(lo) || !std::isfinite(hi)) return;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double y : {lo, hi}) {
    std::vector<double> row(static_cast<std::size_t>(doc.GetChannelCount()), nan);
    row[0] = x;
    row[static_cast<std::size_t>(channel)] = y;
    doc.AddPoint(row);
  }
}

struct Extent {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  void Take(double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
};

// The plot's data: filter 0 the magnitudes with the coherence on the right axis, filter 1 the
// phases; with a coupling its resonance and anti-resonance as vertical lines over the curves.
std::unique_ptr<CGraphDocument> MakeResponseDocument(const std::vector<BodePoint>& measured_curve,
                                                     const std::vector<BodePoint>& model_curve,
                                                     const TwoMassPlant* coupling) {
  auto doc = std::make_unique<CGraphDocument>();
  const int x = doc->AddChannel("Frequency", "Hz");
  const int gain = doc->AddChannel("Measured magnitude", "dB");
  const int model_gain = doc->AddChannel("Model magnitude", "dB");
  const int coherence = doc->AddChannel("Coherence", "1");
  const int phase = doc->AddChannel("Measured phase", "deg");
  const int model_phase = doc->AddChannel("Model phase", "deg");
  const int resonance_gain = doc->AddChannel("Resonance", "dB");
  const int anti_gain = doc->AddChannel("Anti-resonance", "dB");
  const int resonance_phase = doc->AddChannel("Resonance phase", "deg");
  const int anti_phase = doc->AddChannel("Anti-resonance phase", "deg");
  CGraphFilter& magnitude = *doc->GetAt(0);
  CGraphFilter& phases = *doc->GetAt(doc->AddFilter());
  const bool measured = !measured_curve.empty();
  if (measured) magnitude.AddCurve("Measured", x, gain, 1, 2, RGB16(0));
  magnitude.AddCurve("Model", x, model_gain, 1, 1, RGB16(1));
  if (measured) magnitude.AddCurve("Coherence", x, coherence, 2, 1, RGB16(2));
  if (measured) phases.AddCurve("Measured", x, phase, 1, 2, RGB16(0));
  phases.AddCurve("Model", x, model_phase, 1, 1, RGB16(1));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Extent gains, angles;
  for (std::size_t k = 0; k < model_curve.size(); ++k) {
    const BodePoint* m = k < measured_curve.size() ? &measured_curve[k] : nullptr;
    const BodePoint& p = model_curve[k];
    std::vector<double> row(static_cast<std::size_t>(doc->GetChannelCount()), nan);
    row[x] = p.frequency_hz;
    row[model_gain] = p.MagnitudeDb();
    row[model_phase] = p.PhaseDeg();
    if (m) {
      row[gain] = m->MagnitudeDb();
      row[phase] = m->PhaseDeg();
      row[coherence] = m->coherence;
    }
    for (int c : {gain, model_gain}) gains.Take(row[c]);
    for (int c : {phase, model_phase}) angles.Take(row[c]);
    doc->AddPoint(row);
  }
  if (coupling) {
    const TwoMassPlant& c = *coupling;
    const std::string resonance = "Resonance " + Significant(c.resonance_hz) + " Hz";
    const std::string anti = "Anti-resonance " + Significant(c.anti_resonance_hz) + " Hz";
    magnitude.AddCurve(resonance, x, resonance_gain, 1, 1, RGB16(3));
    magnitude.AddCurve(anti, x, anti_gain, 1, 1, RGB16(4));
    phases.AddCurve(resonance, x, resonance_phase, 1, 1, RGB16(3));
    phases.AddCurve(anti, x, anti_phase, 1, 1, RGB16(4));
    AddMarker(*doc, resonance_gain, c.resonance_hz, gains.lo, gains.hi);
    AddMarker(*doc, anti_gain, c.anti_resonance_hz, gains.lo, gains.hi);
    AddMarker(*doc, resonance_phase, c.resonance_hz, angles.lo, angles.hi);
    AddMarker(*doc, anti_phase, c.anti_resonance_hz, angles.lo, angles.hi);
  }
  return doc;
}

}  // namespace frequency_dlg_detail

const ZelDialogRegistration kFrequencyResponseRegistration(
    dialog_names::kFrequencyResponse, ZelFactoryOf<CFrequencyResponseDlg>());

}  // namespace dcservo

using namespace dcservo;
using namespace dcservo::frequency_dlg_detail;

CFrequencyResponseDlg::CFrequencyResponseDlg(CZel_Setup& setup, CZel_Dialog* parent)
    : CZel_EditSetupDlg(setup, kFrequencyResponseTemplate, 1, nullptr, parent) {}

CFrequencyResponseDlg::~CFrequencyResponseDlg() {
  m_MagnitudeGraph.Detach();
  m_PhaseGraph.Detach();
}

const ZelMessageMap* CFrequencyResponseDlg::GetMessageMap() const {
  using D = CFrequencyResponseDlg;
  static const ZelMessageMap map = ZelMessageMapOf(
      CZel_EditSetupDlg::GetMessageMap(),
      {{ZelOnClicked(kFreqMeasure, &D::OnMeasure), ZelOnClicked(kFreqStop, &D::OnStop),
        ZelOnClicked(kFreqApplyNotch, &D::OnApplyNotch),
        ZelOnSelChange(kFreqLoop, &D::OnLoopChanged), ZelOnClicked(kFreqHelp, &D::OnHelpButton)}});
  return &map;
}

int CFrequencyResponseDlg::OnInitDialog() {
  CZel_EditSetupDlg::OnInitDialog();
  ListResetContent(kFreqLoop);
  for (const MeasuredLoopChoice& c : kMeasuredLoops) ListAddString(kFreqLoop, c.name);
  ListSetCurSel(kFreqLoop, 0);
  std::string why;
  const std::optional<DriveModel> model = ModelOfSetup(m_Setup, why);
  double to_hz = kDefaultTo_hz, amplitude_A = 1.0, step_A = 0.0;
  if (model) {
    to_hz = std::min(to_hz, std::floor(HighestMeasurableFrequency(*model)));
    step_A = 1.0 / model->current_counts_per_A;
    // A third of the motor's rated current, as `test frequency` takes by default.
    const double rated = QuietValue(param::In);
    amplitude_A = std::min(rated > 0.0 ? rated / 3.0 : 1.0, LargestExcitation(*model));
  }
  SetChildText(kFreqFrom, ZelFormatValue(kDefaultFrom_hz, 1.0));
  SetChildText(kFreqTo, ZelFormatValue(to_hz, 1.0));
  SetChildText(kFreqPoints, std::to_string(kDefaultPoints));
  SetChildText(kFreqAmplitude, ZelFormatValue(amplitude_A, step_A));
  ShowProgress(model ? "Press Measure: the drive excites itself and the response is drawn."
                     : "The setup gives no model of the drive: " + why);
  ShowMeasurement();
  return 1;
}

const MeasuredLoopChoice& CFrequencyResponseDlg::ChosenLoop() const {
  const int index = ListGetCurSel(kFreqLoop);
  return kMeasuredLoops[index >= 0 && index < static_cast<int>(std::size(kMeasuredLoops)) ? index
                                                                                        : 0];
}

void CFrequencyResponseDlg::ShowProgress(const std::string& text) {
  SetChildText(kFreqProgress, text);
  ZelPumpMessages();
}

std::optional<FrequencyRunRequest> CFrequencyResponseDlg::RequestOfFields(const DriveModel& model) {
  const std::optional<double> from = NumberOf(GetChildText(kFreqFrom));
  const std::optional<double> to = NumberOf(GetChildText(kFreqTo));
  const std::optional<double> points = NumberOf(GetChildText(kFreqPoints));
  const std::optional<double> amplitude = NumberOf(GetChildText(kFreqAmplitude));
  const double highest = HighestMeasurableFrequency(model);
  const double largest = LargestExcitation(model);
  std::string refusal;
  if (!from || !to || !(*from > 0.0) || !(*to > *from))
    refusal = "From and To need 0 < From < To (Hz)";
  else if (*to > highest)
    refusal = "To: the drive's fast loop measures up to " + ZelFormatValue(highest, 1.0) + " Hz";
  else if (!points || *points != std::floor(*points) || *points < 2 ||
           *points > kMostFrequencyPoints)
    refusal = "Points takes a whole number from 2 to " + std::to_string(kMostFrequencyPoints);
  else if (!amplitude || !(*amplitude > 0.0) || *amplitude > largest)
    refusal = "Amplitude takes a current above 0 A, at most " +
              ZelFormatValue(largest, 1.0 / model.current_counts_per_A) + " A";
  if (!refusal.empty()) {
    ShowProgress(refusal);
    MessageBox(refusal, {}, kMbOk | kMbIconWarning);
    return std::nullopt;
  }
  FrequencyRunRequest request;
  request.frequency_hz = LogSpacedFrequencies(*from, *to, static_cast<int>(*points));
  request.amplitude_A = *amplitude;
  request.speed_gain_shift = ChosenLoop().speed_gain_shift;
  request.speed_counts = kExcitationTurn_rad_s * model.speed_counts_per_rad_s;
  request.protection_A = QuietValue(param::TestProtectionCurrent);
  return request;
}

void CFrequencyResponseDlg::OnMeasure() {
  if (m_bMeasuring) return;
  std::string why;
  const std::optional<DriveModel> model = ModelOfSetup(m_Setup, why);
  if (!model) {
    ShowProgress("The setup gives no model of the drive: " + why);
    return;
  }
  const std::optional<FrequencyRunRequest> request = RequestOfFields(*model);
  if (!request) return;
  CZel_DriveLink* link = CZel_Comm::GetLink();
  if (!link) {
    ShowProgress("no drive is connected");
    return;
  }
  // Asked before anything is sent, so that a drive without the program is left as it was.
  std::vector<ZelProgramVariable> program;
  if (!link->DescribeProgram(drive_program::Frequency_Response_Test, program)) {
    ShowProgress(kNoFrequencyResponseProgram);
    return;
  }
  BiquadReport designed;
  const bool sent = WithFilterSlotsDesigned(
      m_Setup, designed, [&] { return CZel_Comm::DownloadChipParameters(m_Setup) != 0; });
  if (!sent) {
    ShowProgress(CZel_Comm::GetLastErrorText());
    return;
  }

  m_bMeasuring = true;
  m_bStopAsked = false;
  RefreshState();
  const int total = static_cast<int>(request->frequency_hz.size());
  const auto counted = [total](int done) {
    return "Measuring: " + std::to_string(done) + " of " + std::to_string(total) + " frequencies";
  };
  ShowProgress(counted(0));
  // The drive's own time is let pass, whichever clock the screen keeps: a simulated drive
  // runs the sweep at once, a drive on a link is waited for, the screen live meanwhile. The
  // screen's clock catches up with the drive afterwards.
  const FrequencyMeasurementRun run = MeasureFrequencyResponse(
      *model, *request, link->LogCapacityWords(),
      [link](double s) {
        link->AdvanceTo(link->Now() + s);
        ZelPumpMessages();
      },
      [&](int done, int) { ShowProgress(counted(done)); }, [this] { return m_bStopAsked; });
  m_bMeasuring = false;
  m_bStopAsked = false;
  if (!run.error.empty()) {
    ShowProgress(run.error);
    RefreshState();
    return;
  }
  if (run.cut_short && run.frequency_hz.empty()) {
    // Nothing measured: the last measurement stays on show.
    ShowProgress("Stopped before the first frequency was measured");
    RefreshState();
    return;
  }
  m_Run = run;
  m_MeasuredLoop = ChosenLoop().loop;
  m_bNotchApplied = false;
  m_Identified.reset();
  m_CoupledModelMargins.reset();
  if (m_MeasuredLoop != MeasuredLoop::CurrentClosedLoop)
    m_Identified = IdentifyPlant(m_Run.measured.plant, model->K);
  // The loop model takes a coupling that the fit is sure of: its margins then, beside the
  // rigid model's, tell whether the coupling explains what was measured.
  if (const auto coupling = m_Identified ? ConfidentCoupling(*m_Identified) : std::nullopt) {
    const MeasuredCouplingScope measured_plant(m_Setup, *coupling);
    if (const std::optional<DriveModel> coupled = ModelOfSetup(m_Setup, why))
      m_CoupledModelMargins = MarginsOfCurve(ModelCurves(*coupled, m_Run.frequency_hz).open_loop);
  }
  ShowProgress((run.cut_short ? "Stopped: measured " : "Measured ") +
               std::to_string(m_Run.frequency_hz.size()) +
               (run.cut_short ? " of " + std::to_string(total) : std::string()) +
               " frequencies from " + Significant(m_Run.frequency_hz.front()) + " to " +
               Significant(m_Run.frequency_hz.back()) + " Hz");
  ShowMeasurement();
}

void CFrequencyResponseDlg::OnApplyNotch() {
  if (!m_Identified || !m_Identified->coupling || m_bMeasuring) return;
  // A notch sits at a whole hertz; its margins are judged on the coupling the fit found,
  // where the fit is sure of it.
  const double hz = std::round(m_Identified->coupling->resonance_hz);
  std::optional<MeasuredCouplingScope> measured_plant;
  if (const std::optional<ShaftCoupling> c = ConfidentCoupling(*m_Identified))
    measured_plant.emplace(m_Setup, *c);
  // A run of the speed loop as tuned judges the notch on what was measured as well, as
  // `tune speed --from-measurement` does; a plant run was measured with the loop softened.
  std::span<const BodePoint> measured_open_loop;
  if (m_MeasuredLoop == MeasuredLoop::SpeedOpenLoop ||
      m_MeasuredLoop == MeasuredLoop::SpeedClosedLoop)
    measured_open_loop = m_Run.measured.open_loop;
  BiquadReport designed;
  const NotchPlacement placed = WithFilterSlotsDesigned(
      m_Setup, designed, [&] { return PlaceNotch(m_Setup, hz, measured_open_loop); });
  if (!placed.filter) {
    ShowProgress(placed.refusal);
    MessageBox(placed.refusal, {}, kMbOk | kMbIconWarning);
    return;
  }
  // The filter is now part of the setup: its slots and the chip parameters follow.
  SynchroniseSetup(m_Setup);
  m_bNotchApplied = true;
  m_NotchText = "Apply Notch wrote filter " + std::to_string(placed.filter) + ": " +
                DescribeNotch(*placed.proposal);
  if (placed.measured)
    m_NotchText += "\r\nSpeed loop margins measured with the notch: " +
                   MarginsFigures(placed.measured->with_notch);
  ShowProgress("Notch written into filter " + std::to_string(placed.filter));
  ShowMeasurement();
}

void CFrequencyResponseDlg::OnStop() {
  if (m_bMeasuring) m_bStopAsked = true;
}

void CFrequencyResponseDlg::OnLoopChanged() { ShowMeasurement(); }

void CFrequencyResponseDlg::OnHelpButton() { ShowHelpTopic(kFrequencyResponseHelpContext); }

void CFrequencyResponseDlg::OnOK() {
  if (!m_bMeasuring) CZel_EditSetupDlg::OnOK();
}

// Cancel while the sweep runs stops it and leaves the dialog open on what was measured.
void CFrequencyResponseDlg::OnCancel() {
  if (m_bMeasuring)
    OnStop();
  else
    CZel_EditSetupDlg::OnCancel();
}

void CFrequencyResponseDlg::ShowMeasurement() {
  DrawPlots();
  const bool measured = !m_Run.frequency_hz.empty();
  std::string found = measured ? FoundText(m_Identified) : "";
  if (measured && m_MeasuredLoop == MeasuredLoop::CurrentClosedLoop)
    found = "The current loop's run identifies nothing: measure the plant for the fit.";
  if (!m_NotchText.empty()) found += (found.empty() ? "" : "\r\n") + m_NotchText;
  SetChildText(kFreqResults, found);
  std::string margins;
  if (measured) {
    margins = m_MeasuredLoop == MeasuredLoop::Plant
                  ? "Margins: the plant was measured with the speed loop softened; measure a "
                    "speed loop to read them."
                  : MarginsText(m_Run, m_CoupledModelMargins);
  }
  SetChildText(kFreqMargins, margins);
  RefreshState();
}

void CFrequencyResponseDlg::RefreshState() {
  const bool resonance = m_Identified && m_Identified->coupling;
  EnableChild(kFreqMeasure, !m_bMeasuring);
  EnableChild(kFreqStop, m_bMeasuring);
  static constexpr int kRequestFields[] = {kFreqLoop, kFreqFrom, kFreqTo, kFreqPoints,
                                          kFreqAmplitude};
  EnableChildren(kRequestFields, !m_bMeasuring);
  EnableChild(kFreqApplyNotch, resonance && !m_bMeasuring && !m_bNotchApplied);
  SetChildTooltip(kFreqApplyNotch, !resonance       ? "The notch is for a measured resonance"
                                   : m_bNotchApplied ? "The notch for this resonance is written"
                                                     : "");
}

void CFrequencyResponseDlg::DrawPlots() {
  const MeasuredLoopChoice& chosen = ChosenLoop();
  const bool measured = !m_Run.frequency_hz.empty();
  std::vector<BodePoint> model_curve, measured_curve;
  if (measured) {
    measured_curve = m_Run.measured.*chosen.curve;
    model_curve = m_Run.model.*chosen.curve;
  } else {
    // Before a measurement the model alone, at the frequencies the fields ask for.
    std::string why;
    if (const std::optional<DriveModel> model = ModelOfSetup(m_Setup, why)) {
      const double from = NumberOf(GetChildText(kFreqFrom)).value_or(kDefaultFrom_hz);
      const double to = NumberOf(GetChildText(kFreqTo)).value_or(kDefaultTo_hz);
      model_curve = ModelCurves(*model, LogSpacedFrequencies(from, to, 100)).*chosen.curve;
    }
  }
  const TwoMassPlant* coupling =
      measured && m_Identified && m_Identified->coupling ? &*m_Identified->coupling : nullptr;
  std::unique_ptr<CGraphDocument> doc = MakeResponseDocument(measured_curve, model_curve, coupling);
  CGraphFilter& magnitude = *doc->GetAt(0);
  CGraphFilter& phases = *doc->GetAt(1);
  m_MagnitudeGraph.SetTitle(std::string(chosen.name) + ": magnitude" +
                            (measured ? " and coherence" : " (model)"));
  m_PhaseGraph.SetTitle(std::string(chosen.name) + ": phase");
  m_MagnitudeGraph.SetAxisTitle(1, "Magnitude [dB]");
  m_MagnitudeGraph.SetAxisTitle(2, measured ? "Coherence [0..1]" : "");
  m_PhaseGraph.SetAxisTitle(1, "Phase [deg]");
  m_MagnitudeGraph.SetLogX(true);
  m_PhaseGraph.SetLogX(true);
  m_MagnitudeGraph.SubclassDlgItem(kFreqMagnitude, this, &magnitude);
  m_PhaseGraph.SubclassDlgItem(kFreqPhase, this, &phases);
  m_Document = std::move(doc);
  for (CGraphWindow* g : {&m_MagnitudeGraph, &m_PhaseGraph}) {
    g->RefreshGraph();
    g->DoZoomOut();
  }
}
