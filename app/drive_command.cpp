// `dcservo drive`: test programs and live variables on the simulated drive, headless and
// as fast as the CPU simulates.

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/command.h"
#include "app/drive_conditions.h"
#include "app/drive_link_option.h"
#include "derive/display_step.h"
#include "derive/pipelines.h"
#include "host/zel_coff.h"
#include "host/zel_comm.h"
#include "host/zel_file.h"
#include "host/zel_format.h"
#include "host/zel_logger.h"
#include "host/zel_mer.h"
#include "host/zel_units.h"
#include "names/drive_names.h"
#include "sim/simulated_drive.h"

namespace {

// The host's test dialogs look at the drive every 20 ms; a headless run does the same on its
// own clock.
constexpr double kTick_s = 0.02;
// How long a stopped program may take to bring the shaft to rest.
constexpr double kStopSettle_s = 5.0;

std::string ProgramsHelp() {
  std::string text = "Programs:\n";
  for (const std::string& name : dcsim::TestProgramNames()) text += "  " + name + "\n";
  return text + "\n";
}

// What both sub-commands share: the setup, its drive, and the faults from the start.
struct DriveSession {
  SetupSession setup;
  std::shared_ptr<CZel_DriveLink> drive;
  std::shared_ptr<dcsim::SimulatedDrive> simulated;  // null for a drive on a link
  std::unique_ptr<CZel_CommSession> comm;
  double clock = 0.0;

  DriveSession(const std::string& path, const std::vector<Assignment>& assignments, bool sync,
               const std::vector<std::string>& faults, const DriveLinkOption& remote,
               const std::vector<std::string>& acts = {})
      : setup(path) {
    setup.Apply(assignments);
    if (sync) {
      dcservo::SynchroniseSetup(setup.Setup());
    }
    // Chip parameters that could not be derived would run the drive on what they held.
    setup.RefuseIfErrorsReported("the drive was not started");
    remote.RefuseConditions(faults, acts);
    drive = remote.Open(setup.Setup());
    if (!drive) drive = simulated = dcsim::MakeSimulatedDrive(setup.Setup());
    comm = std::make_unique<CZel_CommSession>(drive);
    CZel_Comm::SetClock([this] { return clock; });
    for (const std::string& f : faults) {
      const NameValue c = ParseCondition(f, false);
      std::string error;
      if (!simulated->Inject(c.name, c.value, error)) throw CommandError(kExitBadInput, error);
    }
    if (!CZel_Comm::DownloadChipParameters(setup.Setup()))
      throw CommandError(kExitFailed, CZel_Comm::GetLastErrorText());
  }
  ~DriveSession() { CZel_Comm::SetClock(nullptr); }

  void Advance(double seconds) {
    clock += seconds;
    CZel_Comm::Synchronize();
  }
};

void WriteCsv(const std::string& path, CZel_SingleAxisLogger& logger) {
  if (!logger.BeginUploadData()) throw CommandError(kExitFailed, CZel_Comm::GetLastErrorText());
  while (logger.ReadPoint(nullptr)) {
  }
  logger.EndUploadData();
  if (logger.GetPointsRead() < logger.GetPointsUploaded())
    throw CommandError(kExitFailed, CZel_Comm::GetLastErrorText());
  const std::string text = logger.CsvText();
  if (path == "-") {
    std::fputs(text.c_str(), stdout);
    return;
  }
  const std::string error = ZelWriteFileAtomically(path, text);
  if (!error.empty()) throw CommandError(kExitFailed, error);
}

class DriveCommand : public Command {
 public:
  const char* Name() const override { return "drive"; }
  const char* Description() const override {
    return "Run a test program or read live variables on the simulated drive";
  }

