// The settings window's page of the learning judge: its switch, its two
// cuts, the body lines a header check peeks at, what it has learnt, and
// learning from Thunderbird or forgetting everything.

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "classify/classifier.h"
#include "engine/learn_sources.h"
#include "engine/origin.h"
#include "gui/dialogs.h"
#include "gui/settings_parts.h"
#include "gui/settings_window.h"
#include "gui/tr.h"
#include "store/accounts.h"
#include "store/mail_plan.h"

namespace pelorix::gui {

using namespace settings;

namespace {
int JudgeDigits(std::string_view name) {
  const TSettingDef* def = FindSettingDef(kJudgeKey, name);
  return def ? def->maxDigits : 3;
}
}  // namespace

QWidget* TfrmProp::BuildJudgePage() {
  auto* page = new QWidget(this);
  page->setObjectName(QStringLiteral("judge"));
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Hint(Tr("    Pelorix 从你的操作中学习：你勾选并清除的邮件是垃圾邮件，"
                            "恢复的和被邮件程序收走的是正常邮件。过滤条件先判断，"
                            "它们放过的邮件再由自动判断给出0-100的评分。"),
                         page));
  chkAutoJudge = new QCheckBox(Tr("自动判断垃圾邮件"), page);
  chkAutoJudge->setObjectName(QStringLiteral("chkAutoJudge"));
  chkAutoJudge->setAccessibleName(chkAutoJudge->text());
  chkAutoJudge->setChecked(true);
  layout->addWidget(chkAutoJudge);

  auto* cuts = new QGridLayout;
  auto field = [&](QLineEdit*& edit, const char* name, const char* value, const QString& caption,
                   int row) {
    edit = DigitsField(name, caption, JudgeDigits(value), page);
    cuts->addWidget(Caption(caption, page), row, 0);
    cuts->addWidget(edit, row, 1);
  };
  field(meSpamCut, "meSpamCut", "SpamCut", Tr("评分达到此值即为垃圾邮件 (1-100)："), 0);
  field(meUnsureCut, "meUnsureCut", "UnsureCut", Tr("评分达到此值标为待定 (0-100)："), 1);
  field(mePeekLines, "mePeekLines", "PeekLines", Tr("查摘要时另读信件开头的行数 (0 为不读)："), 2);
  meSpamCut->setText(QStringLiteral("95"));
  meUnsureCut->setText(QStringLiteral("50"));
  mePeekLines->setText(QStringLiteral("0"));
  layout->addLayout(cuts);

  lblLearnt = new QLabel(page);
  lblLearnt->setObjectName(QStringLiteral("lblLearnt"));
  layout->addWidget(lblLearnt);
  auto* buttons = new QHBoxLayout;
  auto* learn = TextButton("btnLearnThunderbird", Tr("从Thunderbird学习"), page);
  auto* clear = TextButton("btnClearLearning", Tr("清空学习记录"), page);
  buttons->addWidget(learn);
  buttons->addWidget(clear);
  buttons->addStretch();
  layout->addLayout(buttons);

  layout->addWidget(Caption(Tr("朋友（他们的邮件从不判为垃圾邮件）："), page));
  lvFriends = new QListWidget(page);
  lvFriends->setObjectName(QStringLiteral("lvFriends"));
  lvFriends->setAccessibleName(Tr("朋友"));
  layout->addWidget(lvFriends, 1);

  connect(learn, &QPushButton::clicked, this, &TfrmProp::LearnFromThunderbirdClick);
  connect(clear, &QPushButton::clicked, this, &TfrmProp::ClearLearningClick);
  return page;
}

void TfrmProp::ShowJudgeState() {
  auto store = TTokenStore::Open(TTokenStore::PathIn(home_));
  lvFriends->clear();
  if (!store) {
    lblLearnt->setText(Tr("学习记录无法打开"));
    return;
  }
  // The command line's wording, in the window's language.
  const auto spam = store->SpamMessages();
  const auto good = store->GoodMessages();
  QString learnt = Tr("自动判断：已学习垃圾邮件 %1 封、正常邮件 %2 封").arg(spam).arg(good);
  if (spam < kMinLearnt || good < kMinLearnt)
    learnt += Tr("，各学满 %1 封后开始判断").arg(kMinLearnt);
  lblLearnt->setText(learnt);
  lblLearnt->setAccessibleName(lblLearnt->text());
  for (const auto& f : store->Friends())
    lvFriends->addItem(Q(f));
}

void TfrmProp::LoadJudgeControls(const TPropSettings& s) {
  chkAutoJudge->setChecked(s.AutoJudge);
  meSpamCut->setText(Q(s.SpamCut));
  meUnsureCut->setText(Q(s.UnsureCut));
  mePeekLines->setText(Q(s.PeekLines));
  ShowJudgeState();
}

void TfrmProp::SaveJudgeControls(TPropSettings& s) const {
  s.AutoJudge = chkAutoJudge->isChecked();
  s.SpamCut = S(meSpamCut->text());
  s.UnsureCut = S(meUnsureCut->text());
  s.PeekLines = S(mePeekLines->text());
}

void TfrmProp::LearnFromThunderbirdClick() {
  const QString caption = Tr("从Thunderbird学习");
  const auto profiles = FindThunderbirdProfiles();
  if (profiles.empty()) {
    ShowMessage(this, caption, Tr("没有找到Thunderbird的配置文件夹。"), TIcon::Warning);
    return;
  }
  std::string error;
  auto store = TTokenStore::Open(TTokenStore::PathIn(home_), &error);
  if (!store) {
    ShowMessage(this, caption, Tr("学习记录无法打开：") + Q(error), TIcon::Critical);
    return;
  }
  TIpLocationTable table(home_);
  table.Refresh();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TThunderbirdLearnt learnt = LearnFromThunderbird(*store, profiles.front(), table);
  QApplication::restoreOverrideCursor();
  store.reset();
  ShowJudgeState();
  ShowMessage(this, caption,
              Tr("已学习垃圾邮件%1封、正常邮件%2封，加入朋友%3位。")
                  .arg(learnt.Spam.Learnt + learnt.Spam.Moved)
                  .arg(learnt.Good.Learnt + learnt.Good.Moved)
                  .arg(learnt.Friends),
              TIcon::Information);
}

void TfrmProp::ClearLearningClick() {
  const QString caption = Tr("清空学习记录");
  if (!AskYesNo(this, caption, Tr("确实要忘记所有学到的内容吗？朋友名单会保留。")))
    return;
  std::string error;
  auto store = TTokenStore::Open(TTokenStore::PathIn(home_), &error);
  if (!store || !store->Clear()) {
    ShowMessage(this, caption, Tr("无法清空学习记录：") + Q(store ? store->LastError() : error),
                TIcon::Critical);
    return;
  }
  store.reset();
  ShowJudgeState();
}

}  // namespace pelorix::gui
