#include "sim/simulated_drive.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

#include "host/zel_errors.h"
#include "host/zel_names.h"
#include "host/zel_numeric.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"

namespace param = dcservo::param;
namespace var = dcservo::var;

namespace dcsim {

namespace {

struct VariableName {
  const char* name;
  LiveVar id;
  bool writable;
  bool wide;  // 32 bits in the drive's memory
};

// The drive's live variables under the names the setups use for them.
constexpr VariableName kVariables[] = {
    {var::MER, LiveVar::MER, true, false},
    {var::APOS, LiveVar::MotorPosition, false, true},
    {var::APOS_MT, LiveVar::MotorPosition, false, true},
    {var::Motor_Position, LiveVar::MotorPosition, false, true},
    {var::APOS_LD, LiveVar::LoadPosition, false, true},
    {var::Load_Position, LiveVar::LoadPosition, false, true},
    {var::ASPD, LiveVar::MotorSpeed, false, false},
    {var::ASPD_MT, LiveVar::MotorSpeed, false, false},
    {var::Motor_Speed, LiveVar::MotorSpeed, false, false},
    {var::ASPD_LD, LiveVar::LoadSpeed, false, false},
    {var::Load_Speed, LiveVar::LoadSpeed, false, false},
    {var::TPOS, LiveVar::TargetPosition, false, true},
    {var::Target_Position, LiveVar::TargetPosition, false, true},
    {var::TSPD, LiveVar::TargetSpeed, false, false},
    {var::Target_Speed, LiveVar::TargetSpeed, false, false},
    {var::SPDREF, LiveVar::SpeedReference, false, false},
    {var::Speed_Reference, LiveVar::SpeedReference, false, false},
    {var::Motor_Speed_Reference, LiveVar::SpeedReference, false, false},
    {var::SPDREFL, LiveVar::SpeedReference, false, false},
    {var::POSERR, LiveVar::PositionError, false, true},
    {var::Position_Error, LiveVar::PositionError, false, true},
    {var::SPDERR, LiveVar::SpeedError, false, false},
    {var::Speed_Error, LiveVar::SpeedError, false, false},
    {"IQREF", LiveVar::CurrentReference, false, false},
    {var::Current_Reference, LiveVar::CurrentReference, false, false},
    {"IQ", LiveVar::MotorCurrent, false, false},
    {var::Motor_Current, LiveVar::MotorCurrent, false, false},
    {"UQREF", LiveVar::VoltageReference, false, false},
    {var::Voltage_Reference, LiveVar::VoltageReference, false, false},
    {var::AD5, LiveVar::AD5, false, false},
    {var::AD2, LiveVar::AD2, false, false},
    {var::AD2FIL_VAL, LiveVar::AD2, false, false},
    {var::var_u2, LiveVar::VarU2, false, false},
    {var::var_i2, LiveVar::VarI2, true, false},
    {"Current_Injection", LiveVar::CurrentInjection, false, false},
};

const VariableName* FindVariable(std::string_view name) {
  for (const VariableName& v : kVariables) {
    if (zel::NamesEqual(v.name, name)) return &v;
  }
  return nullptr;
}

constexpr double kRestSpeed_rad_s = 1e-3;

}  // namespace

SimulatedDrive::SimulatedDrive(const PlantConfig& plant) {
  const int resolution = std::max(plant.adc_resolution, 2);
  adc_ = Converter(resolution);
  current_scale_ = adc_.Max() / (2.0 * plant.imax_ps_A);
  counts_per_rad_ = plant.encoder_lines * 4.0 / (2.0 * std::numbers::pi);
  tacho_counts_per_rad_s_ = resolution * plant.tacho_V_per_rad_s / plant.analogue_range_V;
  tacho_limit_ = resolution / 2.0 - 1.0;
  if (plant.analogue_range_V == 20.0) {
    pot_lo_V_ = -10.0;
    pot_hi_V_ = 10.0;
  } else {
    pot_lo_V_ = 0.0;
    pot_hi_V_ = plant.analogue_range_V == 5.0 ? 5.0 : 3.3;
  }
  plant_.Configure(plant, pwm_period_);
  ApplyChipChanges();
  SampleEncoder();
  SampleSlowSensors();
}

// ---- time ----------------------------------------------------------------------------------

double SimulatedDrive::FastPeriod() const { return pwm_period_ * settings_.clper; }
double SimulatedDrive::SlowPeriod() const { return pwm_period_ * settings_.slper; }

void SimulatedDrive::ApplyChipChanges() {
  if (!chip_dirty_) return;
  chip_dirty_ = false;
  settings_ = chip_.Compile();
  firmware_.Configure(settings_);
  pwm_period_ = 2.0 * settings_.pwmper / plant_.Config().dsp_freq_Hz;
  plant_.SetPeriod(pwm_period_);
  fast_countdown_ = std::min(fast_countdown_, settings_.clper);
  slow_countdown_ = std::min(slow_countdown_, settings_.slper);
  const std::size_t window = static_cast<std::size_t>(std::max(1, settings_.slper / settings_.clper));
  if (fast_positions_.size() != window) {
    fast_positions_.assign(window, load_position_);
    fast_position_index_ = 0;
  }
}

bool SimulatedDrive::Idle() const {
  return !axis_on_ && !ProgramRunning() && !log_.active && !stream_.active && !plant_.Moving();
}

void SimulatedDrive::AdvanceTo(double seconds) {
  ApplyChipChanges();
  for (;;) {
    const bool action_due = !actions_.empty() && actions_.front().time <= seconds;
    const double until = action_due ? actions_.front().time : seconds;
    const double span = until - time_;
    const auto n = span > 0.0 ? static_cast<std::uint64_t>(span / pwm_period_ + 1e-9) : 0;
    if (n > 0) {
      plant_.SettleIfSlow(axis_on_ ? 0.0 : kRestSpeed_rad_s);
      if (Idle()) {
        // Nothing moves and nothing listens: the time passes without a step.
        time_ += static_cast<double>(n) * pwm_period_;
        SampleEncoder();
      } else {
        RunPeriods(n);
      }
    }
    if (!action_due) break;
    const Pending action = actions_.front();
    actions_.erase(actions_.begin());
    std::string ignored;
    Inject(action.name, action.value, ignored);
  }
}

void SimulatedDrive::RunPeriods(std::uint64_t n) {
  const double volts_per_count = plant_.Supply() / kFullScale;
  const double trip_A = plant_.Config().short_circuit_A;
  for (std::uint64_t k = 0; k < n; ++k) {
    if (const std::uint64_t quiet = QuietPeriods(n - k); quiet > 0) {
      PassQuietPeriods(quiet);
      k += quiet - 1;
      continue;
    }
    if (const std::uint64_t driven = DrivenPeriods(n - k); driven > 0) {
      const bool more = (program_ && program_->Running() && program_->WantsFastTicks()) ||
                        (log_.active && log_.loop == ZelLogRequest::kFastLoop);
      k += (more ? RunDrivenPeriods<true>(driven, volts_per_count, trip_A)
                 : RunDrivenPeriods<false>(driven, volts_per_count, trip_A)) -
           1;
      continue;
    }
    const i64 first_half = command_;
    if (--slow_countdown_ <= 0) {
      slow_countdown_ = settings_.slper;
      SlowSample();
    }
    if (--fast_countdown_ <= 0) {
      fast_countdown_ = settings_.clper;
      FastSample(slow_countdown_ == settings_.slper);
    }
    plant_.Step(static_cast<double>(first_half) * volts_per_count,
                static_cast<double>(command_) * volts_per_count, axis_on_);
    if (axis_on_ && std::abs(plant_.Current()) > trip_A) Trip(kMerShortCircuit);
  }
  ReadHeldEncoderSample();
  periods_simulated_ += n;
  time_ += static_cast<double>(n) * pwm_period_;
}

std::uint64_t SimulatedDrive::QuietPeriods(std::uint64_t left) const {
  if (axis_on_ || settings_.loops_in_fast_loop || slow_countdown_ <= 1) return 0;
  if (log_.active && log_.loop == ZelLogRequest::kFastLoop) return 0;
  if (program_ && program_->Running() &&
      (program_->WantsFastTicks() || program_->CurrentProtection() > 0))
    return 0;
  if (!plant_.StillWithBridgeOff()) return 0;
  return std::min(left, static_cast<std::uint64_t>(slow_countdown_ - 1));
}

void SimulatedDrive::PassQuietPeriods(std::uint64_t m) {
  slow_countdown_ -= static_cast<int>(m);
  const auto due = static_cast<std::uint64_t>(fast_countdown_);
  if (m < due) {
    fast_countdown_ -= static_cast<int>(m);
    return;
  }
  const auto every = static_cast<std::uint64_t>(settings_.clper);
  const std::uint64_t samples = 1 + (m - due) / every;
  fast_countdown_ = static_cast<int>(every - (m - due) % every);
  // What each of those fast samples would have done, once.
  HoldEncoderSample();
  i_meas_ = adc_.Bipolar(plant_.Current() * current_scale_);
  current_sum_ += i_meas_ * static_cast<i64>(samples);
  current_samples_ += static_cast<int>(samples);
  command_ = 0;
}

std::uint64_t SimulatedDrive::DrivenPeriods(std::uint64_t left) const {
  if (!axis_on_ || settings_.loops_in_fast_loop || settings_.clper != 1 || fast_countdown_ != 1 ||
      slow_countdown_ <= 1 || every_period_in_full_)
    return 0;
  return std::min(left, static_cast<std::uint64_t>(slow_countdown_ - 1));
}

template <bool kTicksOrLogs>
std::uint64_t SimulatedDrive::RunDrivenPeriods(std::uint64_t m, double volts_per_count,
                                               double trip_A) {
  // FastSample's work in its order, with what cannot change between slow samples read once:
  // only the host starts a program or a log, and a program that ends takes the axis with it.
  TestProgram* const program = program_ && program_->Running() ? program_.get() : nullptr;
  const bool ticks = kTicksOrLogs && program && program->WantsFastTicks();
  // A protection of 0 or less is none.
  const i64 protection = program && program->CurrentProtection() > 0
                             ? program->CurrentProtection()
                             : std::numeric_limits<i64>::max();
  bool logging = kTicksOrLogs && log_.active && log_.loop == ZelLogRequest::kFastLoop;
  std::uint64_t j = 0;
  while (j < m && axis_on_) {
    const i64 first_half = command_;
    // The shaft reaches the decoder through a program's tick or a log's point, or else only
    // at the last fast sample: a slow sample or the end of the run follows it. One that stops
    // the axis earlier leaves the next period to the full step.
    if (ticks || logging || j + 1 == m) HoldEncoderSample();
    i_meas_ = adc_.Bipolar(plant_.Current() * current_scale_);
    current_sum_ += i_meas_;
    ++current_samples_;
    if (ticks) program->FastTick(*this);
    if (std::llabs(i_meas_) > protection && program->Running()) [[unlikely]]
      program->TripCurrentProtection(*this);
    command_ = axis_on_ ? firmware_.FastLoop(i_meas_) : 0;
    if (logging) {
      Record();
      logging = log_.active;
    }
    plant_.Step(static_cast<double>(first_half) * volts_per_count,
                static_cast<double>(command_) * volts_per_count, axis_on_);
    if (axis_on_ && std::abs(plant_.Current()) > trip_A) [[unlikely]] Trip(kMerShortCircuit);
    ++j;
  }
  slow_countdown_ -= static_cast<int>(j);
  return j;
}

// ---- sampling ------------------------------------------------------------------------------

namespace {

// The decoder counts edges into the drive's 32-bit position register, which wraps; so does
// the count here, however far a load has driven the shaft.
i64 Wrap32(i64 x) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(x)); }

}  // namespace

