#include "app/qt/qt_link_panel.h"

#include <QDateTime>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/qt/qt_text.h"
#include "host/zel_comm.h"

QtDriveLinkPanel::QtDriveLinkPanel(std::string address, std::function<std::string()> reconnect,
                                   QWidget* parent)
    : QWidget(parent, Qt::Tool), address_(std::move(address)), reconnect_(std::move(reconnect)) {
  setWindowTitle("Drive link");
  auto* column = new QVBoxLayout(this);
  state_ = new QLabel(this);
  state_->setObjectName("link_state");
  state_->setWordWrap(true);
  state_->setMinimumWidth(320);
  column->addWidget(state_);
  reconnect_button_ = new QPushButton("Reconnect", this);
  reconnect_button_->setObjectName("reconnect");
  column->addWidget(reconnect_button_);
  connect(reconnect_button_, &QPushButton::clicked, this, [this] { Follow(true); });
  auto* follow = new QTimer(this);
  connect(follow, &QTimer::timeout, this, [this] { Follow(); });
  follow->start(kFollowPeriod_ms);
  Follow();
}

QString QtDriveLinkPanel::StateText() const { return state_->text(); }

void QtDriveLinkPanel::Follow(bool try_now) {
  CZel_DriveLink* link = CZel_Comm::GetLink();
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  // A link that nothing uses would not notice that the drive went: it is asked for the
  // drive's state now and then, as a test's timer asks for it.
  if (link && !link->Lost() && now - last_probe_ms_ >= kProbe_ms) {
    last_probe_ms_ = now;
    double conditions = 0.0;
    link->ReadVariable("MER", conditions);
  }
  const bool answers = link && !link->Lost();
  if (answers) {
    connected_ = true;
    ShowState(address_ + ": connected");
    reconnect_button_->setEnabled(false);
    return;
  }
  const std::string why = link ? link->LastError() : "no link is open";
  if (connected_) ShowLost(why);
  connected_ = false;
  reconnect_button_->setEnabled(true);
  if (!try_now && now - last_try_ms_ < kRetry_ms) return;
  last_try_ms_ = now;
  const std::string refused = reconnect_ ? reconnect_() : "nothing to reconnect with";
  if (refused.empty()) {
    Follow();
    return;
  }
  ShowState(address_ + ": lost; trying again every " + std::to_string(kRetry_ms / 1000) +
            " s (" + refused + ")");
}

// The window takes the height of its text: a shown window keeps its size when a wrapped label
// grows, and the reason why the link is down was cut after its first line.
void QtDriveLinkPanel::ShowState(const std::string& text) {
  state_->setText(QtText(text));
  adjustSize();
}

void QtDriveLinkPanel::ShowLost(const std::string& why) {
  ShowState(address_ + ": lost");
  // Not modal: the dialogs stay usable, and the run that was going on ends with the reason.
  auto* box = new QMessageBox(QMessageBox::Warning, "Drive link",
                              QtText("The drive at " + address_ + " stopped answering (" +
                                     why +
                                     ").\n\nA test that was running has ended. The link is "
                                     "opened again as soon as the drive answers; check its "
                                     "cable or network and that it is switched on."),
                              QMessageBox::Ok);
  box->setObjectName("link_lost");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
}
