#include "sim/programs.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <utility>

#include "host/zel_names.h"
#include "host/zel_numeric.h"
#include "names/drive_names.h"
#include "names/program_names.h"

namespace drive_program = dcservo::drive_program;
namespace program = dcservo::program;

namespace dcsim {

TestProgram::TestProgram(std::string name, std::vector<ZelProgramVariable> variables)
    : name_(std::move(name)), vars_(std::move(variables)) {}

double* TestProgram::Find(std::string_view name) {
  const ZelProgramVariable* v = std::as_const(*this).Declaration(name);
  return v ? &vars_[static_cast<std::size_t>(v - vars_.data())].value : nullptr;
}

const ZelProgramVariable* TestProgram::Declaration(std::string_view name) const {
  for (const ZelProgramVariable& v : vars_) {
    if (zel::NamesEqual(v.name, name)) return &v;
  }
  return nullptr;
}

double& TestProgram::Ref(std::string_view name) {
  double* v = Find(name);
  if (!v) std::abort();  // a program asks only for the variables it declares
  return *v;
}

void TestProgram::Start(ProgramContext& drive) {
  running_ = true;
  stop_requested_ = false;
  OnStart(drive);
}

void TestProgram::SlowTick(ProgramContext& drive) {
  if (stop_requested_) {
    if (OnStopping(drive)) End(drive);
    return;
  }
  OnSlow(drive);
}

void TestProgram::TripCurrentProtection(ProgramContext& drive) {
  Ref(program::test_flag) = 0.0;
  End(drive);
}

void TestProgram::End(ProgramContext& drive) {
  if (!running_) return;
  drive.Loops().current_command = 0;
  drive.SwitchAxisOff();
  running_ = false;
}

bool TestProgram::Power(ProgramContext& drive) {
  if (drive.SwitchAxisOn()) return true;
  End(drive);
  return false;
}

// ---- the reference profile ---------------------------------------------------------------

void Profile::Load(TestProgram& program) {
  char name[8];
  for (int i = 0; i < 6; ++i) {
    std::snprintf(name, sizeof name, "a%d", i);
    const double* a = program.Find(name);
    std::snprintf(name, sizeof name, "b%d", i);
    const double* b = program.Find(name);
    count_[i] = a ? std::clamp<i64>(ChipInt(*a), 0, 4294967295) : 0;
    slope_q16_[i] = b ? std::clamp<i64>(ChipInt(std::round(*b * static_cast<double>(kOne))),
                                        -2147483648, 2147483647)
                      : 0;
  }
  Restart();
}

bool Profile::Next(i64& increment_q16) {
  while (segment_ < 6 && left_ == 0) {
    if (++segment_ < 6) left_ = count_[segment_];
  }
  if (segment_ >= 6) return false;
  --left_;
  increment_q16 = slope_q16_[segment_];
  return true;
}

i64 Profile::SteepestIncrement() const {
  i64 steepest = 0;
  for (i64 slope : slope_q16_) steepest = std::max(steepest, std::abs(slope));
  return steepest;
}

i64 Profile::TotalSamples() const {
  i64 n = 0;
  for (i64 c : count_) n += c;
  return n;
}

namespace {

// The step of a program variable with 16 fraction bits.
constexpr double kQ16Step = 1.0 / static_cast<double>(kOne);

std::vector<ZelProgramVariable> Vars(std::initializer_list<ZelProgramVariable> list,
                                     bool profile = false) {
  std::vector<ZelProgramVariable> vars(list);
  if (profile) {
    // Sample counts are 32-bit unsigned, increments 32-bit with 16 fraction bits.
    for (int i = 0; i < 6; ++i)
      vars.push_back({"a" + std::to_string(i), 0.0, 0.0, 4294967295.0, 1.0});
    for (int i = 0; i < 6; ++i)
      vars.push_back({"b" + std::to_string(i), 0.0, -32768.0, 32768.0 - kQ16Step, kQ16Step});
  }
  return vars;
}

// A 16-bit program variable as the program's arithmetic reads it.
i64 Counts(double v) { return std::clamp<i64>(ChipInt(v), -32768, 32767); }

// ---- Current_Controller_Tuning_Test --------------------------------------------------------

// A current step with the shaft blocked: zero for a few samples, then In1 for as long as
// the data log records.
class CurrentStepTest : public TestProgram {
 public:
  CurrentStepTest()
      : TestProgram(drive_program::Current_Controller_Tuning_Test,
                    Vars({{program::In1, 0.0},
                          {program::Imax_Prot_Test, 0.0},
                          {program::STARTED, 0.0},
                          {program::test_flag, kUnset}})) {
    wants_fast_ = true;
  }