void SimulatedDrive::SampleEncoder() {
  encoder_sample_held_ = false;
  DecodeEncoder(plant_.Angle(), plant_.Speed());
}

void SimulatedDrive::HoldEncoderSample() {
  held_encoder_sample_ = ShaftSample{plant_.Angle(), plant_.Speed()};
  encoder_sample_held_ = true;
}

void SimulatedDrive::ReadHeldEncoderSample() {
  if (!encoder_sample_held_) return;
  encoder_sample_held_ = false;
  DecodeEncoder(held_encoder_sample_.angle_rad, held_encoder_sample_.speed_rad_s);
}

namespace {

// The true count of the shaft's angle (in counts) modulo 2^32, as the counter holds it.
i64 CounterOfShaft(double counts) {
  if (std::abs(counts) < 9.2e18) {
    // Within 64 bits the floor and the modulo are integer work: the same count.
    i64 whole = static_cast<i64>(counts);
    if (static_cast<double>(whole) > counts) --whole;
    return whole & 0xFFFFFFFF;
  }
  constexpr double kTurnOfCounter = 4294967296.0;
  const double x = std::floor(counts);
  const double counter =
      std::isfinite(x) ? x - kTurnOfCounter * std::floor(x / kTurnOfCounter) : 0.0;
  return ZelSaturatingCast<i64>(std::clamp(counter, 0.0, kTurnOfCounter - 1));
}

}  // namespace

