#include "derive/compute_all.h"
#include "dialogs/drive_setup_dlg.h"
#include "plugin/pardo_app.h"
#include "units/scales.h"

#define DCSERVO_EXPORT __attribute__((visibility("default")))

namespace {
[[maybe_unused]] CPardoApp theApp;
}  // namespace

extern "C" {

DCSERVO_EXPORT int EditSetup(CZel_Setup* setup) {
  if (!setup) return 0;
  CDriveSetupDlg dialog(*setup, nullptr);
  return dialog.DoModal() == kIdOk ? 1 : 0;
}

DCSERVO_EXPORT void ComputeAllOptions(CZel_Setup* setup) { dcservo::ComputeAllOptions(setup); }

DCSERVO_EXPORT double GetScaleFactor(CZel_Setup* setup, const char* unit, const char* name) {
  return setup ? dcservo::ScaleFactor(*setup, unit, name) : 1.0;
}

DCSERVO_EXPORT double GetScaleOffset(CZel_Setup* setup, const char* unit) {
  return setup ? dcservo::ScaleOffset(*setup, unit) : 0.0;
}

}  // extern "C"
