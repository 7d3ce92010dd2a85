#include "app/modbus_drive_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "host/zel_drive_map.h"
#include "host/zel_names.h"
#include "names/drive_names.h"
#include "sim/simulated_drive.h"

using namespace zel_map;

namespace {

// What a register is: who may read or write it.
enum Kind : std::uint8_t {
  kNone = 0,
  kReadOnly = 1,
  kReadWrite = 2,
  kWriteOnly = 3,
};

// A 32-bit or 64-bit value is written whole: its first register starts the unit.
enum Unit : std::uint8_t {
  kSingle = 0,
  kFirstOfTwo = 0x10,
  kSecond = 0x20,
  kFirstOfFour = 0x40,
  kLater = 0x80
};

constexpr int kReadLimit = 125, kWriteLimit = 123;
constexpr std::size_t kOutboxLimit = 4096;

bool Overlaps(std::uint16_t address, int count, std::uint16_t start, int length) {
  return address < start + length && start < address + count;
}

}  // namespace

ModbusDriveServer::ModbusDriveServer(dcsim::SimulatedDrive& drive,
                                     const DriveServerOptions& options)
    : drive_(drive),
      options_(options),
      origin_(std::chrono::steady_clock::now()),
      map_(modbus_mapping_new(0, 0, 0x10000, 0)),
      reg_(map_->tab_registers),
      kind_(0x10000, kNone) {
  const auto mark = [this](std::uint16_t start, int count, std::uint8_t kind) {
    for (int i = 0; i < count; ++i) kind_[start + i] = kind;
  };
  const auto mark_values = [this](std::uint16_t start, int count, int width, std::uint8_t kind) {
    for (int i = 0; i < count; ++i)
      for (int j = 0; j < width; ++j)
        kind_[start + width * i + j] = kind | (j == 0 ? (width == 2 ? kFirstOfTwo : kFirstOfFour)
                                                      : (width == 2 ? kSecond : kLater));
  };
  mark(kVersion, kIdentityRegisters, kReadOnly);
  mark(kStatus, kStatusRegisters, kReadOnly);
  mark(kCommand, 1, kWriteOnly);
  mark(kLogLoop, kLogRequestRegisters, kReadWrite);
  mark(kLogRecorded, kLogResultRegisters, kReadOnly);
  mark(kStreamChannels, kStreamRequestRegisters, kReadWrite);
  mark(kMailboxAck, 1, kReadWrite);
  mark(kMailboxIndex, 3 + kMailboxDataRegisters, kReadOnly);
  mark(kProgramName, kProgramNameRegisters, kReadWrite);
  mark(kProgramVariableCount, 1, kReadOnly);
  mark(kDriveError, kDriveErrorRegisters, kReadOnly);
  mark(kProgramDeclarations, kMaxProgramVariables * kDeclarationRegisters, kReadOnly);
  mark_values(kProgramStartValues, kMaxProgramVariables, 4, kReadWrite);
  mark_values(kRunValues, kMaxProgramVariables, 4, kReadWrite);
  for (const LiveVariable& v : LiveVariables())
    mark_values(v.address, 1, 2, v.writable ? kReadWrite : kReadOnly);
  for (const ChipParameter& p : ChipParameters()) mark_values(p.address, 1, 2, kReadWrite);
  mark(kLogData, kLogDataRegisters, kReadOnly);

  reg_[kVersion] = kMapVersion;
  PutText(reg_ + kProductId, kProductIdRegisters, options_.product_id);
  PutText(reg_ + kFirmwareId, kFirmwareIdRegisters, options_.firmware_id);
}

ModbusDriveServer::~ModbusDriveServer() { modbus_mapping_free(map_); }

void ModbusDriveServer::Advance() {
  drive_.AdvanceTo(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - origin_).count());
}

void ModbusDriveServer::HostLost() {
  drive_.StopProgram();
  drive_.StopStream();
}

int ModbusDriveServer::Refuse(int exception, const std::string& why) {
  PutText(reg_ + kDriveError, kDriveErrorRegisters, why);
  return exception;
}

