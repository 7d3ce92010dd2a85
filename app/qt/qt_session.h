#pragma once
// Puts the dialogs on screen for the lifetime of the object: a QApplication (unless one
// exists), the Qt backend installed as the UI seam, and the help and images found in the
// program's resources folder.

#include <memory>

#include "app/qt/qt_backend.h"

class QApplication;

class QtGuiSession {
 public:
  // argc and argv must outlive the session, as QApplication requires.
  QtGuiSession(int& argc, char** argv);
  ~QtGuiSession();
  QtGuiSession(const QtGuiSession&) = delete;
  QtGuiSession& operator=(const QtGuiSession&) = delete;

  QtUiBackend& Backend() { return *backend_; }

 private:
  std::unique_ptr<QApplication> app_;
  std::unique_ptr<QtUiBackend> backend_;
  UiBackend* previous_ = nullptr;
};
