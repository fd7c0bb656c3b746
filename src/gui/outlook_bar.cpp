#include "gui/outlook_bar.h"
#include "gui/tr.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace pelorix::gui {

TOutlookBar::TOutlookBar(QWidget* parent) : QToolBox(parent) {
  setObjectName(QStringLiteral("DCOutBar1"));
  setAccessibleName(Tr("信箱"));
  down_.setExclusive(true);
}

void TOutlookBar::Clear() {
  while (count() > 0) {
    QWidget* page = widget(0);
    removeItem(0);
    delete page;  // the page owns its buttons
  }
  buttons_.clear();
}

int TOutlookBar::AddGroup(const QString& caption) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(6);
  layout->addStretch(1);
  page->setAccessibleName(caption);
  buttons_.emplace_back();
  return addItem(page, caption);
}

int TOutlookBar::AddButton(int group, const QString& caption, const QIcon& icon) {
  if (group < 0 || group >= GroupCount())
    return -1;
  QWidget* page = widget(group);
  auto* button = new QToolButton(page);
  button->setText(caption);
  button->setAccessibleName(caption);
  button->setIcon(icon);
  button->setIconSize(QSize(32, 32));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setCheckable(true);
  button->setAutoRaise(true);
  button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  down_.addButton(button);
  auto* layout = static_cast<QVBoxLayout*>(page->layout());
  layout->insertWidget(layout->count() - 1, button);
  auto& list = buttons_[static_cast<std::size_t>(group)];
  const int index = static_cast<int>(list.size());
  list.push_back(button);
  auto chosen = [this, button] {
    for (std::size_t g = 0; g < buttons_.size(); ++g) {
      for (std::size_t b = 0; b < buttons_[g].size(); ++b) {
        if (buttons_[g][b] == button) {
          emit ButtonClicked(static_cast<int>(g), static_cast<int>(b));
          return;
        }
      }
    }
  };
  connect(button, &QToolButton::clicked, this, chosen);
  // Assistive technology toggles the button without clicking it; a click
  // (the button held down) reports itself.
  connect(button, &QToolButton::toggled, this, [button, chosen](bool on) {
    if (on && !button->isDown())
      chosen();
  });
  return index;
}

QString TOutlookBar::GroupCaption(int group) const {
  return itemText(group);
}

int TOutlookBar::ButtonCount(int group) const {
  if (group < 0 || group >= GroupCount())
    return 0;
  return static_cast<int>(buttons_[static_cast<std::size_t>(group)].size());
}

QToolButton* TOutlookBar::Button(int group, int button) const {
  if (button < 0 || button >= ButtonCount(group))
    return nullptr;
  return buttons_[static_cast<std::size_t>(group)][static_cast<std::size_t>(button)];
}

QString TOutlookBar::ButtonCaption(int group, int button) const {
  const QToolButton* b = Button(group, button);
  return b ? b->text() : QString();
}

void TOutlookBar::SetButtonCaption(int group, int button, const QString& caption) {
  if (QToolButton* b = Button(group, button)) {
    b->setText(caption);
    b->setAccessibleName(caption);
  }
}

}  // namespace pelorix::gui
