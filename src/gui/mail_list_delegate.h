#pragma once
// Draws the mail list's rows: the tick box, the marks as images, the length
// in blue (grey once deleted on the server), the other texts in green (or
// grey) cut with "..." to their column. Clicking the tick box ticks.

#include <QIcon>
#include <QStyledItemDelegate>
#include <array>

namespace pelorix::gui {

// The row images 0..11 (ImageList1), from the resources.
const std::array<QIcon, 12>& RowImages();

// The text as the list shows it in a column `columnWidth` wide, given the
// width of "a" and of the whole text: cut to (columnWidth div w) - 5
// characters (bytes of the on-disk form) + "..." when it does not fit with
// room for five more.
QString CutToColumn(const QString& text, int textWidth, int widthOfA, int columnWidth);

class TMailListDelegate final : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

}  // namespace pelorix::gui
