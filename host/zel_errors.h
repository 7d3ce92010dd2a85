#pragma once
// The host's error reports. Missing names and refused values go to one sink (the GUI shows
// a log, the command line prints to stderr); nothing is thrown across the plug-in boundary.

#include <cstddef>
#include <functional>
#include <vector>
#include <string>
#include <string_view>

// While nonzero, lookups of missing names are reported. The plug-in saves it, sets it to 0
// to probe optional names, and restores it.
extern int g_bShowErrors;

using ZelErrorSink = std::function<void(std::string_view message)>;

// Installs a sink and returns the one it replaces. An empty sink restores stderr.
ZelErrorSink ZelSetErrorSink(ZelErrorSink sink);
void ZelReportError(std::string_view message);
// Something skipped without harm to the work (a motor file that cannot be read): shown
// where errors are, as "warning: ...", but not counted, so a command still succeeds.
void ZelReportWarning(std::string_view message);
// How many errors have been reported since the process started, whatever the sink: a
// command compares it before and after its work, and saves nothing when it grew.
std::size_t ZelErrorCount();

// Saves g_bShowErrors, clears it for the lifetime of the guard, restores it.
class ZelQuietErrors {
 public:
  ZelQuietErrors() : saved_(g_bShowErrors) { g_bShowErrors = 0; }
  ~ZelQuietErrors() { g_bShowErrors = saved_; }
  ZelQuietErrors(const ZelQuietErrors&) = delete;
  ZelQuietErrors& operator=(const ZelQuietErrors&) = delete;

 private:
  int saved_;
};

// Sends reports to a string list for the lifetime of the guard (tests, the CLI's checks).
class ZelCollectErrors {
 public:
  ZelCollectErrors();
  ~ZelCollectErrors();
  ZelCollectErrors(const ZelCollectErrors&) = delete;
  ZelCollectErrors& operator=(const ZelCollectErrors&) = delete;
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  std::vector<std::string> messages_;
  ZelErrorSink previous_;
};

// Drops the reports made for the lifetime of the guard, and they do not count: for work on a
// scratch copy whose failures concern nobody (reading which box of a dialog shows what).
class ZelDiscardErrors {
 public:
  ZelDiscardErrors();
  ~ZelDiscardErrors();
  ZelDiscardErrors(const ZelDiscardErrors&) = delete;
  ZelDiscardErrors& operator=(const ZelDiscardErrors&) = delete;

 private:
  ZelQuietErrors quiet_;
  ZelErrorSink previous_;
  std::size_t count_;
};
