#include "host/zel_comm.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "host/zel_coff.h"
#include "host/zel_logger.h"
#include "host/zel_setup.h"

namespace {

struct CommState {
  std::shared_ptr<CZel_DriveLink> link;
  std::function<double()> clock;
  double manual_time = 0.0;
  // Clock reading that corresponds to the drive's time 0.
  double origin = 0.0;
  ZelUnsolicitedMsgHandler handler = nullptr;
  int rejected = 0;
  std::string last_error;
  std::string out_dir = "programs";
};

CommState& State() {
  static CommState state;
  return state;
}

double ClockNow() {
  CommState& s = State();
  return s.clock ? s.clock() : s.manual_time;
}

void Fail(std::string text) { State().last_error = std::move(text); }

CZel_DriveLink* ConnectedLink() {
  CZel_DriveLink* link = State().link.get();
  if (!link) Fail("no drive is connected");
  return link;
}

int FromLink(bool ok, CZel_DriveLink& link) {
  if (!ok) Fail(link.LastError());
  return ok ? 1 : 0;
}

int NoSuchProgramVariable(const CZel_CoffFormat* coff, std::string_view name,
                          std::string& error) {
  error = coff ? "the program \"" + coff->GetProgramName() + "\" has no variable \"" +
                     std::string(name) + "\""
               : std::string("no program is loaded");
  Fail(error);
  return 0;
}

// A stopped run brings the shaft to rest before its program ends (the closing hold). A new
// program loaded before then cuts the hold short: the axis goes off on a turning shaft and the
// new run starts on it. So a new run first lets the running one end, asked to stop if nobody
// has, within a bound a program's closing hold never needs.
constexpr double kStoppedProgramEnd_s = 5.0;
constexpr double kStoppedProgramPoll_s = 0.01;

bool LetRunningProgramEndOn(CZel_DriveLink& link) {
  if (!link.ProgramRunning()) return true;
  link.StopProgram();
  const double until = link.Now() + kStoppedProgramEnd_s;
  while (link.ProgramRunning() && !link.Lost() && link.Now() < until)
    link.AdvanceTo(link.Now() + kStoppedProgramPoll_s);
  if (link.Lost()) {
    Fail(link.LastError());
    return false;
  }
  if (!link.ProgramRunning()) return true;
  char text[200];
  std::snprintf(text, sizeof text,
                "the drive's running program did not end within %g s of being asked to stop, "
                "so no other program was started: switch the drive off and on",
                kStoppedProgramEnd_s);
  Fail(text);
  return false;
}

}  // namespace

// ---- message layout ------------------------------------------------------------------------

namespace zel_msg {

std::vector<std::uint8_t> Build(std::uint16_t code, std::uint16_t axis,
                                const std::vector<std::uint16_t>& data_words) {
  std::vector<std::uint8_t> out;
  out.reserve(kHeaderBytes + 2 * data_words.size());
  auto put = [&out](std::uint16_t w) {
    out.push_back(static_cast<std::uint8_t>(w & 0xFF));
    out.push_back(static_cast<std::uint8_t>(w >> 8));
  };
  put(static_cast<std::uint16_t>(data_words.size()));
  put(axis);
  put(code);
  for (std::uint16_t w : data_words) put(w);
  return out;
}

bool Parse(const std::uint8_t* message, std::size_t bytes, View& view, std::string* why) {
  if (!message || bytes < kHeaderBytes) {
    if (why) *why = "a message of " + std::to_string(bytes) + " bytes is shorter than its header";
    return false;
  }
  const std::size_t words = Word(message);
  if (bytes != kHeaderBytes + 2 * words) {
    if (why)
      *why = "a message of " + std::to_string(bytes) + " bytes announces " +
             std::to_string(words) + " data words";
    return false;
  }
  view.axis = Word(message + 2);
  view.code = Word(message + 4);
  view.data = message + kHeaderBytes;
  view.data_bytes = 2 * words;
  return true;
}

}  // namespace zel_msg

// ---- the channel ---------------------------------------------------------------------------

void CZel_Comm::Attach(std::shared_ptr<CZel_DriveLink> link) {
  CommState& s = State();
  s.link = std::move(link);
  s.origin = ClockNow() - (s.link ? s.link->Now() : 0.0);
}

CZel_DriveLink* CZel_Comm::GetLink() { return State().link.get(); }
std::shared_ptr<CZel_DriveLink> CZel_Comm::GetSharedLink() { return State().link; }

void CZel_Comm::SetClock(std::function<double()> clock) {
  CommState& s = State();
  const double drive_time = s.link ? s.link->Now() : 0.0;
  s.clock = std::move(clock);
  s.origin = ClockNow() - drive_time;
}

