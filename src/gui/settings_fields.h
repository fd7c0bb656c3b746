#pragma once
// Input fields of the settings window: the digits-only number fields, text
// fields held to the store's byte limits, the length field with its up-down
// control and the one-line-per-entry memo that ignores Enter.

#include <QAbstractSpinBox>
#include <QPlainTextEdit>
#include <QValidator>
#include <cstddef>

namespace pelorix::gui {

// Digits only, whether typed or pasted; a refused edit leaves the text as it
// was. Control keys (backspace, delete, arrows) are never characters here.
class TDigitsValidator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& pos) const override;
};

// Refuses text whose on-disk form (GB18030) would exceed `maxBytes`, so a
// stored value is never cut in the middle of a character.
class TAnsiLimitValidator final : public QValidator {
 public:
  TAnsiLimitValidator(std::size_t maxBytes, QObject* parent)
      : QValidator(parent), maxBytes_(maxBytes) {}
  State validate(QString& input, int& pos) const override;

 private:
  std::size_t maxBytes_;
};

// Whether `text` fits in `maxBytes` on disk.
bool FitsAnsiBytes(const QString& text, std::size_t maxBytes);

// A number field that takes any digits but steps between `minimum` and
// `maximum` with its arrows.
class TDigitsSpinBox final : public QAbstractSpinBox {
 public:
  TDigitsSpinBox(int minimum, int maximum, QWidget* parent);
  QString text() const;
  void setText(const QString& text);
  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& pos) const override;

 protected:
  StepEnabled stepEnabled() const override;

 private:
  int minimum_, maximum_;
};

// A memo whose Enter key does nothing: entries of the sender list must stay
// on one line each.
class TNoEnterMemo final : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace pelorix::gui
