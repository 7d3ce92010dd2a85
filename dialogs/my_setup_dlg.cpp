#include "dialogs/my_setup_dlg.h"

#include "derive/display_step.h"
#include "derive/gains.h"
#include "derive/pipelines.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_names.h"

namespace dcservo {
namespace {

// The firmware reads the mantissa and the shift as a pair; the order inside a pair follows
// the drive's own update order, which is why some rows write the shift first.
constexpr const char* kKpC[] = {"KPI", "SFTKPI"};
constexpr const char* kKiC[] = {"KII", "SFTKII"};
constexpr const char* kKiP[] = {"SFTKIP", "KIP"};
constexpr const char* kKpP[] = {"SFTKPP", "KPP"};
constexpr const char* kKdP[] = {"SFTKDP", "KDP"};
constexpr const char* kKiS[] = {"SFTKIS", "KIS"};
constexpr const char* kKpS[] = {"SFTKPS", "KPS"};
// The acceleration feedforward's shift is split over two registers.
constexpr const char* kKffa[] = {"SFTKFF", "KFFA", "SFTAFFW"};
constexpr const char* kKffs[] = {"SFTSFFW", "KFFS"};
// The sensors decide the feedback registers and the speed feedforward switch.
constexpr const char* kSensors[] = {"UPGRADE", "SCR", "OSR"};

constexpr SingleQuantityRecomputation kRows[] = {
    {"Kp_C_scl", nullptr, kKpC, "Kp_C_scl"},
    {"Ki_C_scl", nullptr, kKiC, "Ki_C_scl"},
    {"Ki_P_scl", nullptr, kKiP, "Ki_P_scl"},
    {"Kp_P_scl", nullptr, kKpP, "Kp_P_scl"},
    {"Kd_P_scl", nullptr, kKdP, "Kd_P_scl"},
    {"Ki_S_scl", nullptr, kKiS, "Ki_S_scl"},
    {"Kp_S_scl", nullptr, kKpS, "Kp_S_scl"},
    {"KFFA_scl", nullptr, kKffa, "KFFA_scl"},
    {"KFFS_scl", nullptr, kKffs, "KFFS_scl"},
    // No probe for SpeedForward here: the rule itself changes nothing when it is missing.
    {"SensorsConfiguration", ApplySpeedForwardRule, kSensors, "SensorsConfiguration"},
};

}  // namespace

std::span<const SingleQuantityRecomputation> SingleQuantityRecomputations() { return kRows; }

const SingleQuantityRecomputation* FindRecomputation(const std::string& name) {
  for (const SingleQuantityRecomputation& row : kRows) {
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
