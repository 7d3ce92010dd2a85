#pragma once
// The plug-in's texts are UTF-8 std::strings; Qt's widgets take QString.

#include <QString>
#include <string>

inline QString QtText(const std::string& s) { return QString::fromStdString(s); }
