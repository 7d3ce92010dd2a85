// The drive's functions that the link reaches through the register map: variables and
// parameters, the test programs, the data log and the scope stream. The connection, the
// requests with their repetitions and the drive's status are in zel_modbus_link.cpp.

#include "host/zel_modbus_link.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/zel_drive_map.h"
#include "host/zel_names.h"

using namespace zel_map;

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