void SimulatedDrive::DecodeEncoder(double angle_rad, double speed_rad_s) {
  const i64 t = CounterOfShaft(angle_rad * counts_per_rad_);
  const i64 d = Wrap32(t - encoder_true_last_);
  encoder_true_last_ = t;
  encoder_counter_ = Wrap32(encoder_counter_ + d * encoder_sign_);
  motor_position_ = settings_.reverse_counting ? -encoder_counter_ : encoder_counter_;
  if (settings_.sensors != Sensors::Tacho) load_position_ = motor_position_;
  if (settings_.sensors != Sensors::MotorEncoder) {
    const double c = std::nearbyint(speed_rad_s * tacho_counts_per_rad_s_);
    tacho_counts_ = ZelSaturatingCast<i64>(std::clamp(c, -tacho_limit_, tacho_limit_));
  }
}

void SimulatedDrive::SampleSlowSensors() {
  vdc_meas_ = adc_.Unipolar(plant_.Supply() * adc_.Max() / plant_.Config().vdc_max_measurable_V);
  ad5_ = adc_.Unipolar((pot_V_ - pot_lo_V_) / (pot_hi_V_ - pot_lo_V_) * adc_.Max());
}

void SimulatedDrive::FastSample(bool encoder_sampled) {
  // The program's state is read once: nothing before its fast tick changes it.
  TestProgram* const program = program_ && program_->Running() ? program_.get() : nullptr;
  if (!encoder_sampled) {
    if (settings_.loops_in_fast_loop) {
      SampleEncoder();
    } else {
      HoldEncoderSample();
    }
  }
  i_meas_ = adc_.Bipolar(plant_.Current() * current_scale_);
  current_sum_ += i_meas_;
  ++current_samples_;
  if (settings_.loops_in_fast_loop) {
    // The loops in the fast loop still count speed per slow-loop period: the position
    // change over that many fast samples.
    i64& oldest = fast_positions_[fast_position_index_];
    const i64 encoder_speed = load_position_ - oldest;
    oldest = load_position_;
    fast_position_index_ = (fast_position_index_ + 1) % fast_positions_.size();
    motor_speed_ = settings_.sensors == Sensors::MotorEncoder ? encoder_speed : tacho_counts_;
    load_speed_ = settings_.sensors == Sensors::Tacho ? tacho_counts_ : encoder_speed;
    if (axis_on_) firmware_.SlowLoop(load_position_, motor_speed_);
  }
  if (program) {
    if (program->WantsFastTicks()) program->FastTick(*this);
    const i64 protection = program->CurrentProtection();
    if (protection > 0 && std::llabs(i_meas_) > protection && program->Running())
      program->TripCurrentProtection(*this);
  }
  command_ = axis_on_ ? firmware_.FastLoop(i_meas_) : 0;
  if (log_.active && log_.loop == ZelLogRequest::kFastLoop) Record();
}

