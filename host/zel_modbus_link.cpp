#include "host/zel_modbus_link.h"

#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <sys/socket.h>
#include <thread>

#include "host/zel_drive_map.h"
#include "host/zel_names.h"

using namespace zel_map;

namespace {

// Registers in one read or write, below what a Modbus frame carries (125 and 123).
constexpr int kChunk = 120;

modbus_t* Ctx(void* ctx) { return static_cast<modbus_t*>(ctx); }

// The Modbus exception code of an answer that refused, 0 for any other failure.
int ExceptionCode(int error) {
  if (error == EMBBADEXC) return 0xFF;  // a code the protocol does not define
  return error > MODBUS_ENOBASE && error < MODBUS_ENOBASE + MODBUS_EXCEPTION_MAX
             ? error - MODBUS_ENOBASE
             : 0;
}

// The drive answered, and will answer the same again: repeating cannot help. Busy and the
// gateway's answers are the exceptions that say something else.
bool IsDriveRefusal(int code) {
  return code != 0 && code != MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY &&
         code != MODBUS_EXCEPTION_GATEWAY_PATH && code != MODBUS_EXCEPTION_GATEWAY_TARGET;
}

// The exception's name as Modbus gives it, its number when it has none.
std::string ExceptionText(int code, int error) {
  const bool named = code != 0xFF && code != MODBUS_EXCEPTION_NOT_DEFINED;
  return named ? modbus_strerror(error) : "exception " + std::to_string(code);
}

// The connection itself is gone (the other end closed or reset it).
bool ConnectionBroken(int error) {
  return error == ECONNRESET || error == EPIPE || error == ENOTCONN || error == EBADF ||
         error == ECONNREFUSED;
}

}  // namespace

// A read, a write, or both in one request (function 23: the write goes first).
struct CZel_ModbusLink::Request {
  std::uint16_t address;
  int count;
  std::uint16_t* read_into;
  const std::uint16_t* write_from;
  std::string_view what;
  std::uint16_t write_address = 0;
  int write_count = 0;
};

std::shared_ptr<CZel_ModbusLink> CZel_ModbusLink::Open(const ZelDriveAddress& address,
                                                       std::string& error, ZelLinkTiming timing) {
  std::shared_ptr<CZel_ModbusLink> link(new CZel_ModbusLink(address, timing));
  const std::string where = address.text + " (unit id " + std::to_string(address.unit) + ")";
  if (!link->Connect()) {
    error = "no drive answers at " + where + ": " + link->error_;
    return nullptr;
  }
  std::uint16_t id[kIdentityRegisters] = {};
  if (!link->Read(kVersion, kIdentityRegisters, id, "identity")) {
    error = link->lost_ ? "no drive answers at " + where + ": " + link->error_ : link->error_;
    return nullptr;
  }
  link->identity_.map_version = id[kVersion];
  link->identity_.product_id = GetText(id + kProductId, kProductIdRegisters);
  link->identity_.firmware_id = GetText(id + kFirmwareId, kFirmwareIdRegisters);
  if (link->identity_.map_version != kMapVersion) {
    error = "the drive at " + address.text + " speaks version " +
            std::to_string(link->identity_.map_version) + " of the register map; this program " +
            "speaks version " + std::to_string(kMapVersion);
    return nullptr;
  }
  link->origin_ = std::chrono::steady_clock::now();
  return link;
}

CZel_ModbusLink::CZel_ModbusLink(const ZelDriveAddress& address, ZelLinkTiming timing)
    : address_(address), timing_(timing), origin_(std::chrono::steady_clock::now()) {}

ZelDriveDescription CZel_ModbusLink::Describe() const {
  return {address_.text, address_.unit, identity_.product_id, identity_.firmware_id, {}};
}

CZel_ModbusLink::~CZel_ModbusLink() {
  if (!ctx_) return;
  modbus_close(Ctx(ctx_));
  modbus_free(Ctx(ctx_));
}