bool ModbusDriveServer::Answer(modbus_t* ctx, const std::uint8_t* q, int length) {
  Advance();
  const int h = modbus_get_header_length(ctx);
  // The fixed part of each function's request: address and count or value, and for the
  // writes of many registers the byte count too.
  const auto fits = [&](int pdu_bytes) { return length >= h + pdu_bytes; };
  const auto word = [&](int at) {
    return static_cast<std::uint16_t>((q[h + at] << 8) | q[h + at + 1]);
  };
  const auto whole = [&](int values_at, int count) {
    return count >= 1 && count <= kWriteLimit && q[h + values_at - 1] == 2 * count &&
           length >= h + values_at + 2 * count;
  };
  int exception = 0;
  std::uint8_t function = length > h ? q[h] : 0;
  std::uint8_t single[2];
  const int fixed = function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS    ? 6
                    : function == MODBUS_FC_WRITE_AND_READ_REGISTERS ? 10
                    : function == MODBUS_FC_READ_HOLDING_REGISTERS ||
                            function == MODBUS_FC_WRITE_SINGLE_REGISTER
                        ? 5
                        : 1;
  constexpr std::uint8_t kCutShort = 0;  // a known function whose request is cut short
  if (!fits(fixed)) function = kCutShort;
  switch (function) {
    case kCutShort:
      exception = length > h ? MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE
                             : MODBUS_EXCEPTION_ILLEGAL_FUNCTION;
      break;
    case MODBUS_FC_READ_HOLDING_REGISTERS:
      exception = Read(word(1), word(3));
      break;
    case MODBUS_FC_WRITE_SINGLE_REGISTER:
      single[0] = q[h + 3];
      single[1] = q[h + 4];
      exception = Write(word(1), 1, single);
      break;
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
      exception = whole(6, word(3)) ? Write(word(1), word(3), q + h + 6)
                                    : MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
      break;
    case MODBUS_FC_WRITE_AND_READ_REGISTERS:
      exception = whole(10, word(7)) ? Write(word(5), word(7), q + h + 10)
                                     : MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
      if (!exception) exception = Read(word(1), word(3));
      break;
    default:
      exception = MODBUS_EXCEPTION_ILLEGAL_FUNCTION;
  }
  if (options_.slow_every > 0 && ++answers_ % options_.slow_every == 0)
    std::this_thread::sleep_for(std::chrono::duration<double>(options_.slow_s));
  return (exception ? modbus_reply_exception(ctx, q, static_cast<unsigned>(exception))
                    : modbus_reply(ctx, q, length, map_)) >= 0;
}

// ---- writes --------------------------------------------------------------------------------

int ModbusDriveServer::Write(std::uint16_t address, int count, const std::uint8_t* values) {
  if (count < 1 || address + count > 0x10000) return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t k = kind_[address + i];
    const std::uint8_t access = k & 0x0F;
    // A 32-bit or 64-bit value is written whole.
    const bool starts_inside = (k & (kSecond | kLater)) == 0 || i > 0;
    const int width = k & kFirstOfTwo ? 2 : k & kFirstOfFour ? 4 : 1;
    if ((access != kReadWrite && access != kWriteOnly) || !starts_inside || i + width > count)
      return Refuse(
          MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,
          "register " + Hex(static_cast<std::uint16_t>(address + i)) + " cannot be written so");
  }
  for (const DriveServerOptions::RefusedWrite& r : options_.refused_writes)
    if (Overlaps(address, count, r.register_, 1))
      return Refuse(r.exception, "writing register " + Hex(r.register_) + " is refused (--refuse)");
  // The values as they were, to put back when the drive refuses them.
  const std::vector<std::uint16_t> before(reg_ + address, reg_ + address + count);
  for (int i = 0; i < count; ++i)
    reg_[address + i] = static_cast<std::uint16_t>((values[2 * i] << 8) | values[2 * i + 1]);
  const auto touched = [&](std::uint16_t start, int length) {
    return Overlaps(address, count, start, length);
  };
  int exception = 0;
  if (touched(kProgramName, kProgramNameRegisters)) exception = SelectProgram();
  for (int i = 0; i < count && !exception; ++i) {
    const auto at = static_cast<std::uint16_t>(address + i);
    if (!(kind_[at] & (kFirstOfTwo | kFirstOfFour))) continue;
    if (const ChipParameter* p = ChipParameterAt(at)) {
      double value = 0.0;
      const std::string refused = RefusedChipValue(*p, GetU32(reg_ + at), value);
      if (!refused.empty())
        exception = Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, refused);
      else if (!drive_.WriteParameter(p->name, value))
        exception = Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, drive_.LastError());
    } else if (const LiveVariable* v = LiveVariableAt(at)) {
      if (!drive_.WriteVariable(v->name, GetI32(reg_ + at)))
        exception = Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, drive_.LastError());
    } else if (at >= kProgramStartValues && at < kRunValues) {
      // A start value is the program image's, which may hold the "not yet" marker of a
      // result; the host checked what the user typed.
      const std::size_t k = (at - kProgramStartValues) / 4;
      if (k >= staged_.size())
        exception = Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,
                           "the selected program has no variable " + std::to_string(k));
      else
        staged_[k].value = GetF64(reg_ + at);
    } else if (at >= kRunValues) {
      const std::size_t k = (at - kRunValues) / 4;
      if (k >= run_vars_.size() || drive_.LoadedRun() == 0)
        exception = Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,
                           "no program is loaded with a variable " + std::to_string(k));
      else if (!drive_.WriteProgramVariable(run_vars_[k].name, GetF64(reg_ + at)))
        exception = Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, drive_.LastError());
    }
  }
  if (!exception && touched(kMailboxAck, 1)) {
    TakeMessages();
    while (!outbox_.empty() && head_index_ != reg_[kMailboxAck]) {
      outbox_.pop_front();
      ++head_index_;
    }
  }
  if (!exception && touched(kCommand, 1)) exception = Act(reg_[kCommand]);
  if (exception) std::copy(before.begin(), before.end(), reg_ + address);
  return exception;
}

