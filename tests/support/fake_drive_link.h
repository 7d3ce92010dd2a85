#pragma once
// A drive link for tests: answers from tables and records what it was told.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/zel_comm.h"

namespace testing_support {

// A drive that answers from tables and records what it was told.
class FakeLink : public CZel_DriveLink {
 public:
  double time = 0.0;
  std::map<std::string, double> variables{{"MER", 0}, {"APOS", 0}, {"Motor_Current", 0}};
  std::map<std::string, double> parameters;
  std::vector<ZelProgramVariable> program_vars{{"In1", 0.0}, {"test_flag", 1.2345e100}};
  std::map<std::string, double> running_vars;
  std::uint64_t run = 0;
  bool running = false;
  std::vector<std::vector<std::uint8_t>> queue;
  ZelLogRequest log_request;
  ZelStreamRequest stream_request;
  std::string error;

  double Now() const override { return time; }
  void AdvanceTo(double s) override { time = s; }
  bool ReadVariable(std::string_view n, double& v) override {
    auto it = variables.find(std::string(n));
    if (it == variables.end()) return Fail("no variable " + std::string(n));
    v = it->second;
    return true;
  }
  bool WriteVariable(std::string_view n, double v) override {
    if (!variables.count(std::string(n))) return Fail("no variable " + std::string(n));
    variables[std::string(n)] = v;
    return true;
  }
  bool WriteParameter(std::string_view n, double v) override {
    parameters[std::string(n)] = v;
    return true;
  }
  bool DescribeProgram(std::string_view n, std::vector<ZelProgramVariable>& vars) override {
    if (n != "Test_Program") return Fail("no program " + std::string(n));
    vars = program_vars;
    return true;
  }
  std::uint64_t StartProgram(std::string_view, const std::vector<ZelProgramVariable>& vars) override {
    running_vars.clear();
    for (const auto& v : vars) running_vars[v.name] = v.value;
    running = true;
    return ++run;
  }
  std::uint64_t LoadedRun() const override { return run; }
  bool ProgramRunning() const override { return running; }
  void StopProgram() override { running = false; }
  bool ReadProgramVariable(std::string_view n, double& v) override {
    auto it = running_vars.find(std::string(n));
    if (it == running_vars.end()) return Fail("no program variable");
    v = it->second;
    return true;
  }
  bool WriteProgramVariable(std::string_view n, double v) override {
    running_vars[std::string(n)] = v;
    return true;
  }
  bool AxisOn() const override { return running; }
  int LogCapacityWords() const override { return 1000; }
  bool StartLog(const ZelLogRequest& r) override {
    log_request = r;
    return true;
  }
  bool UploadLog(ZelLogData& d) override {
    d.period_s = 0.001;
    d.points = {{10, 100}, {20, 200}, {30, 300}};
    return true;
  }
  bool StartStream(const ZelStreamRequest& r) override {
    stream_request = r;
    return true;
  }
  void StopStream() override {}
  bool PopMessage(std::vector<std::uint8_t>& m) override {
    if (queue.empty()) return false;
    m = queue.front();
    queue.erase(queue.begin());
    return true;
  }
  std::size_t PendingMessageCount() const override { return queue.size(); }
  std::string LastError() const override { return error; }

 private:
  bool Fail(std::string why) {
    error = std::move(why);
    return false;
  }
};

}  // namespace testing_support
