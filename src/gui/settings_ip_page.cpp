// The "IP→地址" page of the settings window: the IP location table as a
// model, typed rows, and table files imported and exported.
#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <memory>

#include "gui/dialogs.h"
#include "gui/ip_table_model.h"
#include "gui/settings_parts.h"
#include "gui/settings_window.h"
#include "gui/tr.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "text/home.h"

namespace pelorix::gui {

using namespace settings;

namespace {

// A dotted template of four right-aligned octets; the blanks are kept in
// the text and read as zeros.
QLineEdit* AddressField(const char* objectName, const QString& caption, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setAccessibleName(caption);
  edit->setInputMask(QStringLiteral("999.999.999.999; "));
  edit->setMaxLength(15);
  return edit;
}

// Holds the wait cursor while a long table operation runs.
class TBusyCursor {
 public:
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

QString IpFilter() {
  return Tr("IP对照表(*.dat)");
}
// Fewer rows than this are the user's own, never a copied delivered table.
constexpr std::size_t kCopiedTableRows = 1000;
constexpr std::string_view kSlimOfferedValue = "IpTableSlimOffered";

}  // namespace

QWidget* TfrmProp::BuildIpPage() {
  auto* outer = new QWidget(this);
  auto* outerLayout = new QVBoxLayout(outer);
  outerLayout->setContentsMargins(0, 0, 0, 0);
  ipLoading_ = new QLabel(Tr("正在读取IP地址表……"), outer);
  ipLoading_->setObjectName(QStringLiteral("ipLoading"));
  ipLoading_->hide();
  outerLayout->addWidget(ipLoading_);
  auto* page = new QWidget(outer);
  ipPage_ = page;
  outerLayout->addWidget(page, 1);
  auto* layout = new QVBoxLayout(page);
  lvIP = new QTableView(page);
  lvIP->setObjectName(QStringLiteral("lvIP"));
  lvIP->setAccessibleName(Tr("IP→地址"));
  lvIP->setModel(ipModel_);
  // A table view keeps no item per row, and rows of one fixed height let
  // it place a million of them without measuring any.
  lvIP->verticalHeader()->hide();
  lvIP->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  lvIP->verticalHeader()->setDefaultSectionSize(lvIP->fontMetrics().height() + 6);
  lvIP->setShowGrid(false);
  lvIP->setWordWrap(false);
  lvIP->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvIP->setSelectionMode(QAbstractItemView::SingleSelection);
  lvIP->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvIP->horizontalHeader()->setStretchLastSection(false);
  lvIP->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  const int widths[] = {110, 110, 80, 320};
  for (int c = 0; c < 4; ++c)
    lvIP->setColumnWidth(c, widths[c]);
  layout->addWidget(lvIP, 1);
  // The page edits the user's own rows, which a lookup searches before the
  // delivered table; the rest can be looked at.
  chkIpAll = new QCheckBox(Tr("显示全部IP地址（包括随程序提供的）"), page);
  chkIpAll->setObjectName(QStringLiteral("chkIpAll"));
  layout->addWidget(chkIpAll);
  connect(chkIpAll, &QCheckBox::toggled, this, &TfrmProp::ShowAllIpRows);

  auto* fields = new QGridLayout;
  meIPstart = AddressField("meIPstart", Tr("起始IP"), page);
  meIPstop = AddressField("meIPstop", Tr("结束IP"), page);
  // The record's fields hold 30 and 60 bytes.
  edtArea = TextField("edtArea", Tr("所在区域"), page, 30);
  edtPlace = TextField("edtPlace", Tr("详细地址"), page, 60);
  fields->addWidget(Caption(Tr("起始IP"), page), 0, 0);
  fields->addWidget(meIPstart, 0, 1);
  fields->addWidget(Caption(Tr("结束IP"), page), 0, 2);
  fields->addWidget(meIPstop, 0, 3);
  fields->addWidget(Caption(Tr("所在区域"), page), 1, 0);
  fields->addWidget(edtArea, 1, 1);
  fields->addWidget(Caption(Tr("详细地址"), page), 1, 2);
  fields->addWidget(edtPlace, 1, 3);
  layout->addLayout(fields);

  auto* buttons = new QHBoxLayout;
  auto* add = GlyphButton("SpeedButton27", style()->standardIcon(QStyle::SP_ArrowUp),
                          Tr("将IP地址增加到列表中"), page);
  auto* takeOut = GlyphButton("SpeedButton32", style()->standardIcon(QStyle::SP_ArrowDown),
                              Tr("从列表中移出IP地址。"), page);
  auto* import = TextButton("SpeedButton53", Tr("导入列表"), page);
  auto* exportButton = TextButton("SpeedButton54", Tr("导出列表"), page);
  buttons->addWidget(add);
  buttons->addWidget(takeOut);
  buttons->addStretch();
  buttons->addWidget(import);
  buttons->addWidget(exportButton);
  layout->addLayout(buttons);
  ipEditors_ = {meIPstart, meIPstop, edtArea, edtPlace, add, takeOut, import};

  connect(add, &QToolButton::clicked, this, &TfrmProp::SpeedButton27Click);
  connect(takeOut, &QToolButton::clicked, this, &TfrmProp::SpeedButton32Click);
  connect(import, &QPushButton::clicked, this, &TfrmProp::SpeedButton53Click);
  connect(exportButton, &QPushButton::clicked, this, &TfrmProp::SpeedButton54Click);
  return outer;
}

void TfrmProp::StartLoadingIpTable(bool all) {
  if (ipLoader_.joinable())
    ipLoader_.join();
  if (!all)
    ipChanged_ = false;
  ipPage_->setEnabled(false);
  ipLoading_->setText(Tr("正在读取IP地址表……"));
  ipLoading_->show();
  TSettingsKey key;
  const bool offer = !all && !(OpenSettingsKey(store_, kMailCheckKey, false, key) &&
                               ReadFlagValue(key, kSlimOfferedValue, false));
  ipLoader_ = std::thread(
      [this, home = home_, all, offer, user = all ? ipUserRows_ : std::vector<TIpRecord>()] {
        auto rows = std::make_shared<std::vector<TIpRecord>>();
        QString unreadable;
        std::size_t copied = 0;
        try {
          if (auto read = all ? LoadAllIpRows(home, user) : LoadUserIpRows(home)) {
            *rows = std::move(*read);
            if (offer && rows->size() >= kCopiedTableRows)
              copied = CountCopiedIpRows(home).value_or(0);
          } else {
            unreadable = Q(UserIpTableFile(home).string());
          }
        } catch (const std::exception& e) {
          rows->clear();
          unreadable = QString::fromLocal8Bit(e.what());
        }
        // Delivered on the window thread; the destructor joins this thread
        // first, and a window that is gone takes its pending events with it.
        QMetaObject::invokeMethod(
            this,
            [this, rows, unreadable, copied] {
              if (!unreadable.isEmpty()) {
                // Saving a few typed rows over a table that could not be read
                // would lose it: the page stays locked.
                ipLoading_->setText(Tr("IP地址表不能读取（%1），本页不能修改。").arg(unreadable));
                return;
              }
              ipModel_->SetRows(std::move(*rows));
              ipLoading_->hide();
              ipPage_->setEnabled(true);
              if (copied > 0)
                OfferIpTableSlimming(copied);
            },
            Qt::QueuedConnection);
      });
}

void TfrmProp::ShowAllIpRows(bool all) {
  if (all == ipAllShown_)
    return;
  ipAllShown_ = all;
  for (QWidget* w : ipEditors_)
    w->setEnabled(!all);
  if (all) {
    ipUserRows_ = ipModel_->Rows();
    StartLoadingIpTable(true);
  } else {
    if (ipLoader_.joinable())
      ipLoader_.join();
    ipModel_->SetRows(std::move(ipUserRows_));
    ipUserRows_.clear();
  }
}

const std::vector<TIpRecord>& TfrmProp::IpUserRows() const {
  return ipAllShown_ ? ipUserRows_ : ipModel_->Rows();
}

void TfrmProp::OfferIpTableSlimming(std::size_t copied) {
  TSettingsKey key;
  if (OpenSettingsKey(store_, kMailCheckKey, true, key))
    WriteFlagValue(key, kSlimOfferedValue, true);
  const QString text =
      Tr("您的IP地址表（%1）中有%2条记录与随程序提供的IP地址表完全相同。"
         "随程序提供的表总会在您的记录之后被查找，这些记录不再需要。\n\n是否删去它们，"
         "只保留您自己增加或导入的记录？")
          .arg(Q(UserIpTableFile(home_).string()))
          .arg(copied);
  if (!AskYesNo(this, Tr("精简IP地址表"), text))
    return;
  std::size_t dropped = 0;
  std::string error;
  if (!SlimUserIpTable(home_, &dropped, &error)) {
    ShowMessage(this, Tr("错误"), Q(error), TIcon::Critical);
    return;
  }
  if (auto rows = LoadUserIpRows(home_))
    ipModel_->SetRows(std::move(*rows));
}

void TfrmProp::SpeedButton27Click() {
  std::string error;
  int row = ipModel_->AddRow(
      {S(meIPstart->text()), S(meIPstop->text()), S(edtArea->text()), S(edtPlace->text())}, &error);
  if (row < 0) {
    ShowMessage(this, Tr("错误"), Q(error), TIcon::Warning);
    return;
  }
  ipChanged_ = true;
  const QModelIndex index = ipModel_->index(row, 0);
  lvIP->setCurrentIndex(index);
  lvIP->scrollTo(index);
  for (QLineEdit* e : {meIPstart, meIPstop, edtArea, edtPlace})
    e->clear();
}

void TfrmProp::SpeedButton32Click() {
  if (ipModel_->rowCount() == 0)
    return;
  const auto selected = lvIP->selectionModel()->selectedRows();
  const int row = selected.isEmpty() ? 0 : selected.front().row();
  TIpRecord r = ipModel_->TakeRow(row);
  ipChanged_ = true;
  meIPstart->setText(Q(r.StartIp));
  meIPstop->setText(Q(r.EndIp));
  edtArea->setText(Q(r.Area));
  edtPlace->setText(Q(r.Place));
}

void TfrmProp::SpeedButton53Click() {
  const auto folder = home_ / "setting";
  std::string error;
  EnsureFolder(folder, &error);
  QString file = Dialogs().OpenFileName(this, Tr("导入列表"), Q(folder.string()), IpFilter());
  if (file.isEmpty())
    return;
  int added = 0, skipped = 0;
  bool ok;
  {
    TBusyCursor busy;
    ok = ipModel_->Import(S(file), &added, &skipped, &error);
  }
  if (!ok) {
    ShowMessage(this, Tr("错误"), Tr("导入被禁止！"), TIcon::Critical);
    return;
  }
  if (added > 0)
    ipChanged_ = true;
  QString text = Tr("文件已被导入！");
  if (skipped > 0)
    text += Tr("\n有%1条记录的IP地址格式不对，没有导入。").arg(skipped);
  ShowMessage(this, Tr("成功！"), text);
}

void TfrmProp::SpeedButton54Click() {
  const auto folder = home_ / "setting";
  std::string error;
  EnsureFolder(folder, &error);
  QString file =
      Dialogs().SaveFileName(this, Tr("导出列表"), Q((folder / "IpSeek.dat").string()), IpFilter());
  if (file.isEmpty())
    return;
  bool ok;
  {
    TBusyCursor busy;
    ok = ExportIpTable(S(file), ipModel_->Rows(), &error);
  }
  if (ok)
    ShowMessage(this, Tr("成功！"), Tr("文件已被导出！"));
  else
    ShowMessage(this, Tr("错误"), Tr("导出被禁止！"), TIcon::Critical);
}

}  // namespace pelorix::gui
