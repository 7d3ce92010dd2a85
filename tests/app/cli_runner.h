#pragma once
// Runs the real dcservo program and captures what it prints.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "tests/support/test_setups.h"

namespace testing_support {

struct CliResult {
  int exit_code = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// `args` is appended to the program path as it is (quote with ShellQuote where needed);
// `environment` ("NAME=VALUE ...") is set for the run.
inline CliResult RunDcservo(const std::string& args, const std::string& environment = "") {
  TempDir dir;
  const std::string err_file = dir.File("stderr");
  const std::string command = (environment.empty() ? "" : "env " + environment + " ") +
                              ShellQuote(BinaryDir() + "/dcservo") + " " + args + " 2>" +
                              ShellQuote(err_file) + " </dev/null";
  CliResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = ReadFile(err_file);
  return result;
}

}  // namespace testing_support
