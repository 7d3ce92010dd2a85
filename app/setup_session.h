#pragma once
// What every command does around its work: load the setup (a file, or the bundled drive,
// which is never written), give it the plug-in's scales, apply the user's assignments in the
// order given, print values and save the result.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/plugin_loader.h"
#include "host/zel_setup.h"

// A failure that ends the command with its exit code and message.
struct CommandError : std::runtime_error {
  CommandError(int exit_code, const std::string& message)
      : std::runtime_error(message), code(exit_code) {}
  int code;
};

// A failure the command has told already, in its own words (a test's verdict, the
// differences of two setups): only the exit code is left to give.
inline CommandError AlreadyTold(int exit_code) { return CommandError(exit_code, ""); }

inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadInput = 2;

// One --set, --set-internal or --option, kept in command-line order.
struct Assignment {
  enum class Kind { Base, Internal, Option } kind;
  std::string text;  // NAME=VALUE
};

class SetupSession {
 public:
  // Loads the plug-in and the setup; an empty path means the bundled drive.
  explicit SetupSession(const std::string& setup_path);

  static std::string BundledSetupPath();
  // The program's resources: $DCSERVO_RESOURCES, else the build's resources folder.
  static std::string ResourceDirectory();

  CZel_Setup& Setup() { return *setup_; }
  const std::string& Path() const { return setup_path_; }
  bool IsBundled() const;
  PluginModule& Plugin() { return *plugin_; }

  void Apply(const std::vector<Assignment>& assignments);
  // Refuses names that are neither parameter, variable nor option, before any work.
  void CheckPrintable(const std::vector<std::string>& names) const;
  // After a run: says on stderr which assigned values the run replaced by what it derived,
  // with `advice` on the command that keeps them. True when there were any.
  bool ReportReplaced(const std::string& command, std::string advice);
  // " (did you mean \"A\" or \"B\"?)" with the setup's names nearest to `name`, or "".
  std::string Suggest(const std::string& name, bool parameters, bool variables,
                      bool options) const;
  void Print(const std::vector<std::string>& names, bool internal) const;
  // Refused (exit 1) when the host reported an error since the session began: a run that
  // reported one saves nothing.
  void Save(const std::string& path) const;
  // What Save would write to `path`, with the same refusals, for writing with other files.
  std::string SaveText(const std::string& path) const;
  // Throws (exit 1) when the host reported an error since the session began; the message
  // ends with what was therefore not done.
  void RefuseIfErrorsReported(const std::string& consequence) const;
  // Throws (exit 2) when the motor data cannot be served by the drive as set up; the
  // message starts with `what`.
  void RefuseImplausibleMotorData(const std::string& what);

 private:
  void ApplyValue(const std::string& text, bool internal);
  void ApplyOption(const std::string& text);
  struct AssignedValue {
    CZel_Parameter* parameter;
    std::string typed;  // as the user wrote it
    bool internal;
    double internal_value;  // as stored
  };
  std::vector<AssignedValue> assigned_;
  std::vector<std::pair<std::string, std::string>> assigned_options_;  // name, text
  std::unique_ptr<PluginModule> plugin_;
  std::unique_ptr<CZel_Setup> setup_;
  std::string setup_path_;
  std::size_t errors_at_start_ = ZelErrorCount();
};

std::vector<std::string> SplitNameList(const std::string& list);
// "\"A\" or \"B\"" for a message.
std::string QuoteList(const std::vector<std::string>& names, const char* last_joint = " or ");

// " (did you mean \"A\"?)" with the candidates nearest to `name`, or "" when none is near.
std::string DidYouMean(const std::string& name, const std::vector<std::string>& candidates);

// A number, optionally followed by a unit of `unit_type` ("1200 rpm"); the value in the
// unit type's base unit. Throws CommandError on anything else.
double ParseValue(const std::string& text, const std::string& what, int unit_type);