 private:
  static constexpr i64 kLead = 10;
  static constexpr i64 kShortest = 200;

  void OnStart(ProgramContext& drive) override {
    Firmware& loops = drive.Loops();
    loops.Reset();
    loops.structure = Structure::Current;
    protection_ = Counts(Ref(program::Imax_Prot_Test));
    if (!Power(drive)) return;
    hold_ = std::max(kShortest, drive.LogSpanFastSamples() + 10);
    n_ = 0;
    Ref(program::test_flag) = 1.0;
    Ref(program::STARTED) = 1.0;
  }
  void OnSlow(ProgramContext&) override {}
  void OnFast(ProgramContext& drive) override {
    if (!Running()) return;
    ++n_;
    if (n_ == kLead) drive.Loops().current_command = Counts(Ref(program::In1));
    if (n_ >= hold_) End(drive);
  }

  i64 n_ = 0;
  i64 hold_ = kShortest;
};

// ---- speed and position tests ----------------------------------------------------------------

class ProfileTest : public TestProgram {
 public:
  enum class Kind { Speed, PositionOverSpeed, PositionOverCurrent };

  ProfileTest(const char* name, Kind kind)
      : TestProgram(name, Vars(VarsOf(kind), true)), kind_(kind) {}

 private:
  static std::initializer_list<ZelProgramVariable> VarsOf(Kind kind) {
    static const std::initializer_list<ZelProgramVariable> speed = {{program::IlimPS_Test, 0.0},
                                                                    {program::Imax_Prot_Test, 0.0},
                                                                    {program::MultiC, 0.0},
                                                                    {program::STARTED, 0.0},
                                                                    {program::test_flag, kUnset}};
    static const std::initializer_list<ZelProgramVariable> with_speed = {
        {program::LimitSpeed, 0.0},
        {program::Imax_Prot_Test, 0.0},
        {program::MultiC, 0.0},
        {program::STARTED, 0.0},
        {program::test_flag, kUnset}};
    return kind == Kind::PositionOverSpeed ? with_speed : speed;
  }

  void OnStart(ProgramContext& drive) override {
    Firmware& loops = drive.Loops();
    loops.Reset();
    protection_ = Counts(Ref(program::Imax_Prot_Test));
    switch (kind_) {
      case Kind::Speed:
        loops.structure = Structure::Speed;
        loops.current_limit_override = Counts(Ref(program::IlimPS_Test));
        break;
      case Kind::PositionOverSpeed:
        loops.structure = Structure::PositionOverSpeed;
        loops.speed_limit_override = Counts(Ref(program::LimitSpeed));
        break;
      case Kind::PositionOverCurrent:
        loops.structure = Structure::PositionOverCurrent;
        loops.current_limit_override = Counts(Ref(program::IlimPS_Test));
        break;
    }
    profile_.Load(*this);
    // The position reference starts where the load stands.
    loops.target_q16 = ToQ16(drive.LoopPosition());
    if (!Power(drive)) return;
    drive.FitLogToSlowSamples(profile_.TotalSamples());
    previous_ = 0;
    stopped_samples_ = 0;
    Ref(program::test_flag) = 1.0;
    Ref(program::STARTED) = 1.0;
  }

  void OnSlow(ProgramContext& drive) override {
    i64 increment = 0;
    if (!profile_.Next(increment)) {
      if (Ref(program::MultiC) == 0.0) {
        End(drive);
        return;
      }
      profile_.Restart();
      if (!profile_.Next(increment)) {
        End(drive);
        return;
      }
    }
    Firmware& loops = drive.Loops();
    if (kind_ == Kind::Speed) {
      // The profile counts load-encoder speed; a tacho loop on the motor counts TRANSMISION
      // times finer.
      if (loops.Settings().sensors == Sensors::TachoAndLoadEncoder)
        increment *= loops.Settings().tacho_per_encoder;
      loops.speed_command_q16 += increment;
      loops.trajectory_accel_q16 = increment;
    } else {
      loops.target_q16 += increment;
      loops.trajectory_speed_q16 = increment;
      loops.trajectory_accel_q16 = increment - previous_;
      previous_ = increment;
    }
  }

