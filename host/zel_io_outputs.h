#pragma once
// The drive's output ports as the motor brake sees them: which ports can drive a brake, how
// each one drives it, and the list the user picks the brake output from. The ports and
// their kinds come from the setup's I/O table (CZel_Setup::GetIOOutputs).

#include "host/zel_setup.h"

class CZel_Dialog;

// Bits of IsBrakePortEnable: the port can drive a brake, and how it drives it (the two bits
// under kIoDriveMask).
inline constexpr int kIoBrakeCapable = 0x01;
inline constexpr int kIoDriveMask = 0x30;
inline constexpr int kIoDriveSource = 0x10;  // PNP: switches the load to +Vlog
inline constexpr int kIoDriveSink = 0x20;    // NPN: switches the load to GND

// Ports that can drive a brake; 0 for a drive without outputs.
int GetNumberOfBrakeOutputs(const CZel_Setup* setup);
// 0 for a port that the drive does not have.
int IsBrakePortEnable(const CZel_Setup* setup, int port);
bool IsIOZel3PortInverted(const CZel_Setup* setup, int port);
// "OUT25" for the port on pin 25.
std::string BrakeOutputName(const CZel_Setup* setup, int port);
// Fills the drop-down `list_id` with one entry per brake output (its data the port) and
// selects `selected_port`; nothing is selected when the drive has no such port.
void FillIOBrakeCombo(const CZel_Setup* setup, CZel_Dialog& dialog, int list_id,
                      int selected_port);
