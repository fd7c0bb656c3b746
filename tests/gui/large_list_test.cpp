// A neglected mailbox's list in the window: 100,000 rows load, sort and
// show (how fast is for the bench; here only that it gets there whole).

#include <gtest/gtest.h>

#include <QTableView>
#include <QTest>

#include "engine/mail_list.h"
#include "engine/record_files.h"
#include "gui/mail_list_model.h"
#include "window_fixture.h"

namespace pelorix::gui {
namespace {

class LargeList : public TWindowFixture {};

TEST_F(LargeList, AHundredThousandRowsLoadSortAndShow) {
  constexpr int kRows = 100000;
  // Written once the window has swept tmp/, as a check of this session would.
  window_ = std::make_unique<TfrmReport>(home_, *store_);
  window_->show();
  {
    TRecordFileWriter out;
    ASSERT_TRUE(out.Open(AllRecordPath(home_), TRecordFileWriter::Mode::Truncate));
    for (int i = 0; i < kRows; ++i) {
      TMailRecord r;
      r.AccountKey = "bob[pop.example.org]";
      r.Sender = "sender" + std::to_string(i * 7919 % kRows) + "@example.org";
      r.Subject = "report " + std::to_string(i);
      r.MessageKey = "<" + std::to_string(i) + "@example.org>";
      r.Number = std::to_string(i + 1);
      r.Size = std::to_string(2000 + i % 997);
      r.Date = "2026-12-" + std::to_string(10 + i % 19) + " 10:00:00";
      ASSERT_TRUE(out.Append(r));
    }
    ASSERT_TRUE(out.Close());
  }
  window_->OutlookButtonClicked(0, 0);  // every mailbox: tmp/all.rec
  QApplication::processEvents();
  ASSERT_EQ(window_->Model().rowCount(), kRows);

  window_->HeaderClicked(mcSender);
  QApplication::processEvents();
  const auto first = window_->Model().Row(0).Items[mcSender];
  const auto last = window_->Model().Row(kRows - 1).Items[mcSender];
  EXPECT_LT(first, last);
  auto* view = window_->findChild<QTableView*>();
  ASSERT_NE(view, nullptr);
  view->scrollToBottom();
  QApplication::processEvents();
  EXPECT_GE(view->rowAt(view->viewport()->height() - 2), kRows - 40);
}

}  // namespace
}  // namespace pelorix::gui
