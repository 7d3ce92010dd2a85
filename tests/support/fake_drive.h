#pragma once
// A drive link whose every answer the test sets: MER, the program's variables, the axis, the
// log and the unsolicited messages; it records what the host asked of it. For the test base's
// protocol and the communication seam, where each call must see exactly the state a case
// describes; the simulated drive serves the runs that need a motor.

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/zel_comm.h"

namespace testing_support {

class FakeDrive : public CZel_DriveLink {
 public:
  // The program this drive knows and its variables' start values, in order.
  std::string program = "Fake_Test";
  std::vector<ZelProgramVariable> start_values = {
      {"In1", 0.0}, {"STARTED", 0.0}, {"test_flag", 1.2345e100}};

  bool axis_on = false;
  bool running = false;
  bool refuse_parameters = false;
  std::map<std::string, double, std::less<>> vars;  // the loaded run's variables
  std::map<std::string, double, std::less<>> live = {{"MER", 0.0}};  // live variables
  bool refuse_live_writes = false;
  ZelLogData log;
  int log_words = 16384;
  // The log in blocks of this many points (0: all of it at once), none from `log_fails_from`.
  std::size_t log_block_points = 0;
  std::size_t log_fails_from = SIZE_MAX;
  bool streams = false;  // whether StartStream succeeds
  std::vector<std::vector<std::uint8_t>> messages;  // unsolicited, oldest first
  // What the host did, in order.
  std::vector<std::pair<std::string, double>> parameters_written;
  std::vector<std::vector<ZelProgramVariable>> starts;
  int stops = 0;
  ZelLogRequest log_request;
  ZelStreamRequest stream_request;

  double Now() const override { return now_; }
  // Taken as given: keeping the drive's time from going back is the host's job.
  void AdvanceTo(double seconds) override { now_ = seconds; }
  bool ReadVariable(std::string_view name, double& value) override {
    auto it = live.find(name);
    if (it == live.end()) return Fail("no variable " + std::string(name));
    value = it->second;
    return true;
  }
  bool WriteVariable(std::string_view name, double value) override {
    if (refuse_live_writes) return Fail("the drive refused " + std::string(name));
    live[std::string(name)] = value;
    return true;
  }
  bool WriteParameter(std::string_view name, double value) override {
    if (refuse_parameters) return Fail("the drive refused " + std::string(name));
    parameters_written.emplace_back(std::string(name), value);
    return true;
  }
  bool DescribeProgram(std::string_view name, std::vector<ZelProgramVariable>& out) override {
    if (name != program) return Fail("no program " + std::string(name));
    out = start_values;
    return true;
  }
  std::uint64_t StartProgram(std::string_view name,
                             const std::vector<ZelProgramVariable>& values) override {
    if (name != program) return 0;
    starts.push_back(values);
    vars.clear();
    for (const auto& v : values) vars[v.name] = v.value;
    running = true;
    return ++run_;
  }
  std::uint64_t LoadedRun() const override { return run_; }
  bool ProgramRunning() const override { return running; }
  void StopProgram() override {
    ++stops;
    running = false;
    axis_on = false;
  }
  bool ReadProgramVariable(std::string_view name, double& value) override {
    auto it = vars.find(name);
    if (it == vars.end()) return Fail("no program variable " + std::string(name));
    value = it->second;
    return true;
  }
  bool WriteProgramVariable(std::string_view name, double value) override {
    vars[std::string(name)] = value;
    return true;
  }
  bool AxisOn() const override { return axis_on; }
  int LogCapacityWords() const override { return log_words; }
  bool StartLog(const ZelLogRequest& request) override {
    log_request = request;
    return true;
  }
  bool UploadLog(ZelLogData& data) override {
    data = log;
    return true;
  }
  bool UploadLogBlock(ZelLogData& data, bool look_again, std::size_t& recorded) override {
    if (log_block_points == 0) return CZel_DriveLink::UploadLogBlock(data, look_again, recorded);
    const std::size_t have = data.points.size();
    if (have >= log_fails_from)
      return Fail("the log's block from point " + std::to_string(have) + " did not come");
    recorded = log.points.size();
    data.period_s = log.period_s;
    for (std::size_t k = have; k < std::min(recorded, have + log_block_points); ++k)
      data.points.push_back(log.points[k]);
    return true;
  }
  bool StartStream(const ZelStreamRequest& request) override {
    stream_request = request;
    return streams;
  }
  void StopStream() override {}
  bool PopMessage(std::vector<std::uint8_t>& message) override {
    if (messages.empty()) return false;
    message = messages.front();
    messages.erase(messages.begin());
    return true;
  }
  std::size_t PendingMessageCount() const override { return messages.size(); }
  std::string LastError() const override { return error_; }
  // The link to this drive was lost, for `why` (its calls still answer: only Lost() tells).
  void Lose(std::string why) {
    lost_ = true;
    error_ = std::move(why);
  }
  bool Lost() const override { return lost_; }

  // A drive that knows only `program_name`, with these variables.
  static std::shared_ptr<FakeDrive> For(std::string program_name,
                                        std::vector<ZelProgramVariable> variables) {
    auto drive = std::make_shared<FakeDrive>();
    drive->program = std::move(program_name);
    drive->start_values = std::move(variables);
    return drive;
  }

  // The last value written to parameter `name`, if any was.
  std::optional<double> Written(std::string_view name) const {
    for (auto it = parameters_written.rbegin(); it != parameters_written.rend(); ++it)
      if (it->first == name) return it->second;
    return std::nullopt;
  }

  // The program has started the step and runs with the axis on.
  void Started() {
    vars["STARTED"] = 1.0;
    axis_on = true;
  }
  // The program has ended with this test_flag and `points` logged points of `channels`.
  void Ended(double test_flag, int points = 0, int channels = 1) {
    vars["test_flag"] = test_flag;
    axis_on = false;
    running = false;
    log.period_s = 1e-4;
    log.points.assign(static_cast<std::size_t>(points),
                      std::vector<double>(static_cast<std::size_t>(channels), 0.0));
  }

 private:
  bool Fail(std::string error) {
    error_ = std::move(error);
    return false;
  }
  double now_ = 0.0;
  std::uint64_t run_ = 0;
  std::string error_;
  bool lost_ = false;
};

}  // namespace testing_support
