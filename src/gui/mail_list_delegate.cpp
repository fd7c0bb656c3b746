#include "gui/mail_list_delegate.h"

#include <QAbstractItemView>
#include <QMouseEvent>
#include <QPainter>

#include "gui/mail_list_model.h"
#include "text/ansi.h"

namespace pelorix::gui {

namespace {
constexpr int kImageSize = 16;
constexpr int kInset = 2;
}  // namespace

const std::array<QIcon, 12>& RowImages() {
  static const std::array<QIcon, 12> images = [] {
    std::array<QIcon, 12> a;
    for (int i = 0; i < 12; ++i)
      a[static_cast<std::size_t>(i)] = QIcon(QStringLiteral(":/images/row%1.png").arg(i));
    return a;
  }();
  return images;
}

QString CutToColumn(const QString& text, int textWidth, int widthOfA, int columnWidth) {
  const int w = widthOfA + 1;
  if (textWidth + 5 * w <= columnWidth)
    return text;
  // The count is of the on-disk form, where a Chinese character takes two
  // bytes, as wide as two "a" on screen; a character is never split.
  const int keep = columnWidth / w - 5;
  const std::string kept =
      keep > 0 ? CutToAnsiBytes(text.toStdString(), static_cast<std::size_t>(keep)) : std::string();
  return QString::fromStdString(kept) + QStringLiteral("...");
}

void TMailListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  painter->save();
  const QRect cell = option.rect;
  const bool selected = option.state & QStyle::State_Selected;
  QColor fill = ColorFromRef(kListBackground);
  if (selected) {
    // Light enough that the green, blue and grey texts stay readable.
    fill = option.palette.color(QPalette::Highlight).lighter(170);
  }
  painter->fillRect(cell, fill);
  painter->setClipRect(cell);

  const int column = index.column();
  const int image = index.data(ImageRole).toInt();
  if (column <= 4) {
    if (image >= 0 && image < 12) {
      const QRect r(cell.x() + kInset, cell.y() + kInset, kImageSize, kImageSize);
      RowImages()[static_cast<std::size_t>(image)].paint(painter, r, Qt::AlignCenter,
                                                         QIcon::Normal);
    }
  } else {
    QString text = index.data(Qt::DisplayRole).toString();
    const QFontMetrics fm(option.font);
    if (column >= 6)
      text = CutToColumn(text, fm.horizontalAdvance(text), fm.horizontalAdvance(QLatin1Char('a')),
                         cell.width());
    painter->setFont(option.font);
    painter->setPen(index.data(Qt::ForegroundRole).value<QColor>());
    const QRect r = cell.adjusted(kInset, kInset, 0, 0);
    painter->drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  }

  // The focused row gets a dotted frame on yellow, drawn piecewise per cell.
  const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
  if (view && view->currentIndex().row() == index.row() && view->hasFocus()) {
    QPen pen(Qt::black, 1, Qt::DotLine);
    painter->setPen(pen);
    painter->setBackground(ColorFromRef(kFocusColour));
    painter->setBackgroundMode(Qt::OpaqueMode);
    const int top = cell.top(), bottom = cell.bottom();
    painter->drawLine(cell.left(), top, cell.right(), top);
    painter->drawLine(cell.left(), bottom, cell.right(), bottom);
    if (column == 0)
      painter->drawLine(cell.left(), top, cell.left(), bottom);
    if (column == index.model()->columnCount() - 1)
      painter->drawLine(cell.right(), top, cell.right(), bottom);
  }
  painter->restore();
}

QSize TMailListDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  const QSize base = QStyledItemDelegate::sizeHint(option, index);
  return {base.width(), std::max(base.height(), kImageSize + 2 * kInset)};
}

bool TMailListDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                    const QStyleOptionViewItem& option, const QModelIndex& index) {
  if (index.column() == 0 && event->type() == QEvent::MouseButtonPress) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && option.rect.contains(mouse->position().toPoint())) {
      if (auto* list = qobject_cast<TMailListModel*>(model))
        list->ToggleChecked(index.row());
      return false;  // the click still selects the row
    }
  }
  return QStyledItemDelegate::editorEvent(event, model, option, index);
}

}  // namespace pelorix::gui
