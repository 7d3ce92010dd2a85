// A file that the layers test must refuse: only app/ uses Qt.
#include <QWidget>
