#include "drivetests/current_test_dlg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "derive/gains.h"
#include "design/drive_model.h"
#include "design/tune.h"
#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_numeric.h"
#include "host/zel_quiet_value.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "names/program_names.h"
#include "units/scales.h"

namespace dcservo {

namespace {

const ZelDialogRegistration kRegistration(dialog_names::kCurrentTest,
                                          ZelFactoryOf<CTestCurrent>());

constexpr const char kInstructions[] =
    "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and press the "
    "\"Tune\" button\r\n3. In the \"Test\" tab, press the \"Start\" button\r\n4. Wait until the "
    "test ends and displays the results\r\n5. If needed, change the controller parameters and "
    "repeat steps 3 and 4 until you get satisfactory results";
constexpr const char kProtectionBelowTestCurrent[] =
    "Over current protection must be greater or equal to Test current.";
constexpr int kMostPredictedSamples = 1 << 20;
constexpr const char kNoStepLogged[] =
    "The run ended before the current step was logged (was it stopped?): nothing was measured.";
// A blocked shaft may give a little in its coupling; a turning one goes far past this.
constexpr double kMostTurnsWhileBlocked = 0.01;
constexpr const char kShaftTurned[] =
    "The motor shaft turned during the current step (%.3g turns): the test needs the shaft "
    "blocked, and its back EMF falsifies the current's response. Block the motor shaft and run "
    "the test again.";
constexpr const char kSupplyOff[] =
    "The current step needed %.3g times the voltage that the setup's R and L ask for, R and L "
    "alike: the drive's supply is about %.3g V, not the setup's Vdc of %.3g V.";

// Logger settings: 100 points of the fast loop, every sample.
constexpr int kLogPoints = 100;
constexpr int kLogFastLoop = 2;
constexpr int kLogDivider = 1;

struct CurveRow {
  const char* name;
  int channel;
  int axis;
  int colour;
  int style;
};
constexpr const char* kLoggedVariables[] = {var::Current_Reference, var::Motor_Current,
                                            var::Voltage_Reference};
constexpr CurveRow kCurves[] = {
    {var::Current_Reference, 1, 1, 2, 2},
    {var::Voltage_Reference, 3, 2, 8, 2},
    {var::Motor_Current, 2, 1, 5, 2},
};
// Drawn thin over the measured current, in a colour of its own.
constexpr CurveRow kPredictedCurve = {"Predicted current", 4, 1, 3, 1};

const int kParametersPage[] = {kCtParametersBox,   kCtTestCurrentLabel, kCtTestCurrentEdit,
                               kCtTestCurrentUnit, kCtProtectionLabel,  kCtProtectionEdit,
                               kCtProtectionUnit,  kCtPicture,          kCtProcedureBox,
                               kCtInstructions,    kCtPurposeBox,       kCtPurposeText};
const int kTestPageControls[] = {
    kCtRunBox,       kIdcTestStartStop, kIdcTestStatus,   kIdcTestResult,      kCtGainsBox,
    kCtKpLabel,      kCtKpSlider,       kCtKpSpin,        kCtKpEdit,           kCtKpPageSpin,
    kCtKiLabel,      kCtKiSlider,       kCtKiSpin,        kCtKiEdit,           kCtKiPageSpin,
    kCtTuningBox,    kCtPassBandLabel,  kCtPassBandSlider, kCtPassBandSpin,    kCtPassBandEdit,
    kCtPassBandPageSpin, kCtPassBandUnit, kCtTune,        kCtFilterBox,        kCtUseFilter,
    kCtFilterLabel,  kCtFilterEdit,     kCtFilterUnit,    kCtOffsetBox,        kCtCompensate,
    kCtOffsetLabel,  kCtOffsetEdit,     kCtOffsetUnit,    kCtPlotBox,          kCtGraph,
    kCtFigures,      kCtSavePlots};
// Locked while a run is under way: the gains are changed there only through Tune.
const int kLockedDuringRun[] = {kIdOk,     kCtKpEdit, kCtKpSpin,     kCtKpSlider, kCtKpPageSpin,
                                kCtKiEdit, kCtKiSpin, kCtKiSlider,   kCtKiPageSpin};
const int kFilterSet[] = {kCtFilterEdit, kCtFilterUnit, kCtFilterLabel};
const int kOffsetSet[] = {kCtOffsetEdit, kCtOffsetUnit, kCtOffsetLabel};

std::string FormatFigures(const char* title, const StepFigures& f) {
  char text[200];
  std::snprintf(text, sizeof text, "%-9s rise %.3g ms, overshoot %.3g %%, settling %.3g ms, "
                "error %.3g A",
                title, f.rise_time_s * 1e3, f.overshoot_pct, f.settling_time_s * 1e3,
                f.steady_state_error);
  return text;
}

}  // namespace

CTestCurrent::CTestCurrent(CZel_Setup& setup, CZel_Dialog* parent)
    : CMyTestDlg(setup, kCurrentTestTemplate, 1, parent) {
  BindSlider(param::Kp_C_scl, kCtKpSlider, kCtKpEdit, 0, kCtKpSpin, kCtKpPageSpin);
  BindSlider(param::Ki_C_scl, kCtKiSlider, kCtKiEdit, 0, kCtKiSpin, kCtKiPageSpin);
  BindSlider(param::PB_C, kCtPassBandSlider, kCtPassBandEdit, kCtPassBandUnit, kCtPassBandSpin,
             kCtPassBandPageSpin);
  m_nPhaseCount = 3;
}

CTestCurrent::~CTestCurrent() { m_Graph.Detach(); }

// The range is fixed here, once: half to one and a half times the value, within its range.
void CTestCurrent::BindSlider(const char* name, int slider, int edit, int unit, int spin,
                              int page_spin) {
  if (!HasParameter(name)) return;
  const CZel_Parameter* p = m_Setup.FindParameter(name);
  const double v = p->GetValueInBaseUnit();
  const double lo = std::max(p->GetMinInBaseUnit(), 0.5 * v);
  const double hi = std::min(p->GetMaxInBaseUnit(), 1.5 * v);
  AddSliderParameterControls(name, slider, edit, unit, spin, page_spin, lo, hi);
}

const ZelMessageMap* CTestCurrent::GetMessageMap() const {
  static const int kChecks[] = {kCtUseFilter, kCtCompensate};
  static const ZelMessageMap map = ZelMessageMapOf(
      CMyTestDlg::GetMessageMap(),
      {{ZelOnClicked(kCtTune, &CTestCurrent::OnTune),
        ZelOnClicked(kCtSavePlots, &CTestCurrent::OnSavePlots)},
       ZelOnClickedEach(kChecks, &CTestCurrent::OnFilterOrOffsetCheck)});
  return &map;
}

int CTestCurrent::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  // Opened on its own, the test asks for the shaft to be blocked as the drive setup does.
  if (!GetParent() && !shaft_notice_shown_)
    MessageBox(dialog_names::kBlockedShaftNotice, {}, kMbOk, ZelAskedAction::BlockShaft);
  SetImage(kCtPicture, "3015");
  SetChildText(kCtInstructions, kInstructions);
  AddTabPage(kCtTab, "Test Parameters", kParametersPage);
  AddTabPage(kCtTab, "Test", kTestPageControls);
  SelectTabPage(kCtTab, kTestParametersPage);