std::string ModbusDriveServer::RefusedChipValue(const ChipParameter& p, std::uint32_t bits,
                                                double& value) const {
  char text[160];
  if (!DecodeChipExact(p.type, bits, value)) {
    std::snprintf(text, sizeof text, "%s holds a 16-bit value: 0x%04X 0x%04X is none", p.name,
                  bits >> 16, bits & 0xFFFF);
    return text;
  }
  double lowest = 0.0, highest = 0.0;
  if (options_.chip_range && options_.chip_range(p.name, lowest, highest) &&
      (value < lowest || value > highest)) {
    std::snprintf(text, sizeof text, "%s takes values from %.10g to %.10g on the drive, not %.10g",
                  p.name, lowest, highest, value);
    return text;
  }
  // The register's one combination that the drive cannot obey.
  constexpr std::uint32_t kAnalogueAndDigitalReference = 0x0040 | 0x0080;
  if (zel::NamesEqual(p.name, dcservo::param::ACR) &&
      (bits & kAnalogueAndDigitalReference) == kAnalogueAndDigitalReference)
    return "ACR asks for an analogue and a digital external reference at once";
  return {};
}

int ModbusDriveServer::SelectProgram() {
  const std::string name = GetText(reg_ + kProgramName, kProgramNameRegisters);
  std::vector<ZelProgramVariable> vars;
  if (!drive_.DescribeProgram(name, vars))
    return Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, drive_.LastError());
  if (vars.size() > static_cast<std::size_t>(kMaxProgramVariables))
    return Refuse(MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE, "the program has too many variables");
  selected_ = name;
  staged_ = std::move(vars);
  reg_[kProgramVariableCount] = static_cast<std::uint16_t>(staged_.size());
  for (std::size_t k = 0; k < staged_.size(); ++k) {
    std::uint16_t* d = reg_ + kProgramDeclarations + kDeclarationRegisters * k;
    PutText(d, kVariableNameRegisters, staged_[k].name);
    PutF64(d + kVariableNameRegisters, staged_[k].lowest);
    PutF64(d + kVariableNameRegisters + 4, staged_[k].highest);
    PutF64(d + kVariableNameRegisters + 8, staged_[k].step);
    PutF64(reg_ + kProgramStartValues + 4 * k, staged_[k].value);
  }
  return 0;
}

bool ModbusDriveServer::ReadRequestChannels(std::uint16_t count_at, std::uint16_t addresses_at,
                                            std::vector<std::string>& names) {
  const int count = reg_[count_at];
  if (count < 1 || count > kMaxChannels) return false;
  for (int i = 0; i < count; ++i) {
    const LiveVariable* v = LiveVariableAt(reg_[addresses_at + i]);
    if (!v) return false;
    names.push_back(v->name);
  }
  return true;
}

