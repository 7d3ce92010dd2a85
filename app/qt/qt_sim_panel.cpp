#include "app/qt/qt_sim_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "sim/simulated_drive.h"

namespace {

QDoubleSpinBox* Spin(double lo, double hi, double step, const char* suffix, QWidget* parent) {
  auto* spin = new QDoubleSpinBox(parent);
  spin->setRange(lo, hi);
  spin->setSingleStep(step);
  spin->setDecimals(3);
  spin->setSuffix(suffix);
  return spin;
}

}  // namespace

QtSimulatedDrivePanel::QtSimulatedDrivePanel(std::shared_ptr<dcsim::SimulatedDrive> drive,
                                             QWidget* parent)
    : QWidget(parent, Qt::Tool), drive_(std::move(drive)) {
  setWindowTitle("Simulated drive");
  auto* form = new QFormLayout(this);

  auto* turn_row = new QHBoxLayout;
  turn_ = Spin(-1000.0, 1000.0, 0.5, " rad", this);
  turn_->setValue(6.283);
  auto* turn = new QPushButton("Turn", this);
  turn->setObjectName("turn");
  turn_row->addWidget(turn_);
  turn_row->addWidget(turn);
  form->addRow("Turn the shaft by hand", turn_row);
  connect(turn, &QPushButton::clicked, this, [this] { Apply("turn", turn_->value()); });

  pot_ = Spin(-10.0, 10.0, 0.1, " V", this);
  form->addRow("Potentiometer", pot_);
  connect(pot_, &QDoubleSpinBox::valueChanged, this, [this](double v) { Apply("pot", v); });

  enable_ = new QCheckBox("ENABLE input active", this);
  enable_->setChecked(true);
  form->addRow(enable_);
  connect(enable_, &QCheckBox::toggled, this, [this](bool on) { Apply("enable_off", on ? 0 : 1); });

  blocked_ = new QCheckBox("Shaft blocked", this);
  blocked_->setObjectName("shaft_blocked");
  form->addRow(blocked_);
  connect(blocked_, &QCheckBox::toggled, this,
          [this](bool on) { Apply("shaft_blocked", on ? 1 : 0); });

  auto* fault_row = new QHBoxLayout;
  fault_ = new QComboBox(this);
  for (const dcsim::ConditionInfo& c : dcsim::Conditions()) {
    fault_->addItem(c.name);
    fault_->setItemData(fault_->count() - 1, QString(c.help) + " (" + c.value_help + ")",
                        Qt::ToolTipRole);
  }
  fault_value_ = Spin(-1e6, 1e6, 1.0, "", this);
  fault_value_->setValue(1.0);
  auto* inject = new QPushButton("Inject", this);
  fault_row->addWidget(fault_);
  fault_row->addWidget(fault_value_);
  fault_row->addWidget(inject);
  form->addRow("Fault or action", fault_row);
  connect(inject, &QPushButton::clicked, this,
          [this] { Apply(fault_->currentText().toStdString(), fault_value_->value()); });

  state_ = new QLabel(this);
  state_->setObjectName("drive_state");
  form->addRow("Drive", state_);

  status_ = new QLabel(this);
  status_->setWordWrap(true);
  form->addRow(status_);

  // The drive's state changes under the panel (a notice blocks the shaft, the end of a test
  // frees it, a protection trips): the boxes show what the drive has, not what was clicked.
  auto* follow = new QTimer(this);
  connect(follow, &QTimer::timeout, this, [this] { ShowDriveState(); });
  follow->start(kFollowPeriod_ms);
  ShowDriveState();
}

void QtSimulatedDrivePanel::ShowDriveState() {
  const bool blocked = drive_->GetPlant().Faults().shaft_blocked;
  if (blocked_->isChecked() != blocked) {
    const QSignalBlocker quiet(blocked_);
    blocked_->setChecked(blocked);
  }
  const unsigned mer = drive_->Mer();
  state_->setText(QString("shaft %1, axis %2, MER 0x%3")
                      .arg(blocked ? "blocked" : "free", drive_->AxisOn() ? "on" : "off")
                      .arg(mer, 4, 16, QChar('0')));
}

bool QtSimulatedDrivePanel::Apply(const std::string& name, double value) {
  std::string error;
  const bool ok = drive_->Inject(name, value, error);
  ShowDriveState();
  status_->setText(ok ? QString("%1 = %2").arg(QString::fromStdString(name)).arg(value)
                      : QString::fromStdString(error));
  return ok;
}

QString QtSimulatedDrivePanel::Status() const { return status_->text(); }