  // Stop ends the run as its profile does: the speed reference ramps down at the profile's
  // steepest slope (a position reference stands still where it is), then the closing hold
  // lets the loops bring the shaft to rest before the axis goes off.
  bool OnStopping(ProgramContext& drive) override {
    Firmware& loops = drive.Loops();
    if (kind_ == Kind::Speed) {
      i64 step = std::max<i64>(profile_.SteepestIncrement(), 1);
      if (loops.Settings().sensors == Sensors::TachoAndLoadEncoder)
        step *= loops.Settings().tacho_per_encoder;
      const i64 speed = loops.speed_command_q16;
      const i64 change = std::clamp(-speed, -step, step);
      loops.speed_command_q16 += change;
      loops.trajectory_accel_q16 = change;
      if (loops.speed_command_q16 != 0) return false;
    } else {
      loops.trajectory_speed_q16 = 0;
      loops.trajectory_accel_q16 = -previous_;
      previous_ = 0;
    }
    return ++stopped_samples_ > profile_.ClosingSamples();
  }

  Kind kind_;
  Profile profile_;
  i64 previous_ = 0;
  i64 stopped_samples_ = 0;
};

// ---- Total_Inertia_Identification_Test ------------------------------------------------------

// A constant current accelerates the shaft; the program times the speed gained between 20 %
// and 80 % of the speed limit. Speeds are position differences over a window, which for a
// constant acceleration lag by the same half window at both ends and so cancel in the
// difference, while the window divides the encoder's count quantisation down.
class InertiaTest : public TestProgram {
 public:
  InertiaTest()
      : TestProgram(
            drive_program::Total_Inertia_Identification_Test,
            Vars({{program::In1, 0.0},
                  {program::LimitSpeedMax, 0.0},
                  {program::Imax_Prot_Test, 0.0},
                  {program::STARTED, 0.0},
                  {program::test_flag, kUnset},
                  {program::delta_time, kUnset},
                  // A speed difference in counts with 16 fraction bits.
                  {program::delta_speed, kUnset, -32768.0, 32768.0 - kQ16Step, kQ16Step}})) {}

 private:
  static constexpr int kWindow = 16;
  static constexpr double kLow = 0.2, kHigh = 0.8;
  static constexpr double kTimeout_s = 4.0;
  static constexpr double kTorqueCheck_s = 0.02;

  void OnStart(ProgramContext& drive) override {
    Firmware& loops = drive.Loops();
    loops.Reset();
    loops.structure = Structure::Current;
    protection_ = Counts(Ref(program::Imax_Prot_Test));
    test_current_ = Counts(Ref(program::In1));
    limit_ = Counts(Ref(program::LimitSpeedMax));
    if (!Power(drive)) return;
    Ref(program::test_flag) = 1.0;
    Ref(program::STARTED) = 1.0;
    if (limit_ <= 0 || test_current_ <= 0) {
      Finish(drive, -3.0, kUnset);
      return;
    }
    trim_ = 0.0;
    loops.current_command = test_current_;
    k_ = 0;
    start_position_ = drive.LoopPosition();
    history_.fill(start_position_);
    t0_ = -1;
  }

  void OnSlow(ProgramContext& drive) override {
    const i64 position = drive.LoopPosition();
    history_[k_ % kWindow] = position;
    const i64 before = history_[(k_ + 1) % kWindow];
    ++k_;
    const double speed = static_cast<double>(position - before) / (kWindow - 1);
    // The back EMF rises along the run; the current loop's integral lags a ramp by a
    // constant, so the program trims its reference until the mean current is the test's.
    trim_ += 0.1 * (static_cast<double>(test_current_) - drive.MeanCurrent());
    drive.Loops().current_command = test_current_ + ZelSaturatingRound<i64>(trim_);

    const double elapsed = static_cast<double>(k_) * drive.SlowPeriod();
    if (elapsed >= kTorqueCheck_s && t0_ < 0 && drive.MeanCurrent() < 0.5 * static_cast<double>(test_current_)) {
      Finish(drive, -2.0, kUnset);
      return;
    }
    if (k_ < kWindow) return;
    const double limit = static_cast<double>(limit_);
    if (t0_ < 0) {
      if (speed <= -kLow * limit) return Finish(drive, -1.0, kUnset);
      if (speed >= kLow * limit) {
        t0_ = k_;
        v0_ = speed;
      } else if (elapsed > kTimeout_s) {
        const bool moved = std::llabs(position - start_position_) > 4;
        return Finish(drive, moved ? -3.0 : -2.0, kUnset);
      }
      return;
    }
    if (speed >= kHigh * limit) {
      Finish(drive, static_cast<double>(k_ - t0_), speed - v0_);
    } else if (elapsed > kTimeout_s) {
      Finish(drive, -3.0, kUnset);
    }
  }