int ModbusDriveServer::Act(std::uint16_t command) {
  switch (command) {
    case kStartProgram:
      if (selected_.empty())
        return Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, "no program is selected");
      if (options_.before_start) options_.before_start(selected_);
      // The log armed for this run starts with it, as it does when both come at once: the
      // samples in between would take the place of the run's.
      if (armed_log_) drive_.StartLog(*armed_log_);
      armed_log_.reset();
      if (drive_.StartProgram(selected_, staged_) == 0)
        return Refuse(MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE, drive_.LastError());
      run_vars_ = staged_;
      return 0;
    case kStopProgram:
      drive_.StopProgram();
      return 0;
    case kArmLog: {
      ZelLogRequest request;
      request.loop = reg_[kLogLoop];
      request.divider = reg_[kLogDivider];
      request.points =
          static_cast<int>(std::min<std::uint32_t>(GetU32(reg_ + kLogPoints), 1u << 30));
      if (!ReadRequestChannels(kLogChannels, kLogVariables, request.variables))
        return Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE,
                      "the log names no variable of the drive");
      if (!drive_.StartLog(request))
        return Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, drive_.LastError());
      armed_log_ = request;
      return 0;
    }
    case kStartStream: {
      ZelStreamRequest request;
      request.period_s = GetF64(reg_ + kStreamPeriod);
      request.points_per_frame = reg_[kStreamPointsPerFrame];
      if (!ReadRequestChannels(kStreamChannels, kStreamVariables, request.variables))
        return Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE,
                      "the stream names no variable of the drive");
      if (!drive_.StartStream(request))
        return Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, drive_.LastError());
      // Messages of an earlier stream are gone with it; the indices go on.
      head_index_ = static_cast<std::uint16_t>(head_index_ + outbox_.size());
      outbox_.clear();
      return 0;
    }
    case kStopStream:
      drive_.StopStream();
      return 0;
    default:
      return Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, "no command " + std::to_string(command));
  }
}

// ---- reads ---------------------------------------------------------------------------------

void ModbusDriveServer::TakeMessages() {
  std::vector<std::uint8_t> message;
  while (drive_.PopMessage(message)) {
    if (message.size() > 2u * kMailboxDataRegisters)
      continue;  // cannot travel; the sequence shows it
    if (outbox_.size() >= kOutboxLimit) {
      outbox_.pop_front();
      ++head_index_;
    }
    outbox_.push_back(message);
  }
}

int ModbusDriveServer::Read(std::uint16_t address, int count) {
  if (count < 1 || count > kReadLimit || address + count > 0x10000)
    return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t access = kind_[address + i] & 0x0F;
    if (access != kReadOnly && access != kReadWrite)
      return Refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,
                    "register " + Hex(static_cast<std::uint16_t>(address + i)) + " cannot be read");
  }
  const auto touched = [&](std::uint16_t start, int length) {
    return Overlaps(address, count, start, length);
  };
  if (touched(kStatus, kStatusRegisters)) {
    reg_[kStatus] =
        static_cast<std::uint16_t>((drive_.AxisOn() ? kStatusAxisOn : 0) |
                                   (drive_.ProgramRunning() ? kStatusProgramRunning : 0));
    PutU32(reg_ + kLoadedRun, static_cast<std::uint32_t>(drive_.LoadedRun()));
    PutU32(reg_ + kDriveTimeMs, static_cast<std::uint32_t>(drive_.Now() * 1e3));
    reg_[kLogCapacity] = static_cast<std::uint16_t>(drive_.LogCapacityWords());
  }
  if (touched(kLogRecorded, kLogResultRegisters)) {
    // The snapshot that the data registers show until the next one.
    log_ = {};
    log_channels_ = 0;
    if (drive_.UploadLog(log_) && !log_.points.empty()) log_channels_ = log_.points[0].size();
    const std::size_t fit = kLogDataRegisters / 2 / std::max<std::size_t>(log_channels_, 1);
    if (log_.points.size() > fit) log_.points.resize(fit);
    PutU32(reg_ + kLogRecorded, static_cast<std::uint32_t>(log_.points.size()));
    reg_[kLogRecordedChannels] = static_cast<std::uint16_t>(log_channels_);
    PutF64(reg_ + kLogPeriod, log_.period_s);
  }
  if (address >= kLogData) {
    for (int i = 0; i < count; ++i) {
      const std::size_t offset = address + i - kLogData;
      const std::size_t value = offset / 2, point = log_channels_ ? value / log_channels_ : 0;
      std::uint16_t pair[2];
      PutI32(pair, point < log_.points.size() ? log_.points[point][value % log_channels_] : 0.0);
      reg_[address + i] = pair[offset % 2];
    }
  }
  if (touched(kMailboxIndex, 3 + kMailboxDataRegisters)) {
    TakeMessages();
    reg_[kMailboxIndex] = head_index_;
    reg_[kMailboxPending] =
        static_cast<std::uint16_t>(std::min<std::size_t>(outbox_.size(), 0xFFFF));
    const std::vector<std::uint8_t>* head = outbox_.empty() ? nullptr : &outbox_.front();
    reg_[kMailboxWords] = static_cast<std::uint16_t>(head ? head->size() / 2 : 0);
    for (std::size_t i = 0; head && i < head->size() / 2; ++i)
      reg_[kMailboxData + i] =
          static_cast<std::uint16_t>((*head)[2 * i] | ((*head)[2 * i + 1] << 8));
  }
  for (int i = 0; i < count; ++i) {
    const auto at = static_cast<std::uint16_t>(address + i);
    if (const LiveVariable* v = (kind_[at] & kFirstOfTwo) ? LiveVariableAt(at) : nullptr) {
      double value = 0.0;
      drive_.ReadVariable(v->name, value);
      PutI32(reg_ + at, value);
    } else if (at >= kRunValues && at < kRunValues + 4 * kMaxProgramVariables &&
               (kind_[at] & kFirstOfFour)) {
      const std::size_t k = (at - kRunValues) / 4;
      double value = 0.0;
      if (k < run_vars_.size()) drive_.ReadProgramVariable(run_vars_[k].name, value);
      PutF64(reg_ + at, value);
    }
  }
  return 0;
}