  m_Coff.SetPathName(GetOutPathName(drive_program::Current_Controller_Tuning_Test));
  {
    // Without a drive the program loads when a run starts; the dialog is usable before.
    m_Coff.ReadCoff();
  }
  m_pLogger = std::make_unique<CZel_SingleAxisLogger>(m_Setup, &m_Coff);
  m_pLogger->ChangeSettings(kLogPoints, kLogFastLoop, kLogDivider);
  for (const char* name : kLoggedVariables) m_pLogger->AddVariable(name, 1);
  m_pLogger->CorrectPointsNo();
  m_pLogger->LocateItems();
  CGraphDocument& document = m_pLogger->GetGraphDocument();
  predicted_channel_ = document.AddChannel(kPredictedCurve.name,
                                           document.GetChannelUnit(kCurves[2].channel));
  CGraphFilter* filter = m_pLogger->GetGraphFilter();
  for (const CurveRow& c : kCurves) filter->AddCurve(c.name, 0, c.channel, c.axis, c.style, RGB16(c.colour));
  filter->AddCurve(kPredictedCurve.name, 0, predicted_channel_, kPredictedCurve.axis,
                   kPredictedCurve.style, RGB16(kPredictedCurve.colour));
  m_Graph.SetTitle("Current step");
  m_Graph.SubclassDlgItem(kCtGraph, this, filter);
  m_Graph.RefreshGraph();
  SetRunTools({drive_program::Current_Controller_Tuning_Test, &m_Coff, m_pLogger.get(), &m_Graph,
               kCheckShortCircuitAndEnable});
  return 1;
}

