#include "gui/mail_list_model.h"
#include "gui/tr.h"

#include <algorithm>
#include <numeric>

#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix::gui {
namespace {

const char* const kCaptions[kViewColumns] = {"",
                                             "",
                                             "",
                                             "",
                                             "",
                                             QT_TR_NOOP("长度"),
                                             QT_TR_NOOP("发件人"),
                                             QT_TR_NOOP("标题"),
                                             QT_TR_NOOP("邮箱"),
                                             QT_TR_NOOP("序号"),
                                             QT_TR_NOOP("收件人"),
                                             QT_TR_NOOP("发件人所在地"),
                                             QT_TR_NOOP("发件时间"),
                                             QT_TR_NOOP("标记"),
                                             QT_TR_NOOP("组织名称"),
                                             QT_TR_NOOP("评分")};

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool Has(const std::string& s, std::string_view what) {
  return s.find(what) != std::string::npos;
}

bool IsDeleted(const TMailRow& row) {
  return row.Items[mcDeletionMark] == "Deleted";
}

int ImageOf(const TMailRow& row, int column, bool deletedTickable) {
  const bool gone = Has(row.Items[mcSize], "!");
  switch (column) {
    case 0:
      if (gone && !deletedTickable)
        return riTickGone;
      return row.Checked && (deletedTickable || !IsDeleted(row)) ? riTicked : riUnticked;
    case 1:
      return IsDeleted(row) ? riDeleted : -1;
    case 2:
      if (row.Items[mcVerdictMark] != "Yes")
        return -1;
      return gone ? riSpamDeleted : riSpam;
    case 3: {
      const std::string_view p = ascii::Trim(row.Items[mcPriority]);
      if (p == "5")
        return riPriorityHighest;
      if (p == "4")
        return riPriorityHigh;
      if (p == "2")
        return riPriorityLow;
      return -1;
    }
    case 4: {
      std::string t = row.Items[mcCharsetType];
      std::transform(t.begin(), t.end(), t.begin(), ascii::Lower);
      return Has(t, "text/plain") ? riTextPlain : riOtherType;
    }
    default:
      return -1;
  }
}

// What a screen reader says for an icon cell.
// The score as the column shows it; an unsure message carries a mark.
QString ScoreText(const TMailRow& row) {
  if (row.Score < 0)
    return {};
  return QString::number(row.Score) + (row.Unsure ? QStringLiteral(" ?") : QString());
}

QString ImageText(int image) {
  switch (image) {
    case riDeleted:
      return Tr("已删除");
    case riSpam:
    case riSpamDeleted:
      return Tr("垃圾邮件");
    case riPriorityHighest:
      return Tr("最高");
    case riPriorityHigh:
      return Tr("较高");
    case riPriorityLow:
      return Tr("较低");
    case riTextPlain:
      return QStringLiteral("text/plain");
    case riTicked:
      return Tr("已选");
    case riUnticked:
      return Tr("未选");
    case riTickGone:
      return Tr("已从服务器删除");
    default:
      return {};
  }
}

std::string SortKey(const std::string& utf8) {
  std::string key = ToAnsi(utf8);
  std::transform(key.begin(), key.end(), key.begin(), ascii::Upper);
  return key;
}

}  // namespace

QColor ColorFromRef(std::uint32_t ref) {
  return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
}

int CompareListTexts(const std::string& a, const std::string& b) {
  const int r = SortKey(a).compare(SortKey(b));
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

QString PriorityName(const std::string& priorityItem) {
  const std::string p(ascii::Trim(priorityItem));
  bool ok = false;
  const int n = QString::fromStdString(p).toInt(&ok);
  switch (ok ? n : 3) {
    case 5:
      return Tr("最高");
    case 4:
      return Tr("较高");
    case 2:
      return Tr("较低");
    case 1:
      return Tr("最低");
    default:
      return Tr("普通");
  }
}

TMailListModel::TMailListModel(TMailList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list), count_(static_cast<int>(list.Count())) {}

int TMailListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : count_;
}

int TMailListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kViewColumns;
}

TMailRow TMailListModel::Row(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= list_.Count())
    return {};
  return list_.Row(static_cast<std::size_t>(row));
}

QVariant TMailListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count_)
    return {};
  const int c = index.column();
  if (role == Qt::BackgroundRole)
    return ColorFromRef(kListBackground);
  const TMailRow row = Row(index.row());
  const bool gone = Has(row.Items[mcSize], "!");
  switch (role) {
    case Qt::DisplayRole:
      if (c == 0)
        return {};
      if (c == kScoreColumn)
        return ScoreText(row);
      if (c == 5 && gone) {
        std::string size = row.Items[mcSize];
        size.erase(size.find('!'), 1);
        return Q(size);
      }
      return Q(row.Items[c - 1]);
    case Qt::AccessibleTextRole: {
      if (c <= 4)
        return ImageText(ImageOf(row, c, deletedTickable_));
      if (c == kScoreColumn)
        return row.Score < 0 ? QString()
                             : (row.Unsure ? Tr("评分 %1，待定") : Tr("评分 %1")).arg(row.Score);
      return Q(row.Items[c - 1]);
    }
    case Qt::CheckStateRole:
      if (c != 0)
        return {};
      return row.Checked && Tickable(row) ? Qt::Checked : Qt::Unchecked;
    case ImageRole:
      return ImageOf(row, c, deletedTickable_);
    case GoneRole:
      return gone;
    case Qt::ForegroundRole:
      if (gone)
        return ColorFromRef(kGrey);
      return ColorFromRef(c == 5 ? kBlue : kGreen);
    case Qt::ToolTipRole:
      if (c == kScoreColumn)
        return row.Clues.empty() ? QVariant() : QVariant(Q(row.Clues));
      return c >= 6 ? Q(row.Items[c - 1]) : QVariant();
    default:
      return {};
  }
}