  void Finish(ProgramContext& drive, double delta_time, double delta_speed) {
    Ref(program::delta_time) = delta_time;
    Ref(program::delta_speed) =
        delta_speed == kUnset ? kUnset : std::round(delta_speed / kQ16Step) * kQ16Step;
    End(drive);
  }

  i64 test_current_ = 0, limit_ = 0;
  double trim_ = 0.0;
  i64 k_ = 0, start_position_ = 0, t0_ = -1;
  double v0_ = 0.0;
  std::array<i64, kWindow> history_{};
};

// ---- VDC_Detection_Test ---------------------------------------------------------------------

// The supply is measured every slow sample into var_u2; the program lets the measurement
// settle and reports it as started and done at once, so the host reads a settled value.
class VdcTest : public TestProgram {
 public:
  VdcTest()
      : TestProgram(drive_program::VDC_Detection_Test,
                    Vars({{program::STARTED, 0.0}, {program::test_flag, kUnset}})) {}

 private:
  static constexpr double kSettle_s = 0.02;
  void OnStart(ProgramContext&) override { elapsed_ = 0.0; }
  void OnSlow(ProgramContext& drive) override {
    elapsed_ += drive.SlowPeriod();
    if (elapsed_ < kSettle_s) return;
    Ref(program::test_flag) = 1.0;
    Ref(program::STARTED) = 1.0;
    End(drive);
  }
  double elapsed_ = 0.0;
};

// ---- Encoder_Connection_Test and Analogue_Reference_Test ------------------------------------

// The axis stays off so that a hand can turn the shaft; the counter and the analogue input
// are read live. The encoder test ends when the host writes 1 into var_i2.
class WatchTest : public TestProgram {
 public:
  WatchTest(const char* name, bool ends_on_var_i2)
      : TestProgram(name, Vars({{program::STARTED, 0.0}, {program::test_flag, kUnset}})),
        ends_on_var_i2_(ends_on_var_i2) {}

 private:
  void OnStart(ProgramContext& drive) override {
    drive.SwitchAxisOff();
    if (ends_on_var_i2_) drive.SetGeneralVariable(0.0);
    Ref(program::test_flag) = 1.0;
    Ref(program::STARTED) = 1.0;
  }
  void OnSlow(ProgramContext& drive) override {
    if (ends_on_var_i2_ && drive.GeneralVariable() == 1.0) End(drive);
  }
  bool ends_on_var_i2_;
};

// ---- Frequency_Response_Test ----------------------------------------------------------------

// A sine of `Amplitude` current counts at `Frequency` Hz added to the current reference for
// `Periods` of its periods, while the speed loop holds the shaft at `Speed` (counts per slow
// sample, 16.16) with its gains divided by 2^`Speed_Gain_Shift`. A slow steady turn keeps the
// shaft off its friction's stick and sweeps the encoder's counts past the sine, so that their
// steps do not fold onto it. The sine is computed from the fast sample's count, so its
// phase does not drift over a long run. A request that cannot run (no frequency, one at or above
// half the fast loop's rate, no amplitude, no periods) ends at once with test_flag -1.
class FrequencyResponseTest : public TestProgram {
 public:
  FrequencyResponseTest()
      : TestProgram(drive_program::Frequency_Response_Test,
                    Vars({{program::Frequency, 0.0, 0.0, 32768.0 - kQ16Step, kQ16Step},
                          {program::Amplitude, 0.0},
                          {program::Periods, 0.0},
                          {program::Speed, 0.0, -32768.0, 32768.0 - kQ16Step, kQ16Step},
                          {program::Speed_Gain_Shift, 0.0, 0.0, 15.0, 1.0},
                          {program::Imax_Prot_Test, 0.0},
                          {program::STARTED, 0.0},
                          {program::test_flag, kUnset}})) {
    wants_fast_ = true;
  }