// ---- transports ----------------------------------------------------------------------------

namespace {

// How long the server waits for a request before it brings the drive up to the clock anyway.
constexpr int kPollMs = 20;

std::string Errno(const std::string& what) { return what + ": " + modbus_strerror(errno); }

}  // namespace

namespace {

// A client's frame must come whole within this once its first byte came: a peer that
// trickles a frame would otherwise hold up the drive's answers to the one that holds it.
constexpr double kFrameDeadline_s = 0.5;
// Clients that wait for the drive beside the one that holds it; more are let go at once.
constexpr std::size_t kWaitingClients = 8;
// While connections cannot be taken (no descriptor left), how long the listener rests.
constexpr int kListenerRestMs = 100;
// MBAP: transaction, protocol, length (of the unit id and the PDU), then the unit id.
constexpr int kMbapLengthEnd = 6;

struct TcpClient {
  int fd = -1;
  std::uint8_t frame[MODBUS_TCP_MAX_ADU_LENGTH] = {};
  int have = 0;
  std::chrono::steady_clock::time_point begun;
};

// The frame's length in bytes by its MBAP header; 0 while the header is incomplete, -1 for
// a header that is not Modbus's (after which the stream cannot be followed).
int TcpFrameBytes(const TcpClient& c) {
  if (c.have < kMbapLengthEnd) return 0;
  const int protocol = (c.frame[2] << 8) | c.frame[3];
  const int length = (c.frame[4] << 8) | c.frame[5];
  if (protocol != 0 || length < 2 || kMbapLengthEnd + length > MODBUS_TCP_MAX_ADU_LENGTH)
    return -1;
  return kMbapLengthEnd + length;
}

enum class TcpRead { Partial, Frame, Gone };

// Reads what the client sent without waiting: its header, then as much of the frame as the
// header announces, never beyond it.
TcpRead ReadTcpFrame(TcpClient& c) {
  for (;;) {
    const int total = TcpFrameBytes(c);
    if (total < 0) return TcpRead::Gone;
    const int want = total == 0 ? kMbapLengthEnd - c.have : total - c.have;
    if (want == 0) return TcpRead::Frame;
    const ssize_t n = recv(c.fd, c.frame + c.have, static_cast<std::size_t>(want), MSG_DONTWAIT);
    if (n == 0) return TcpRead::Gone;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR
                          ? TcpRead::Partial
                          : TcpRead::Gone;
    if (c.have == 0) c.begun = std::chrono::steady_clock::now();
    c.have += static_cast<int>(n);
  }
}

// Takes a waiting connection. Out of descriptors, the spare one makes room to take the
// newcomer and let it go at once, so that it hears so instead of waiting, and the listener
// does not stay ready for nothing; the listener rests when even that fails.
int AcceptTcpClient(int listener, int& spare, bool room,
                    std::chrono::steady_clock::time_point& rest_until) {
  const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) {
    if (room) return fd;
    close(fd);
    return -1;
  }
  if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) return -1;
  if ((errno == EMFILE || errno == ENFILE) && spare >= 0) {
    close(spare);
    const int refused = accept(listener, nullptr, nullptr);
    if (refused >= 0) close(refused);
    spare = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (refused >= 0) return -1;
  }
  rest_until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kListenerRestMs);
  return -1;
}

}  // namespace