  void Define(CLI::App& cmd) override {
    cmd.require_subcommand(1);
    run_ = cmd.add_subcommand("run", "Download the chip parameters and run a test program");
    run_args_.AddTo(*run_, false);
    run_->add_option("PROGRAM", program_, "Test program name")->required();
    run_->add_option("SETUP", run_setup_, "Drive setup file (same as --setup)")
        ->check(FileName());
    run_->add_option("--var", vars_, "Program variable NAME=VALUE (internal units)")
        ->allow_extra_args(false);
    run_->add_option("--log", log_, "Comma-separated live variables to log")->check(NameList());
    run_->add_option("--csv", csv_, "Write the log here as CSV (\"-\" for standard output)")
        ->check(OutputFile({".csv"}, true));
    run_->add_flag("--fast-log", fast_log_, "Log every fast-loop sample instead of slow-loop");
    run_->add_option("--log-points", log_points_, "Points to log (default: all the log memory)");
    AddCommon(*run_);
    run_->add_option("--act", acts_, "Action NAME=VALUE@SECONDS during the run")
        ->allow_extra_args(false);
    run_->add_option("--until", until_text_,
                     "Stop the run after this many simulated seconds (above 0, at most " +
                         std::to_string(static_cast<int>(kLongestRun_s)) + ")")
        ->capture_default_str();
    run_->add_flag("--force", force_,
                   "Write the CSV and exit 0 even when the run ended on a drive protection");
    run_->footer(ProgramsHelp() + ConditionsHelp(true));

    read_ = cmd.add_subcommand("read", "Read live variables of the simulated drive");
    read_args_.AddTo(*read_, false);
    read_->add_option("ITEMS", read_items_, "[SETUP] VAR...")->required();
    read_->add_flag("--internal", internal_, "Print in internal units");
    read_->add_option("--at", read_at_text_,
                      "Read after this many simulated seconds (0 to " +
                          std::to_string(static_cast<int>(kLongestRun_s)) + ")");
    AddCommon(*read_);
    read_->footer(ConditionsHelp(false));
  }

  void Execute(const CLI::App&) override {
    if (*run_) Run();
    else Read();
  }

 private:
  void AddCommon(CLI::App& sub) {
    sub.add_option("--fault", faults_, "Fault NAME or NAME=VALUE from the start")
        ->allow_extra_args(false);
    sub.add_flag("--no-sync", no_sync_,
                 "Download the chip parameters as the setup holds them (by default they are "
                 "derived from the scaled ones first, as the dialogs do before a test)");
    drive_.AddTo(sub);
  }

  // Checks the options, runs the program on the drive until it ends or --until, prints its
  // variables and MER, and writes the log unless a protection ended the run.
  void Run() {
    CheckRunOptions();
    DriveSession s(ResolveSetup(run_args_.setup, run_setup_), run_args_.InOrder(*run_), !no_sync_,
                   faults_, drive_, acts_);
    CZel_CoffFormat coff(CZel_Comm::GetOutPathName(program_));
    // The name is one of the drive's (CheckProgram): a drive that cannot describe it failed.
    if (!coff.ReadCoff()) throw CommandError(kExitFailed, CZel_Comm::GetLastErrorText());
    SetProgramInputs(coff);
    ScheduleActions(s);
    std::unique_ptr<CZel_SingleAxisLogger> logger = MakeLogger(s, coff);
    RunToEnd(s, coff, logger.get());
    PrintProgramVariables(coff);
    if (!EndedCleanly(s, logger != nullptr)) throw AlreadyTold(kExitFailed);
    if (logger) {
      s.setup.RefuseIfErrorsReported("nothing was saved");
      WriteCsv(csv_, *logger);
    }
  }

  void CheckRunOptions() {
    if (!log_.empty() && csv_.empty())
      throw CommandError(kExitBadInput, "--log needs --csv FILE to write the log to");
    if (log_.empty() && !csv_.empty())
      throw CommandError(kExitBadInput, "--csv needs --log VAR,... to name what to log");
    CheckProgram();
    until_ = ParseRunTime(until_text_, "--until");
  }