void CZel_Comm::AdvanceClock(double seconds) {
  if (seconds > 0.0) State().manual_time += seconds;
  Synchronize();
}

void CZel_Comm::Synchronize() {
  CommState& s = State();
  if (!s.link) return;
  const double target = ClockNow() - s.origin;
  if (target > s.link->Now()) s.link->AdvanceTo(target);
}

double CZel_Comm::DriveTime() {
  CZel_DriveLink* link = GetLink();
  return link ? link->Now() : 0.0;
}

int CZel_Comm::ReadVariable(CZel_Variable& variable) {
  CZel_DriveLink* link = GetLink();
  if (!link) return 1;
  Synchronize();
  double value = 0.0;
  if (!link->ReadVariable(variable.GetName(), value)) return FromLink(false, *link);
  return variable.SetValueInInternalUnit(value);
}

int CZel_Comm::WriteVariable(const CZel_Variable& variable) {
  CZel_DriveLink* link = GetLink();
  if (!link) return 1;
  Synchronize();
  return FromLink(link->WriteVariable(variable.GetName(), variable.GetValueInInternalUnit()),
                  *link);
}

int CZel_Comm::WriteParameter(const CZel_Parameter& parameter) {
  CZel_DriveLink* link = GetLink();
  if (!link) return 1;
  Synchronize();
  return FromLink(link->WriteParameter(parameter.GetName(), parameter.GetValueInInternalUnit()),
                  *link);
}

int CZel_Comm::DownloadChipParameters(const CZel_Setup& setup) {
  CZel_DriveLink* link = ConnectedLink();
  if (!link) return 0;
  Synchronize();
  const CZel_Parameters& all = setup.GetParameters();
  for (int i = 0; i < all.GetParametersCount(); ++i) {
    const CZel_Parameter& p = *all[i];
    if (p.GetType() == ZelStorageType::Double) continue;
    if (!link->WriteParameter(p.GetName(), p.GetValueInInternalUnit()))
      return FromLink(false, *link);
  }
  return 1;
}

int CZel_Comm::WriteParameters(const CZel_Setup& setup) {
  CZel_DriveLink* link = GetLink();
  if (!link) return 1;
  // One catch-up for the lot: a simulated drive compiles its registers again at each one.
  Synchronize();
  int all = 1;
  const CZel_Parameters& ps = setup.GetParameters();
  for (int i = 0; i < ps.GetParametersCount(); ++i) {
    const CZel_Parameter& p = *ps[i];
    if (!FromLink(link->WriteParameter(p.GetName(), p.GetValueInInternalUnit()), *link)) all = 0;
  }
  return all;
}

std::string CZel_Comm::GetOutPathName(std::string_view program) {
  return State().out_dir + "/" + std::string(program) + ".out";
}

void CZel_Comm::SetOutputDirectory(std::string directory) {
  State().out_dir = std::move(directory);
}

int CZel_Comm::ExecuteCode(CZel_Setup* setup, std::string_view program, CZel_CoffFormat* coff,
                           CZel_Logger* logger) {
  CZel_DriveLink* link = ConnectedLink();
  if (!link) return 0;
  Synchronize();
  if (setup && !DownloadChipParameters(*setup)) return 0;
  std::vector<ZelProgramVariable> vars;
  if (coff) {
    if (!coff->IsLoaded() && !coff->ReadCoff()) return 0;
    if (!zel::NamesEqual(coff->GetProgramName(), program)) {
      Fail("the program read from \"" + coff->GetPathName() + "\" is \"" +
           coff->GetProgramName() + "\", not \"" + std::string(program) + "\"");
      return 0;
    }
    vars = coff->image_;
  } else if (!link->DescribeProgram(program, vars)) {
    return FromLink(false, *link);
  }
  if (!LetRunningProgramEndOn(*link)) return 0;
  if (logger && !logger->Arm(*link)) return 0;
  const std::uint64_t run = link->StartProgram(program, vars);
  if (run == 0) return FromLink(false, *link);
  if (coff) coff->run_ = run;
  return 1;
}

int CZel_Comm::LetRunningProgramEnd() {
  CZel_DriveLink* link = ConnectedLink();
  if (!link) return 0;
  Synchronize();
  return LetRunningProgramEndOn(*link) ? 1 : 0;
}

int CZel_Comm::StopProgram() {
  CZel_DriveLink* link = ConnectedLink();
  if (!link) return 0;
  Synchronize();
  link->StopProgram();
  return 1;
}

