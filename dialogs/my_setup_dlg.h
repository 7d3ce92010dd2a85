#pragma once
// The base of every setup dialog: a controller gain, a feedforward gain or the sensors
// configuration that the user changes is encoded into its chip parameters at once and read
// back from them, so the field shows what the drive will really run with.

#include <span>
#include <string>
#include <vector>

#include "derive/pipelines.h"
#include "host/zel_dialog_setup.h"
#include "names/dialog_names.h"

namespace dcservo {

// One row of the single-quantity recomputations: the chip steps run in this order, then the
// changed parameter is derived back.
struct SingleQuantityRecomputation {
  const char* changed;
  StepFn before;  // a rule that runs ahead of the chip steps, or null
  std::vector<const char*> chip_steps;
  const char* derived_back;
};

// The rows, first match wins.
std::span<const SingleQuantityRecomputation> SingleQuantityRecomputations();

// The row for a parameter name (without regard to case), or null.
const SingleQuantityRecomputation* FindRecomputation(const std::string& name);

// Runs a row's steps; a step that misses a parameter changes nothing and the rest still run.
void RunRecomputation(CZel_Setup& setup, const SingleQuantityRecomputation& row);

}  // namespace dcservo

class CMySetupDlg : public CZel_EditSetupDlg {
 public:
  CMySetupDlg(CZel_Setup& setup, unsigned template_id, int flags = 1,
              const char* const* guidance = nullptr, CZel_Dialog* parent = nullptr);
  ~CMySetupDlg() override;

  const ZelMessageMap* GetMessageMap() const override;
  void OnChangedParameterValue(const std::string& name) override;
  double DisplayStep(CZel_Parameter& p) override;

 protected:
  // A button that opens the registered dialog `name`: enabled when `on` and the dialog is
  // built; a button whose dialog is missing says so in its tooltip.
  void EnableOpener(int button, const char* name, bool on);
  // ComputeChipParameters, then ComputeScaledParameters: the two layers agree again.
  void Sync();
};