void SimulatedDrive::SlowSample() {
  SampleEncoder();
  if (!settings_.loops_in_fast_loop) {
    if (settings_.sensors == Sensors::Tacho) {
      tacho_position_ += tacho_counts_;
      load_position_ = tacho_position_;
    }
    const i64 encoder_speed = load_position_ - slow_position_last_;
    slow_position_last_ = load_position_;
    motor_speed_ = settings_.sensors == Sensors::MotorEncoder ? encoder_speed : tacho_counts_;
    load_speed_ = settings_.sensors == Sensors::Tacho ? tacho_counts_ : encoder_speed;
  }
  mean_current_ = current_samples_ ? static_cast<double>(current_sum_) / current_samples_
                                   : static_cast<double>(i_meas_);
  current_sum_ = 0;
  current_samples_ = 0;

  if (program_ && program_->Running()) program_->SlowTick(*this);
  if (axis_on_ && !settings_.loops_in_fast_loop) firmware_.SlowLoop(load_position_, motor_speed_);

  if (axis_on_) {
    if (limit_positive_) Trip(kMerPositiveLimit);
    if (limit_negative_) Trip(kMerNegativeLimit);
    if (firmware_.ControlErrorTripped()) Trip(kMerControlError);
    if (enable_off_) Trip(0);
  }
  if (log_.active && log_.loop == ZelLogRequest::kSlowLoop) Record();
  if (stream_.active) StreamSample();
}