bool CZel_ModbusLink::Connect() {
  if (!ctx_) {
    modbus_t* ctx = address_.kind == ZelDriveAddress::Kind::Tcp
                        ? modbus_new_tcp_pi(address_.host.c_str(), address_.port.c_str())
                        : modbus_new_rtu(address_.device.c_str(), address_.baud, 'N', 8, 1);
    if (!ctx) {
      return Fail(modbus_strerror(errno));
    }
    ctx_ = ctx;
    modbus_set_slave(ctx, address_.unit);
    // No wait between two bytes: the response timeout then holds for the whole answer, so a
    // drive that trickles its bytes cannot stretch a request.
    modbus_set_byte_timeout(ctx, 0, 0);
  } else {
    modbus_close(Ctx(ctx_));
    ++reconnects_;
  }
  if (modbus_connect(Ctx(ctx_)) == -1) {
    return Fail(modbus_strerror(errno));
  }
  return true;
}

bool CZel_ModbusLink::Transact(const Request& r) const {
  if (lost_) return false;
  auto* self = const_cast<CZel_ModbusLink*>(this);
  const auto start = std::chrono::steady_clock::now();
  const auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  const std::string doing = std::string(r.read_into ? "reading" : "writing") +
                            (r.count > 1 ? " registers " : " register ") + Hex(r.address) + " (" +
                            std::string(r.what) + ")";
  std::string reason;
  bool reconnect = false, busy = false;
  for (int attempt = 0; attempt < timing_.attempts; ++attempt) {
    if (attempt > 0) {
      ++retries_;
      const double pause =
          std::min(0.05 * (1 << (attempt - 1)), std::max(0.0, timing_.give_up_s - elapsed()) / 2);
      std::this_thread::sleep_for(std::chrono::duration<double>(pause));
      if (reconnect && !self->Connect()) {
        reason = error_;
        if (elapsed() > timing_.give_up_s) break;
        continue;
      }
      if (!reconnect) modbus_flush(Ctx(ctx_));
    }
    modbus_t* ctx = Ctx(ctx_);
    SetAnswerDeadline(r);
    const int rc = address_.kind == ZelDriveAddress::Kind::Tcp ? TcpExchange(r)
                   : r.write_count > 0
                       ? modbus_write_and_read_registers(ctx, r.write_address, r.write_count,
                                                         r.write_from, r.address, r.count,
                                                         r.read_into)
                   : r.read_into ? modbus_read_registers(ctx, r.address, r.count, r.read_into)
                                 : modbus_write_registers(ctx, r.address, r.count, r.write_from);
    if (rc == r.count) return true;
    const int e = errno;
    const int code = ExceptionCode(e);
    if (code == MODBUS_EXCEPTION_GATEWAY_PATH ||
        code == MODBUS_EXCEPTION_GATEWAY_TARGET)
      return Fail("no drive with unit id " + std::to_string(address_.unit) + " answers at " +
                  address_.text + " (" + ExceptionText(code, e) + ", " + doing + ")");
    if (IsDriveRefusal(code)) {
      ++faults_;
      error_ = "the drive refused " + doing + ": " + ExceptionText(code, e);
      // The drive says why in words; an answer that does not come adds nothing.
      std::uint16_t why[kDriveErrorRegisters] = {};
      if (modbus_read_registers(ctx, kDriveError, kDriveErrorRegisters, why) ==
              kDriveErrorRegisters &&
          why[0] != 0)
        error_ += " (" + GetText(why, kDriveErrorRegisters) + ")";
      return false;
    }
    // Busy: another client holds the drive, or it is busy with something of its own for a
    // moment; asked again like a lost answer, but the link stays.
    busy = e == EMBXSBUSY;
    reason = modbus_strerror(e);
    reconnect = address_.kind == ZelDriveAddress::Kind::Tcp && ConnectionBroken(e);
    if (elapsed() > timing_.give_up_s) break;
  }
  if (busy)
    return Fail("the drive at " + address_.text + " is held by another client: it kept " +
                "answering busy (" + doing + ")");
  Fail("the link to the drive at " + address_.text + " was lost: " + reason + " (" + doing + ")");
  lost_ = true;
  return false;
}

double CZel_ModbusLink::WireSeconds(int bytes) const {
  // 8N1: ten bits a byte on a serial line; a TCP link's time is its round trip.
  return address_.kind == ZelDriveAddress::Kind::Rtu ? 10.0 * bytes / address_.baud : 0.0;
}