QVariant TMailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kViewColumns)
    return {};
  if (role == Qt::DisplayRole)
    return Tr(kCaptions[section]);
  if (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole) {
    static const char* const kIconColumns[5] = {QT_TR_NOOP("全部选定"), QT_TR_NOOP("已删除"),
                                                QT_TR_NOOP("垃圾邮件"), QT_TR_NOOP("优先级"),
                                                QT_TR_NOOP("类型")};
    return Tr(section < 5 ? kIconColumns[section] : kCaptions[section]);
  }
  return {};
}

Qt::ItemFlags TMailListModel::flags(const QModelIndex& index) const {
  if (!index.isValid())
    return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == 0)
    f |= Qt::ItemIsUserCheckable;
  return f;
}

void TMailListModel::sort(int column, Qt::SortOrder order) {
  if (column <= 0 || column >= kViewColumns)
    return;
  const std::size_t item = static_cast<std::size_t>(column - 1);
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<std::size_t> newPlace;  // old row -> new row
  list_.WithRows([&](std::vector<TMailRow>& rows) {
    // Keys once per row: the comparison works on the on-disk form.
    std::vector<std::string> keys(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      // Scores sort as numbers: three digits after a sign byte for "none".
      keys[i] = column == kScoreColumn
                    ? (rows[i].Score < 0 ? std::string("0") : "1" + ZeroPad(rows[i].Score, 3))
                    : SortKey(rows[i].Items[item]);
    }
    std::vector<std::size_t> order_(rows.size());
    std::iota(order_.begin(), order_.end(), 0);
    const bool ascending = order == Qt::AscendingOrder;
    std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
      const int r = keys[a].compare(keys[b]);
      return ascending ? r < 0 : r > 0;
    });
    std::vector<TMailRow> sorted;
    sorted.reserve(rows.size());
    newPlace.assign(rows.size(), 0);
    for (std::size_t i = 0; i < order_.size(); ++i) {
      newPlace[order_[i]] = i;
      sorted.push_back(std::move(rows[order_[i]]));
    }
    rows = std::move(sorted);
  });
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& i : before) {
    const auto r = static_cast<std::size_t>(i.row());
    after.push_back(r < newPlace.size() ? index(static_cast<int>(newPlace[r]), i.column())
                                        : QModelIndex());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TMailListModel::Reload() {
  BeginReload();
  EndReload();
}

void TMailListModel::BeginReload() {
  beginResetModel();
}

void TMailListModel::EndReload() {
  count_ = static_cast<int>(list_.Count());
  endResetModel();
}

void TMailListModel::RowAdded(std::size_t index) {
  const int last = static_cast<int>(std::min(index + 1, list_.Count())) - 1;
  if (last >= count_) {
    beginInsertRows({}, count_, last);
    count_ = last + 1;
    endInsertRows();
  }
}

void TMailListModel::RefreshAll() {
  const int rows = static_cast<int>(list_.Count());
  if (rows > count_) {
    beginInsertRows({}, count_, rows - 1);
    count_ = rows;
    endInsertRows();
  }
  if (count_ > 0)
    emit dataChanged(index(0, 0), index(count_ - 1, kViewColumns - 1));
}

void TMailListModel::SetChecked(int row, bool checked) {
  if (row < 0 || row >= count_)
    return;
  bool changed = false;
  list_.WithRows([&](std::vector<TMailRow>& rows) {
    auto r = static_cast<std::size_t>(row);
    if (r >= rows.size())
      return;
    const bool value = checked && Tickable(rows[r]);
    changed = rows[r].Checked != value;
    rows[r].Checked = value;
  });
  if (changed)
    emit dataChanged(index(row, 0), index(row, 0));
}

void TMailListModel::ToggleChecked(int row) {
  SetChecked(row, !Row(row).Checked);
}

bool TMailListModel::Tickable(const TMailRow& row) const {
  return deletedTickable_ || !IsDeleted(row);
}

void TMailListModel::SetDeletedRowsTickable(bool tickable) {
  if (deletedTickable_ == tickable)
    return;
  deletedTickable_ = tickable;
  if (count_ > 0)
    emit dataChanged(index(0, 0), index(count_ - 1, 0));
}

void TMailListModel::SetAllChecked(bool checked) {
  list_.WithRows([&](std::vector<TMailRow>& rows) {
    for (TMailRow& r : rows) {
      // A message deleted on the server cannot be chosen again.
      r.Checked = checked && Tickable(r);
    }
  });
  if (count_ > 0)
    emit dataChanged(index(0, 0), index(count_ - 1, 0));
}

}  // namespace pelorix::gui
