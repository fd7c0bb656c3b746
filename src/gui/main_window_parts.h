#pragma once
// What the parts of the main window share: text conversions and names.

#include <QIcon>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <string>

namespace pelorix::gui {

inline QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string U(const QString& s) {
  return s.toStdString();
}

// The selection's data; shown through Tr().
inline const QString kAll = QStringLiteral(QT_TR_NOOP("所有信箱"));

inline QIcon Image(const QString& name) {
  return QIcon(QStringLiteral(":/images/") + name + QStringLiteral(".png"));
}

// A counter panel (1 to 3) in the window's language: the engine words the
// counts in Chinese, as the command line prints them.
QString CountPanelText(int panel, const std::string& counted);

// Account file name of an account key: the first "[" becomes "2", the first
// "]" goes.
std::string KeyToFileName(std::string key);

// Reads a text file of the program (GB18030) as lines.
bool ReadTextLines(const std::filesystem::path& file, QStringList& lines);

}  // namespace pelorix::gui