void CZel_ModbusLink::SetAnswerDeadline(const Request& r) const {
  // The request and its answer travel the line one after the other: registers and the
  // frame's few bytes of address, function, count and checksum.
  const int bytes = 2 * (r.count + r.write_count) + 2 * 9;
  const double t = timing_.response_timeout_s + WireSeconds(bytes);
  const auto whole = static_cast<std::uint32_t>(t);
  modbus_set_response_timeout(Ctx(ctx_), whole, static_cast<std::uint32_t>((t - whole) * 1e6));
}

bool CZel_ModbusLink::Transfer(std::uint16_t address, int count, std::uint16_t* read_into,
                               const std::uint16_t* write_from, std::string_view what,
                               const TransferDone& done_so_far) const {
  // The operation as a whole has its deadline too: a drive that answers each request just in
  // time would otherwise stretch an upload of hundreds of them without end.
  const int requests = (count + kChunk - 1) / kChunk;
  const double budget =
      timing_.give_up_s + requests * (timing_.request_budget_s + WireSeconds(2 * kChunk + 18));
  const auto start = std::chrono::steady_clock::now();
  for (int done = 0; done < count; done += kChunk) {
    const int n = std::min(kChunk, count - done);
    const auto at = static_cast<std::uint16_t>(address + done);
    if (!Transact({at, n, read_into ? read_into + done : nullptr,
                   write_from ? write_from + done : nullptr, what}))
      return false;
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (done + n < count && took > budget) {
      Fail("the link to the drive at " + address_.text + " was lost: it answered too slowly (" +
           std::to_string(done + n) + " of " + std::to_string(count) + " registers " +
           Hex(address) + " (" + std::string(what) + ") in " + std::to_string(took) + " s)");
      lost_ = true;
      return false;
    }
    if (done_so_far) done_so_far(done + n);
  }
  return true;
}

int CZel_ModbusLink::TcpExchange(const Request& r) const {
  // libmodbus checks the transaction but not the unit id of a TCP answer: the frame is built
  // and its answer checked here, libmodbus only receiving it (within the answer's deadline).
  std::vector<std::uint8_t> q = {0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(address_.unit)};
  const auto put = [&q](std::uint16_t w) {
    q.push_back(static_cast<std::uint8_t>(w >> 8));
    q.push_back(static_cast<std::uint8_t>(w & 0xFF));
  };
  const auto put_values = [&](const std::uint16_t* values, int count) {
    q.push_back(static_cast<std::uint8_t>(2 * count));
    for (int i = 0; i < count; ++i) put(values[i]);
  };
  const std::uint8_t function = r.write_count > 0 ? MODBUS_FC_WRITE_AND_READ_REGISTERS
                                : r.read_into     ? MODBUS_FC_READ_HOLDING_REGISTERS
                                                  : MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
  q.push_back(function);
  put(r.address);
  put(static_cast<std::uint16_t>(r.count));
  if (function == MODBUS_FC_WRITE_AND_READ_REGISTERS) {
    put(r.write_address);
    put(static_cast<std::uint16_t>(r.write_count));
    put_values(r.write_from, r.write_count);
  } else if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
    put_values(r.write_from, r.count);
  }
  const std::uint16_t tid = ++transaction_;
  q[0] = static_cast<std::uint8_t>(tid >> 8);
  q[1] = static_cast<std::uint8_t>(tid & 0xFF);
  q[4] = static_cast<std::uint8_t>((q.size() - 6) >> 8);
  q[5] = static_cast<std::uint8_t>((q.size() - 6) & 0xFF);
  modbus_t* ctx = Ctx(ctx_);
  if (send(modbus_get_socket(ctx), q.data(), q.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(q.size()))
    return -1;
  std::uint8_t a[MODBUS_TCP_MAX_ADU_LENGTH];
  const int length = modbus_receive_confirmation(ctx, a);
  if (length < 0) return -1;
  const auto word = [&a](int at) { return static_cast<std::uint16_t>((a[at] << 8) | a[at + 1]); };
  const auto fail = [](int error) {
    errno = error;
    return -1;
  };
  if (length < 9 || word(0) != tid || word(2) != 0) return fail(EMBBADDATA);
  if (a[6] != address_.unit) return fail(EMBBADSLAVE);
  if (a[7] == (function | 0x80))
    return fail(a[8] > 0 && a[8] < MODBUS_EXCEPTION_MAX ? MODBUS_ENOBASE + a[8] : EMBBADEXC);
  if (a[7] != function) return fail(EMBBADDATA);
  if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS)
    return length >= 12 && word(8) == r.address && word(10) == r.count ? r.count
                                                                       : fail(EMBBADDATA);
  if (a[8] != 2 * r.count || length < 9 + 2 * r.count) return fail(EMBBADDATA);
  for (int i = 0; i < r.count; ++i) r.read_into[i] = word(9 + 2 * i);
  return r.count;
}