// ---- protections and the axis --------------------------------------------------------------

unsigned SimulatedDrive::LiveMer() const {
  unsigned mer = 0;
  if (enable_off_) mer |= kMerDisabled;
  if (limit_positive_) mer |= kMerPositiveLimit;
  if (limit_negative_) mer |= kMerNegativeLimit;
  return mer;
}

bool SimulatedDrive::SwitchAxisOn() {
  if (enable_off_ || limit_positive_ || limit_negative_ ||
      (latched_ & (kMerShortCircuit | kMerControlError)))
    return false;
  axis_on_ = true;
  command_ = 0;
  return true;
}

void SimulatedDrive::Trip(unsigned mer_bit) {
  latched_ |= mer_bit;
  if (!axis_on_) return;
  axis_on_ = false;
  command_ = 0;
  if (program_ && program_->Running()) program_->AxisLost(*this);
}

// ---- variables and parameters --------------------------------------------------------------

double SimulatedDrive::Value(LiveVar v) const {
  switch (v) {
    case LiveVar::MER: return Mer();
    case LiveVar::MotorPosition: return static_cast<double>(motor_position_);
    case LiveVar::LoadPosition: return static_cast<double>(load_position_);
    case LiveVar::MotorSpeed: return static_cast<double>(motor_speed_);
    case LiveVar::LoadSpeed: return static_cast<double>(load_speed_);
    case LiveVar::TargetPosition: return static_cast<double>(firmware_.TargetPosition());
    case LiveVar::TargetSpeed:
      return static_cast<double>(FromQ16(firmware_.structure == Structure::Speed
                                             ? firmware_.speed_command_q16
                                             : firmware_.trajectory_speed_q16));
    case LiveVar::SpeedReference: return static_cast<double>(firmware_.SpeedReference());
    case LiveVar::PositionError: return static_cast<double>(firmware_.PositionError());
    case LiveVar::SpeedError: return static_cast<double>(firmware_.SpeedError());
    case LiveVar::CurrentReference: return static_cast<double>(firmware_.CurrentReference());
    case LiveVar::MotorCurrent: return static_cast<double>(i_meas_);
    case LiveVar::VoltageReference:
      return axis_on_ ? static_cast<double>(firmware_.VoltageCommand()) : 0.0;
    case LiveVar::AD5: return static_cast<double>(ad5_);
    case LiveVar::AD2:
      return static_cast<double>(tacho_counts_) * adc_.Step() + 32768.0;
    case LiveVar::VarU2: return static_cast<double>(vdc_meas_);
    case LiveVar::VarI2: return var_i2_;
    case LiveVar::CurrentInjection:
      return axis_on_ ? static_cast<double>(firmware_.current_injection) : 0.0;
  }
  return 0.0;
}

