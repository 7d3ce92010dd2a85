#pragma once
// The simulated drive behind the drive's Modbus register map (host/zel_drive_map.h), as
// `dcservo simdrive` serves it: each request is answered from the drive brought up to the
// wall clock, so it runs in real time like the drive it stands in for.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/zel_comm.h"

namespace dcsim {
class SimulatedDrive;
}
namespace zel_map {
struct ChipParameter;
}
struct _modbus;
struct _modbus_mapping_t;

struct DriveServerOptions {
  std::string product_id, firmware_id;
  int unit = 1;
  // A slow link: every `slow_every`-th answer waits `slow_s` first (0: none).
  double slow_s = 0.0;
  int slow_every = 0;
  // Told the name of each program just before it starts.
  std::function<void(const std::string&)> before_start;
  // A drive that refuses: a write that touches `register_` is answered with `exception`.
  struct RefusedWrite {
    std::uint16_t register_ = 0;
    int exception = 0;
  };
  std::vector<RefusedWrite> refused_writes;
  // The range a chip parameter takes on the drive; false when it has none of its own.
  std::function<bool(std::string_view name, double& lowest, double& highest)> chip_range;
};

class ModbusDriveServer {
 public:
  ModbusDriveServer(dcsim::SimulatedDrive& drive, const DriveServerOptions& options);
  ~ModbusDriveServer();
  ModbusDriveServer(const ModbusDriveServer&) = delete;
  ModbusDriveServer& operator=(const ModbusDriveServer&) = delete;

  // Brings the drive up to the wall clock.
  void Advance();
  // Answers one request of `length` bytes as received on `ctx`; false when the answer could
  // not be sent.
  bool Answer(_modbus* ctx, const std::uint8_t* request, int length);
  // The host went away. A drive that loses its host stops the test it runs.
  void HostLost();

 private:
  // 0 when the write is done, else the Modbus exception that refuses it (nothing changed).
  int Write(std::uint16_t address, int count, const std::uint8_t* values);
  int Read(std::uint16_t address, int count);
  int Refuse(int exception, const std::string& why);
  int Act(std::uint16_t command);
  int SelectProgram();
  // Why the drive refuses these bits for the parameter (its type or its range), empty when
  // it takes them as `value`.
  std::string RefusedChipValue(const zel_map::ChipParameter& p, std::uint32_t bits,
                               double& value) const;
  void TakeMessages();
  bool ReadRequestChannels(std::uint16_t count_at, std::uint16_t addresses_at,
                           std::vector<std::string>& names);

  dcsim::SimulatedDrive& drive_;
  DriveServerOptions options_;
  std::chrono::steady_clock::time_point origin_;
  _modbus_mapping_t* map_;
  std::uint16_t* reg_;  // its holding registers, all 65536
  // What each register is, for refusing reads and writes of anything else.
  std::vector<std::uint8_t> kind_;
  std::string selected_;
  std::vector<ZelProgramVariable> staged_;
  std::vector<ZelProgramVariable> run_vars_;
  std::optional<ZelLogRequest> armed_log_;  // until the next program start
  ZelLogData log_;
  std::size_t log_channels_ = 0;
  std::deque<std::vector<std::uint8_t>> outbox_;
  std::uint16_t head_index_ = 0;
  std::uint64_t answers_ = 0;
};

// Serves `server` until `stop` is set. One client holds the drive at a time; others are
// answered "busy". `listening` is told the address once requests are taken. Empty when the
// server ended on `stop`, else why it could not serve.
std::string ServeTcp(ModbusDriveServer& server, const std::string& host, const std::string& port,
                     int unit, const std::atomic<bool>& stop,
                     const std::function<void(const std::string&)>& listening);
std::string ServeRtu(ModbusDriveServer& server, const std::string& device, int baud, int unit,
                     const std::atomic<bool>& stop,
                     const std::function<void(const std::string&)>& listening);