  void SetProgramInputs(CZel_CoffFormat& coff) const {
    for (const std::string& v : vars_) {
      const auto eq = v.find('=');
      if (eq == std::string::npos || eq == 0)
        throw CommandError(kExitBadInput, "\"" + v + "\" is not NAME=VALUE");
      const std::string name = v.substr(0, eq);
      const double value = ParseValue(v.substr(eq + 1), name, kUnitNone);
      std::string error;
      if (!CZel_Comm::SetUserVariableValue(&coff, name, value, error))
        throw CommandError(kExitBadInput, error);
    }
  }

  void ScheduleActions(DriveSession& s) const {
    for (const std::string& a : acts_) {
      const NameValue c = ParseCondition(a, true);
      std::string error;
      if (!s.simulated->Schedule(c.time, c.name, c.value, error))
        throw CommandError(kExitBadInput, error);
    }
  }

  // Null without --log.
  std::unique_ptr<CZel_SingleAxisLogger> MakeLogger(DriveSession& s, CZel_CoffFormat& coff) const {
    if (log_.empty()) return nullptr;
    auto logger = std::make_unique<CZel_SingleAxisLogger>(s.setup.Setup(), &coff);
    ZelQuietErrors quiet;  // the refusal below says it once
    for (const std::string& name : SplitNameList(log_)) {
      if (!logger->AddVariable(name.c_str(), 1))
        throw CommandError(kExitBadInput, CZel_Comm::GetLastErrorText() +
                                              s.setup.Suggest(name, false, true, false));
    }
    logger->ChangeSettings(log_points_ > 0 ? log_points_ : 1 << 20,
                           fast_log_ ? ZelLogRequest::kFastLoop : ZelLogRequest::kSlowLoop, 1);
    logger->CorrectPointsNo();
    return logger;
  }

  // A program still running at --until is stopped, and said so.
  void RunToEnd(DriveSession& s, CZel_CoffFormat& coff, CZel_SingleAxisLogger* logger) const {
    if (!CZel_Comm::ExecuteCode(nullptr, program_, &coff, logger))
      throw CommandError(kExitFailed, CZel_Comm::GetLastErrorText());
    while (s.drive->ProgramRunning() && s.drive->Now() + 1e-9 < until_)
      s.Advance(std::min(kTick_s, until_ - s.drive->Now()));
    if (!s.drive->ProgramRunning()) return;
    std::fprintf(stderr, "dcservo: \"%s\" still ran at %g s and was stopped\n",
                 coff.GetProgramName().c_str(), s.drive->Now());
    CZel_Comm::StopProgram();
    // A program that turns the shaft brings it to rest before it ends.
    const double settle_until = s.drive->Now() + kStopSettle_s;
    do s.Advance(s.simulated ? s.simulated->SlowPeriod() * 2 : kTick_s);
    while (s.drive->ProgramRunning() && s.drive->Now() < settle_until);
  }

  static void PrintProgramVariables(CZel_CoffFormat& coff) {
    for (const ZelProgramVariable& v : coff.GetVariables()) {
      double value = 0.0;
      std::string error;
      if (!CZel_Comm::GetUserVariableValue(&coff, v.name, value, error))
        throw CommandError(kExitFailed, error);
      std::printf("%s=%.17g\n", v.name.c_str(), value);
    }
  }

  // Prints MER; false when a protection ended the run and --force does not take it anyway.
  bool EndedCleanly(DriveSession& s, bool logging) const {
    double mer_read = 0.0;
    if (!s.drive->ReadVariable(dcservo::var::MER, mer_read))
      throw CommandError(kExitFailed, s.drive->LastError());
    const auto mer = static_cast<unsigned>(mer_read);
    std::printf("MER=%u\n", mer);
    if (mer == 0) return true;
    std::fprintf(stderr, "dcservo: the drive reports MER=0x%04X: %s\n", mer,
                 zel_mer::Describe(mer).c_str());
    if (force_) return true;
    std::fprintf(stderr, "dcservo: the run ended on a protection%s\n",
                 logging ? "; the log was not written (--force writes it)" : "");
    return false;
  }

