#pragma once
// A drive at the other end of a Modbus link (TCP or RTU), behind the same seam as the
// simulated drive in this process. Requests follow the drive's register map
// (host/zel_drive_map.h, docs/drive-link.md).
//
// The drive runs in real time on its own: the link's time is the wall clock since it came
// up, and bringing the link up to a time waits for it, so a headless run that steps a
// virtual clock goes at the drive's pace.
//
// A request that times out or arrives corrupted is repeated a few times; when the drive
// still does not answer, the link counts as lost and every later call fails at once with
// the same text, so a run in progress ends with a message instead of waiting on a drive
// that is gone.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/zel_comm.h"
#include "host/zel_drive_address.h"

// How patient the link is. A request gets `attempts` tries of `response_timeout_s` each,
// with a growing pause between them; the whole stays near `give_up_s`.
struct ZelLinkTiming {
  double response_timeout_s = 0.3;
  int attempts = 4;
  double give_up_s = 1.0;
  // In an operation of many requests (an upload, say), what each may take on average beyond
  // its time on the line; the whole gives up after give_up_s and that much a request.
  double request_budget_s = 0.1;
};

struct ZelDriveIdentity {
  int map_version = 0;
  std::string product_id, firmware_id;
};

class CZel_ModbusLink : public CZel_DriveLink {
 public:
  // Connects and reads the drive's identity; null with `error` set when no drive answers,
  // when another client holds it, or when it speaks another version of the map. Nothing is
  // written to the drive.
  static std::shared_ptr<CZel_ModbusLink> Open(const ZelDriveAddress& address, std::string& error,
                                               ZelLinkTiming timing = {});
  ~CZel_ModbusLink() override;
  CZel_ModbusLink(const CZel_ModbusLink&) = delete;
  CZel_ModbusLink& operator=(const CZel_ModbusLink&) = delete;

  const ZelDriveIdentity& Identity() const { return identity_; }
  ZelDriveDescription Describe() const override;
  bool Lost() const override { return lost_; }
  // Requests repeated after a timeout, a corrupted answer or a busy drive.
  std::uint64_t Retries() const { return retries_; }
  // How long the programs that this link started ran, from each start until the link saw the
  // run end: the time that a host which waited for nothing else would take.
  double ProgramSeconds() const { return program_s_; }

  // --- CZel_DriveLink ---
  double Now() const override;
  void AdvanceTo(double seconds) override;
  bool ReadVariable(std::string_view name, double& value) override;
  bool WriteVariable(std::string_view name, double value) override;
  bool WriteParameter(std::string_view name, double value) override;
  bool DescribeProgram(std::string_view name, std::vector<ZelProgramVariable>& vars) override;
  std::uint64_t StartProgram(std::string_view name,
                             const std::vector<ZelProgramVariable>& vars) override;
  std::uint64_t LoadedRun() const override;
  bool ProgramRunning() const override;
  void StopProgram() override;
  bool ReadProgramVariable(std::string_view name, double& value) override;
  bool WriteProgramVariable(std::string_view name, double value) override;
  bool AxisOn() const override;
  int LogCapacityWords() const override;
  bool StartLog(const ZelLogRequest& request) override;
  bool UploadLog(ZelLogData& data) override;
  bool LoggedPoints(std::size_t& recorded, std::size_t& asked) override;
  bool UploadLogBlock(ZelLogData& data, bool look_again, std::size_t& recorded) override;
  bool StartStream(const ZelStreamRequest& request) override;
  void StopStream() override;
  bool PopMessage(std::vector<std::uint8_t>& message) override;
  std::size_t PendingMessageCount() const override { return pending_; }
  std::string LastError() const override { return error_; }
  std::uint64_t FaultCount() const override { return faults_; }

 private:
  struct Status {
    bool valid = false;
    std::uint16_t bits = 0;
    std::uint64_t run = 0;
    int log_capacity = 0;
    double read_at = 0.0;
  };
  // A read, a write, or both in one request (function 23: the write goes first).
  struct Request {
    std::uint16_t address;
    int count;
    std::uint16_t* read_into;
    const std::uint16_t* write_from;
    std::string_view what;
    std::uint16_t write_address = 0;
    int write_count = 0;
  };
  // The recorded log as the last look at it saw it.
  struct LogLook {
    bool valid = false;
    std::size_t points = 0;
    int channels = 0;
    double period_s = 0.0;
  };

