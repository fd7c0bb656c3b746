// The learning judge in the windows: the score column, the list menu that
// teaches it, and its settings page.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <filesystem>
#include <fstream>

#include "classify/classifier.h"
#include "engine/mail_list.h"
#include "engine/record_files.h"
#include "gui/mail_list_model.h"
#include "gui/main_window.h"
#include "gui/outlook_bar.h"
#include "gui/settings_window.h"
#include "mime/mail_message.h"
#include "scripted_dialogs.h"
#include "store/accounts.h"
#include "store/mail_plan.h"
#include "window_fixture.h"

namespace pelorix::gui {
namespace {

namespace fs = std::filesystem;

class JudgeWindow : public TWindowFixture {
 protected:
  testing::TScriptedDialogs dialogs_;
};

std::string Header(int n) {
  return "Message-ID: <" + std::to_string(n) + "@x>\r\nFrom: ann@example.org\r\nSubject: s" +
         std::to_string(n) + "\r\n";
}

TEST_F(JudgeWindow, ScoresShowSortAsNumbersAndTheMenuTeaches) {
  ASSERT_TRUE(SaveAccounts(*store_, {{"pop.a.example", "ann", "pw", ""}}));
  // The window's start sets the former run's files aside: they come after it.
  window_ = std::make_unique<TfrmReport>(home_, *store_);
  TMailList list;
  const int scores[] = {7, 95, 40, -1};
  for (int n = 0; n < 4; ++n) {
    TMailRecord r;
    r.AccountKey = "ann[pop.a.example]";
    r.MessageKey = "<" + std::to_string(n) + "@x>";
    TMailRow row = RowFromRecord(r);
    row.Score = scores[n];
    row.Unsure = scores[n] == 40;
    row.Clues = "s:s" + std::to_string(n) + " 0.99";
    list.Append(row);
    std::ofstream(HeaderFilePath(TmpFolder(home_), KeyFileName(r.MessageKey)), std::ios::binary)
        << Header(n);
  }
  ASSERT_TRUE(list.SaveRecordFile(AllRecordPath(home_)));
  emit window_->OutlookBar()->ButtonClicked(0, 0);  // all mailboxes: tmp/all.rec
  auto& model = window_->Model();
  ASSERT_EQ(model.rowCount(), 4);
  EXPECT_EQ(model.headerData(kScoreColumn, Qt::Horizontal, Qt::DisplayRole).toString(), "评分");
  EXPECT_EQ(model.data(model.index(2, kScoreColumn), Qt::DisplayRole).toString(), "40 ?");
  EXPECT_EQ(model.data(model.index(2, kScoreColumn), Qt::AccessibleTextRole).toString(),
            "评分 40，待定");
  EXPECT_EQ(model.data(model.index(1, kScoreColumn), Qt::ToolTipRole).toString(), "s:s1 0.99");
  model.sort(kScoreColumn, Qt::DescendingOrder);
  EXPECT_EQ(model.Row(0).Score, 95);
  EXPECT_EQ(model.Row(1).Score, 40);
  EXPECT_EQ(model.Row(2).Score, 7);  // 7 after 40: numbers, not texts
  EXPECT_EQ(model.Row(3).Score, -1);

  auto* markSpam = window_->findChild<QAction*>(QStringLiteral("mnuMarkSpam"));
  ASSERT_NE(markSpam, nullptr);
  EXPECT_TRUE(window_->List()->actions().contains(markSpam));
  window_->List()->selectRow(2);  // the one scored 7
  markSpam->trigger();
  EXPECT_TRUE(model.Row(2).Checked);
  auto store = TTokenStore::Open(TTokenStore::PathIn(home_));
  TMailMessage m;
  ParseMessageText(Header(0) + "\r\n", m, false);
  ASSERT_TRUE(store->Learnt(MessageIdentity(m)));
  EXPECT_EQ(store->Learnt(MessageIdentity(m))->Class, TLearnClass::Spam);
}

TEST_F(JudgeWindow, SettingsPageKeepsTheSwitchTheCutsAndClearsWhatWasLearnt) {
  {
    auto learn = TTokenStore::Open(TTokenStore::PathIn(home_));
    learn->Learn(1, TLearnClass::Spam, 0, {1});
    learn->AddFriend("Pal@Home.org", "user");
  }
  auto window = std::make_unique<TfrmProp>(nullptr, home_, *store_);
  auto* cut = window->findChild<QLineEdit*>(QStringLiteral("meSpamCut"));
  auto* on = window->findChild<QCheckBox*>(QStringLiteral("chkAutoJudge"));
  ASSERT_TRUE(cut && on);
  EXPECT_EQ(cut->text(), "95");
  EXPECT_TRUE(on->isChecked());
  EXPECT_TRUE(
      window->findChild<QLabel*>(QStringLiteral("lblLearnt"))->text().contains("垃圾邮件 1 封"));
  cut->setText(QStringLiteral("80"));
  on->setChecked(false);
  dialogs_.Answers = {TAnswer::Yes};
  window->findChild<QPushButton*>(QStringLiteral("btnClearLearning"))->click();
  window->close();
  window.reset();
  TMailPlan plan;
  plan.Load(*store_);
  EXPECT_EQ(plan.SpamCut, 80);
  EXPECT_FALSE(plan.AutoJudge);
  auto learn = TTokenStore::Open(TTokenStore::PathIn(home_));
  EXPECT_EQ(learn->SpamMessages(), 0u);
  EXPECT_TRUE(learn->IsFriend("pal@home.org"));  // friends stay
}

}  // namespace
}  // namespace pelorix::gui