  void CheckProgram() const {
    const auto& names = dcsim::TestProgramNames();
    for (const std::string& name : names) {
      if (zel::NamesEqual(name, program_)) return;
    }
    throw CommandError(kExitBadInput, "the drive has no program \"" + program_ + "\"" +
                                          DidYouMean(program_, names) +
                                          "; its programs are: " + QuoteList(names, ", "));
  }

  void Read() {
    // The first item is the setup when it names a file.
    std::vector<std::string> names = read_items_;
    std::string positional;
    std::error_code ec;
    if (names.size() > 1 && (std::filesystem::is_regular_file(names.front(), ec) ||
                             LooksLikeFile(names.front()))) {
      positional = names.front();
      names.erase(names.begin());
      if (!std::filesystem::exists(positional, ec))
        throw CommandError(kExitBadInput, positional + ": no such setup file");
    }
    read_at_ = ParseRunTime(read_at_text_, "--at", true);
    DriveSession s(ResolveSetup(read_args_.setup, positional), read_args_.InOrder(*read_),
                   !no_sync_, faults_, drive_);
    s.Advance(read_at_);
    CZel_Setup& setup = s.setup.Setup();
    for (const std::string& name : names) {
      CZel_Variable* variable = nullptr;
      {
        ZelQuietErrors quiet;
        variable = setup.FindVariable(name, 0);
      }
      double value = 0.0;
      if (variable) {
        if (!variable->ReadFromChip())
          throw CommandError(kExitBadInput, CZel_Comm::GetLastErrorText());
        // Internal units have no name: the drive's number as it is, for scripts.
        if (internal_)
          std::printf("%s=%.17g\n", variable->GetName().c_str(),
                      variable->GetValueInInternalUnit());
        else
          std::printf("%s=%s\n", variable->GetName().c_str(),
                      ShownInBaseUnit(setup, *variable).c_str());
      } else {
        // A drive variable that the setup does not list has no unit: internal units.
        if (!s.drive->ReadVariable(name, value))
          throw CommandError(kExitBadInput,
                             s.drive->LastError() + s.setup.Suggest(name, false, true, false));
        std::printf("%s=%.17g\n", name.c_str(), value);
      }
    }
  }

  // In its base unit at the drive's resolution, the unit named: "APOS=6.283 rad". A position
  // also in the sensor's counts it is kept in, as the encoder test reads it: "(2000 counts)".
  // A count without a unit (a converter's) is a number alone.
  static std::string ShownInBaseUnit(CZel_Setup& setup, const CZel_Variable& variable) {
    const std::string unit = variable.GetUnitName();
    std::string text =
        ZelFormatValue(variable.GetValueInBaseUnit(), dcservo::DisplayStep(setup, variable)) +
        (unit.empty() ? "" : " " + unit);
    const int kind = variable.GetUnitType();
    if (!variable.IsStoredInBaseUnit() &&
        (kind == kUnitRotaryPosition || kind == kUnitLinearPosition)) {
      char counts[48];
      std::snprintf(counts, sizeof counts, " (%.0f counts)", variable.GetValueInInternalUnit());
      text += counts;
    }
    return text;
  }

  // Variable names hold neither a path separator nor a file name's extension.
  static bool LooksLikeFile(const std::string& item) {
    return item.find('/') != std::string::npos ||
           std::filesystem::path(item).extension() == ".json";
  }

  CLI::App* run_ = nullptr;
  CLI::App* read_ = nullptr;
  SetupArgs run_args_, read_args_;
  std::string program_, run_setup_, log_, csv_;
  std::vector<std::string> vars_, faults_, acts_, read_items_;
  DriveLinkOption drive_;
  bool fast_log_ = false, no_sync_ = false, internal_ = false, force_ = false;
  int log_points_ = 0;
  std::string until_text_ = "60", read_at_text_ = "0";
  double until_ = 60.0;
  double read_at_ = 0.0;
};

}  // namespace

std::unique_ptr<Command> MakeDriveCommand() { return std::make_unique<DriveCommand>(); }
