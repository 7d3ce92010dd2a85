#include "app/cli.h"

#include <cstdio>

#include "app/command.h"
#include "host/zel_file.h"
#include "host/zel_format.h"
#include "host/zel_motor_database.h"

void SetupArgs::AddTo(CLI::App& cmd, bool with_options) {
  cmd.add_option("-s,--setup", setup, "Drive setup file (default: the bundled drive)")
      ->check(FileName());
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

const CLI::Validator& FileName() {
  static const CLI::Validator check(
      [](std::string& value) { return value.empty() ? std::string("an empty file name") : ""; },
      "FILE");
  return check;
}

CLI::Validator OutputFile(std::vector<std::string> extensions, bool standard_output) {
  std::string kinds;
  for (std::size_t i = 0; i < extensions.size(); ++i)
    kinds += (i == 0 ? "" : i + 1 == extensions.size() ? " or " : ", ") + extensions[i];
  return CLI::Validator(
      [extensions, kinds, standard_output](std::string& value) {
        if (value.empty()) return std::string("an empty file name");
        if (standard_output && value == "-") return std::string();
        const std::string ext = ZelFileExtension(value);
        for (const std::string& e : extensions) {
          if (ext == e) return std::string();
        }
        return "\"" + value + "\": the name must end in " + kinds +
               " (the format the file is written in)";
      },
      "FILE" + kinds);
}

const CLI::Validator& NameList() {
  static const CLI::Validator check(
      [](std::string& value) {
        return SplitNameList(value).empty() ? "\"" + value + "\" names nothing" : std::string();
      },
      "NAME,...");
  return check;
}

std::string ResolveSetup(const std::string& option, const std::string& positional) {
  if (!positional.empty() && !option.empty() && positional != option)
    throw CommandError(kExitBadInput, "two different setup files given");
  return option.empty() ? positional : option;
}

namespace {

std::vector<CLI::App*> SubcommandsOf(CLI::App& app) {
  return app.get_subcommands([](CLI::App*) { return true; });
}

// A word where a command is expected that names none: the parser would only say that a
// command is required, so name the word, the nearest commands and all of them.
void CheckCommandWords(CLI::App& app, int argc, char** argv) {
  CLI::App* level = &app;
  std::string path = "dcservo";
  for (int i = 1; i < argc; ++i) {
    const std::vector<CLI::App*> subs = SubcommandsOf(*level);
    const std::string word = argv[i];
    if (subs.empty() || word.empty() || word[0] == '-') return;
    CLI::App* found = nullptr;
    std::vector<std::string> names;
    for (CLI::App* sub : subs) {
      names.push_back(sub->get_name());
      if (sub->get_name() == word) found = sub;
    }
    if (!found) {
      throw CommandError(kExitBadInput, path + ": unknown command \"" + word + "\"" +
                                            DidYouMean(word, names) +
                                            "; the commands are: " + QuoteList(names, ", "));
    }
    level = found;
    path += " " + word;
  }
}

// Every text of the command line (names, notes, paths, option texts) goes into JSON, reports
// and messages, which are UTF-8: one that is not is refused before any work is done, rather
// than found when the run's results are written.
void CheckArgumentsAreUtf8(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (ZelIsUtf8(argv[i])) continue;
    throw CommandError(kExitBadInput, "dcservo: argument " + std::to_string(i) + ", \"" +
                                          ZelEscapeText(argv[i]) +
                                          "\", is not UTF-8 text; names, notes and paths "
                                          "must be UTF-8 (check the terminal's encoding)");
  }
}

std::string EscapedFailure(const CLI::App* app, const CLI::Error& e) {
  return ZelEscapeText(CLI::FailureMessage::simple(app, e));
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  CLI::App app{"dcservo: setup of DC servo drives"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "dcservo " DCSERVO_VERSION);

  // The motor catalogue ships beside the bundled drive.
  ZelSetMotorCatalogueDirectory(SetupSession::ResourceDirectory() + "/motors");
  auto commands = MakeCommands();
  // Defining every command's options costs more than most commands' work, and only the
  // command named first is parsed: the others are defined only when there is none (help,
  // --version, a mistake to name the commands for).
  const std::string first = argc > 1 ? argv[1] : "";
  bool named = false;
  for (const auto& command : commands) named |= first == command->Name();
  std::vector<CLI::App*> subcommands;
  for (auto& command : commands) {
    CLI::App* sub = app.add_subcommand(command->Name(), command->Description());
    if (!named) command->Define(*sub);
    else if (first == command->Name()) command->DefineFor(*sub, argc > 2 ? argv[2] : "");
    subcommands.push_back(sub);
  }

  app.failure_message(EscapedFailure);
  try {
    CheckArgumentsAreUtf8(argc, argv);
    CheckCommandWords(app, argc, argv);
    app.parse(argc, argv);
  } catch (const CommandError& e) {
    std::fprintf(stderr, "%s\n", ZelEscapeText(e.what()).c_str());
    return e.code;
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitBadInput;
  }

  try {
    for (std::size_t i = 0; i < commands.size(); ++i) {
      if (!*subcommands[i]) continue;
      commands[i]->Execute(*subcommands[i]);
      return 0;
    }
  } catch (const CommandError& e) {
    if (*e.what()) std::fprintf(stderr, "dcservo: %s\n", ZelEscapeText(e.what()).c_str());
    return e.code;
  }
  return kExitBadInput;
}
