#include "gui/settings_fields.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

#include "store/mail_plan.h"
#include "text/ansi.h"

namespace pelorix::gui {

QValidator::State TDigitsValidator::validate(QString& input, int&) const {
  for (QChar c : input) {
    // The key rule lets control characters through as keys; in the text
    // itself (a paste) they are no digits.
    if (c.unicode() <= 31 || !NumberFieldAccepts(c.unicode()))
      return Invalid;
  }
  return Acceptable;
}

bool FitsAnsiBytes(const QString& text, std::size_t maxBytes) {
  return ToAnsi(text.toStdString()).size() <= maxBytes;
}

QValidator::State TAnsiLimitValidator::validate(QString& input, int&) const {
  return FitsAnsiBytes(input, maxBytes_) ? Acceptable : Invalid;
}

TDigitsSpinBox::TDigitsSpinBox(int minimum, int maximum, QWidget* parent)
    : QAbstractSpinBox(parent), minimum_(minimum), maximum_(maximum) {
  lineEdit()->setMaxLength(10);  // a length in bytes, not an essay
  setText(QString::number(minimum));
}

QString TDigitsSpinBox::text() const {
  return lineEdit()->text();
}

void TDigitsSpinBox::setText(const QString& text) {
  lineEdit()->setText(text);
}

void TDigitsSpinBox::stepBy(int steps) {
  bool ok = false;
  int value = text().toInt(&ok);
  if (!ok)
    value = minimum_;
  setText(QString::number(std::clamp(value + steps, minimum_, maximum_)));
}

QValidator::State TDigitsSpinBox::validate(QString& input, int& pos) const {
  return TDigitsValidator().validate(input, pos);
}

QAbstractSpinBox::StepEnabled TDigitsSpinBox::stepEnabled() const {
  bool ok = false;
  int value = text().toInt(&ok);
  if (!ok)
    return StepUpEnabled;
  StepEnabled e = StepNone;
  if (value < maximum_)
    e |= StepUpEnabled;
  if (value > minimum_)
    e |= StepDownEnabled;
  return e;
}

void TNoEnterMemo::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

}  // namespace pelorix::gui
