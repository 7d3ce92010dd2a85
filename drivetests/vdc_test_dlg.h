#pragma once
// "VDC Detection Test": measures the supply voltage that the drive actually gets and offers,
// on closing, to keep it as the setup's Vdc.

#include <limits>

#include "drivetests/my_test_dlg.h"
#include "drivetests/watched_run.h"
#include "host/zel_coff.h"

namespace dcservo {

inline constexpr unsigned kVdcTestTemplate = 105;
inline constexpr unsigned kVdcTestHelpContext = 262405;

enum VdcTestControl : int {
  kVdcFrame = 3700,  // the frame's ids, 3700..3709
  kVdcEdit = 3711,
  kVdcUnit,
};

class CTestVdcDetection : public CMyTestDlg {
 public:
  CTestVdcDetection(CZel_Setup& setup, CZel_Dialog* parent = nullptr);
  ~CTestVdcDetection() override;

  int OnInitDialog() override;
  void OnCancel() override;
  void BeginTest() override;
  void DescribeRun(TestRunReport& report) const override;
  CGraphWindow* GetRunGraph() const override { return record_.Graph(); }

 protected:
  void OnLook() override;
  std::span<const char* const> StatusTexts() const override;
  bool CheckRunEnded() override;
  void OnProgramEnded() override;

 private:
  // The supply that a reading of var_u2 means, V.
  double SupplyOf(const CZel_Variable& u2) const;

  CZel_CoffFormat m_Coff;
  double old_vdc_ = 0.0;
  // What the last run read, kept or not: NaN before a reading.
  double measured_vdc_ = std::numeric_limits<double>::quiet_NaN();
  mutable WatchedRun record_;  // the supply at each look at the run
};

}  // namespace dcservo
