#pragma once
// The IP location table as a list model: the rows live here once, sorted by
// start address text, and the view asks only for what it shows, so a table
// of a million ranges opens and scrolls without one widget item per row.

#include <QAbstractTableModel>
#include <filesystem>
#include <string>
#include <vector>

#include "store/ip_table.h"

namespace pelorix::gui {

class TIpTableModel final : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Rows must be sorted by start address.
  void SetRows(std::vector<TIpRecord> rows);
  const std::vector<TIpRecord>& Rows() const { return rows_; }
  // The store's rule for a typed row; returns the new row's index or -1
  // with the reason.
  int AddRow(TIpRecord row, std::string* error);
  TIpRecord TakeRow(int row);
  bool Import(const std::filesystem::path& file, int* added, int* skipped, std::string* error);

 private:
  std::vector<TIpRecord> rows_;
};

}  // namespace pelorix::gui
