#include "app/qt/qt_picture.h"

#include <QApplication>
#include <QBuffer>
#include <QPixmap>
#include <cstdlib>  // setenv

#include "app/install_layout.h"
#include "app/qt/qt_dialog_view.h"
#include "host/zel_file.h"
#include "host/zel_ui_backend.h"

namespace {
int g_argc = 1;
char g_name[] = "dcservo";
char* g_argv[] = {g_name, nullptr};
}  // namespace

std::string SaveWidgetPng(QWidget& widget, const std::string& png_path) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!widget.grab().save(&buffer, "PNG")) return png_path + ": the picture cannot be drawn";
  const std::string_view bytes(png.constData(), static_cast<std::size_t>(png.size()));
  return ZelWriteFileAtomically(png_path, bytes);
}

QtOffscreenPainter::QtOffscreenPainter() {
  if (!QApplication::instance()) {
    // Qt reads the platform when the application starts; a display is neither needed nor used.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QApplication>(g_argc, g_argv);
  }
  if (GetGUIDirectory().empty())
    ZelSetGUIDirectory(install_layout::ResourceDirectory());
}

QtOffscreenPainter::~QtOffscreenPainter() = default;

std::string QtOffscreenPainter::SavePicture(CZel_Dialog& dialog, const std::string& png_path) {
  QtDialogView view(dialog, nullptr);
  view.SyncAll();
  // Texts set at run time only take their room once the layouts have run, as on screen.
  view.show();
  QCoreApplication::processEvents();
  view.FitToScreen();
  QCoreApplication::processEvents();
  std::string error = SaveWidgetPng(view, png_path);
  view.hide();
  return error;
}