bool CZel_ModbusLink::Read(std::uint16_t address, int count, std::uint16_t* registers,
                           std::string_view what, const TransferDone& done) const {
  return Transfer(address, count, registers, nullptr, what, done);
}

bool CZel_ModbusLink::Write(std::uint16_t address, const std::uint16_t* registers, int count,
                            std::string_view what) const {
  status_.valid = false;
  return Transfer(address, count, nullptr, registers, what);
}

bool CZel_ModbusLink::Command(std::uint16_t command, std::string_view what) {
  return Write(kCommand, &command, 1, what);
}

bool CZel_ModbusLink::ReadStatus() const {
  // The calls of one look at the drive (axis, program, run) share one answer; the next look
  // asks again, even when the caller's clock has fallen behind the drive's.
  constexpr double kStatusFresh_s = 0.005;
  if (status_.valid && Now() - status_.read_at < kStatusFresh_s) return true;
  std::uint16_t r[kStatusRegisters] = {};
  if (!Read(kStatus, kStatusRegisters, r, "status")) return false;
  status_.bits = r[0];
  status_.run = GetU32(r + (kLoadedRun - kStatus));
  status_.log_capacity = r[kLogCapacity - kStatus];
  status_.valid = true;
  status_.read_at = Now();
  if (started_run_ != 0 && run_broken_.empty()) {
    if (run_checked_reconnects_ != reconnects_) CheckRunAfterReconnect();
    if (!run_seen_ended_ && !(status_.bits & kStatusProgramRunning) &&
        status_.run == started_run_) {
      run_seen_ended_ = true;
      program_s_ += std::max(0.0, status_.read_at - run_started_at_);
    }
  }
  return true;
}

void CZel_ModbusLink::CheckRunAfterReconnect() const {
  run_checked_reconnects_ = reconnects_;
  const std::string run = "run " + std::to_string(started_run_) + " of \"" + run_program_ + "\"";
  if (status_.run != started_run_)
    run_broken_ = "the drive at " + address_.text + " shows run " + std::to_string(status_.run) +
                  ", not " + run + " that this host started: its connection broke and the " +
                  "drive's run is another";
  else if (!run_seen_ended_ && !(status_.bits & kStatusProgramRunning))
    run_broken_ = "the connection to the drive at " + address_.text + " broke during " + run +
                  ", and the drive stopped the run when its host went away: the run ended early";
}

bool CZel_ModbusLink::RunIntact() const {
  if (started_run_ != 0 && run_broken_.empty() && run_checked_reconnects_ != reconnects_) {
    status_.valid = false;  // read before the connection broke
    if (!ReadStatus()) return false;
  }
  return run_broken_.empty() || Fail(run_broken_);
}

bool CZel_ModbusLink::Fail(std::string text) const {
  // A lost link keeps saying so: later refusals of its own do not hide it.
  if (!lost_) {
    error_ = std::move(text);
    ++faults_;
  }
  return false;
}

// ---- time ----------------------------------------------------------------------------------

double CZel_ModbusLink::Now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin_).count();
}

void CZel_ModbusLink::AdvanceTo(double seconds) {
  status_.valid = false;
  if (lost_) return;
  const double wait = seconds - Now();
  if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
}

// ---- variables and parameters ----------------------------------------------------------------

