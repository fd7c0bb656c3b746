#pragma once
// The window's texts through the translation of the window's language. One
// context for the whole program: the Chinese source texts name themselves.

#include <QCoreApplication>
#include <QString>

namespace pelorix::gui {

inline QString Tr(const char* chinese) {
  return QCoreApplication::translate("Pelorix", chinese);
}

inline QString Tr(const QString& chinese) {
  return QCoreApplication::translate("Pelorix", chinese.toUtf8().constData());
}

}  // namespace pelorix::gui
