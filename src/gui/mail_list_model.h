#pragma once
// A table model over the engine's TMailList. The rows stay in the engine's
// list; the model only remembers how many of them the view has been told
// about, so rows appended by workers appear as their notices arrive.

#include <QAbstractTableModel>
#include <QColor>
#include <cstdint>
#include <string>

#include "engine/mail_list.h"

namespace pelorix::gui {

// Column c of the view shows sub-item c - 1; column 0 is the tick box; the
// last column is the learning judge's score, kept beside the record.
inline constexpr int kViewColumns = 16;
inline constexpr int kScoreColumn = 15;

// The image list's indexes (ImageList1).
enum TRowImage : int {
  riDeleted = 0,
  riSpam = 1,
  riSpamDeleted = 2,
  riOtherType = 3,
  riTextPlain = 4,
  riPriorityHighest = 5,
  riPriorityHigh = 6,
  riPriorityLow = 7,
  riTicked = 8,
  riUnticked = 9,
  riTickGone = 10,
  riNewMail = 11,
};

// Extra roles of the model (beside Display, Foreground, CheckState,
// AccessibleText).
enum TMailListRole : int {
  ImageRole = Qt::UserRole + 1,  // int image of an icon cell, -1 for none
  GoneRole,                      // bool: the message was deleted on the server
};

// A colour reference as Windows writes it: 0x00BBGGRR.
QColor ColorFromRef(std::uint32_t ref);

// The list's colours.
inline constexpr std::uint32_t kListBackground = 16251903;
inline constexpr std::uint32_t kTextBackground = 15793151;
inline constexpr std::uint32_t kFocusColour = 65535;
inline constexpr std::uint32_t kGrey = 8421504;
inline constexpr std::uint32_t kBlue = 16711680;
inline constexpr std::uint32_t kGreen = 32768;

// The comparison of the sort: ASCII letters folded, every other byte of the
// on-disk form compared by value (so Chinese sorts in GB order).
int CompareListTexts(const std::string& a, const std::string& b);

class TMailListModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  TMailListModel(TMailList& list, QObject* parent = nullptr);

  TMailList& List() { return list_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Sorts the engine's rows by sub-item column - 1 (stable).
  void sort(int column, Qt::SortOrder order) override;

  // The list was replaced or cleared behind the model's back.
  void Reload();
  void BeginReload();
  void EndReload();
  // A worker appended the row at index.
  void RowAdded(std::size_t index);
  // Rows changed in place (a deletion run marked them).
  void RefreshAll();

  TMailRow Row(int row) const;
  // Ticks or unticks one row; a row deleted on the server stays unticked.
  void SetChecked(int row, bool checked);
  void ToggleChecked(int row);
  // Every row; rows marked "Deleted" stay unticked.
  void SetAllChecked(bool checked);
  // In an account's deleted-mail view a tick chooses mail to restore, so
  // there rows marked "Deleted" take ticks too.
  void SetDeletedRowsTickable(bool tickable);

 private:
  bool Tickable(const TMailRow& row) const;

  TMailList& list_;
  int count_ = 0;
  bool deletedTickable_ = false;
};

// The priority name of the preview and the letter window.
QString PriorityName(const std::string& priorityItem);

}  // namespace pelorix::gui