bool SimulatedDrive::ReadVariable(std::string_view name, double& value) {
  const VariableName* v = FindVariable(name);
  if (!v) {
    error_ = "the drive has no variable \"" + std::string(name) + "\"";
    return false;
  }
  value = Value(v->id);
  return true;
}

bool SimulatedDrive::WriteVariable(std::string_view name, double value) {
  const VariableName* v = FindVariable(name);
  if (!v) {
    error_ = "the drive has no variable \"" + std::string(name) + "\"";
    return false;
  }
  if (!v->writable || !std::isfinite(value)) {
    error_ = "the drive's variable \"" + std::string(name) + "\" cannot be written";
    return false;
  }
  // Writing MER acknowledges the latched protections whose bits are written as 0.
  if (v->id == LiveVar::MER) latched_ &= static_cast<unsigned>(ChipInt(value));
  else var_i2_ = value;
  return true;
}

bool SimulatedDrive::WriteParameter(std::string_view name, double value) {
  if (name.empty() || !std::isfinite(value)) {
    error_ = "the drive refuses parameter \"" + std::string(name) + "\"";
    return false;
  }
  chip_.Write(name, value);
  chip_dirty_ = true;
  return true;
}

// ---- programs ------------------------------------------------------------------------------

bool SimulatedDrive::DescribeProgram(std::string_view name, std::vector<ZelProgramVariable>& vars) {
  auto program = MakeTestProgram(name);
  if (!program) {
    error_ = "the drive has no program \"" + std::string(name) + "\"";
    return false;
  }
  vars = program->Variables();
  return true;
}

std::uint64_t SimulatedDrive::StartProgram(std::string_view name,
                                           const std::vector<ZelProgramVariable>& vars) {
  ApplyChipChanges();
  auto program = MakeTestProgram(name);
  if (!program) {
    error_ = "the drive has no program \"" + std::string(name) + "\"";
    return 0;
  }
  for (const ZelProgramVariable& v : vars) {
    double* slot = program->Find(v.name);
    if (!slot) {
      error_ = "the program \"" + program->Name() + "\" has no variable \"" + v.name + "\"";
      return 0;
    }
    *slot = v.value;
  }
  if (ProgramRunning()) program_->AxisLost(*this);
  axis_on_ = false;
  // A new run acknowledges what stopped the last one; conditions still present trip again.
  latched_ = 0;
  firmware_.Reset();
  firmware_.structure = StructureOfAcr(settings_.acr);
  program_ = std::move(program);
  ++run_;
  program_->Start(*this);
  return run_;
}

void SimulatedDrive::StopProgram() {
  if (ProgramRunning()) program_->RequestStop();
}

bool SimulatedDrive::ReadProgramVariable(std::string_view name, double& value) {
  double* slot = program_ ? program_->Find(name) : nullptr;
  if (!slot) {
    error_ = program_ ? "the program \"" + program_->Name() + "\" has no variable \"" +
                            std::string(name) + "\""
                      : std::string("no program is loaded");
    return false;
  }
  value = *slot;
  return true;
}

bool SimulatedDrive::WriteProgramVariable(std::string_view name, double value) {
  const ZelProgramVariable* declared = program_ ? program_->Declaration(name) : nullptr;
  if (!declared) {
    error_ = !program_ ? std::string("no program is loaded")
                       : "the program \"" + program_->Name() + "\" has no variable \"" +
                             std::string(name) + "\"";
    return false;
  }
  double held = 0.0;
  if (!declared->Representable(value, held, error_)) return false;
  *program_->Find(name) = held;
  return true;
}

// ---- data log and scope stream -------------------------------------------------------------

