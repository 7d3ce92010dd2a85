#include "dialogs/my_setup_dlg.h"

#include "derive/display_step.h"
#include "derive/gains.h"
#include "derive/pipelines.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_names.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

// A gain typed by the user: its registers in the gains table's order, then the gain back
// from them, so that it shows what the drive holds.
SingleQuantityRecomputation GainRecomputation(Gain gain) {
  const char* scaled = FixedPointGainOf(gain).scaled;
  return {scaled, nullptr, GainWriteOrder(gain), scaled};
}

const std::vector<SingleQuantityRecomputation>& Rows() {
  static const std::vector<SingleQuantityRecomputation> rows = {
      GainRecomputation(Gain::Kp_C),
      GainRecomputation(Gain::Ki_C),
      GainRecomputation(Gain::Ki_P),
      GainRecomputation(Gain::Kp_P),
      GainRecomputation(Gain::Kd_P),
      GainRecomputation(Gain::Ki_S),
      GainRecomputation(Gain::Kp_S),
      GainRecomputation(Gain::KFFA),
      GainRecomputation(Gain::KFFS),
      // The sensors decide the feedback registers and the speed feedforward switch. No probe
      // for SpeedForward here: the rule itself changes nothing when it is missing.
      {param::SensorsConfiguration,
       ApplySpeedForwardRule,
       {param::UPGRADE, param::SCR, param::OSR},
       param::SensorsConfiguration},
  };
  return rows;
}

}  // namespace

std::span<const SingleQuantityRecomputation> SingleQuantityRecomputations() { return Rows(); }

const SingleQuantityRecomputation* FindRecomputation(const std::string& name) {
  for (const SingleQuantityRecomputation& row : Rows()) {
    if (zel::NamesEqual(row.changed, name)) return &row;
  }
  return nullptr;
}

void RunRecomputation(CZel_Setup& setup, const SingleQuantityRecomputation& row) {
  if (row.before) row.before(setup);
  for (const char* chip : row.chip_steps) RunStep(setup, chip, Direction::ToChip);
  RunStep(setup, row.derived_back, Direction::ToScaled);
}

}  // namespace dcservo

CMySetupDlg::CMySetupDlg(CZel_Setup& setup, unsigned template_id, int flags,
                         const char* const* guidance, CZel_Dialog* parent)
    : CZel_EditSetupDlg(setup, template_id, flags, guidance, parent) {}

CMySetupDlg::~CMySetupDlg() = default;

const ZelMessageMap* CMySetupDlg::GetMessageMap() const {
  static const ZelMessageMap map{CZel_EditSetupDlg::GetMessageMap(), {}};
  return &map;
}

double CMySetupDlg::DisplayStep(CZel_Parameter& p) { return dcservo::DisplayStep(m_Setup, p); }

void CMySetupDlg::OnChangedParameterValue(const std::string& name) {
  if (const auto* row = dcservo::FindRecomputation(name)) dcservo::RunRecomputation(m_Setup, *row);
  CZel_EditSetupDlg::OnChangedParameterValue(name);
}

void CMySetupDlg::EnableOpener(int button, const char* name, bool on) {
  const bool built = ZelIsDialogRegistered(name);
  EnableChild(button, on && built);
  SetChildTooltip(button, built ? "" : dcservo::kNotBuiltTooltip);
}

void CMySetupDlg::Sync() { dcservo::SynchroniseSetup(m_Setup); }
