#pragma once
// The simulated drive behind the host's communication interface: the firmware's loops on
// the chip parameters written to it, the power stage, the motor with its load, the sensors,
// the protections that set MER, the test programs, the data log and the scope stream.
// Faults and user actions (a shorted motor, a missing encoder channel, a hand on the shaft,
// a potentiometer on the analogue input, ...) are injected by name, at once or at a time.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/zel_comm.h"
#include "host/zel_mer.h"
#include "sim/chip_settings.h"
#include "sim/firmware.h"
#include "sim/plant.h"
#include "sim/programs.h"

class CZel_Setup;

namespace dcsim {

// MER bits, as the host reads them.
inline constexpr unsigned kMerShortCircuit = zel_mer::kShortCircuit;
inline constexpr unsigned kMerControlError = zel_mer::kControlError;
inline constexpr unsigned kMerPositiveLimit = zel_mer::kPositiveLimit;
inline constexpr unsigned kMerNegativeLimit = zel_mer::kNegativeLimit;
inline constexpr unsigned kMerDisabled = zel_mer::kDisabled;

// A condition that can be injected by name: a fault from the start or an action at a time.
struct ConditionInfo {
  const char* name;
  const char* value_help;  // what VALUE means; flags default to 1
  const char* help;
  bool flag;
  // The values taken: flags 0 or 1; a whole number (`whole`) or any from lowest to highest.
  double lowest, highest;
  bool whole;
};
const std::vector<ConditionInfo>& Conditions();
// The condition of that name, null when there is none.
const ConditionInfo* FindCondition(std::string_view name);
// Empty when the condition takes `value`, else why not.
std::string CheckConditionValue(const ConditionInfo& condition, double value);

enum class LiveVar : int {
  MER,
  MotorPosition,
  LoadPosition,
  MotorSpeed,
  LoadSpeed,
  TargetPosition,
  TargetSpeed,
  SpeedReference,
  PositionError,
  SpeedError,
  CurrentReference,
  MotorCurrent,
  VoltageReference,
  AD5,
  AD2,
  VarU2,
  VarI2,
  CurrentInjection,
};

class SimulatedDrive : public CZel_DriveLink, private ProgramContext {
 public:
  explicit SimulatedDrive(const PlantConfig& plant);

  // --- CZel_DriveLink ---
  double Now() const override { return time_; }
  void AdvanceTo(double seconds) override;
  bool ReadVariable(std::string_view name, double& value) override;
  bool WriteVariable(std::string_view name, double value) override;
  bool WriteParameter(std::string_view name, double value) override;
  bool DescribeProgram(std::string_view name, std::vector<ZelProgramVariable>& vars) override;
  std::uint64_t StartProgram(std::string_view name,
                             const std::vector<ZelProgramVariable>& vars) override;
  std::uint64_t LoadedRun() const override { return program_ ? run_ : 0; }
  bool ProgramRunning() const override { return program_ && program_->Running(); }
  void StopProgram() override;
  bool ReadProgramVariable(std::string_view name, double& value) override;
  bool WriteProgramVariable(std::string_view name, double value) override;
  bool AxisOn() const override { return axis_on_; }
  int LogCapacityWords() const override { return kLogCapacityWords; }
  bool StartLog(const ZelLogRequest& request) override;
  bool UploadLog(ZelLogData& data) override;
  // The log is at hand: only the points that `data` lacks are copied (a run that draws its
  // log as it records looks at it every tick).
  bool UploadLogBlock(ZelLogData& data, bool look_again, std::size_t& recorded) override;
  bool LoggedPoints(std::size_t& recorded, std::size_t& asked) override;
  bool StartStream(const ZelStreamRequest& request) override;
  void StopStream() override { stream_.active = false; }
  bool PopMessage(std::vector<std::uint8_t>& message) override;
  std::size_t PendingMessageCount() const override { return messages_.size(); }
  std::string LastError() const override { return error_; }

  // --- injection ---
  // `name` from Conditions(); false with the reason for an unknown name or a bad value.
  bool Inject(std::string_view name, double value, std::string& error);
  bool Schedule(double time_s, std::string_view name, double value, std::string& error);

  // --- for tests and the bench ---
  void RunFor(double seconds) { AdvanceTo(time_ + seconds); }
  // Every driven period through the full step, to check the shorter way against it.
  void StepEveryPeriodInFull(bool on) { every_period_in_full_ = on; }
  Plant& GetPlant() { return plant_; }
  const Firmware& GetFirmware() const { return firmware_; }
  const ChipSettings& GetSettings() const { return settings_; }
  double PwmPeriod() const { return pwm_period_; }
  double SlowPeriod() const override;
  double FastPeriod() const;
  unsigned Mer() const { return latched_ | LiveMer(); }
  double Value(LiveVar v) const;
  std::uint64_t PeriodsSimulated() const { return periods_simulated_; }
  int MessagesDropped() const { return messages_dropped_; }

 private:
  static constexpr int kLogCapacityWords = 16384;
  static constexpr std::size_t kMessageQueueLimit = 4096;

  // --- ProgramContext ---
  Firmware& Loops() override { return firmware_; }
  bool SwitchAxisOn() override;
  void SwitchAxisOff() override { axis_on_ = false; }
  i64 MeasuredCurrent() const override { return i_meas_; }
  double MeanCurrent() const override { return mean_current_; }
  i64 LoopPosition() override {
    ReadHeldEncoderSample();
    return load_position_;
  }
  double GeneralVariable() const override { return var_i2_; }
  void SetGeneralVariable(double value) override { var_i2_ = value; }
  void FitLogToSlowSamples(i64 samples) override;
  i64 LogSpanFastSamples() const override;

