#include "app/qt/qt_session.h"

#include <QApplication>
#include <cstdlib>

#include "app/install_layout.h"

QtGuiSession::QtGuiSession(int& argc, char** argv) {
  if (!QApplication::instance()) app_ = std::make_unique<QApplication>(argc, argv);
  backend_ = std::make_unique<QtUiBackend>();
  previous_ = ZelSetUiBackend(backend_.get());
  if (!std::getenv("DCSERVO_GUI_DIR")) ZelSetGUIDirectory(install_layout::ResourceDirectory());
}

QtGuiSession::~QtGuiSession() {
  ZelSetUiBackend(previous_);
  backend_.reset();
  app_.reset();
}
