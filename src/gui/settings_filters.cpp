// The filter conditions page of the settings window: four free-text lists,
// the length rules and the .rub filter files.
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/dialogs.h"
#include "gui/settings_parts.h"
#include "gui/settings_window.h"
#include "gui/tr.h"
#include "store/filter_lists.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/home.h"

namespace pelorix::gui {

using namespace settings;

namespace {

// The tabs, in their order on the page.
struct TFilterTab {
  TFilterList list;
  const char* objectName;
  const char* caption;
  const char* hint;
};
constexpr TFilterTab kTabs[] = {
    {TFilterList::Subject, "lvRtitle", QT_TR_NOOP("标题"),
     QT_TR_NOOP("你可以这里指定要过滤的标题，将其填写在下面。("
                "注意：每个特征字不允许折行，只能在一行内填写。)")},
    {TFilterList::Sender, "lvRmail", QT_TR_NOOP("发件人"),
     QT_TR_NOOP("你可以在这里指定被过滤的发件人地址，将其填写在下面。("
                "注意：特征字不允许折行，只能在一行内填写。"
                ")")},
    {TFilterList::Length, "lvRlen", QT_TR_NOOP("信件长度"),
     QT_TR_NOOP("你可以在这里指定信件长度的过滤条件，将其埴写在下面。")},
    {TFilterList::Content, "lvRmid", QT_TR_NOOP("内容/病毒特征码"),
     QT_TR_NOOP("某些邮件的内容具有相同特征(同时，某些信件所附有的病毒的执行脚本也具有相同的源码)"
                "，你可以将其特征"
                "字捕获下来，填写在下面。("
                "特征码在填写时不允许折行，并且仅在允许检测内容选项被打开时才有效)")},
    {TFilterList::Recipient, "lvRdeliver", QT_TR_NOOP("可以被收信的收件人"),
     QT_TR_NOOP("有时候来信所写的收件人地址并非你的地址，此时，若仍要接收这封信，请将其地址填写在这"
                "里。这种情"
                "况多"
                "发生在订阅的网络刊物、邮件讨论组等信件身上。(注意：特征字在填写时不允许折行)")},
};

std::vector<std::string> MemoLines(const QPlainTextEdit* memo) {
  return SplitListLines(S(memo->toPlainText()));
}

void ShowLines(QPlainTextEdit* memo, const std::vector<std::string>& lines) {
  QStringList text;
  for (const auto& line : lines)
    text << Q(line);
  memo->setPlainText(text.join(QLatin1Char('\n')));
}

}  // namespace

QWidget* TfrmProp::BuildFilterPage() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  PageControl1 = new QTabWidget(page);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  for (const auto& tab : kTabs) {
    const QString caption = Tr(tab.caption);
    auto* sheet = new QWidget(PageControl1);
    auto* sheetLayout = new QVBoxLayout(sheet);
    sheetLayout->addWidget(Hint(Tr(tab.hint), sheet));
    if (tab.list == TFilterList::Length) {
      auto* row = new QHBoxLayout;
      row->addWidget(Caption(Tr("被拒收的信件长度"), sheet));
      cbxRlenOpr = new QComboBox(sheet);
      cbxRlenOpr->setObjectName(QStringLiteral("cbxRlenOpr"));
      cbxRlenOpr->setAccessibleName(Tr("被拒收的信件长度"));
      for (auto op : kLengthOperators)
        cbxRlenOpr->addItem(QString::fromLatin1(op.data(), static_cast<int>(op.size())));
      cbxRlenOpr->setCurrentIndex(-1);
      row->addWidget(cbxRlenOpr);
      edtRlen = new TDigitsSpinBox(0, 100, sheet);
      edtRlen->setObjectName(QStringLiteral("edtRlen"));
      edtRlen->setAccessibleName(Tr("被拒收的信件长度（字节）"));
      edtRlen->setMinimumWidth(90);
      row->addWidget(edtRlen);
      row->addWidget(Caption(Tr("字节"), sheet));
      auto* add = GlyphButton("SpeedButton50", style()->standardIcon(QStyle::SP_ArrowDown),
                              Tr("将长度条件加入列表中"), sheet);
      auto* takeOut = GlyphButton("SpeedButton47", style()->standardIcon(QStyle::SP_ArrowUp),
                                  Tr("将长度条件从列表中取出"), sheet);
      row->addWidget(add);
      row->addWidget(takeOut);
      row->addStretch();
      sheetLayout->addLayout(row);
      lvRlen = new QListWidget(sheet);
      lvRlen->setObjectName(QStringLiteral("lvRlen"));
      lvRlen->setAccessibleName(caption);
      sheetLayout->addWidget(lvRlen, 1);
      connect(add, &QToolButton::clicked, this, &TfrmProp::AddLengthRuleClick);
      connect(takeOut, &QToolButton::clicked, this, &TfrmProp::TakeOutLengthRuleClick);
    } else {
      QPlainTextEdit* memo =
          tab.list == TFilterList::Sender ? new TNoEnterMemo(sheet) : new QPlainTextEdit(sheet);
      memo->setLineWrapMode(QPlainTextEdit::NoWrap);
      memo->setTabChangesFocus(true);
      memo->setAccessibleName(caption);
      memo->setObjectName(QString::fromLatin1(tab.objectName));
      switch (tab.list) {
        case TFilterList::Subject:
          lvRtitle = memo;
          break;
        case TFilterList::Sender:
          lvRmail = memo;
          break;
        case TFilterList::Content:
          lvRmid = memo;
          break;
        default:
          lvRdeliver = memo;
          break;
      }
      sheetLayout->addWidget(memo, 1);
    }
    PageControl1->addTab(sheet, caption);
  }
  layout->addWidget(PageControl1, 1);
  auto* buttons = new QHBoxLayout;
  auto* import = TextButton("SpeedButton49", Tr("导入过滤文件"), page);
  auto* exportButton = TextButton("SpeedButton48", Tr("导出过滤文件"), page);
  buttons->addStretch();
  buttons->addWidget(import);
  buttons->addWidget(exportButton);
  layout->addLayout(buttons);
  connect(import, &QPushButton::clicked, this, &TfrmProp::ImportFilterFileClick);
  connect(exportButton, &QPushButton::clicked, this, &TfrmProp::ExportFilterFileClick);
  return page;
}

