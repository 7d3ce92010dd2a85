#include "host/zel_io_outputs.h"

#include "host/zel_dialog.h"

namespace {

const ZelIOOutput* Output(const CZel_Setup* setup, int port) {
  if (!setup || port < 0 || port >= GetIOPortCount(setup)) return nullptr;
  return &setup->GetIOOutputs()[port];
}

}  // namespace

int GetNumberOfBrakeOutputs(const CZel_Setup* setup) { return GetIOPortCount(setup); }

int IsBrakePortEnable(const CZel_Setup* setup, int port) {
  const ZelIOOutput* out = Output(setup, port);
  if (!out) return 0;
  return kIoBrakeCapable |
         (out->drive == ZelOutputDrive::Source ? kIoDriveSource : kIoDriveSink);
}

bool IsIOZel3PortInverted(const CZel_Setup* setup, int port) {
  const ZelIOOutput* out = Output(setup, port);
  return out && out->inverted;
}

std::string BrakeOutputName(const CZel_Setup* setup, int port) {
  const ZelIOOutput* out = Output(setup, port);
  return out ? "OUT" + std::to_string(out->pin) : std::string();
}

void FillIOBrakeCombo(const CZel_Setup* setup, CZel_Dialog& dialog, int list_id,
                      int selected_port) {
  dialog.ListResetContent(list_id);
  for (int port = 0; port < GetNumberOfBrakeOutputs(setup); ++port) {
    const int index = dialog.ListAddString(list_id, BrakeOutputName(setup, port));
    if (index >= 0) dialog.ListSetItemData(list_id, index, port);
  }
  dialog.ListSetCurSel(list_id, dialog.ListFindItemData(list_id, selected_port));
}
