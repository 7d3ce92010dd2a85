#pragma once
// A drive that runs one program, takes the scope's stream request and hands back whatever
// messages it was given: enough to arm the scope logger and feed it bytes from outside.

#include <deque>

#include "host/zel_comm.h"

namespace fuzz {

class StreamLink : public CZel_DriveLink {
 public:
  static constexpr const char* kProgram = "Scope_Program";
  std::deque<std::vector<std::uint8_t>> queue;

  double Now() const override { return time_; }
  void AdvanceTo(double s) override { time_ = s; }
  bool ReadVariable(std::string_view, double& v) override { return (v = 0.0, true); }
  bool WriteVariable(std::string_view, double) override { return true; }
  bool WriteParameter(std::string_view, double) override { return true; }
  bool DescribeProgram(std::string_view n, std::vector<ZelProgramVariable>& vars) override {
    vars.clear();
    return n == kProgram;
  }
  std::uint64_t StartProgram(std::string_view, const std::vector<ZelProgramVariable>&) override {
    running_ = true;
    return ++run_;
  }
  std::uint64_t LoadedRun() const override { return run_; }
  bool ProgramRunning() const override { return running_; }
  void StopProgram() override { running_ = false; }
  bool ReadProgramVariable(std::string_view, double& v) override { return (v = 0.0, true); }
  bool WriteProgramVariable(std::string_view, double) override { return true; }
  bool AxisOn() const override { return running_; }
  int LogCapacityWords() const override { return 1000; }
  bool StartLog(const ZelLogRequest&) override { return true; }
  bool UploadLog(ZelLogData&) override { return false; }
  bool StartStream(const ZelStreamRequest&) override { return true; }
  void StopStream() override {}
  bool PopMessage(std::vector<std::uint8_t>& m) override {
    if (queue.empty()) return false;
    m = std::move(queue.front());
    queue.pop_front();
    return true;
  }
  std::size_t PendingMessageCount() const override { return queue.size(); }
  std::string LastError() const override { return "no such program"; }

 private:
  double time_ = 0.0;
  std::uint64_t run_ = 0;
  bool running_ = false;
};

// A setup with the live variables that the scope views, in the drive's integer types.
inline std::unique_ptr<CZel_Setup> ScopeSetup() {
  auto setup = std::make_unique<CZel_Setup>();
  setup->AddVariable({"APOS", ZelStorageType::Int32, false, "", 0.0});
  setup->AddVariable({"Motor_Current", ZelStorageType::Int16, false, "", 0.0});
  setup->AddVariable({"Motor_Speed", ZelStorageType::Int32, false, "", 0.0});
  return setup;
}

}  // namespace fuzz
