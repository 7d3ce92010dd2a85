#include "derive/probes.h"

#include <initializer_list>

#include "derive/step.h"

namespace dcservo {
namespace {

int HasParameters(CZel_Setup& setup, std::initializer_list<const char*> names) {
  ZelQuietErrors quiet;
  for (const char* name : names) {
    if (!setup.FindParameter(name)) return 0;
  }
  return 1;
}

int OptionIsOne(const CZel_Setup& setup, const char* name) {
  return setup.GetIntOption(name) == 1 ? 1 : 0;
}

}  // namespace

int HasAnalogueInput(CZel_Setup& setup) {
  ZelQuietErrors quiet;
  return setup.FindVariable("CADIN", 1) && setup.FindParameter("CADIN") ? 1 : 0;
}

int IsMotorInertiaUnknown(CZel_Setup& setup) {
  ZelQuietErrors quiet;
  const CZel_Parameter* unknown = setup.FindParameter("isMotorInertiaUnknown");
  return unknown && IsFlagSet(unknown->GetValueInBaseUnit()) ? 1 : 0;
}

int HasSoftwareLimitSwitches(CZel_Setup& setup) { return HasParameters(setup, {"isSWLS"}); }
int HasSpeedEstimator(CZel_Setup& setup) { return HasParameters(setup, {"isSpeedEstimator"}); }
int HasCanSettings(CZel_Setup& setup) {
  return HasParameters(setup, {"save_CAN_baudrate", "save_axis_id"});
}
int HasMotorBrake(CZel_Setup& setup) { return HasParameters(setup, {"BRAKECFG", "isMotorBrake"}); }
int HasFreezeControl(CZel_Setup& setup) {
  return HasParameters(setup, {"POSOKLIM_FC", "TONPOSOK_FC"});
}
int HasInputsPolarity(CZel_Setup& setup) { return HasParameters(setup, {"InputsPolarityType"}); }
int HasBiquadFilters(CZel_Setup& setup) { return HasParameters(setup, {"IQREF_BQ_INI"}); }
int HasSpeedTestReference(CZel_Setup& setup) {
  return HasParameters(setup, {"SpeedTestReferenceType"});
}
int HasI2tWarnings(CZel_Setup& setup) {
  return HasParameters(setup, {"II2TWARLIM_D", "I2TWARLIM_M"});
}
int HasSpeedForward(CZel_Setup& setup) { return HasParameters(setup, {"SpeedForward"}); }
int HasReverseCounting(CZel_Setup& setup) { return HasParameters(setup, {"ReverseCounting"}); }
int HasEncoderFilter(CZel_Setup& setup) {
  return HasParameters(setup, {"isFilterEnc", "FilterEncValue"});
}
int HasPosSpdInFastLoop(CZel_Setup& setup) { return HasParameters(setup, {"PosSpd_in_FastLoop"}); }

int hasNegTransmission(const CZel_Setup& setup) { return OptionIsOne(setup, "hasNegTransmission"); }
int hideEnablePolarity(const CZel_Setup& setup) { return OptionIsOne(setup, "hideEnablePolarity"); }
int NewDeadBand(const CZel_Setup& setup) { return OptionIsOne(setup, "NewDeadBand"); }
int DisableBrake(const CZel_Setup& setup) { return OptionIsOne(setup, "DisableBrake") ? 0 : 1; }
int IsInputsTypeProgrammable(const CZel_Setup& setup) {
  if (setup.GetOptionNoError("IsInputsTypeProgrammable").empty()) return -1;
  return setup.GetIntOption("IsInputsTypeProgrammable");
}

}  // namespace dcservo
