#pragma once
// The Qt backend of the UI seam: dialogs as Qt windows with nested event loops, window timers
// as QTimers on the wall clock, message boxes, file dialogs, context menus and a help window.

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <functional>
#include <map>
#include <vector>

#include "host/zel_ui_backend.h"

class QEventLoop;
class QTimer;
class QtDialogView;

class QtUiBackend : public UiBackend {
 public:
  QtUiBackend();
  ~QtUiBackend() override;

  void RunModal(CZel_Dialog& dialog) override;
  void EndModal(CZel_Dialog& dialog) override;
  bool SetTimer(CZel_Dialog& dialog, unsigned id, unsigned period_ms) override;
  bool KillTimer(CZel_Dialog& dialog, unsigned id) override;
  int MessageBox(const ZelMessageBoxRequest& request) override;
  bool PumpMessages() override;
  void ShowHelp(const std::string& help_path, unsigned context) override;
  void OpenDocument(const std::string& path) override;
  std::string FileDialog(const ZelFileDialogRequest& request) override;
  int ContextMenu(CZel_Dialog& dialog, const std::vector<ZelMenuItem>& items) override;
  double NowMs() const override;
  unsigned KeyboardModifiers() const override;
  std::string SaveGraphPicture(const CGraphWindow& graph, const std::string& png_path) override;
  std::string PrintReportPdf(const ZelReportDocument& report, std::string& pdf) override;

  QtDialogView* ViewOf(const CZel_Dialog& dialog) const;
  QtDialogView* TopView() const;
  QDialog* HelpWindow() const { return help_; }
  // Called once each dialog is on screen, before its loop runs (tests act on it from here).
  std::function<void(QtDialogView&)> on_shown;

 private:
  struct Modal {
    CZel_Dialog* dialog;
    QtDialogView* view;
    QEventLoop* loop;
  };
  std::vector<Modal> stack_;
  std::map<std::pair<CZel_Dialog*, unsigned>, QTimer*> timers_;
  QElapsedTimer clock_;
  QTimer* clock_tick_ = nullptr;
  QPointer<QDialog> help_;
};