  // Registers in one read or write, below what a Modbus frame carries (125 and 123).
  static constexpr int kChunk = 120;

  CZel_ModbusLink(const ZelDriveAddress& address, ZelLinkTiming timing);
  bool Connect();
  // False with `text` as the error, unless the link is lost.
  bool Fail(std::string text) const;
  // One request over TCP, its answer checked whole (transaction, unit id, function, size);
  // as libmodbus's calls: the registers moved, or -1 with errno set.
  int TcpExchange(const Request& request) const;
  // One request with its repetitions; false with error_ set.
  bool Transact(const Request& request) const;
  // The seconds that `bytes` take on the line (0 over TCP).
  double WireSeconds(int bytes) const;
  // The whole answer to `request` must come within the response timeout and its time on the
  // line.
  void SetAnswerDeadline(const Request& request) const;
  // Reads into `read_into` or writes `write_from`, in requests of a frame's size, within a
  // deadline for the whole; false with error_ set. `done` hears the registers moved so far
  // after each request.
  using TransferDone = std::function<void(int registers)>;
  bool Transfer(std::uint16_t address, int count, std::uint16_t* read_into,
                const std::uint16_t* write_from, std::string_view what,
                const TransferDone& done = nullptr) const;
  bool Read(std::uint16_t address, int count, std::uint16_t* registers, std::string_view what,
            const TransferDone& done = nullptr) const;
  bool Write(std::uint16_t address, const std::uint16_t* registers, int count,
             std::string_view what) const;
  bool Command(std::uint16_t command, std::string_view what);
  bool ReadStatus() const;
  // After the connection was made again: whether the drive still shows the run this link
  // started, as far as it ran. A drive stops the run of a host that goes away, and another
  // client may have run a program meanwhile.
  void CheckRunAfterReconnect() const;
  // False with the reason when the run this link started is no longer the drive's.
  bool RunIntact() const;
  bool SelectProgram(std::string_view name);
  // Whether `value`, read at `address`, is one that `v` holds on the drive (or the marker of no
  // result yet); a value outside its type is a fault of the link, not a result.
  bool TrustValue(const ZelProgramVariable& v, double value, std::uint16_t address) const;
  // Index of the loaded run's variable, -1 with error_ set.
  int RunVariableIndex(std::string_view name);
  // Takes a new snapshot of the recorded log into log_look_; false with error_ set.
  bool LookAtLog();
  // Whole points of log_look_'s channels from data registers, after those `data` holds.
  void AppendLogPoints(const std::vector<std::uint16_t>& registers, ZelLogData& data) const;
  bool ChannelAddresses(const std::vector<std::string>& names, std::uint16_t* addresses,
                        std::string_view what);

  ZelDriveAddress address_;
  ZelLinkTiming timing_;
  void* ctx_ = nullptr;  // modbus_t, kept out of this header
  ZelDriveIdentity identity_;
  std::chrono::steady_clock::time_point origin_;
  mutable Status status_;
  mutable bool lost_ = false;
  mutable std::string error_;
  std::size_t log_points_asked_ = 0;
  LogLook log_look_;
  mutable std::uint64_t retries_ = 0;
  // Connections made again after one broke, calls that failed, the last TCP transaction.
  mutable std::uint64_t reconnects_ = 0;
  mutable std::uint64_t faults_ = 0;
  mutable std::uint16_t transaction_ = 0;
  // The selected program and its variables as the drive declared them.
  std::string program_;
  std::vector<ZelProgramVariable> program_vars_;
  // The program this link started last, whose variables the drive shows as the run's.
  std::string run_program_;
  std::vector<ZelProgramVariable> run_vars_;
  // That run as the drive numbered it, whether the link has seen it end, the connections
  // made again that the link has looked at since, and why the drive's run is no longer it.
  std::uint64_t started_run_ = 0;
  mutable bool run_seen_ended_ = false;
  double run_started_at_ = 0.0;
  mutable double program_s_ = 0.0;
  mutable std::uint64_t run_checked_reconnects_ = 0;
  mutable std::string run_broken_;
  std::uint16_t next_message_ = 0;
  std::size_t pending_ = 0;
};
