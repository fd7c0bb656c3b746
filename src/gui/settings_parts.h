#pragma once
// Small builders shared by the pages of the settings window.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QToolButton>
#include <cstddef>
#include <string>

#include "gui/settings_fields.h"
#include "store/settings_store.h"

namespace pelorix::gui::settings {

inline QString Q(const std::string& utf8) {
  return QString::fromStdString(utf8);
}
inline std::string S(const QString& text) {
  return text.toStdString();
}

inline QLabel* Caption(const QString& text, QWidget* parent) {
  return new QLabel(text, parent);
}

inline QLabel* Hint(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

// A one-line field named after its control, announced by its label's text,
// held to what the store can keep.
inline QLineEdit* TextField(const char* objectName, const QString& caption, QWidget* parent,
                            std::size_t maxBytes = kMaxTextBytes) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setAccessibleName(caption);
  edit->setValidator(new TAnsiLimitValidator(maxBytes, edit));
  return edit;
}

inline QLineEdit* DigitsField(const char* objectName, const QString& caption, int maxDigits,
                              QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setAccessibleName(caption);
  edit->setValidator(new TDigitsValidator(edit));
  edit->setMaxLength(maxDigits);
  return edit;
}

// A button that shows only a glyph: its hint is what it is called.
inline QToolButton* GlyphButton(const char* objectName, const QIcon& icon, const QString& hint,
                                QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(objectName));
  button->setIcon(icon);
  button->setToolTip(hint);
  button->setAccessibleName(hint);
  return button;
}

// No button of this window is a default one: Enter in a field must not
// press a button behind the user's back.
inline QPushButton* TextButton(const char* objectName, const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(objectName));
  button->setAutoDefault(false);
  button->setDefault(false);
  button->setAccessibleName(caption);
  return button;
}

}  // namespace pelorix::gui::settings
