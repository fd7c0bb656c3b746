// TfrmReport: a letter without its body file fetched from its server when
// it is opened, on a thread of its own.
#include <QAction>
#include <QMetaObject>
#include <QTableView>

#include "engine/letter_fetch.h"
#include "gui/letter_window.h"
#include "gui/mail_list_model.h"
#include "gui/main_window.h"
#include "gui/main_window_parts.h"
#include "gui/tr.h"
#include "text/asciiutil.h"

namespace pelorix::gui {

QString TfrmReport::FetchNote(const TMailRow& row) const {
  const auto it = fetchNotes_.find(std::string(ascii::Trim(row.Items[mcMessageKey])));
  return it == fetchNotes_.end() ? QString() : it->second;
}

bool TfrmReport::FetchLetter(const TMailRow& row, bool openWindow) {
  const std::string key(ascii::Trim(row.Items[mcMessageKey]));
  if (fetching_ && key == fetchKey_) {
    openWhenFetched_ = openWhenFetched_ || openWindow;
    return true;  // on its way already
  }
  if (fetching_ || !actFetchLetters_->isChecked() || Running() || !FetchNote(row).isEmpty() ||
      !LetterBodyMissing(home_, row))
    return false;
  const std::optional<TLetterFetch> fetch = LetterFetchOf(store_, row);
  if (!fetch)
    return false;
  if (letterFetch_.joinable())
    letterFetch_.join();
  fetching_ = true;
  fetchKey_ = key;
  openWhenFetched_ = openWindow;
  letterStop_ = false;
  const int generation = ++fetchGeneration_;
  SetPanel(5, Tr("正在从服务器取回信件内容……"));
  letterFetch_ = std::thread([this, fetch = *fetch, row, generation] {
    const TLetterFetchResult done = pelorix::FetchLetter(home_, fetch, State(), &letterStop_);
    const bool fetched = done.Status == TLetterFetchStatus::Fetched;
    const QString line = Q(done.Line);
    // The destructor joins this thread before the window goes, and takes
    // the queued call with it.
    QMetaObject::invokeMethod(
        this,
        [this, row, generation, fetched, line] { LetterFetched(row, generation, fetched, line); },
        Qt::QueuedConnection);
  });
  return true;
}

void TfrmReport::CancelLetterFetch() {
  if (!fetching_)
    return;
  // A run starting takes the server over; what the fetch brings is dropped.
  letterStop_ = true;
  if (letterFetch_.joinable())
    letterFetch_.join();
  fetching_ = false;
  ++fetchGeneration_;
}

void TfrmReport::LetterFetched(const TMailRow& row, int generation, bool fetched,
                               const QString& line) {
  if (generation != fetchGeneration_)
    return;
  if (letterFetch_.joinable())
    letterFetch_.join();
  fetching_ = false;
  SetPanel(5, line);
  if (!fetched)
    fetchNotes_[fetchKey_] = line;
  if (openWhenFetched_) {
    ShowLetterWindow(this, home_, store_, row, fetched ? QString() : line);
    return;
  }
  // The preview follows only if the row is still the one shown.
  const QModelIndex current = lvMailList_->currentIndex();
  if (current.isValid() && ascii::Trim(model_->Row(current.row()).Items[mcMessageKey]) == fetchKey_)
    PreviewRow(current.row());
}

}  // namespace pelorix::gui