bool CZel_ModbusLink::ReadVariable(std::string_view name, double& value) {
  const LiveVariable* v = FindLiveVariable(name);
  if (!v) {
    return Fail("the drive has no variable \"" + std::string(name) + "\"");
  }
  std::uint16_t r[2];
  if (!Read(v->address, 2, r, v->name)) return false;
  value = GetI32(r);
  return true;
}

bool CZel_ModbusLink::WriteVariable(std::string_view name, double value) {
  const LiveVariable* v = FindLiveVariable(name);
  if (!v) {
    return Fail("the drive has no variable \"" + std::string(name) + "\"");
  }
  if (!v->writable || !std::isfinite(value)) {
    return Fail("the drive's variable \"" + std::string(name) + "\" cannot be written");
  }
  std::uint16_t r[2];
  PutI32(r, value);
  return Write(v->address, r, 2, v->name);
}

bool CZel_ModbusLink::WriteParameter(std::string_view name, double value) {
  const ChipParameter* p = FindChipParameter(name);
  if (!p) {
    return Fail("the drive's register map has no chip parameter \"" + std::string(name) + "\"");
  }
  if (!std::isfinite(value)) {
    return Fail("the drive refuses parameter \"" + std::string(name) + "\"");
  }
  std::uint16_t r[2];
  PutU32(r, EncodeChip(p->type, value));
  return Write(p->address, r, 2, p->name);
}

// ---- programs ------------------------------------------------------------------------------

bool CZel_ModbusLink::SelectProgram(std::string_view name) {
  std::uint16_t text[kProgramNameRegisters];
  PutText(text, kProgramNameRegisters, name);
  // Whatever the refusal, the drive kept the program it had: reading on would describe, and
  // starting would run, that one instead. Its reason tells an unknown name.
  if (!Write(kProgramName, text, kProgramNameRegisters, "program name")) return false;
  std::uint16_t count = 0;
  if (!Read(kProgramVariableCount, 1, &count, "program variable count")) return false;
  const int n = std::min<int>(count, kMaxProgramVariables);
  std::vector<std::uint16_t> decl(static_cast<std::size_t>(n * kDeclarationRegisters));
  std::vector<std::uint16_t> start(static_cast<std::size_t>(n * 4));
  if (!Read(kProgramDeclarations, n * kDeclarationRegisters, decl.data(), "program variables") ||
      !Read(kProgramStartValues, n * 4, start.data(), "program start values"))
    return false;
  std::vector<ZelProgramVariable> vars;
  for (int k = 0; k < n; ++k) {
    const std::uint16_t* d = decl.data() + k * kDeclarationRegisters;
    ZelProgramVariable v;
    v.name = GetText(d, kVariableNameRegisters);
    v.lowest = GetF64(d + kVariableNameRegisters);
    v.highest = GetF64(d + kVariableNameRegisters + 4);
    v.step = GetF64(d + kVariableNameRegisters + 8);
    v.value = GetF64(start.data() + 4 * k);
    const auto at = static_cast<std::uint16_t>(kProgramDeclarations + k * kDeclarationRegisters);
    if (!(std::isfinite(v.lowest) && std::isfinite(v.highest) && v.lowest <= v.highest &&
          std::isfinite(v.step) && v.step > 0.0))
      return Fail("the drive declares variable \"" + v.name + "\" of \"" + std::string(name) +
                  "\" at register " + Hex(at) + " with a type no variable has");
    if (!TrustValue(v, v.value, static_cast<std::uint16_t>(kProgramStartValues + 4 * k)))
      return false;
    vars.push_back(std::move(v));
  }
  program_vars_ = std::move(vars);
  program_ = std::string(name);
  return true;
}

bool CZel_ModbusLink::DescribeProgram(std::string_view name,
                                      std::vector<ZelProgramVariable>& vars) {
  if (!SelectProgram(name)) return false;
  vars = program_vars_;
  return true;
}

