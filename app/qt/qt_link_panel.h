#pragma once
// "Drive link": a small window beside the dialogs while the drive is at the other end of a
// link (--drive): its address and whether it answers. When it stops answering a notice says
// so at once (a run then ends with the link's reason), and the panel opens a new link as
// soon as the drive serves again, or when the user asks.

#include <QWidget>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

class QtDriveLinkPanel : public QWidget {
 public:
  // `reconnect` opens a new link to the same drive and attaches it: empty on success, else
  // why not.
  QtDriveLinkPanel(std::string address, std::function<std::string()> reconnect,
                   QWidget* parent = nullptr);

  // One look at the link: the state shown, the notice when it was just lost, and a new link
  // tried while it is lost (at most every kRetry_ms, or now with `try_now`).
  void Follow(bool try_now = false);
  QString StateText() const;
  bool Connected() const { return connected_; }

  static constexpr int kFollowPeriod_ms = 250;
  static constexpr int kRetry_ms = 2000;
  static constexpr int kProbe_ms = 1000;

 private:
  void ShowState(const std::string& text);
  void ShowLost(const std::string& why);

  std::string address_;
  std::function<std::string()> reconnect_;
  QLabel* state_ = nullptr;
  QPushButton* reconnect_button_ = nullptr;
  bool connected_ = true;
  qint64 last_try_ms_ = 0;
  qint64 last_probe_ms_ = 0;
};
