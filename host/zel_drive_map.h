#pragma once
// The drive's Modbus register map (docs/drive-link.md): where each operation of the
// communication seam lives among the drive's holding registers, and how values are laid out
// in them. It is the drive's map, not the simulator's: the Modbus client and the server
// around the simulated drive both read it from here.
//
// Every register is 16 bits, sent high byte first as Modbus has it. A 32-bit value takes two
// registers, the high word first; a 64-bit float (IEEE 754) four, the most significant word
// first; text is ASCII, two characters to a register (the first in the high byte), padded
// with NUL.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "host/zel_setup.h"

namespace zel_map {

inline constexpr std::uint16_t kMapVersion = 1;

// ---- identity (read only) ----
inline constexpr std::uint16_t kVersion = 0x0000;
inline constexpr std::uint16_t kProductId = 0x0001;
inline constexpr int kProductIdRegisters = 16;
inline constexpr std::uint16_t kFirmwareId = 0x0011;
inline constexpr int kFirmwareIdRegisters = 8;
inline constexpr int kIdentityRegisters = 0x0019;

// ---- status (read only) ----
inline constexpr std::uint16_t kStatus = 0x0020;
inline constexpr std::uint16_t kStatusAxisOn = 1u << 0;
inline constexpr std::uint16_t kStatusProgramRunning = 1u << 1;
inline constexpr std::uint16_t kLoadedRun = 0x0021;    // uint32, 0: none
inline constexpr std::uint16_t kDriveTimeMs = 0x0023;  // uint32
inline constexpr std::uint16_t kLogCapacity = 0x0025;  // words of log memory
inline constexpr int kStatusRegisters = 6;

// ---- command (write only): the action that the value names ----
inline constexpr std::uint16_t kCommand = 0x0030;
enum CommandCode : std::uint16_t {
  kStartProgram = 1,  // the selected program with its variable values
  kStopProgram = 2,
  kArmLog = 3,       // the log request below
  kStartStream = 4,  // the stream request below
  kStopStream = 5,
};

// ---- data log request (read and write) ----
inline constexpr int kMaxChannels = 8;
inline constexpr std::uint16_t kLogLoop = 0x0040;  // 1 slow loop, 2 fast loop
inline constexpr std::uint16_t kLogDivider = 0x0041;
inline constexpr std::uint16_t kLogPoints = 0x0042;  // uint32
inline constexpr std::uint16_t kLogChannels = 0x0044;
inline constexpr std::uint16_t kLogVariables = 0x0045;  // kMaxChannels live-variable addresses
inline constexpr int kLogRequestRegisters = 5 + kMaxChannels;

// ---- the recorded log (read only); reading kLogRecorded takes the snapshot that the data
// registers show ----
inline constexpr std::uint16_t kLogRecorded = 0x0050;  // uint32 points
inline constexpr std::uint16_t kLogRecordedChannels = 0x0052;
inline constexpr std::uint16_t kLogPeriod = 0x0053;  // float64 seconds between points
inline constexpr int kLogResultRegisters = 7;
// Point k, channel c at kLogData + 2 (k x channels + c), int32.
inline constexpr std::uint16_t kLogData = 0x8000;
inline constexpr int kLogDataRegisters = 0x8000;

// ---- scope stream request (read and write) ----
inline constexpr std::uint16_t kStreamChannels = 0x0060;
inline constexpr std::uint16_t kStreamVariables = 0x0061;  // kMaxChannels addresses
inline constexpr std::uint16_t kStreamPeriod = 0x0069;     // float64 seconds
inline constexpr std::uint16_t kStreamPointsPerFrame = 0x006D;
inline constexpr int kStreamRequestRegisters = 14;

// ---- unsolicited messages, oldest first ----
// The host writes into kMailboxAck the index of the next message it wants; the drive drops
// the older ones. One read-write request (function 23) writes the acknowledgement and reads
// kMailboxIndex to the message's end. Writing the same index twice drops nothing, so a request
// repeated after a lost answer loses no message.
inline constexpr std::uint16_t kMailboxAck = 0x0070;
inline constexpr std::uint16_t kMailboxIndex = 0x0071;    // index of the message shown
inline constexpr std::uint16_t kMailboxPending = 0x0072;  // messages waiting, with it
inline constexpr std::uint16_t kMailboxWords = 0x0073;    // its length in words, 0: none
inline constexpr std::uint16_t kMailboxData = 0x0074;     // its words as the message holds them
// A message longer than this is not sent: the stream's frames are sized to fit.
inline constexpr int kMailboxDataRegisters = 117;

// ---- why the drive refused the last request it refused (read only, text) ----
inline constexpr std::uint16_t kDriveError = 0x0140;
inline constexpr int kDriveErrorRegisters = 64;

// ---- test programs ----
// Writing a program's name selects it: its variables' declarations and start values show
// below, and the start values may be written before kStartProgram. An unknown name is
// refused (illegal data value).
inline constexpr std::uint16_t kProgramName = 0x0100;
inline constexpr int kProgramNameRegisters = 32;
inline constexpr std::uint16_t kProgramVariableCount = 0x0120;  // read only
inline constexpr int kMaxProgramVariables = 32;
// Declaration k at kProgramDeclarations + 24 k (read only): its name, then float64 lowest,
// highest and step of its type on the drive.
inline constexpr std::uint16_t kProgramDeclarations = 0x0200;
inline constexpr int kVariableNameRegisters = 12;
inline constexpr int kDeclarationRegisters = 24;
// Start value k at kProgramStartValues + 4 k (float64).
inline constexpr std::uint16_t kProgramStartValues = 0x0600;
// Variable k of the loaded run (running or ended) at kRunValues + 4 k (float64), in the
// order of its program's declarations.
inline constexpr std::uint16_t kRunValues = 0x0700;

// ---- live variables: int32 in internal units ----
struct LiveVariable {
  const char* name;
  std::uint16_t address;
  bool writable;
};
inline constexpr std::uint16_t kLiveVariables = 0x1000;
std::span<const LiveVariable> LiveVariables();

// ---- chip parameters: two registers each, the 32 bits of the value in its type ----
struct ChipParameter {
  const char* name;
  std::uint16_t address;
  ZelStorageType type;
};
inline constexpr std::uint16_t kChipParameters = 0x2000;
std::span<const ChipParameter> ChipParameters();

const LiveVariable* FindLiveVariable(std::string_view name);
const LiveVariable* LiveVariableAt(std::uint16_t address);
const ChipParameter* FindChipParameter(std::string_view name);
const ChipParameter* ChipParameterAt(std::uint16_t address);

// ---- layout of values ----
void PutU32(std::uint16_t* registers, std::uint32_t value);
std::uint32_t GetU32(const std::uint16_t* registers);
// Rounded and saturated to the 32 bits.
void PutI32(std::uint16_t* registers, double value);
double GetI32(const std::uint16_t* registers);
void PutF64(std::uint16_t* registers, double value);
double GetF64(const std::uint16_t* registers);
// Longer text is cut at the registers' end.
void PutText(std::uint16_t* registers, int count, std::string_view text);
std::string GetText(const std::uint16_t* registers, int count);
// The bits of a chip parameter's value as its type holds it (StoreAs), and back.
std::uint32_t EncodeChip(ZelStorageType type, double value);
double DecodeChip(ZelStorageType type, std::uint32_t bits);
// As DecodeChip, but false when the bits are not how the type's values are laid out: a
// 16-bit type whose high word is not its sign (or zero).
bool DecodeChipExact(ZelStorageType type, std::uint32_t bits, double& value);

// "0x1002"
std::string Hex(std::uint16_t address);

}  // namespace zel_map