std::uint64_t CZel_ModbusLink::StartProgram(std::string_view name,
                                            const std::vector<ZelProgramVariable>& vars) {
  if (!SelectProgram(name)) return 0;
  std::vector<std::uint16_t> start(program_vars_.size() * 4);
  for (std::size_t k = 0; k < program_vars_.size(); ++k) {
    double value = program_vars_[k].value;
    for (const ZelProgramVariable& given : vars)
      if (zel::NamesEqual(given.name, program_vars_[k].name)) value = given.value;
    PutF64(start.data() + 4 * k, value);
  }
  for (const ZelProgramVariable& given : vars) {
    const bool declared =
        std::any_of(program_vars_.begin(), program_vars_.end(),
                    [&](const auto& v) { return zel::NamesEqual(v.name, given.name); });
    if (!declared) {
      Fail("the program \"" + program_ + "\" has no variable \"" + given.name + "\"");
      return 0;
    }
  }
  // A run that the link did not see end ended at the latest now.
  if (started_run_ != 0 && !run_seen_ended_) {
    program_s_ += Now() - run_started_at_;
    run_seen_ended_ = true;
  }
  // A connection made again while the run starts may have stopped it, or started it twice.
  const std::uint64_t reconnects = reconnects_;
  if (!Write(kProgramStartValues, start.data(), static_cast<int>(start.size()),
             "program start values"))
    return 0;
  const double start_at = Now();
  if (!Command(kStartProgram, "start program")) return 0;
  run_program_ = program_;
  run_vars_ = program_vars_;
  started_run_ = 0;
  run_broken_.clear();
  if (!ReadStatus()) return 0;
  if (reconnects_ != reconnects) {
    Fail("the connection to the drive at " + address_.text + " broke while \"" + program_ +
         "\" started: the drive stops the run of a host that goes away, so the run cannot " +
         "be trusted");
    return 0;
  }
  started_run_ = status_.run;
  run_started_at_ = start_at;
  run_seen_ended_ = !(status_.bits & kStatusProgramRunning);
  if (run_seen_ended_) program_s_ += std::max(0.0, status_.read_at - run_started_at_);
  run_checked_reconnects_ = reconnects_;
  return status_.run;
}

std::uint64_t CZel_ModbusLink::LoadedRun() const {
  // A lost link keeps the last run it knew, so that reading its results asks the drive and
  // fails instead of answering with the values written before the start; so does a run that
  // is no longer the drive's.
  ReadStatus();
  return run_broken_.empty() ? status_.run : started_run_;
}

bool CZel_ModbusLink::ProgramRunning() const {
  return ReadStatus() && RunIntact() && (status_.bits & kStatusProgramRunning) != 0;
}

bool CZel_ModbusLink::AxisOn() const { return ReadStatus() && (status_.bits & kStatusAxisOn) != 0; }

void CZel_ModbusLink::StopProgram() { Command(kStopProgram, "stop program"); }

int CZel_ModbusLink::RunVariableIndex(std::string_view name) {
  if (!ReadStatus() || !RunIntact()) return -1;
  for (std::size_t k = 0; k < run_vars_.size(); ++k)
    if (zel::NamesEqual(run_vars_[k].name, name)) return status_.run ? static_cast<int>(k) : -1;
  Fail(status_.run
           ? "the program \"" + run_program_ + "\" has no variable \"" + std::string(name) + "\""
           : std::string("no program is loaded"));
  return -1;
}

bool CZel_ModbusLink::TrustValue(const ZelProgramVariable& v, double value,
                                 std::uint16_t address) const {
  double held = 0.0;
  std::string why;
  if (value == kZelNoResultYet || (v.Representable(value, held, why) && held == value))
    return true;
  if (why.empty()) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "\"%s\" takes values in steps of %.10g on the drive, not %.10g", v.name.c_str(),
                  v.step, value);
    why = text;
  }
  return Fail("the drive sent a value its variable cannot hold at register " + Hex(address) +
              ": " + why);
}

bool CZel_ModbusLink::ReadProgramVariable(std::string_view name, double& value) {
  const int k = RunVariableIndex(name);
  const auto at = static_cast<std::uint16_t>(kRunValues + 4 * k);
  std::uint16_t r[4];
  if (k < 0 || !Read(at, 4, r, run_vars_[k].name)) return false;
  if (!TrustValue(run_vars_[k], GetF64(r), at)) return false;
  value = GetF64(r);
  return true;
}

