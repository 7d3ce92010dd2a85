#include "app/simulated_drive_session.h"

#include "dialogs/dialog_names.h"
#include "host/zel_ui_backend.h"

SimulatedDriveSession::SimulatedDriveSession(CZel_Setup& setup)
    : drive_(dcsim::MakeSimulatedDrive(setup)), comm_(drive_) {
  CZel_Comm::SetClock([] { return ZelUi().NowMs() / 1000.0; });
  answer_listener_ = ZelAddAnswerListener([this](const ZelMessageBoxRequest& request, int answer) {
    if (answer != kIdOk || request.text != dcservo::dialog_names::kBlockedShaftNotice) return;
    std::string error;
    if (drive_->Inject("shaft_blocked", 1.0, error) && on_shaft_blocked) on_shaft_blocked();
  });
}

SimulatedDriveSession::~SimulatedDriveSession() {
  ZelRemoveAnswerListener(answer_listener_);
  CZel_Comm::SetClock(nullptr);
}
