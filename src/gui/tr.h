#pragma once
// The window's texts through the translation of the window's language. One
// context for the whole program: the Chinese source texts name themselves.
// Texts kept in tables are marked QT_TR_NOOP() and shown through Tr();
// scripts/update-translations gathers both into translations/pelorix_en.ts.

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
