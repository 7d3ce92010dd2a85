#pragma once
// The streaming scope of the tuning tests: the drive's scope logger when the setup says the
// drive has one, whether the user keeps settings of their own for it, the route of its frames
// from the communication layer to the open test, and what one timer tick of a streamed run
// finds. The dialog decides what to show; this holds the scope.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drivetests/online_view.h"
#include "host/zel_comm.h"

class CZel_CoffFormat;
class CZel_ScopeLogger;
class CZel_Setup;

namespace dcservo {

class TuningScope {
 public:
  using FrameReceiver = std::function<int(const std::uint8_t* message, std::size_t bytes)>;

  // No scope when the setup's `hasOscilloscope` option is 0.
  TuningScope(CZel_Setup& setup, CZel_CoffFormat* coff);
  // Gives the drive's messages back to the handler that had them before.
  ~TuningScope();
  TuningScope(const TuningScope&) = delete;
  TuningScope& operator=(const TuningScope&) = delete;

  bool Present() const { return logger_ != nullptr; }
  CZel_ScopeLogger* Logger() const { return logger_.get(); }

  // The scales and trigger follow the profile until the user sets their own.
  bool Custom() const { return custom_; }
  void SetCustom(bool custom) { custom_ = custom; }
  bool FollowsProfile() const { return logger_ && !custom_; }

  // The user's settings from the setup option; the test's own variables when it holds none
  // (their scales and trigger are then the caller's to set).
  void LoadSettings(const char* option, const std::vector<std::string>& variables);
  // Forgets the user's settings and takes the test's own variables again.
  void ResetToDefaults(const std::vector<std::string>& variables);
  // Keeps the user's settings in the option, or clears it when they follow the profile.
  void SaveSettings(CZel_Setup& setup, const char* option) const;

  // The drive's unsolicited messages go to `receive` while this scope lives. One route per
  // slot, one slot per kind of test: a later scope of the same slot takes the route over.
  void RouteFrames(int slot, FrameReceiver receive);
  // A whole unsolicited message: 1 when it was a logger frame that the scope took, else 0.
  int TakeFrame(const std::uint8_t* message, std::size_t bytes);

  enum class Tick {
    Ended,     // stopped by the user, or the scope's single sweep is done
    Lost,      // the upload ended under the run
    Frames,    // frames arrived
    NoFrames,  // none arrived: the caller asks the drive how it is
  };
  // One tick of a streamed run: polls the drive's messages, whose frames reach the receiver.
  Tick Poll(bool stop_requested);

 private:
  std::unique_ptr<CZel_ScopeLogger> logger_;
  bool custom_ = false;
  bool frame_received_ = false;
  int slot_ = -1;
  ZelUnsolicitedMsgHandler previous_handler_ = nullptr;
  bool handler_installed_ = false;
};

// The channel scales that each test's profile asks for. The speed test: its speeds at a
// quarter of the test speed, its currents from the test's current limit.
void ScaleSpeedTestChannels(CZel_ScopeLogger& scope, CZel_Setup& setup, ScopeChannels which);
// The position test: its positions at a quarter of the test position; over the speed loop its
// speeds at half the peak speed of the shorter ramp, else its currents.
void ScalePositionTestChannels(CZel_ScopeLogger& scope, CZel_Setup& setup, ScopeChannels which,
                               bool over_speed_loop);

}  // namespace dcservo
