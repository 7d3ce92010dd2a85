// The Modbus link to a drive: the connection, the requests with their repetitions and checks,
// the drive's status and the run's ownership. What the link asks of the drive through the
// register map (variables, programs, the log, the stream) is in zel_modbus_link_drive.cpp.

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
