#pragma once
// DCOutBar1: the mailbox groups on the left of the list page. Each group is
// a page of large buttons; one group is open (active) at a time and one
// button of the whole bar is down at a time.

#include <QButtonGroup>
#include <QIcon>
#include <QToolBox>
#include <vector>

class QToolButton;

namespace pelorix::gui {

class TOutlookBar final : public QToolBox {
  Q_OBJECT
 public:
  explicit TOutlookBar(QWidget* parent = nullptr);

  void Clear();
  int AddGroup(const QString& caption);
  int AddButton(int group, const QString& caption, const QIcon& icon);
  int GroupCount() const { return static_cast<int>(buttons_.size()); }
  QString GroupCaption(int group) const;
  int ButtonCount(int group) const;
  QString ButtonCaption(int group, int button) const;
  void SetButtonCaption(int group, int button, const QString& caption);
  QToolButton* Button(int group, int button) const;
  // -1 when there is none.
  int ActiveGroup() const { return currentIndex(); }
  void SetActiveGroup(int group) { setCurrentIndex(group); }

 signals:
  void ButtonClicked(int group, int button);

 private:
  std::vector<std::vector<QToolButton*>> buttons_;
  QButtonGroup down_;  // one button down at a time, across groups
};

}  // namespace pelorix::gui
