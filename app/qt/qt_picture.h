#pragma once
// Pictures of dialogs as the Qt front end draws them, without a screen: for screenshots of
// scripted runs and for documentation.

#include <memory>
#include <string>

class CZel_Dialog;
class QApplication;
class QWidget;

// The widget as drawn now, saved as PNG through the atomic writer; empty on success, else
// why not.
std::string SaveWidgetPng(QWidget& widget, const std::string& png_path);

class QtOffscreenPainter {
 public:
  // Starts an off-screen application unless one is already running.
  QtOffscreenPainter();
  ~QtOffscreenPainter();
  QtOffscreenPainter(const QtOffscreenPainter&) = delete;
  QtOffscreenPainter& operator=(const QtOffscreenPainter&) = delete;

  // The dialog as its state stands, saved as PNG; empty on success, else what went wrong.
  std::string SavePicture(CZel_Dialog& dialog, const std::string& png_path);

 private:
  std::unique_ptr<QApplication> app_;
};
