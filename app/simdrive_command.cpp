// `dcservo simdrive`: the simulated drive as a process of its own behind a Modbus link (TCP
// or RTU), running in real time, so that every command can meet it as it would meet a drive
// on a cable: `--drive tcp://HOST:PORT`.

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "app/command.h"
#include "app/drive_conditions.h"
#include "app/modbus_drive_server.h"
#include "host/zel_errors.h"
#include "host/zel_modbus_link.h"
#include "names/program_names.h"
#include "sim/simulated_drive.h"

namespace {

std::atomic<bool> g_stop{false};

// The test whose notice asks to block the shaft.
constexpr const char* kShaftHeldFor = dcservo::drive_program::Current_Controller_Tuning_Test;

extern "C" void StopServing(int) { g_stop = true; }

// REGISTER=CODE: a register of the map (hexadecimal with 0x) and a Modbus exception, 1 to 11.
DriveServerOptions::RefusedWrite ParseRefusal(const std::string& text) {
  const auto bad = [&text]() {
    return CommandError(kExitBadInput, "--refuse " + text +
                                           ": expected REGISTER=CODE, a register from 0 to "
                                           "0xFFFF and an exception code from 1 to 11");
  };
  const auto equals = text.find('=');
  if (equals == std::string::npos) throw bad();
  const std::string where = text.substr(0, equals), code = text.substr(equals + 1);
  const bool hex = where.starts_with("0x") || where.starts_with("0X");
  const std::string digits = hex ? where.substr(2) : where;
  const auto whole = [](const std::string& t, int base, long highest, long& value) {
    if (t.empty() || t.size() > 6) return false;
    char* end = nullptr;
    value = std::strtol(t.c_str(), &end, base);
    return *end == '\0' && t.find_first_of("+- ") == std::string::npos && value >= 0 &&
           value <= highest;
  };
  long address = 0, exception = 0;
  if (!whole(digits, hex ? 16 : 10, 0xFFFF, address) || !whole(code, 10, 11, exception) ||
      exception < 1)
    throw bad();
  return {static_cast<std::uint16_t>(address), static_cast<int>(exception)};
}

class SimdriveCommand : public Command {
 public:
  const char* Name() const override { return "simdrive"; }
  const char* Description() const override {
    return "Serve the simulated drive over Modbus TCP or RTU until stopped (docs/drive-link.md)";
  }

  void Define(CLI::App& cmd) override {
    cmd.add_option("SETUP", positional_setup_, "Drive setup file (same as --setup)")
        ->check(FileName());
    args_.AddTo(cmd, false);
    CLI::Option* listen =
        cmd.add_option("--listen", listen_, "Modbus TCP on HOST:PORT (port 0: any free port)");
    cmd.add_option("--serial", serial_, "Modbus RTU on DEVICE[,BAUD] (default 115200 baud)")
        ->excludes(listen);
    cmd.add_option("--unit", unit_, "The drive's unit id")
        ->check(CLI::Range(1, 247))
        ->capture_default_str();
    cmd.add_option("--fault", faults_, "Fault NAME or NAME=VALUE from the start")
        ->allow_extra_args(false);
    cmd.add_option("--act", acts_, "Action NAME=VALUE@SECONDS of the drive's time")
        ->allow_extra_args(false);
    cmd.add_option("--refuse", refusals_,
                   "Refuse writes of REGISTER with Modbus exception CODE (REGISTER=CODE, "
                   "e.g. 0x0100=4)")
        ->allow_extra_args(false);
    cmd.add_option("--reply-delay", delay_s_, "A slow link: answers wait this many seconds")
        ->check(CLI::Range(0.0, 10.0));
    cmd.add_option("--delay-every", delay_every_, "Only every N-th answer waits")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    cmd.footer(
        "Prints the address it serves on standard output, then serves until SIGINT or "
        "SIGTERM. The shaft is held during the current test, as its notice asks.\n\n" +
        ConditionsHelp(true));
  }