bool CZel_ModbusLink::WriteProgramVariable(std::string_view name, double value) {
  const int k = RunVariableIndex(name);
  if (k < 0) return false;
  double held = 0.0;
  if (!run_vars_[k].Representable(value, held, error_)) return false;
  std::uint16_t r[4];
  PutF64(r, held);
  return Write(static_cast<std::uint16_t>(kRunValues + 4 * k), r, 4, run_vars_[k].name);
}

// ---- data log and scope stream -------------------------------------------------------------

int CZel_ModbusLink::LogCapacityWords() const { return ReadStatus() ? status_.log_capacity : 0; }

bool CZel_ModbusLink::ChannelAddresses(const std::vector<std::string>& names,
                                       std::uint16_t* addresses, std::string_view what) {
  if (names.empty() || names.size() > static_cast<std::size_t>(kMaxChannels)) {
    return Fail("the drive " + std::string(what) + " 1 to " + std::to_string(kMaxChannels) +
                " variables, not " + std::to_string(names.size()));
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const LiveVariable* v = FindLiveVariable(names[i]);
    if (!v) {
      return Fail("the drive cannot " + std::string(what) + " \"" + names[i] +
                  "\": it has no such variable");
    }
    addresses[i] = v->address;
  }
  return true;
}

bool CZel_ModbusLink::StartLog(const ZelLogRequest& request) {
  std::uint16_t r[kLogRequestRegisters] = {};
  if (!ChannelAddresses(request.variables, r + (kLogVariables - kLogLoop), "log")) return false;
  r[0] = static_cast<std::uint16_t>(request.loop);
  r[kLogDivider - kLogLoop] = static_cast<std::uint16_t>(std::clamp(request.divider, 0, 65535));
  PutU32(r + (kLogPoints - kLogLoop), static_cast<std::uint32_t>(std::max(request.points, 0)));
  r[kLogChannels - kLogLoop] = static_cast<std::uint16_t>(request.variables.size());
  log_points_asked_ = 0;
  log_look_ = {};
  if (!Write(kLogLoop, r, kLogRequestRegisters, "log request") || !Command(kArmLog, "arm log"))
    return false;
  log_points_asked_ = static_cast<std::size_t>(std::max(request.points, 0));
  return true;
}

bool CZel_ModbusLink::LookAtLog() {
  // Reading the head takes the snapshot that the data registers show until the next look.
  std::uint16_t head[kLogResultRegisters];
  if (!Read(kLogRecorded, kLogResultRegisters, head, "recorded log")) return false;
  LogLook look;
  look.points = GetU32(head);
  look.channels = head[kLogRecordedChannels - kLogRecorded];
  look.period_s = GetF64(head + (kLogPeriod - kLogRecorded));
  // Before its first point a log has no shape to check.
  if (look.points > 0 && look.channels == 0) return Fail("no data log was recorded");
  if (look.points > 0 &&
      2 * look.points * static_cast<std::size_t>(look.channels) >
          static_cast<std::size_t>(kLogDataRegisters)) {
    return Fail("the drive announces a log of " + std::to_string(look.points) + " points of " +
                std::to_string(look.channels) + " values, more than its log memory holds");
  }
  if (look.points > 0 &&
      !(std::isfinite(look.period_s) && look.period_s > 0.0 && look.period_s < 3600.0)) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", look.period_s);
    return Fail("the drive sent a log period of " + std::string(text) + " s at register " +
                Hex(kLogPeriod) + "; a period lies above 0 and below an hour");
  }
  look.valid = true;
  log_look_ = look;
  return true;
}

bool CZel_ModbusLink::LoggedPoints(std::size_t& recorded, std::size_t& asked) {
  if (log_points_asked_ == 0 || !RunIntact() || !LookAtLog()) return false;
  recorded = log_look_.points;
  asked = log_points_asked_;
  return true;
}

void CZel_ModbusLink::AppendLogPoints(const std::vector<std::uint16_t>& registers,
                                      ZelLogData& data) const {
  const auto channels = static_cast<std::size_t>(log_look_.channels);
  for (std::size_t at = 0; at + 2 * channels <= registers.size(); at += 2 * channels) {
    std::vector<double>& point = data.points.emplace_back(channels);
    for (std::size_t c = 0; c < channels; ++c) point[c] = GetI32(registers.data() + at + 2 * c);
  }
}

