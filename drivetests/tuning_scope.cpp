#include "drivetests/tuning_scope.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "host/zel_errors.h"
#include "host/zel_logger.h"
#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

// The communication layer takes a plain function: one per slot, each passing the message to
// the receiver of its slot.
struct FrameRoute {
  const TuningScope* owner = nullptr;
  TuningScope::FrameReceiver receive;
};
FrameRoute g_routes[2];

template <int slot>
int FrameHandler(const std::uint8_t* message, std::size_t bytes) {
  const FrameRoute& route = g_routes[slot];
  return route.receive ? route.receive(message, bytes) : 0;
}
constexpr ZelUnsolicitedMsgHandler kFrameHandlers[] = {&FrameHandler<0>, &FrameHandler<1>};
static_assert(std::size(kFrameHandlers) == std::size(g_routes));

}  // namespace

TuningScope::TuningScope(CZel_Setup& setup, CZel_CoffFormat* coff) {
  if (std::atoi(setup.GetOptionNoError(option::hasOscilloscope).c_str()) != 0)
    logger_ = std::make_unique<CZel_ScopeLogger>(setup, coff);
}

TuningScope::~TuningScope() {
  if (handler_installed_) CZel_Comm::RegisterReceiveUnsolicitedMsgHandler(previous_handler_);
  if (slot_ >= 0 && g_routes[slot_].owner == this) g_routes[slot_] = {};
}

void TuningScope::LoadSettings(const char* option, const std::vector<std::string>& variables) {
  custom_ = logger_->LoadSettingsFromSetupOption(option) != 0;
  if (custom_) return;
  for (const std::string& name : variables) logger_->AddVariable(name.c_str(), 1);
}

void TuningScope::ResetToDefaults(const std::vector<std::string>& variables) {
  custom_ = false;
  logger_->ResetToDefaults();
  logger_->RemoveAllVariables();
  for (const std::string& name : variables) logger_->AddVariable(name.c_str(), 1);
}

void TuningScope::SaveSettings(CZel_Setup& setup, const char* option) const {
  if (custom_ && logger_) logger_->SaveSettingsToSetupOption(option);
  else setup.SetOption(option, "");
}

void TuningScope::RouteFrames(int slot, FrameReceiver receive) {
  slot_ = slot;
  g_routes[slot] = {this, std::move(receive)};
  previous_handler_ = CZel_Comm::RegisterReceiveUnsolicitedMsgHandler(kFrameHandlers[slot]);
  handler_installed_ = true;
}

int TuningScope::TakeFrame(const std::uint8_t* message, std::size_t bytes) {
  zel_msg::View view;
  if (!logger_ || !zel_msg::Parse(message, bytes, view) || view.code != zel_msg::kLoggerFrame)
    return 0;
  if (logger_->OnFrameReceive(view.data_bytes, view.data) <= 0) return 0;
  frame_received_ = true;
  return 1;
}

TuningScope::Tick TuningScope::Poll(bool stop_requested) {
  if (stop_requested) {
    // The frames still on their way belong to the run.
    CZel_Comm::CheckForUnrequestedMessages();
    return Tick::Ended;
  }
  frame_received_ = false;
  if (logger_->DoGracefulStop()) return Tick::Ended;
  CZel_Comm::CheckForUnrequestedMessages();
  if (!logger_->UploadInProgress()) return Tick::Lost;
  return frame_received_ ? Tick::Frames : Tick::NoFrames;
}

void ScaleSpeedTestChannels(CZel_ScopeLogger& scope, CZel_Setup& setup, ScopeChannels which) {
  if (which == ScopeChannels::FinalValue) {
    const double v = ValueInSelectedUnit(setup, param::TestSpeed);
    RescaleScopePair(scope, var::Speed_Reference, var::Load_Speed, std::fabs(0.25 * v),
                     SelectedUnitName(setup, param::TestSpeed),
                     ZelQuietBaseValue(setup, param::TestSpeed) < 0.0 ? -4.0 : 0.0);
  } else if (which == ScopeChannels::Current) {
    RescaleCurrentPair(scope, setup);
  }
}

void ScalePositionTestChannels(CZel_ScopeLogger& scope, CZel_Setup& setup, ScopeChannels which,
                               bool over_speed_loop) {
  const double p = ZelQuietBaseValue(setup, param::TestPosition);
  if (which == ScopeChannels::FinalValue) {
    RescaleScopePair(scope, var::Target_Position, var::Load_Position,
                     std::fabs(0.25 * ValueInSelectedUnit(setup, param::TestPosition)),
                     SelectedUnitName(setup, param::TestPosition), p < 0.0 ? -4.0 : 0.0);
  } else if (which == ScopeChannels::Speed && over_speed_loop) {
    const double ramp =
        std::min(ZelQuietBaseValue(setup, param::TaPP), ZelQuietBaseValue(setup, param::TaNP));
    if (!(ramp > 0.0)) return;
    const double peak_base = p / ramp;
    const CZel_Parameter* speed = setup.FindOptionalParameter(param::TestSpeed);
    const double peak = speed ? speed->GetSelectedUnit().FromBase(peak_base) : peak_base;
    RescaleScopePair(scope, var::Speed_Reference, var::Load_Speed, std::fabs(0.5 * peak),
                     SelectedUnitName(setup, param::TestSpeed), 2.0);
  } else if (which == ScopeChannels::Current && !over_speed_loop) {
    RescaleCurrentPair(scope, setup);
  }
}

}  // namespace dcservo
