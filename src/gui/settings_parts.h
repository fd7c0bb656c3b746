#pragma once
// Small builders shared by the pages of the settings window.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QToolButton>
#include <cstddef>
#include <string>
#include <string_view>

#include "gui/settings_fields.h"
#include "gui/tr.h"
#include "store/connection_security.h"
#include "store/mail_plan.h"
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

inline QString ErrorCaption() {
  return Tr("错误！");
}

// The store's width of a number setting.
inline int MaxDigits(std::string_view key, std::string_view name) {
  const TSettingDef* def = FindSettingDef(key, name);
  return def ? def->maxDigits : 4;
}

// A combo box's stored choice (its item data) and choosing one by it.
inline std::string ChosenMode(const QComboBox* combo) {
  const QString mode = combo->currentData().toString();
  return mode.isEmpty() ? std::string(kDefaultSecurity) : S(mode);
}

inline void ChooseMode(QComboBox* combo, const std::string& mode) {
  const int index = combo->findData(Q(mode));
  combo->setCurrentIndex(index >= 0 ? index : 0);
}

// The captions of the account fields, also named when a save fails.
inline QString SecurityFieldCaption() {
  return Tr("连接安全");
}
inline QString DeleteModeCaption() {
  return Tr("删除方式");
}
inline QString LoginFieldCaption() {
  return Tr("登录方式");
}
inline QString ProviderCaption() {
  return Tr("OAuth2 提供者");
}

}  // namespace pelorix::gui::settings
