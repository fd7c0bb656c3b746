// The "IP→地址" page of the settings window: the IP location table as a
// model, typed rows, and table files imported and exported.
#include <QApplication>
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

const QString kIpFilter = QStringLiteral("IP对照表(*.dat)");

}  // namespace

QWidget* TfrmProp::BuildIpPage() {
  auto* outer = new QWidget(this);
  auto* outerLayout = new QVBoxLayout(outer);
  outerLayout->setContentsMargins(0, 0, 0, 0);
  ipLoading_ = new QLabel(QStringLiteral("正在读取IP地址表……"), outer);
  ipLoading_->setObjectName(QStringLiteral("ipLoading"));
  ipLoading_->hide();
  outerLayout->addWidget(ipLoading_);
  auto* page = new QWidget(outer);
  ipPage_ = page;
  outerLayout->addWidget(page, 1);
  auto* layout = new QVBoxLayout(page);
  lvIP = new QTableView(page);
  lvIP->setObjectName(QStringLiteral("lvIP"));
  lvIP->setAccessibleName(QStringLiteral("IP→地址"));
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

  auto* fields = new QGridLayout;
  meIPstart = AddressField("meIPstart", QStringLiteral("起始IP"), page);
  meIPstop = AddressField("meIPstop", QStringLiteral("结束IP"), page);
  // The record's fields hold 30 and 60 bytes.
  edtArea = TextField("edtArea", QStringLiteral("所在区域"), page, 30);
  edtPlace = TextField("edtPlace", QStringLiteral("详细地址"), page, 60);
  fields->addWidget(Caption(QStringLiteral("起始IP"), page), 0, 0);
  fields->addWidget(meIPstart, 0, 1);
  fields->addWidget(Caption(QStringLiteral("结束IP"), page), 0, 2);
  fields->addWidget(meIPstop, 0, 3);
  fields->addWidget(Caption(QStringLiteral("所在区域"), page), 1, 0);
  fields->addWidget(edtArea, 1, 1);
  fields->addWidget(Caption(QStringLiteral("详细地址"), page), 1, 2);
  fields->addWidget(edtPlace, 1, 3);
  layout->addLayout(fields);

  auto* buttons = new QHBoxLayout;
  auto* add = GlyphButton("SpeedButton27", style()->standardIcon(QStyle::SP_ArrowUp),
                          QStringLiteral("将IP地址增加到列表中"), page);
  auto* takeOut = GlyphButton("SpeedButton32", style()->standardIcon(QStyle::SP_ArrowDown),
                              QStringLiteral("从列表中移出IP地址。"), page);
  auto* import = TextButton("SpeedButton53", QStringLiteral("导入列表"), page);
  auto* exportButton = TextButton("SpeedButton54", QStringLiteral("导出列表"), page);
  buttons->addWidget(add);
  buttons->addWidget(takeOut);
  buttons->addStretch();
  buttons->addWidget(import);
  buttons->addWidget(exportButton);
  layout->addLayout(buttons);

  connect(add, &QToolButton::clicked, this, &TfrmProp::SpeedButton27Click);
  connect(takeOut, &QToolButton::clicked, this, &TfrmProp::SpeedButton32Click);
  connect(import, &QPushButton::clicked, this, &TfrmProp::SpeedButton53Click);
  connect(exportButton, &QPushButton::clicked, this, &TfrmProp::SpeedButton54Click);
  return outer;
}

void TfrmProp::StartLoadingIpTable() {
  ipChanged_ = false;
  ipPage_->setEnabled(false);
  ipLoading_->show();
  ipLoader_ = std::thread([this, home = home_] {
    auto rows = std::make_shared<std::vector<TIpRecord>>();
    QString unreadable;
    try {
      const auto file = IpTableFileInForce(home);
      std::error_code ec;
      if (std::filesystem::exists(file, ec)) {
        if (auto read = ReadIpTableFile(file)) {
          *rows = std::move(*read);
          SortIpRows(*rows);
        } else {
          unreadable = Q(file.string());
        }
      }
    } catch (const std::exception& e) {
      rows->clear();
      unreadable = QString::fromLocal8Bit(e.what());
    }
    // Delivered on the window thread; the destructor joins this thread
    // first, and a window that is gone takes its pending events with it.
    QMetaObject::invokeMethod(
        this,
        [this, rows, unreadable] {
          if (!unreadable.isEmpty()) {
            // Saving a few typed rows over a table that could not be read
            // would lose it: the page stays locked.
            ipLoading_->setText(
                QStringLiteral("IP地址表不能读取（%1），本页不能修改。").arg(unreadable));
            return;
          }
          ipModel_->SetRows(std::move(*rows));
          ipLoading_->hide();
          ipPage_->setEnabled(true);
        },
        Qt::QueuedConnection);
  });
}

void TfrmProp::SpeedButton27Click() {
  std::string error;
  int row = ipModel_->AddRow(
      {S(meIPstart->text()), S(meIPstop->text()), S(edtArea->text()), S(edtPlace->text())}, &error);
  if (row < 0) {
    ShowMessage(this, QStringLiteral("错误"), Q(error), TIcon::Warning);
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
  QString file =
      Dialogs().OpenFileName(this, QStringLiteral("导入列表"), Q(folder.string()), kIpFilter);
  if (file.isEmpty())
    return;
  int added = 0, skipped = 0;
  bool ok;
  {
    TBusyCursor busy;
    ok = ipModel_->Import(S(file), &added, &skipped, &error);
  }
  if (!ok) {
    ShowMessage(this, QStringLiteral("错误"), QStringLiteral("导入被禁止！"), TIcon::Critical);
    return;
  }
  if (added > 0)
    ipChanged_ = true;
  QString text = QStringLiteral("文件已被导入！");
  if (skipped > 0)
    text += QStringLiteral("\n有%1条记录的IP地址格式不对，没有导入。").arg(skipped);
  ShowMessage(this, QStringLiteral("成功！"), text);
}

void TfrmProp::SpeedButton54Click() {
  const auto folder = home_ / "setting";
  std::string error;
  EnsureFolder(folder, &error);
  QString file = Dialogs().SaveFileName(this, QStringLiteral("导出列表"),
                                        Q((folder / "IpSeek.dat").string()), kIpFilter);
  if (file.isEmpty())
    return;
  bool ok;
  {
    TBusyCursor busy;
    ok = ExportIpTable(S(file), ipModel_->Rows(), &error);
  }
  if (ok)
    ShowMessage(this, QStringLiteral("成功！"), QStringLiteral("文件已被导出！"));
  else
    ShowMessage(this, QStringLiteral("错误"), QStringLiteral("导出被禁止！"), TIcon::Critical);
}

}  // namespace pelorix::gui
