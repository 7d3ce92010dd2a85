#pragma once
// "Commission...": the drive setup's button that brings the drive into service in one run.
// Start asks where the report goes (the record names the operator and the note given here),
// runs every step through its test dialog (headless, with
// the answers of a careful engineer) while the progress shows here, writes the record and
// offers to open the report. The accepted values stay in the setup that the drive setup
// shows; Close keeps them, as each test's OK would have.

#include <string>

#include "host/zel_dialog.h"

class CZel_Setup;

namespace dcservo {

inline constexpr unsigned kCommissionTemplate = 3120;

enum CommissionControl : int {
  kCommissionBox = 3121,
  kCommissionText,
  kCommissionStart,
  kCommissionButtons,
  kCommissionRecordBox,
  kCommissionOperatorLabel,
  kCommissionOperator,
  kCommissionNoteLabel,
  kCommissionNote,
};

class CCommissionDlg : public CZel_Dialog {
 public:
  CCommissionDlg(CZel_Setup& setup, CZel_Dialog* parent = nullptr);

  // The report of the last run; empty before one.
  const std::string& ReportPath() const { return report_; }

 protected:
  int OnInitDialog() override;
  const ZelMessageMap* GetMessageMap() const override;

 private:
  void OnStart();
  void ShowProgress(const std::string& text);

  CZel_Setup& m_Setup;
  std::string report_;
};

}  // namespace dcservo
