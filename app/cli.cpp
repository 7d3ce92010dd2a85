#include "app/cli.h"

#include <cstdio>

#include "app/command.h"

void SetupArgs::AddTo(CLI::App& cmd, bool with_options) {
  cmd.add_option("-s,--setup", setup, "Drive setup file (default: the bundled drive)");
  set_opt = cmd.add_option("--set", set, "NAME=VALUE in base units (a unit may follow)")
                ->allow_extra_args(false);
  set_internal_opt = cmd.add_option("--set-internal", set_internal, "NAME=VALUE in internal units")
                         ->allow_extra_args(false);
  if (with_options)
    option_opt = cmd.add_option("--option", option, "NAME=TEXT sets a setup option")
                     ->allow_extra_args(false);
}

std::vector<Assignment> SetupArgs::InOrder(const CLI::App& cmd) const {
  std::vector<Assignment> out;
  std::size_t next_set = 0, next_internal = 0, next_option = 0;
  for (const CLI::Option* opt : cmd.parse_order()) {
    if (opt == set_opt && next_set < set.size())
      out.push_back({Assignment::Kind::Base, set[next_set++]});
    else if (opt == set_internal_opt && next_internal < set_internal.size())
      out.push_back({Assignment::Kind::Internal, set_internal[next_internal++]});
    else if (option_opt && opt == option_opt && next_option < option.size())
      out.push_back({Assignment::Kind::Option, option[next_option++]});
  }
  return out;
}

std::string ResolveSetup(const std::string& option, const std::string& positional) {
  if (!positional.empty() && !option.empty() && positional != option)
    throw CommandError(kExitBadInput, "two different setup files given");
  return option.empty() ? positional : option;
}

int RunCommandLine(int argc, char** argv) {
  CLI::App app{"dcservo: setup of DC servo drives"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "dcservo " DCSERVO_VERSION);

  auto commands = MakeCommands();
  std::vector<CLI::App*> subcommands;
  for (auto& command : commands) {
    CLI::App* sub = app.add_subcommand(command->Name(), command->Description());
    command->Define(*sub);
    subcommands.push_back(sub);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitBadInput;
  }

  try {
    for (std::size_t i = 0; i < commands.size(); ++i) {
      if (*subcommands[i]) return commands[i]->Execute(*subcommands[i]);
    }
  } catch (const CommandError& e) {
    std::fprintf(stderr, "dcservo: %s\n", e.what());
    return e.code;
  }
  return kExitBadInput;
}