std::string ServeTcp(ModbusDriveServer& server, const std::string& host, const std::string& port,
                     int unit, const std::atomic<bool>& stop,
                     const std::function<void(const std::string&)>& listening) {
  modbus_t* ctx = modbus_new_tcp_pi(host.c_str(), port.c_str());
  if (!ctx) return Errno("cannot listen on " + host + ":" + port);
  const int listener = modbus_tcp_pi_listen(ctx, 4);
  if (listener < 0) {
    const std::string why = Errno("cannot listen on " + host + ":" + port);
    modbus_free(ctx);
    return why;
  }
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &size);
  const int real_port =
      ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                        : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  listening("tcp://" + host + ":" + std::to_string(real_port));

  int spare = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int holder = -1;
  std::vector<TcpClient> clients;
  auto rest_until = std::chrono::steady_clock::now();
  const auto drop = [&](std::size_t i) {
    close(clients[i].fd);
    if (clients[i].fd == holder) {
      holder = -1;
      server.HostLost();
    }
    clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
  };
  // Answers a whole frame; false when the answer could not be sent.
  const auto answer = [&](TcpClient& c) {
    modbus_set_socket(ctx, c.fd);
    // A client that waited takes the drive once it is free.
    if (holder < 0) holder = c.fd;
    const int length = c.have;
    c.have = 0;
    if (c.fd != holder)
      return modbus_reply_exception(ctx, c.frame, MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY) >= 0;
    if (c.frame[kMbapLengthEnd] != unit)
      return modbus_reply_exception(ctx, c.frame, MODBUS_EXCEPTION_GATEWAY_TARGET) >= 0;
    return server.Answer(ctx, c.frame, length);
  };
  while (!stop) {
    const auto now = std::chrono::steady_clock::now();
    std::vector<pollfd> fds;
    for (const TcpClient& c : clients) fds.push_back({c.fd, POLLIN, 0});
    const bool listen = now >= rest_until;
    if (listen) fds.push_back({listener, POLLIN, 0});
    const int ready = poll(fds.data(), fds.size(), kPollMs);
    server.Advance();
    // A holder that hangs up is let go before a newcomer is looked at.
    for (std::size_t i = clients.size(); ready > 0 && i-- > 0;) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const TcpRead r = ReadTcpFrame(clients[i]);
      if (r == TcpRead::Gone || (r == TcpRead::Frame && !answer(clients[i]))) drop(i);
    }
    const auto late = std::chrono::steady_clock::now() -
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double>(kFrameDeadline_s));
    for (std::size_t i = clients.size(); i-- > 0;)
      if (clients[i].have > 0 && clients[i].begun < late) drop(i);
    if (ready > 0 && listen && (fds.back().revents & POLLIN)) {
      const bool room = holder < 0 || clients.size() < 1 + kWaitingClients;
      const int fd = AcceptTcpClient(listener, spare, room, rest_until);
      if (fd >= 0) {
        clients.push_back({});
        clients.back().fd = fd;
        if (holder < 0) holder = fd;
      }
    }
  }
  for (const TcpClient& c : clients) close(c.fd);
  if (spare >= 0) close(spare);
  close(listener);
  modbus_free(ctx);
  return {};
}

std::string ServeRtu(ModbusDriveServer& server, const std::string& device, int baud, int unit,
                     const std::atomic<bool>& stop,
                     const std::function<void(const std::string&)>& listening) {
  modbus_t* ctx = modbus_new_rtu(device.c_str(), baud, 'N', 8, 1);
  if (!ctx) return Errno("cannot open " + device);
  modbus_set_slave(ctx, unit);
  if (modbus_connect(ctx) == -1) {
    const std::string why = Errno("cannot open " + device);
    modbus_free(ctx);
    return why;
  }
  listening("rtu:" + device + "," + std::to_string(baud));
  std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  while (!stop) {
    pollfd p = {modbus_get_socket(ctx), POLLIN, 0};
    const int ready = poll(&p, 1, kPollMs);
    server.Advance();
    if (ready <= 0) continue;
    const int length = modbus_receive(ctx, query);
    // 0: a request for another unit, which this drive leaves to it; below 0: a frame that
    // was cut or corrupted, which the host repeats.
    if (length > 0)
      server.Answer(ctx, query, length);
    else if (length < 0)
      modbus_flush(ctx);
  }
  modbus_close(ctx);
  modbus_free(ctx);
  return {};
}