bool SimulatedDrive::StartLog(const ZelLogRequest& request) {
  std::vector<LiveVar> vars;
  int words = 0;
  for (const std::string& name : request.variables) {
    const VariableName* v = FindVariable(name);
    if (!v) {
      error_ = "the drive cannot log \"" + name + "\": it has no such variable";
      return false;
    }
    vars.push_back(v->id);
    words += v->wide ? 2 : 1;
  }
  if (vars.empty() || request.points < 1 || request.divider < 1 ||
      (request.loop != ZelLogRequest::kSlowLoop && request.loop != ZelLogRequest::kFastLoop)) {
    error_ = "the log request is not one the drive can record";
    return false;
  }
  if (static_cast<long long>(request.points) * words > kLogCapacityWords) {
    error_ = "the log needs " + std::to_string(static_cast<long long>(request.points) * words) +
             " words; the drive's log memory has " + std::to_string(kLogCapacityWords);
    return false;
  }
  log_ = {};
  log_.active = true;
  log_.loop = request.loop;
  log_.divider = request.divider;
  log_.points = request.points;
  log_.vars = std::move(vars);
  log_.data.reserve(static_cast<std::size_t>(request.points) * log_.vars.size());
  return true;
}

void SimulatedDrive::Record() {
  if (++log_.count < log_.divider) return;
  log_.count = 0;
  ReadHeldEncoderSample();
  log_.started_recording = true;
  for (LiveVar v : log_.vars) log_.data.push_back(Value(v));
  if (static_cast<i64>(log_.data.size() / log_.vars.size()) >= log_.points) log_.active = false;
}

bool SimulatedDrive::UploadLog(ZelLogData& data) {
  data.points.clear();
  std::size_t recorded = 0;
  return UploadLogBlock(data, true, recorded);
}

bool SimulatedDrive::UploadLogBlock(ZelLogData& data, bool /*look_again*/,
                                    std::size_t& recorded) {
  if (log_.vars.empty()) {
    error_ = "no data log was recorded";
    return false;
  }
  const double period = log_.loop == ZelLogRequest::kFastLoop ? FastPeriod() : SlowPeriod();
  data.period_s = period * log_.divider;
  const std::size_t width = log_.vars.size();
  recorded = log_.data.size() / width;
  for (std::size_t k = data.points.size() * width; k + width <= log_.data.size(); k += width)
    data.points.emplace_back(log_.data.begin() + k, log_.data.begin() + k + width);
  return true;
}

bool SimulatedDrive::LoggedPoints(std::size_t& recorded, std::size_t& asked) {
  if (log_.vars.empty() || log_.points < 1) return false;
  recorded = log_.data.size() / log_.vars.size();
  asked = static_cast<std::size_t>(log_.points);
  return true;
}

void SimulatedDrive::FitLogToSlowSamples(i64 samples) {
  if (!log_.active || log_.loop != ZelLogRequest::kSlowLoop || log_.started_recording) return;
  if (samples > log_.points * log_.divider)
    log_.divider = static_cast<int>((samples + log_.points - 1) / log_.points);
}

i64 SimulatedDrive::LogSpanFastSamples() const {
  if (!log_.active) return 0;
  const i64 per = log_.loop == ZelLogRequest::kFastLoop
                      ? 1
                      : std::max(1, settings_.slper / settings_.clper);
  return log_.points * log_.divider * per;
}

bool SimulatedDrive::StartStream(const ZelStreamRequest& request) {
  std::vector<LiveVar> vars;
  for (const std::string& name : request.variables) {
    const VariableName* v = FindVariable(name);
    if (!v) {
      error_ = "the drive cannot stream \"" + name + "\": it has no such variable";
      return false;
    }
    vars.push_back(v->id);
  }
  if (vars.empty() || !(request.period_s > 0.0)) {
    error_ = "the stream request is not one the drive can send";
    return false;
  }
  stream_ = {};
  stream_.active = true;
  stream_.vars = std::move(vars);
  // Never finer than asked: the points a scope asks for then span at least its window (a
  // period rounded down to the nearest sample cut the window's end off).
  const double samples = request.period_s / SlowPeriod();
  stream_.divider = std::max(1, ZelSaturatingRound<int>(std::ceil(samples - 1e-9)));
  stream_.points_per_frame = std::clamp(request.points_per_frame, 1, 64);
  messages_.clear();
  return true;
}

