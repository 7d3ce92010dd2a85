#pragma once
// One dcservo sub-command. Each lives in its own file and is listed once in MakeCommands().

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "app/setup_session.h"

class Command {
 public:
  virtual ~Command() = default;
  virtual const char* Name() const = 0;
  virtual const char* Description() const = 0;
  virtual void Define(CLI::App& cmd) = 0;
  // Defines the command for parsing words that begin with `next` (the word after its name;
  // empty when there is none). A command with sub-commands of its own may leave the options
  // of those that `next` does not name undefined: only one of them is ever parsed.
  virtual void DefineFor(CLI::App& cmd, const std::string& next) {
    static_cast<void>(next);
    Define(cmd);
  }
  // Returns when the work succeeded. Every failure is a CommandError: its code is the exit
  // code, which app/cli.cpp alone turns it into.
  virtual void Execute(const CLI::App& cmd) = 0;
};

// The options every setup-reading command shares: -s/--setup, --set, --set-internal and
// (optionally) --option, with the assignments kept in the order they were typed.
struct SetupArgs {
  std::string setup;
  std::vector<std::string> set, set_internal, option;
  CLI::Option* set_opt = nullptr;
  CLI::Option* set_internal_opt = nullptr;
  CLI::Option* option_opt = nullptr;

  void AddTo(CLI::App& cmd, bool with_options = true);
  std::vector<Assignment> InOrder(const CLI::App& cmd) const;
};

// Checks for options that name a file or a list of names: a value that names nothing (an
// empty file name, "," as a list) is bad usage, not a request to do nothing.
const CLI::Validator& FileName();
const CLI::Validator& NameList();
// A file that an option writes in a format of its own (--png, --svg, --csv, --bode): a name
// that is not empty and ends in one of `extensions` in any case (".png" takes "A.PNG"); "-"
// too where standard output is allowed. docs/files.md states the rule.
CLI::Validator OutputFile(std::vector<std::string> extensions, bool standard_output = false);

// The setup named by -s/--setup or by the positional SETUP; naming two different ones is
// refused (CommandError).
std::string ResolveSetup(const std::string& option, const std::string& positional);

std::unique_ptr<Command> MakeComputeCommand();
std::unique_ptr<Command> MakeChipCommand();
std::unique_ptr<Command> MakeSyncCommand();
std::unique_ptr<Command> MakeScaleCommand();
std::unique_ptr<Command> MakeShowCommand();
std::unique_ptr<Command> MakeDiffCommand();
std::unique_ptr<Command> MakeUnitsCommand();
std::unique_ptr<Command> MakeParamsCommand();
std::unique_ptr<Command> MakeTuneCommand();
std::unique_ptr<Command> MakeFiltersCommand();
std::unique_ptr<Command> MakeDriveCommand();
std::unique_ptr<Command> MakeEditCommand();
std::unique_ptr<Command> MakeMotorsCommand();
std::unique_ptr<Command> MakeTestCommand();
std::unique_ptr<Command> MakeCommissionCommand();
std::unique_ptr<Command> MakeSimdriveCommand();

// Every command, in the order --help lists them.
std::vector<std::unique_ptr<Command>> MakeCommands();