void CTestCurrent::OnShowWindow(bool show) {
  CMyTestDlg::OnShowWindow(show);
  if (show) ShowRunControls();
}

void CTestCurrent::OnTabSelChanged(int tab_id, int page) {
  CMyTestDlg::OnTabSelChanged(tab_id, page);
  ShowRunControls();
}

void CTestCurrent::DoDataExchange(ZelDataExchange* pDX) {
  CMyTestDlg::DoDataExchange(pDX);
  if (!pDX->m_bSaveAndValidate) ShowRunControls();
}

void CTestCurrent::ShowRunControls() {
  EnableChildren(kLockedDuringRun, !m_bTestRunning);
  EnableChild(kCtSavePlots, HasResultsToSave());
  const bool on_test_page = GetTabSelection(kCtTab) == kTestPage;
  ShowChild(kCtGraph, on_test_page);
  ShowChildren(kFilterSet,
               on_test_page && QuietInt(param::isUseFilterOnCrtCtrlOutput) != 0 && !m_bTestRunning);
  ShowChildren(kOffsetSet, on_test_page && QuietInt(param::isCompensateGravitationalLoads) != 0 &&
                               !m_bTestRunning);
}

void CTestCurrent::OnChangedParameterValue(const std::string& name) {
  static constexpr ZelNameHandler<CTestCurrent> kHandlers[] = {
      {param::Kp_C_scl, &CTestCurrent::OnKpChanged},
      {param::Ki_C_scl, &CTestCurrent::OnKiChanged},
      {param::OffsetCurrent, &CTestCurrent::OnOffsetChanged},
      {param::FilterOnCurrentControllerOutput, &CTestCurrent::OnFilterChanged}};
  ZelDispatchByName(*this, std::span(kHandlers), name);
  CMyTestDlg::OnChangedParameterValue(name);
}

void CTestCurrent::OnKpChanged(const std::string&) {
  ComputeGainShift<Gain::Kp_C>(m_Setup);
  ComputeGainMantissa<Gain::Kp_C>(m_Setup);
}

void CTestCurrent::OnKiChanged(const std::string&) {
  ComputeGainShift<Gain::Ki_C>(m_Setup);
  ComputeGainMantissa<Gain::Ki_C>(m_Setup);
}

void CTestCurrent::OnOffsetChanged(const std::string&) { ComputeFFL(m_Setup); }

void CTestCurrent::OnFilterChanged(const std::string&) { ComputeFILTERQ(m_Setup); }

void CTestCurrent::OnRefreshParameterValue(const std::string& name) {
  if (m_bTestRunning) {
    static constexpr ZelNameHandler<CTestCurrent> kHandlers[] = {
        {param::Kp_C_scl, &CTestCurrent::WriteKpToDrive},
        {param::Ki_C_scl, &CTestCurrent::WriteKiToDrive}};
    ZelDispatchByName(*this, std::span(kHandlers), name);
  }
  CMyTestDlg::OnRefreshParameterValue(name);
}

void CTestCurrent::WriteKpToDrive(const std::string&) { WriteToDrive(GainWriteOrder(Gain::Kp_C)); }

void CTestCurrent::WriteKiToDrive(const std::string&) { WriteToDrive(GainWriteOrder(Gain::Ki_C)); }

bool CTestCurrent::WriteToDrive(std::span<const char* const> names) {
  for (const char* name : names) {
    const CZel_Parameter* p = m_Setup.FindParameter(name);
    if (!p || !CZel_Comm::WriteParameter(*p)) return false;
  }
  return true;
}