  void ApplyChipChanges();
  void RunPeriods(std::uint64_t n);
  // With the axis off and the shaft still, a fast sample only counts a current of nought and
  // holds an encoder sample that does not change: up to the next slow sample the periods are
  // passed in one stride. Of `left` periods, how many may be passed so; 0 when a fast sample
  // has more to do.
  std::uint64_t QuietPeriods(std::uint64_t left) const;
  void PassQuietPeriods(std::uint64_t m);
  // With the axis driven and the loops in the slow loop, a fast sample of CLPER 1 measures the
  // current, ticks the program, watches its current protection, runs the current loop and
  // records a fast-loop log's point, nothing else: the periods up to the next slow sample run
  // in a loop of their own. Of `left` periods, how many; 0 when a period needs the full step.
  std::uint64_t DrivenPeriods(std::uint64_t left) const;
  // The periods run, fewer than `m` when the axis goes off (the next one takes the full step).
  // Without a program's fast ticks or a fast-loop log, a loop that has no test for them.
  template <bool kTicksOrLogs>
  std::uint64_t RunDrivenPeriods(std::uint64_t m, double volts_per_count, double trip_A);
  // `encoder_sampled`: the slow loop of the same period has read the encoder already.
  void FastSample(bool encoder_sampled);
  void SlowSample();
  void SampleEncoder();
  // Decoding the encoder at every fast sample is most of the cost of a period, and between
  // two slow samples only the loops in the fast loop read it at every one. Otherwise a fast
  // sample holds the shaft's state as the decoder saw it and decodes it when someone reads it
  // before the next slow sample supersedes it: a fast-loop log's point, a program asking for
  // the position, anyone outside at the end of the periods run. The counts are those of
  // decoding at once.
  void HoldEncoderSample();
  void ReadHeldEncoderSample();
  void DecodeEncoder(double angle_rad, double speed_rad_s);
  // The supply's and the analogue input's readings. They change only with what an injection
  // changes, so the injection reads them again instead of every slow sample.
  void SampleSlowSensors();
  // A protection switches the power stage off; the program ends with it.
  void Trip(unsigned mer_bit);
  unsigned LiveMer() const;
  bool Idle() const;
  void Record();
  void StreamSample();

  // Hardware.
  Plant plant_;
  Converter adc_;
  double current_scale_ = 3273.6;  // counts per ampere
  double counts_per_rad_ = 318.31;
  double tacho_counts_per_rad_s_ = 0.49;
  double tacho_limit_ = 511.0;
  double pot_lo_V_ = -10.0, pot_hi_V_ = 10.0;

  // Chip and firmware.
  ChipMemory chip_;
  ChipSettings settings_;
  Firmware firmware_;
  bool chip_dirty_ = true;

  // Time.
  double time_ = 0.0;
  double pwm_period_ = 50e-6;
  std::uint64_t periods_simulated_ = 0;
  int fast_countdown_ = 1, slow_countdown_ = 1;
  bool every_period_in_full_ = false;

  // Power stage.
  bool axis_on_ = false;
  // The voltage command (32767 = the supply) in the compare register; a new one takes effect
  // half a period after the fast loop sampled.
  i64 command_ = 0;

  // Sensors as the firmware last read them.
  struct ShaftSample {
    double angle_rad, speed_rad_s;
  };
  ShaftSample held_encoder_sample_{};
  bool encoder_sample_held_ = false;
  i64 encoder_counter_ = 0, encoder_true_last_ = 0;
  i64 motor_position_ = 0, load_position_ = 0;
  i64 motor_speed_ = 0, load_speed_ = 0;
  i64 slow_position_last_ = 0, tacho_position_ = 0;
  i64 i_meas_ = 0;
  i64 current_sum_ = 0;
  int current_samples_ = 0;
  double mean_current_ = 0.0;
  i64 vdc_meas_ = 0, ad5_ = 0, tacho_counts_ = 0;
  double var_i2_ = 0.0;
  std::vector<i64> fast_positions_;  // speed window of the loops in the fast loop
  std::size_t fast_position_index_ = 0;

  // Injected conditions.
  bool encoder_a_missing_ = false, encoder_b_missing_ = false, encoder_swapped_ = false;
  i64 encoder_sign_ = 1;  // how the decoder counts a true count: 1, -1 swapped, 0 not at all
  bool enable_off_ = false, limit_positive_ = false, limit_negative_ = false;
  double pot_V_ = 0.0;
  struct Pending {
    double time;
    std::string name;
    double value;
  };
  std::vector<Pending> actions_;  // sorted by time

  unsigned latched_ = 0;

  // Programs.
  std::unique_ptr<TestProgram> program_;
  std::uint64_t run_ = 0;

  // Data log.
  struct Log {
    bool active = false;
    int loop = ZelLogRequest::kSlowLoop;
    int divider = 1;
    int count = 0;
    i64 points = 0;
    bool started_recording = false;
    std::vector<LiveVar> vars;
    std::vector<double> data;
  } log_;

  // Scope stream.
  struct Stream {
    bool active = false;
    int divider = 1;
    int count = 0;
    int points_per_frame = 8;
    int points = 0;
    std::uint16_t sequence = 0;
    std::vector<LiveVar> vars;
    std::vector<std::uint16_t> words;
  } stream_;
  std::deque<std::vector<std::uint8_t>> messages_;
  int messages_dropped_ = 0;

  mutable std::string error_;
};

// The drive that a setup describes: its hardware and motor taken from the setup's values in
// base units, the real drive being as the setup believes until a fault says otherwise.
PlantConfig PlantConfigFromSetup(const CZel_Setup& setup);
std::shared_ptr<SimulatedDrive> MakeSimulatedDrive(const CZel_Setup& setup);

}  // namespace dcsim