  void Execute(const CLI::App& cmd) override {
    if (listen_.empty() == serial_.empty())
      throw CommandError(kExitBadInput,
                         "name where to serve: --listen HOST:PORT or --serial DEVICE");
    ZelDriveAddress address;
    std::string why;
    const std::string text = listen_.empty() ? "rtu:" + serial_ : "tcp://" + listen_;
    // Port 0 asks for any free one, which a client cannot name.
    const bool any_port = !listen_.empty() && listen_.ends_with(":0");
    const std::string parsed = any_port ? text.substr(0, text.size() - 1) + "1" : text;
    if (!ZelDriveAddress::Parse(parsed, address, why)) {
      // The reason follows "--drive ADDRESS: "; the user typed another option.
      throw CommandError(kExitBadInput,
                         (listen_.empty() ? "--serial " + serial_ : "--listen " + listen_) +
                             why.substr(std::string("--drive ").size() + parsed.size()));
    }
    if (any_port) address.port = "0";

    SetupSession session(ResolveSetup(args_.setup, positional_setup_));
    session.Apply(args_.InOrder(cmd));
    CZel_Setup& setup = session.Setup();
    auto drive = dcsim::MakeSimulatedDrive(setup);
    for (const std::string& f : faults_) {
      const NameValue c = ParseCondition(f, false);
      if (!drive->Inject(c.name, c.value, why)) throw CommandError(kExitBadInput, why);
    }
    for (const std::string& a : acts_) {
      const NameValue c = ParseCondition(a, true);
      if (!drive->Schedule(c.time, c.name, c.value, why)) throw CommandError(kExitBadInput, why);
    }
    DriveServerOptions options;
    options.product_id = setup.GetProductID();
    options.firmware_id = setup.GetFirmwareID();
    options.unit = unit_;
    options.slow_s = delay_s_;
    options.slow_every = delay_s_ > 0.0 ? delay_every_ : 0;
    for (const std::string& r : refusals_) options.refused_writes.push_back(ParseRefusal(r));
    options.chip_range = [&setup](std::string_view name, double& lowest, double& highest) {
      ZelQuietErrors quiet;
      const CZel_Parameter* p = setup.FindParameter(name);
      if (!p) return false;
      lowest = p->GetMinInBaseUnit();
      highest = p->GetMaxInBaseUnit();
      return true;
    };
    // The person at the drive does what the notices ask: the shaft is held for the current
    // test and let go for the others, unless a fault blocks it for good.
    const bool blocked = std::any_of(faults_.begin(), faults_.end(), [](const std::string& f) {
      return ParseCondition(f, false).name == "shaft_blocked";
    });
    if (!blocked) {
      options.before_start = [&drive](const std::string& program) {
        std::string ignored;
        drive->Inject("shaft_blocked", program == kShaftHeldFor ? 1.0 : 0.0, ignored);
      };
    }
    ModbusDriveServer server(*drive, options);

    std::signal(SIGINT, StopServing);
    std::signal(SIGTERM, StopServing);
    const auto listening = [this](const std::string& where) {
      std::printf("serving %s unit %d\n", where.c_str(), unit_);
      std::fflush(stdout);
    };
    why = address.kind == ZelDriveAddress::Kind::Tcp
              ? ServeTcp(server, address.host, address.port, unit_, g_stop, listening)
              : ServeRtu(server, address.device, address.baud, unit_, g_stop, listening);
    if (!why.empty()) throw CommandError(kExitFailed, why);
    return;
  }

 private:
  SetupArgs args_;
  std::string positional_setup_, listen_, serial_;
  std::vector<std::string> faults_, acts_, refusals_;
  int unit_ = 1;
  double delay_s_ = 0.0;
  int delay_every_ = 1;
};

}  // namespace

std::unique_ptr<Command> MakeSimdriveCommand() { return std::make_unique<SimdriveCommand>(); }