void SimulatedDrive::StreamSample() {
  if (++stream_.count < stream_.divider) return;
  stream_.count = 0;
  for (LiveVar v : stream_.vars) {
    const auto value = static_cast<std::uint32_t>(ZelSaturatingCast<std::int32_t>(Value(v)));
    stream_.words.push_back(static_cast<std::uint16_t>(value & 0xFFFF));
    stream_.words.push_back(static_cast<std::uint16_t>(value >> 16));
  }
  if (++stream_.points < stream_.points_per_frame) return;
  const auto period_ns =
      ZelSaturatingRound<std::uint32_t>(SlowPeriod() * stream_.divider * 1e9);
  std::vector<std::uint16_t> data = {stream_.sequence++,
                                     static_cast<std::uint16_t>(stream_.points),
                                     static_cast<std::uint16_t>(period_ns & 0xFFFF),
                                     static_cast<std::uint16_t>(period_ns >> 16)};
  data.insert(data.end(), stream_.words.begin(), stream_.words.end());
  if (messages_.size() >= kMessageQueueLimit) {
    // A host that stops reading loses the oldest frames; the sequence numbers show it.
    messages_.pop_front();
    ++messages_dropped_;
  }
  messages_.push_back(zel_msg::Build(zel_msg::kLoggerFrame, 1, data));
  stream_.words.clear();
  stream_.points = 0;
}

bool SimulatedDrive::PopMessage(std::vector<std::uint8_t>& message) {
  if (messages_.empty()) return false;
  message = std::move(messages_.front());
  messages_.pop_front();
  return true;
}


// ---- the drive that a setup describes ------------------------------------------------------

PlantConfig PlantConfigFromSetup(const CZel_Setup& setup) {
  PlantConfig c;
  auto value = [&setup](const char* name, double fallback) {
    const CZel_Parameter* p = setup.FindOptionalParameter(name);
    const double v = p ? p->GetValueInBaseUnit() : fallback;
    return std::isfinite(v) ? v : fallback;
  };
  // A setup may believe anything; the hardware has a clock, a supply and a motor. A size
  // that no hardware has (a 0 Hz clock, a negative inductance) leaves the model's own.
  auto size = [&value](const char* name, double fallback, double least = 0.0,
                       double most = 1e12) {
    const double v = value(name, fallback);
    return v > least && v <= most ? v : fallback;
  };
  // The clock bounds the PWM period (at most 65535 ticks), so simulated time always moves.
  c.dsp_freq_Hz = size(param::DSP_freq, c.dsp_freq_Hz, 1e5, 1e10);
  c.vdc_V = size(param::Vdc, c.vdc_V);
  c.vdc_max_measurable_V = size(param::VdcMaxMeasurable, c.vdc_max_measurable_V);
  c.imax_ps_A = size(param::ImaxPS, c.imax_ps_A);
  c.adc_resolution = static_cast<int>(size(param::ADCResolution, c.adc_resolution, 0.0, 65536));
  c.analogue_range_V = size(param::AnalogueInputsRange, c.analogue_range_V);
  c.R_ohm = size(param::R, c.R_ohm);
  c.L_H = size(param::L, c.L_H);
  c.K_Nm_per_A = size(param::K, c.K_Nm_per_A);
  c.J_kgm2 = size(param::Jt, c.J_kgm2);
  // A setup without a load (or without the ratio) swings a load of half the motor's inertia.
  const double load_over_motor = size(param::Jload_over_J, 0.5, 0.0, 1e6);
  c.load_share = load_over_motor / (1.0 + load_over_motor);
  c.encoder_lines = static_cast<int>(size(param::No_encoder_lines, c.encoder_lines, 0.0, 1e8));
  c.tacho_V_per_rad_s = size(param::Tacho_gain, c.tacho_V_per_rad_s);
  const double motor_side = value(param::Motor_transmission, 1.0);
  const double load_side = value(param::Load_transmission, 1.0);
  if (motor_side != 0.0 && load_side != 0.0) c.transmission = motor_side / load_side;
  // The power stage's own trip sits a quarter above what its current sensor can measure.
  c.short_circuit_A = 1.25 * c.imax_ps_A;
  return c;
}

std::shared_ptr<SimulatedDrive> MakeSimulatedDrive(const CZel_Setup& setup) {
  return std::make_shared<SimulatedDrive>(PlantConfigFromSetup(setup));
}

}  // namespace dcsim
