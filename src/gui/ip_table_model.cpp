#include "gui/ip_table_model.h"

#include "gui/tr.h"

namespace pelorix::gui {

int TIpTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TIpTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 4;
}

QVariant TIpTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() ||
      (role != Qt::DisplayRole && role != Qt::AccessibleTextRole && role != Qt::ToolTipRole)) {
    return {};
  }
  const TIpRecord& r = rows_[static_cast<std::size_t>(index.row())];
  switch (index.column()) {
    case 0:
      return QString::fromStdString(r.StartIp);
    case 1:
      return QString::fromStdString(r.EndIp);
    case 2:
      return QString::fromStdString(r.Area);
    case 3:
      return QString::fromStdString(r.Place);
  }
  return {};
}

QVariant TIpTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return {};
  static const char* const kCaptions[] = {QT_TR_NOOP("起始IP"), QT_TR_NOOP("结束IP"),
                                          QT_TR_NOOP("所在区域"), QT_TR_NOOP("详细地点")};
  return section >= 0 && section < 4 ? Tr(kCaptions[section]) : QVariant();
}

void TIpTableModel::SetRows(std::vector<TIpRecord> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

int TIpTableModel::AddRow(TIpRecord row, std::string* error) {
  // Validate before telling the view anything.
  std::vector<TIpRecord> probe;
  if (!AddIpRow(probe, row, error))
    return -1;
  std::size_t at = 0;
  beginResetModel();
  AddIpRow(rows_, std::move(row), nullptr, &at);
  endResetModel();
  return static_cast<int>(at);
}

TIpRecord TIpTableModel::TakeRow(int row) {
  beginRemoveRows({}, row, row);
  TIpRecord r = std::move(rows_[static_cast<std::size_t>(row)]);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
  return r;
}

bool TIpTableModel::Import(const std::filesystem::path& file, int* added, int* skipped,
                           std::string* error) {
  beginResetModel();
  bool ok = ImportIpTable(file, rows_, added, skipped, error);
  endResetModel();
  return ok;
}

}  // namespace pelorix::gui
