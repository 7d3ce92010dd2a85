#pragma once
// The Qt front end lives in a module of its own that only the commands that draw load: a
// command that shows no window starts without Qt's libraries, which cost more to load and
// relocate than the whole of its work. This header is all the program sees of it.

#include <functional>
#include <memory>
#include <string>

#include "host/zel_report_document.h"

class CZel_Dialog;
namespace dcsim {
class SimulatedDrive;
}

// Draws dialogs off screen, without a display.
class GuiPainter {
 public:
  virtual ~GuiPainter() = default;
  // The dialog as its state stands, saved as PNG; empty on success, else what went wrong.
  virtual std::string SavePicture(CZel_Dialog& dialog, const std::string& png_path) = 0;
};

// The dialogs on screen for the object's lifetime.
class GuiScreen {
 public:
  virtual ~GuiScreen() = default;
  // The simulated drive's panel beside the dialogs, so that its shaft, inputs and faults can
  // be tried by hand.
  virtual void ShowDrivePanel(std::shared_ptr<dcsim::SimulatedDrive> drive) = 0;
  // The panel follows a shaft blocked from elsewhere (the blocked-shaft notice).
  virtual void ShowShaftBlocked(bool blocked) = 0;
  // The drive on a link: its address and whether it answers, a notice when it stops, and a
  // new link once it serves again (`reconnect` opens and attaches one: empty on success,
  // else why not).
  virtual void ShowDriveLink(const std::string& address,
                             std::function<std::string()> reconnect) = 0;
};

struct GuiModuleApi {
  std::unique_ptr<GuiPainter> (*make_painter)();
  std::unique_ptr<GuiScreen> (*open_screen)();
  // A report drawn as an A4 PDF, its plots as lines and text, without a display: empty with
  // the bytes in `pdf`, else why not.
  std::string (*print_report_pdf)(const ZelReportDocument& report, std::string& pdf);
};

inline constexpr char kGuiModuleSymbol[] = "dcservo_gui_module";
using GuiModuleEntryFn = const GuiModuleApi* (*)();

// The module beside the plug-in (or DCSERVO_GUI), loaded on first use and kept for the
// program's lifetime; throws CommandError (exit 1) naming the file when it cannot be loaded.
const GuiModuleApi& GuiModule();