bool CZel_ModbusLink::UploadLog(ZelLogData& data) {
  if (!RunIntact() || !LookAtLog()) return false;
  if (log_look_.channels == 0) return Fail("no data log was recorded");
  const std::size_t points = log_look_.points;
  const int channels = log_look_.channels;
  std::vector<std::uint16_t> r(2 * points * static_cast<std::size_t>(channels));
  const auto received = [this, points, channels](int registers) {
    ReportUploadProgress(static_cast<std::size_t>(registers) / (2 * channels), points);
  };
  if (!Read(kLogData, static_cast<int>(r.size()), r.data(), "log data", received)) return false;
  data.period_s = log_look_.period_s;
  data.points.clear();
  AppendLogPoints(r, data);
  return true;
}

bool CZel_ModbusLink::UploadLogBlock(ZelLogData& data, bool look_again, std::size_t& recorded) {
  if (!RunIntact()) return false;
  if ((look_again || !log_look_.valid) && !LookAtLog()) return false;
  if (log_look_.channels == 0) return Fail("no data log was recorded");
  recorded = log_look_.points;
  const std::size_t have = data.points.size();
  if (have > recorded) {
    return Fail("the drive's log holds " + std::to_string(recorded) + " points, fewer than the " +
                std::to_string(have) + " uploaded from it");
  }
  data.period_s = log_look_.period_s;
  // Whole points only, as many as one request carries.
  const std::size_t per_point = 2 * static_cast<std::size_t>(log_look_.channels);
  const std::size_t points = std::min(recorded - have, std::max<std::size_t>(kChunk / per_point, 1));
  if (points == 0) return true;
  std::vector<std::uint16_t> r(points * per_point);
  const auto address = static_cast<std::uint16_t>(kLogData + have * per_point);
  if (!Read(address, static_cast<int>(r.size()), r.data(), "log data")) return false;
  AppendLogPoints(r, data);
  return true;
}

bool CZel_ModbusLink::StartStream(const ZelStreamRequest& request) {
  std::uint16_t r[kStreamRequestRegisters] = {};
  if (!ChannelAddresses(request.variables, r + 1, "stream")) return false;
  r[0] = static_cast<std::uint16_t>(request.variables.size());
  PutF64(r + (kStreamPeriod - kStreamChannels), request.period_s);
  // A frame travels whole in the mailbox: message and frame headers, then two words a value.
  const int fits = (kMailboxDataRegisters - 7) / (2 * static_cast<int>(request.variables.size()));
  r[kStreamPointsPerFrame - kStreamChannels] =
      static_cast<std::uint16_t>(std::clamp(request.points_per_frame, 1, fits));
  pending_ = 0;
  if (!Write(kStreamChannels, r, kStreamRequestRegisters, "stream request") ||
      !Command(kStartStream, "start stream"))
    return false;
  // The drive's message indices go on from its earlier streams, other connections' too: an
  // acknowledgement of an index from before dropped every new frame unread, and a second
  // on-line run on the same drive measured nothing.
  std::uint16_t head = 0;
  if (!Read(kMailboxIndex, 1, &head, "message index")) return false;
  next_message_ = head;
  return true;
}

void CZel_ModbusLink::StopStream() { Command(kStopStream, "stop stream"); }

bool CZel_ModbusLink::PopMessage(std::vector<std::uint8_t>& message) {
  // The acknowledgement and the next message in one request: write, then read.
  std::uint16_t r[kMailboxDataRegisters + 3] = {};
  if (!Transact({kMailboxIndex, 3 + kMailboxDataRegisters, r, &next_message_, "message",
                 kMailboxAck, 1})) {
    pending_ = 0;
    return false;
  }
  const int words = std::min<int>(r[2], kMailboxDataRegisters);
  pending_ = r[1];
  if (pending_ == 0 || words == 0) return false;
  message.resize(2 * static_cast<std::size_t>(words));
  for (int i = 0; i < words; ++i) {
    message[2 * i] = static_cast<std::uint8_t>(r[3 + i] & 0xFF);
    message[2 * i + 1] = static_cast<std::uint8_t>(r[3 + i] >> 8);
  }
  next_message_ = static_cast<std::uint16_t>(r[0] + 1);
  --pending_;
  return true;
}
