#pragma once
// The drive's test programs, one per test. Each declares the variables that the host writes
// and reads, sets STARTED once it runs, keeps test_flag above 0 while all is well (0 when its
// own current protection stopped it) and switches the axis off when it ends. A result that
// is not produced yet holds the unset-value sentinel.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/zel_comm.h"
#include "sim/firmware.h"

namespace dcsim {

inline constexpr double kUnset = kZelNoResultYet;

// What a program reaches of the drive.
class ProgramContext {
 public:
  virtual ~ProgramContext() = default;
  virtual Firmware& Loops() = 0;
  // False when the drive refuses (ENABLE off, a protection that has tripped).
  virtual bool SwitchAxisOn() = 0;
  virtual void SwitchAxisOff() = 0;
  virtual i64 MeasuredCurrent() const = 0;     // the last fast-loop sample
  virtual double MeanCurrent() const = 0;      // over the last slow-loop period
  virtual i64 LoopPosition() = 0;              // what the position loop sees
  virtual double SlowPeriod() const = 0;
  virtual double GeneralVariable() const = 0;  // var_i2
  virtual void SetGeneralVariable(double value) = 0;
  // Stretches a slow-loop data log so that `samples` slow samples fit into its points.
  virtual void FitLogToSlowSamples(i64 samples) = 0;
  // How long, in fast-loop samples, the armed data log records; 0 without one.
  virtual i64 LogSpanFastSamples() const = 0;
};

class TestProgram {
 public:
  TestProgram(std::string name, std::vector<ZelProgramVariable> variables);
  virtual ~TestProgram() = default;
  TestProgram(const TestProgram&) = delete;
  TestProgram& operator=(const TestProgram&) = delete;

  const std::string& Name() const { return name_; }
  const std::vector<ZelProgramVariable>& Variables() const { return vars_; }
  double* Find(std::string_view name);
  const ZelProgramVariable* Declaration(std::string_view name) const;

  bool Running() const { return running_; }
  bool WantsFastTicks() const { return wants_fast_; }
  void RequestStop() { stop_requested_ = true; }
  // The test's own over-current level in current counts; 0 or less: none.
  i64 CurrentProtection() const { return protection_; }

  void Start(ProgramContext& drive);
  void SlowTick(ProgramContext& drive);
  void FastTick(ProgramContext& drive) { OnFast(drive); }
  // The test's current protection tripped.
  void TripCurrentProtection(ProgramContext& drive);
  // The drive switched the axis off (a protection, ENABLE); the program ends with it.
  void AxisLost(ProgramContext& drive) { End(drive); }

 protected:
  virtual void OnStart(ProgramContext& drive) = 0;
  virtual void OnSlow(ProgramContext& drive) = 0;
  virtual void OnFast(ProgramContext&) {}
  // One slow sample after Stop; true once the program may switch the axis off. A program
  // that turns the shaft brings it to rest first, so that the next run starts on a still one.
  virtual bool OnStopping(ProgramContext&) { return true; }

  double& Ref(std::string_view name);
  void End(ProgramContext& drive);
  bool StopRequested() const { return stop_requested_; }
  // Switches the axis on, or ends the run when the drive refuses.
  bool Power(ProgramContext& drive);

  bool wants_fast_ = false;
  i64 protection_ = 0;

 private:
  std::string name_;
  std::vector<ZelProgramVariable> vars_;
  bool running_ = false;
  bool stop_requested_ = false;
};

// The six-segment reference of the speed and position tests: "a%d" samples of a per-sample
// increment "b%d", in 16.16 fixed point.
class Profile {
 public:
  void Load(TestProgram& program);
  void Restart() {
    segment_ = 0;
    left_ = count_[0];
  }
  // The increment of the next sample; false once every segment has run.
  bool Next(i64& increment_q16);
  i64 TotalSamples() const;
  // The largest per-sample increment of any segment; the closing segment's samples.
  i64 SteepestIncrement() const;
  i64 ClosingSamples() const { return count_[5]; }

 private:
  i64 count_[6] = {};
  i64 slope_q16_[6] = {};
  int segment_ = 0;
  i64 left_ = 0;
};

std::unique_ptr<TestProgram> MakeTestProgram(std::string_view name);
const std::vector<std::string>& TestProgramNames();

}  // namespace dcsim