void CTestCurrent::OnTune() {
  if (!TuneCurrentController(m_Setup)) return;
  if (m_bTestRunning) WriteToDrive(GainWriteOrder(TunedLoop::Current));
  RefreshAllParameters(0);
}

void CTestCurrent::OnFilterOrOffsetCheck() {
  ComputeFILTERQ(m_Setup);
  ComputeFFL(m_Setup);
  ComputeOffsetCurrent(m_Setup);
  RefreshAllParameters(0);
  UpdateData(0);
}

bool CTestCurrent::CheckTestParameters() {
  if (m_Setup.GetParameterValueInBaseUnit(param::TestCurrent) <=
      m_Setup.GetParameterValueInBaseUnit(param::TestProtectionCurrent))
    return true;
  MessageBox(kProtectionBelowTestCurrent);
  return false;
}

void CTestCurrent::BeginTest() {
  evaluation_ = {};
  ShowFigures();
  const TestInput inputs[] = {
      {program::In1, InternalInt16(param::TestCurrent)},
      {program::Imax_Prot_Test, InternalInt16(param::TestProtectionCurrent)}};
  turns_at_start_ = MotorTurns();
  StartRun(inputs);
}

void CTestCurrent::OnResultsUploaded() {
  AddPrediction();
  // A run stopped before the step logged no step: there is nothing to call a success.
  if (!evaluation_.measured) {
    ShowFigures();
    m_strError = kNoStepLogged;
    TestFailed(1);
    return;
  }
  const bool measured = StepMeasuresTheArmature();
  ShowFigures();
  if (!measured) TestFailed(1);
}

std::optional<double> CTestCurrent::MotorTurns() {
  CZel_Variable* position = m_Setup.FindVariable(var::Motor_Position, 0);
  // A setup without the encoder's lines counts no turns.
  const double per_turn =
      2.0 * std::numbers::pi * MotorPositionScale(ParameterReader::Quiet(m_Setup));
  if (!position || !position->ReadFromChip() || !(std::abs(per_turn) > 0.0)) return std::nullopt;
  return position->GetValueInInternalUnit() / per_turn;
}

bool CTestCurrent::StepMeasuresTheArmature() {
  char text[400];
  const std::optional<double> turns = MotorTurns();
  if (turns && turns_at_start_ && std::abs(*turns - *turns_at_start_) > kMostTurnsWhileBlocked) {
    std::snprintf(text, sizeof text, kShaftTurned, std::abs(*turns - *turns_at_start_));
    m_strError = text;
    evaluation_.identified.clear();
    return false;
  }
  const std::optional<double> factor =
      SupplyFactor(evaluation_.identified, ZelQuietBaseValue(m_Setup, param::R),
                   ZelQuietBaseValue(m_Setup, param::L));
  if (!factor) return true;
  const double vdc = ZelQuietBaseValue(m_Setup, param::Vdc);
  std::snprintf(text, sizeof text, kSupplyOff, *factor, vdc / *factor, vdc);
  m_strError = text;
  // R and L read through a supply that is not the setup's are no motor data.
  evaluation_.identified.clear();
  evaluation_.warnings.clear();
  return false;
}