bool CZel_DriveLink::UploadLogBlock(ZelLogData& data, bool /*look_again*/,
                                    std::size_t& recorded) {
  // The log at hand: every look is a new one, and the rest of it is one block.
  ZelLogData all;
  if (!UploadLog(all)) return false;
  recorded = all.points.size();
  data.period_s = all.period_s;
  for (std::size_t k = data.points.size(); k < all.points.size(); ++k)
    data.points.push_back(std::move(all.points[k]));
  return true;
}

bool ZelProgramVariable::Representable(double wanted, double& held, std::string& error) const {
  held = std::isfinite(wanted) ? std::round(wanted / step) * step : wanted;
  if (held >= lowest && held <= highest) return true;
  char text[160];
  std::snprintf(text, sizeof text,
                "\"%s\" takes values from %.10g to %.10g on the drive, not %.10g", name.c_str(),
                lowest, highest, wanted);
  error = text;
  return false;
}

int CZel_Comm::SetUserVariableValue(CZel_CoffFormat* coff, std::string_view name, double wanted,
                                    std::string& error) {
  ZelProgramVariable* var = coff ? coff->Find(name) : nullptr;
  if (!var) return NoSuchProgramVariable(coff, name, error);
  double value = 0.0;
  if (!var->Representable(wanted, value, error)) {
    Fail(error);
    return 0;
  }
  CZel_DriveLink* link = GetLink();
  if (coff->RunIsLoaded(link)) {
    Synchronize();
    if (!link->WriteProgramVariable(name, value)) {
      error = link->LastError();
      Fail(error);
      return 0;
    }
  }
  var->value = value;
  return 1;
}

int CZel_Comm::GetUserVariableValue(CZel_CoffFormat* coff, std::string_view name, double& value,
                                    std::string& error) {
  ZelProgramVariable* var = coff ? coff->Find(name) : nullptr;
  if (!var) return NoSuchProgramVariable(coff, name, error);
  CZel_DriveLink* link = GetLink();
  if (coff->RunIsLoaded(link)) {
    Synchronize();
    double read = 0.0;
    if (!link->ReadProgramVariable(name, read)) {
      error = link->LastError();
      Fail(error);
      return 0;
    }
    var->value = read;
  }
  value = var->value;
  return 1;
}

int CZel_Comm::GetAxisOn(int& flag) {
  CZel_DriveLink* link = ConnectedLink();
  if (!link) return 0;
  Synchronize();
  flag = link->AxisOn() ? 1 : 0;
  // A drive that cannot be reached has no axis state to report, not an axis that is off.
  if (link->Lost()) return FromLink(false, *link);
  return 1;
}

ZelUnsolicitedMsgHandler CZel_Comm::RegisterReceiveUnsolicitedMsgHandler(
    ZelUnsolicitedMsgHandler handler) {
  return std::exchange(State().handler, handler);
}

int CZel_Comm::CheckForUnrequestedMessages(ZelUnsolicitedMsgHandler handler) {
  CZel_DriveLink* link = GetLink();
  if (!link) return 0;
  Synchronize();
  if (!handler) handler = State().handler;
  int delivered = 0;
  std::vector<std::uint8_t> message;
  while (link->PopMessage(message)) {
    zel_msg::View view;
    std::string why;
    if (!zel_msg::Parse(message.data(), message.size(), view, &why)) {
      ++State().rejected;
      Fail("unsolicited message rejected: " + why);
      continue;
    }
    if (handler) handler(message.data(), message.size());
    ++delivered;
  }
  return delivered;
}

int CZel_Comm::RejectedMessageCount() { return State().rejected; }

const std::string& CZel_Comm::GetLastErrorText() { return State().last_error; }

std::string CZel_Comm::LinkLostText() {
  const CZel_DriveLink* link = GetLink();
  return link && link->Lost() ? link->LastError() : std::string();
}
void CZel_Comm::SetLastErrorText(std::string text) { Fail(std::move(text)); }

CZel_CommSession::CZel_CommSession(std::shared_ptr<CZel_DriveLink> link)
    : previous_(CZel_Comm::GetSharedLink()) {
  CZel_Comm::Attach(std::move(link));
}

CZel_CommSession::~CZel_CommSession() { CZel_Comm::Attach(std::move(previous_)); }

// ---- setup elements reach the chip through the channel --------------------------------------

int CZel_Variable::ReadFromChip() { return CZel_Comm::ReadVariable(*this); }
int CZel_Variable::WriteToChip() { return CZel_Comm::WriteVariable(*this); }
int CZel_Parameter::WriteToChip() { return CZel_Comm::WriteParameter(*this); }
