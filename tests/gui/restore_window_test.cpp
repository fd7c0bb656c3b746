// Deleted mail restored from the main window's "已删除邮件" view, and the
// letter window of a deleted row showing its kept copy.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QPlainTextEdit>
#include <QTableView>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "gui/mail_list_model.h"
#include "gui/main_window.h"
#include "gui/outlook_bar.h"
#include "scripted_dialogs.h"
#include "store/accounts.h"
#include "store/settings_store.h"
#include "window_fixture.h"

namespace pelorix::gui {
namespace {

namespace fs = std::filesystem;

std::string Kept(const std::string& id, const std::string& subject) {
  return "Message-ID: " + id + "\r\nFrom: ann@example.org\r\nSubject: " + subject +
         "\r\n\r\nFrom me, " + subject + "\r\n.\r\n";
}

class RestoreWindow : public TWindowFixture {
 protected:
  int RowOf(const std::string& key) {
    for (int r = 0; r < window_->Model().rowCount(); ++r) {
      if (window_->Model().Row(r).Items[mcMessageKey] == key)
        return r;
    }
    ADD_FAILURE() << key;
    return -1;
  }

  testing::TScriptedDialogs dialogs_;
};

TEST_F(RestoreWindow, TickedDeletedRowsGoToAnMboxAndTheLetterShowsTheKeptCopy) {
  ASSERT_TRUE(SaveAccounts(*store_, {{"pop.a.example", "ann", "pw", ""}}));
  ASSERT_TRUE(EnsureDeletedFolder(home_));
  std::vector<TMailRecord> records;
  for (const char* id : {"<1@x>", "<2@x>", "<3@x>"}) {
    TMailRecord r;
    r.AccountKey = "ann[pop.a.example]";
    r.MessageKey = id;
    r.DeletionMark = "Deleted";
    records.push_back(r);
  }
  ASSERT_TRUE(WriteRecordFile(DeletedRecordPath(home_, "ann2pop.a.example"), records));
  // The third was deleted without a copy.
  ASSERT_FALSE(QuarantineMessage(home_, "<1@x>", Kept("<1@x>", "one")).empty());
  ASSERT_FALSE(QuarantineMessage(home_, "<2@x>", Kept("<2@x>", "two")).empty());

  window_ = std::make_unique<TfrmReport>(home_, *store_);
  auto* restore = window_->findChild<QAction*>(QStringLiteral("mnuRestore"));
  ASSERT_NE(restore, nullptr);
  EXPECT_FALSE(restore->isEnabled());                         // offered only in a deleted-mail view
  EXPECT_TRUE(window_->List()->actions().contains(restore));  // the context menu
  emit window_->OutlookBar()->ButtonClicked(1, 2);
  ASSERT_EQ(window_->Model().rowCount(), 3);
  EXPECT_TRUE(restore->isEnabled());
  window_->Model().SetChecked(RowOf("<1@x>"), true);
  window_->Model().SetChecked(RowOf("<3@x>"), true);

  const fs::path mbox = home_ / "back.mbox";
  dialogs_.Choices = {0};
  dialogs_.FileNames = {QString::fromStdString(mbox.string())};
  restore->trigger();
  std::ifstream in(mbox, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str().rfind("From ann@example.org ", 0), 0u) << text.str();
  EXPECT_NE(text.str().find("\nSubject: one\n\n>From me, one\n.\n\n"), std::string::npos)
      << text.str();
  EXPECT_EQ(text.str().find("two"), std::string::npos);
  ASSERT_EQ(dialogs_.Shown.size(), 2u) << dialogs_.Shown[0].Text.toStdString();
  EXPECT_TRUE(dialogs_.Shown[1].Text.contains(QStringLiteral("已将1封邮件保存到")))
      << dialogs_.Shown[1].Text.toStdString();
  EXPECT_TRUE(dialogs_.Shown[1].Text.contains(QStringLiteral("另有1封")));

  // Sent back instead: without SMTP settings the reason is shown, nothing else.
  dialogs_.Choices = {1};
  restore->trigger();
  ASSERT_EQ(dialogs_.Shown.size(), 4u);
  EXPECT_TRUE(dialogs_.Shown[3].Text.contains(QStringLiteral("发信服务器")))
      << dialogs_.Shown[3].Text.toStdString();

  // The letter window of a deleted row shows the copy whole.
  window_->List()->selectRow(RowOf("<1@x>"));
  window_->OpenLetter();
  auto* letter = window_->findChild<QWidget*>(QStringLiteral("TfrmMailprop"));
  ASSERT_NE(letter, nullptr);
  EXPECT_EQ(letter->findChild<QPlainTextEdit*>(QStringLiteral("memProp"))->toPlainText(),
            QStringLiteral("Message-ID: <1@x>\nFrom: ann@example.org\nSubject: one\n\n"
                           "From me, one\n."));
  EXPECT_EQ(letter->findChild<QPlainTextEdit*>(QStringLiteral("memText"))->toPlainText(),
            QStringLiteral("From me, one\n."));
}

}  // namespace
}  // namespace pelorix::gui