TFilterLists TfrmProp::FilterListsFromControls() const {
  TFilterLists lists;
  lists.Subject = MemoLines(lvRtitle);
  lists.Sender = MemoLines(lvRmail);
  lists.Content = MemoLines(lvRmid);
  lists.Recipient = MemoLines(lvRdeliver);
  lists.Length = lengthRules_;
  return lists;
}

void TfrmProp::ShowFilterLists(const TFilterLists& lists) {
  ShowLines(lvRtitle, lists.Subject);
  ShowLines(lvRmail, lists.Sender);
  ShowLines(lvRmid, lists.Content);
  ShowLines(lvRdeliver, lists.Recipient);
  lengthRules_ = lists.Length;
  ShowLengthRules();
}

void TfrmProp::ShowLengthRules() {
  lvRlen->clear();
  for (const auto& rule : lengthRules_)
    lvRlen->addItem(Q(rule));
}

bool TfrmProp::FilterEntriesFit() {
  int tab = 0;
  for (const auto& t : kTabs) {
    const auto* memo = findChild<QPlainTextEdit*>(QString::fromLatin1(t.objectName));
    if (memo) {
      for (const auto& line : MemoLines(memo)) {
        if (ToAnsi(ascii::Trim(line)).size() > kMaxTextBytes) {
          PageControl7->setCurrentIndex(2);
          PageControl1->setCurrentIndex(tab);
          ShowMessage(this, ErrorCaption(),
                      Tr("“%1”中有一行长于255字节：\n%2…\n请缩短后再关闭窗口。")
                          .arg(Tr(t.caption), Q(line).left(40)),
                      TIcon::Warning);
          return false;
        }
      }
    }
    ++tab;
  }
  return true;
}

void TfrmProp::AddLengthRuleClick() {
  std::string error;
  if (!AddLengthRule(lengthRules_, cbxRlenOpr->currentIndex(), S(edtRlen->text()), &error)) {
    if (!error.empty())
      ShowMessage(this, ErrorCaption(), Q(error), TIcon::Warning);
    return;
  }
  edtRlen->setText({});
  ShowLengthRules();
  lvRlen->setCurrentRow(lvRlen->count() - 1);
}

void TfrmProp::TakeOutLengthRuleClick() {
  int row = -1;
  for (int i = 0; i < lvRlen->count() && row < 0; ++i) {
    if (lvRlen->item(i)->isSelected())
      row = i;
  }
  if (row < 0)
    return;
  TLengthRuleParts parts = TakeOutLengthRule(lengthRules_, static_cast<std::size_t>(row));
  if (parts.operatorIndex >= 0)
    cbxRlenOpr->setCurrentIndex(parts.operatorIndex);
  edtRlen->setText(Q(parts.number));
  ShowLengthRules();
}

void TfrmProp::ImportFilterFileClick() {
  const auto folder = home_ / "modal";
  std::string error;
  EnsureFolder(folder, &error);
  QString file = Dialogs().OpenFileName(this, Tr("导入过滤文件"), Q(folder.string()),
                                        Tr("垃圾邮件黑名单(*.rub)"));
  if (file.isEmpty())
    return;
  // Into the controls only: the registry changes when the window closes.
  TFilterLists lists = FilterListsFromControls();
  TFilterImportResult result;
  if (!ImportFilterFile(S(file), lists, &result, &error)) {
    ShowMessage(this, ErrorCaption(), Q(error), TIcon::Warning);
    return;
  }
  ShowFilterLists(lists);
  if (result.skipped > 0) {
    ShowMessage(
        this, Tr("导入过滤文件"),
        Tr("有%1条过滤条件没有导入（长度条件缺少==、>=或<=，或长于255字节）。").arg(result.skipped),
        TIcon::Warning);
  }
}

void TfrmProp::ExportFilterFileClick() {
  const auto folder = home_ / "modal";
  std::string error;
  EnsureFolder(folder, &error);
  QString file =
      Dialogs().SaveFileName(this, Tr("导出过滤文件"), Q(folder.string()), Tr("垃圾黑名单(*.rub)"));
  if (file.isEmpty())
    return;
  if (!ExportFilterFile(S(file), FilterListsFromControls(), &error))
    ShowMessage(this, ErrorCaption(), Q(error), TIcon::Warning);
}

}  // namespace pelorix::gui
