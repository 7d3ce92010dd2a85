#pragma once
// The simulated drive as a user meets it while dialogs are open: built from the setup,
// attached as the host's drive, its time following the user-interface clock (wall clock on
// screen, virtual clock headless), and its shaft blocked once the user confirms the notice
// that asks for it (freed once the user confirms the notice that asks to free it, or once
// the test it was blocked for has closed).
// Given a drive on a link (--drive), that drive is attached instead, with the same clock;
// a real shaft is blocked by the user's hand, not by the notice.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/zel_comm.h"
#include "sim/simulated_drive.h"

class SimulatedDriveSession {
 public:
  explicit SimulatedDriveSession(CZel_Setup& setup,
                                 std::shared_ptr<CZel_DriveLink> remote = nullptr);
  ~SimulatedDriveSession();
  SimulatedDriveSession(const SimulatedDriveSession&) = delete;
  SimulatedDriveSession& operator=(const SimulatedDriveSession&) = delete;

  // The simulated drive; only without a remote one.
  dcsim::SimulatedDrive& Drive() { return *drive_; }
  bool Simulated() const { return drive_ != nullptr; }
  // Told when the notice has blocked the shaft (a panel shows it).
  std::function<void()> on_shaft_blocked;
  // A shaft blocked as a fault (a brake that does not release, a mechanical stop) stays
  // blocked: confirming the notice that asks to free it does not free it.
  void KeepShaftBlocked() { shaft_blocked_by_fault_ = true; }
  std::shared_ptr<dcsim::SimulatedDrive> SharedDrive() { return drive_; }

 private:
  std::shared_ptr<dcsim::SimulatedDrive> drive_;
  CZel_CommSession comm_;
  int answer_listener_ = 0;
  int action_end_listener_ = 0;
  bool shaft_blocked_by_fault_ = false;
  bool blocked_by_notice_ = false;
};
