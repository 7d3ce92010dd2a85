// The module's one export: the Qt front end behind the program's Qt-free interface.

#include <QtGlobal>
#include <cstdio>
#include <optional>

#include "app/gui_module.h"
#include "app/qt/qt_link_panel.h"
#include "app/qt/qt_picture.h"
#include "app/qt/qt_report_pdf.h"
#include "app/qt/qt_session.h"
#include "app/qt/qt_sim_panel.h"

namespace {

class QtPainter : public GuiPainter {
 public:
  std::string SavePicture(CZel_Dialog& dialog, const std::string& png_path) override {
    return painter_.SavePicture(dialog, png_path);
  }

 private:
  QtOffscreenPainter painter_;
};

class QtScreen : public GuiScreen {
 public:
  QtScreen() : session_(argc_, argv_) {}

  void ShowDrivePanel(std::shared_ptr<dcsim::SimulatedDrive> drive) override {
    panel_.emplace(std::move(drive));
    panel_->show();
  }
  void ShowShaftBlocked(bool) override {
    if (panel_) panel_->ShowDriveState();
  }
  void ShowDriveLink(const std::string& address,
                     std::function<std::string()> reconnect) override {
    link_.emplace(address, std::move(reconnect));
    link_->show();
  }

 private:
  // QApplication keeps references to them for its lifetime.
  static inline int argc_ = 1;
  static inline char name_[] = "dcservo";
  static inline char* argv_[] = {name_, nullptr};
  QtGuiSession session_;
  std::optional<QtSimulatedDrivePanel> panel_;
  std::optional<QtDriveLinkPanel> link_;
};

// Qt's notes on its surroundings (no runtime folder, a font substituted) are not the
// command's to print: a command that draws no window says only what it did.
void KeepQuiet(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    std::fprintf(stderr, "dcservo: Qt: %s\n", text.toLocal8Bit().constData());
}

std::string PrintReportPdf(const ZelReportDocument& report, std::string& pdf) {
  const QtMessageHandler previous = qInstallMessageHandler(KeepQuiet);
  std::string why;
  {
    QtOffscreenPainter application;  // fonts and painting need one, a display does not
    why = DrawReportPdf(report, pdf);
  }
  qInstallMessageHandler(previous);
  return why;
}

const GuiModuleApi kApi = {
    [] { return std::unique_ptr<GuiPainter>(std::make_unique<QtPainter>()); },
    [] { return std::unique_ptr<GuiScreen>(std::make_unique<QtScreen>()); },
    PrintReportPdf,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const GuiModuleApi* dcservo_gui_module() {
  return &kApi;
}
