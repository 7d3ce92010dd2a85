#pragma once
// "Simulated drive": a small window beside the dialogs while the simulated drive stands in
// for a real one, so that every test can be tried by hand: turn the shaft, set the
// potentiometer's voltage, switch ENABLE, block or free the shaft, and inject any fault that
// `dcservo drive run --help` lists. It is the drive's hardware, not part of any dialog: it
// answers while a dialog is open.

#include <QWidget>
#include <memory>
#include <string>

namespace dcsim {
class SimulatedDrive;
}
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;

class QtSimulatedDrivePanel : public QWidget {
 public:
  explicit QtSimulatedDrivePanel(std::shared_ptr<dcsim::SimulatedDrive> drive,
                                 QWidget* parent = nullptr);

  // Injects a condition by name; false with the reason shown in the panel.
  bool Apply(const std::string& name, double value);
  QString Status() const;
  // The boxes and the state line as the drive has them now; also a few times a second, so
  // that they follow conditions set from elsewhere (a notice, the end of a test).
  void ShowDriveState();
  static constexpr int kFollowPeriod_ms = 200;

 private:
  std::shared_ptr<dcsim::SimulatedDrive> drive_;
  QDoubleSpinBox* turn_ = nullptr;
  QDoubleSpinBox* pot_ = nullptr;
  QCheckBox* enable_ = nullptr;
  QCheckBox* blocked_ = nullptr;
  QComboBox* fault_ = nullptr;
  QDoubleSpinBox* fault_value_ = nullptr;
  QLabel* state_ = nullptr;
  QLabel* status_ = nullptr;
};