 private:
  static constexpr double kQ16Step = 1.0 / 65536.0;

  void OnStart(ProgramContext& drive) override {
    Firmware& loops = drive.Loops();
    loops.Reset();
    loops.structure = Structure::Speed;
    loops.speed_gain_shift =
        static_cast<int>(std::clamp<i64>(Counts(Ref(program::Speed_Gain_Shift)), 0, 15));
    protection_ = Counts(Ref(program::Imax_Prot_Test));
    const ChipSettings& chip = loops.Settings();
    const double fast_period = drive.SlowPeriod() * chip.clper / std::max(1, chip.slper);
    step_rad_ = 2.0 * std::numbers::pi * Ref(program::Frequency) * fast_period;
    amplitude_ = Counts(Ref(program::Amplitude));
    const i64 periods = Counts(Ref(program::Periods));
    if (!(step_rad_ > 0.0 && step_rad_ < std::numbers::pi) || amplitude_ <= 0 || periods <= 0) {
      Ref(program::test_flag) = -1.0;
      Ref(program::STARTED) = 1.0;
      End(drive);
      return;
    }
    samples_ = static_cast<i64>(std::ceil(2.0 * std::numbers::pi * static_cast<double>(periods) / step_rad_));
    n_ = 0;
    loops.speed_command_q16 = ChipInt(std::round(Ref(program::Speed) * static_cast<double>(kOne)));
    if (!Power(drive)) return;
    Ref(program::test_flag) = 1.0;
    Ref(program::STARTED) = 1.0;
  }
  void OnSlow(ProgramContext&) override {}
  void OnFast(ProgramContext& drive) override {
    if (!Running()) return;
    Firmware& loops = drive.Loops();
    if (n_ >= samples_) {
      loops.current_injection = 0;
      End(drive);
      return;
    }
    loops.current_injection = ZelSaturatingRound<i64>(
        static_cast<double>(amplitude_) * std::sin(step_rad_ * static_cast<double>(n_)));
    ++n_;
  }

  double step_rad_ = 0.0;
  i64 amplitude_ = 0, samples_ = 0, n_ = 0;
};

struct Entry {
  const char* name;
  std::function<std::unique_ptr<TestProgram>()> make;
};

const std::vector<Entry>& Catalogue() {
  static const std::vector<Entry> entries = {
      {drive_program::Current_Controller_Tuning_Test,
       [] { return std::make_unique<CurrentStepTest>(); }},
      {drive_program::Speed_Controller_Tuning_Test,
       [] {
         return std::make_unique<ProfileTest>(drive_program::Speed_Controller_Tuning_Test,
                                              ProfileTest::Kind::Speed);
       }},
      {drive_program::Position_Controller_Tuning_Test_with_SpdCtrl,
       [] {
         return std::make_unique<ProfileTest>(
             drive_program::Position_Controller_Tuning_Test_with_SpdCtrl,
             ProfileTest::Kind::PositionOverSpeed);
       }},
      {drive_program::Position_Controller_Tuning_Test_without_SpdCtrl,
       [] {
         return std::make_unique<ProfileTest>(
             drive_program::Position_Controller_Tuning_Test_without_SpdCtrl,
             ProfileTest::Kind::PositionOverCurrent);
       }},
      {drive_program::Total_Inertia_Identification_Test,
       [] { return std::make_unique<InertiaTest>(); }},
      {drive_program::VDC_Detection_Test, [] { return std::make_unique<VdcTest>(); }},
      {drive_program::Encoder_Connection_Test,
       [] { return std::make_unique<WatchTest>(drive_program::Encoder_Connection_Test, true); }},
      {drive_program::Analogue_Reference_Test,
       [] { return std::make_unique<WatchTest>(drive_program::Analogue_Reference_Test, false); }},
      {drive_program::Frequency_Response_Test,
       [] { return std::make_unique<FrequencyResponseTest>(); }},
  };
  return entries;
}

}  // namespace

std::unique_ptr<TestProgram> MakeTestProgram(std::string_view name) {
  for (const Entry& e : Catalogue()) {
    if (zel::NamesEqual(e.name, name)) return e.make();
  }
  return nullptr;
}

const std::vector<std::string>& TestProgramNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const Entry& e : Catalogue()) out.emplace_back(e.name);
    return out;
  }();
  return names;
}

}  // namespace dcsim
