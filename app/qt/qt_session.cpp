#include "app/qt/qt_session.h"

#include <QApplication>
#include <cstdlib>

QtGuiSession::QtGuiSession(int& argc, char** argv) {
  if (!QApplication::instance()) app_ = std::make_unique<QApplication>(argc, argv);
  backend_ = std::make_unique<QtUiBackend>();
  previous_ = ZelSetUiBackend(backend_.get());
  // The build tree's resources serve until the program is installed elsewhere.
  if (!std::getenv("DCSERVO_GUI_DIR")) ZelSetGUIDirectory(DCSERVO_RESOURCE_DIR);
}

QtGuiSession::~QtGuiSession() {
  ZelSetUiBackend(previous_);
  backend_.reset();
  app_.reset();
}