// The designed loop's step response at the logged instants, in the unit of the measured
// current, and the figures of both curves.
void CTestCurrent::AddPrediction() {
  CZel_SingleAxisLogger& log = *m_pLogger;
  const std::size_t n = log.GetPointsRead();
  std::vector<double> t(n), reference(n), measured(n), voltage(n);
  for (std::size_t i = 0; i < n; ++i) {
    t[i] = log.GetValue(i, 0);
    reference[i] = log.GetValue(i, 1);
    measured[i] = log.GetValue(i, 2);
    voltage[i] = log.GetValue(i, 3);
  }
  evaluation_.measured = MeasureStep(t, reference, measured);
  // The log's own spacing: the logger samples every fast period.
  if (n >= 2) evaluation_.identified = IdentifyArmature(voltage, measured, t[1] - t[0]);

  // A setup without the motor's data has no prediction.
  const std::optional<DriveModel> model = DriveModelOf(m_Setup);
  if (!model || n < 2) return;
  std::size_t step = 1;
  while (step < n && reference[step] == reference[0]) ++step;
  if (step >= n) return;
  // The program's step as the model runs it: a few samples at rest, then the logged level.
  const double ts = model->FastPeriod();
  const double scale = model->current_counts_per_A;
  constexpr int kLead = 4;
  // A period that the setup makes absurdly short must not ask for an absurd run.
  const int samples = kLead +
                      std::min(ZelSaturatingCast<int>(std::ceil((t[n - 1] - t[step]) / ts)),
                               kMostPredictedSamples) +
                      2;
  ModelRun run;
  run.structure = ModelStructure::Current;
  run.shaft_blocked = true;
  run.reference.assign(static_cast<std::size_t>(samples), std::nearbyint(reference[n - 1] * scale));
  std::fill_n(run.reference.begin(), kLead, std::nearbyint(reference[step - 1] * scale));
  const ModelTrace trace = SimulateRun(*model, run);
  std::vector<double> predicted(n, trace.response.front() / scale);
  for (std::size_t i = step; i < n; ++i) {
    const auto k = kLead + ZelSaturatingCast<std::size_t>(std::floor((t[i] - t[step]) / ts + 1e-6));
    predicted[i] = trace.response[std::min(k, trace.response.size() - 1)] / scale;
  }
  evaluation_.predicted = MeasureStep(t, reference, predicted);
  if (evaluation_.measured && evaluation_.predicted) {
    evaluation_.warnings = CompareStepFigures(*evaluation_.measured, *evaluation_.predicted);
    if (!evaluation_.warnings.empty())
      evaluation_.warnings.emplace_back("the motor's R or L in the setup may be wrong");
  }
  for (std::string& w :
       ArmatureMismatches(evaluation_.identified, ZelQuietBaseValue(m_Setup, param::R),
                          ZelQuietBaseValue(m_Setup, param::L)))
    evaluation_.warnings.push_back(std::move(w));

  CGraphDocument& document = log.GetGraphDocument();
  const CZel_Variable* current = m_Setup.FindVariable(var::Motor_Current, 0);
  for (std::size_t i = 0; i < n && static_cast<int>(i) < document.GetPointCount(); ++i) {
    const double shown =
        current ? current->GetSelectedUnit().FromBase(predicted[i]) : predicted[i];
    document.SetValue(predicted_channel_, static_cast<int>(i), shown);
  }
  m_Graph.RefreshGraph();
  m_Graph.DoZoomOut();
}

void CTestCurrent::ShowFigures() {
  std::string text;
  if (evaluation_.measured) text += FormatFigures("Measured", *evaluation_.measured);
  if (evaluation_.predicted)
    text += (text.empty() ? "" : "\r\n") + FormatFigures("Predicted", *evaluation_.predicted);
  for (const std::string& w : evaluation_.warnings) text += "\r\nWarning: " + w;
  SetChildText(kCtFigures, text);
}

void CTestCurrent::DescribeRun(TestRunReport& report) const {
  CMyTestDlg::DescribeRun(report);
  static constexpr const char* kGains[] = {param::Kp_C_scl, param::Ki_C_scl, param::KPI,
                                           param::SFTKPI,   param::KII,      param::SFTKII};
  for (const char* name : kGains) {
    if (const CZel_Parameter* p = m_Setup.FindParameter(name))
      report.gains.push_back({name, p->GetValueInBaseUnit()});
  }
  report.measured = evaluation_.measured;
  report.predicted = evaluation_.predicted;
  report.identified = evaluation_.identified;
  report.warnings = evaluation_.warnings;
}

void CTestCurrent::OnSavePlots() {
  if (!m_pLogger || m_bTestRunning) return;
  m_Graph.CreateWMF(kPlotBaseName);
}

void CTestCurrent::OnOK() {
  CMyTestDlg::OnOK();
  m_Setup.SetParameterValueInBaseUnit(
      param::Imax_Prot, m_Setup.GetParameterValueInBaseUnit(param::TestProtectionCurrent));
}

}  // namespace dcservo
