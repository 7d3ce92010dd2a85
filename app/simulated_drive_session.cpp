#include "app/simulated_drive_session.h"

#include "host/zel_ui_backend.h"

namespace {

std::shared_ptr<CZel_DriveLink> Either(std::shared_ptr<CZel_DriveLink> remote,
                                       std::shared_ptr<dcsim::SimulatedDrive> simulated) {
  return remote ? remote : simulated;
}

}  // namespace

SimulatedDriveSession::SimulatedDriveSession(CZel_Setup& setup,
                                             std::shared_ptr<CZel_DriveLink> remote)
    : drive_(remote ? nullptr : dcsim::MakeSimulatedDrive(setup)), comm_(Either(remote, drive_)) {
  CZel_Comm::SetClock([] { return ZelUi().NowMs() / 1000.0; });
  if (!drive_) return;
  answer_listener_ = ZelAddAnswerListener([this](const ZelMessageBoxRequest& request, int answer) {
    if (answer != kIdOk) return;
    if (request.asks == ZelAskedAction::None) return;
    const bool block = request.asks == ZelAskedAction::BlockShaft;
    if (shaft_blocked_by_fault_) return;
    std::string error;
    if (drive_->Inject("shaft_blocked", block ? 1.0 : 0.0, error)) {
      blocked_by_notice_ = block;
      if (block && on_shaft_blocked) on_shaft_blocked();
    }
  });
  // The notice blocked the shaft for one test: once it closes, the hand that held the shaft
  // lets go, and the next test finds it free.
  action_end_listener_ = ZelAddActionEndListener([this](ZelAskedAction ended) {
    if (ended != ZelAskedAction::BlockShaft || !blocked_by_notice_ || shaft_blocked_by_fault_)
      return;
    std::string error;
    if (drive_->Inject("shaft_blocked", 0.0, error)) blocked_by_notice_ = false;
  });
}

SimulatedDriveSession::~SimulatedDriveSession() {
  ZelRemoveAnswerListener(answer_listener_);
  ZelRemoveActionEndListener(action_end_listener_);
  CZel_Comm::SetClock(nullptr);
}
