#include "gui/letter_window.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTabBar>
#include <QThread>
#include <QVBoxLayout>
#include <ctime>
#include <optional>
#include <string_view>

#include "engine/learn_sources.h"
#include "engine/mail_list.h"
#include "engine/reply.h"
#include "engine/restore.h"
#include "gui/dialogs.h"
#include "gui/tr.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix::gui {

namespace {

constexpr int kClientWidth = 600;
constexpr int kClientHeight = 438;

QString Q(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

std::string U(const QString& text) {
  return text.toStdString();
}

// A memo's lines as the reply and the saved letter take them: an empty
// memo has none.
std::vector<std::string> MemoLines(const QPlainTextEdit* memo) {
  const QString text = memo->toPlainText();
  std::vector<std::string> lines;
  if (text.isEmpty())
    return lines;
  for (const QString& line : text.split(QLatin1Char('\n')))
    lines.push_back(U(line));
  return lines;
}

QString JoinLines(const std::vector<std::string>& lines) {
  QStringList list;
  for (const auto& line : lines)
    list << Q(line);
  return list.join(QLatin1Char('\n'));
}

// The steps of sending a reply, as the engine words them; shown in the
// window's language. Any other text (a server's error) stays as it came.
constexpr const char* kSendSteps[] = {QT_TR_NOOP("正在连接服务器!"), QT_TR_NOOP("连接成功!"),
                                      QT_TR_NOOP("正在发送!"),       QT_TR_NOOP("发送完毕器!"),
                                      QT_TR_NOOP("发送失败！"),      QT_TR_NOOP("断开服务器!")};

QString SendStepText(const QString& text) {
  for (const char* step : kSendSteps) {
    if (text == QString::fromUtf8(step))
      return Tr(step);
  }
  return text;
}

// A label whose caption is also what assistive technology reads.
// The captions come as the saved letter writes them ("标题：" + subject):
// shown, their label part speaks the window's language.
void SetCaption(QLabel* label, const QString& caption) {
  QString text = caption;
  for (const char* prefix :
       {QT_TR_NOOP("发件人："), QT_TR_NOOP("标题："), QT_TR_NOOP("组织："), QT_TR_NOOP("收件人："),
        QT_TR_NOOP("地址："), QT_TR_NOOP("优先级："), QT_TR_NOOP("时间：")}) {
    const QString p = QString::fromUtf8(prefix);
    if (caption.startsWith(p)) {
      const QString rest = caption.mid(p.size());
      // Priority names are the window's own words too.
      text = Tr(prefix) + (std::string_view(prefix) == "优先级：" ? Tr(rest) : rest);
      break;
    }
  }
  label->setText(text);
  label->setAccessibleName(text);
}

// One send off the window thread, so the window keeps painting. It owns
// copies of everything it uses and outlives a window closed meanwhile.
class TReplySendThread final : public QThread {
  Q_OBJECT
 public:
  // Held by the application, which waits for it before it ends.
  TReplySendThread(TSmtpSettings settings, TReplySend send, std::filesystem::path home)
      : QThread(qApp),
        settings_(std::move(settings)),
        send_(std::move(send)),
        home_(std::move(home)) {}

 signals:
  void Status(const QString& text);
  void Done(bool sent, const QString& error);

 protected:
  void run() override {
    std::string error;
    const bool sent = SendReply(
        settings_, send_, [this](const std::string& text) { emit Status(Q(text)); }, &error);
    // Whom the user answers is no spammer.
    if (sent)
      AddRepliedFriends(home_, send_.Sendto, send_.CC);
    emit Done(sent, Q(error));
  }

 private:
  TSmtpSettings settings_;
  TReplySend send_;
  std::filesystem::path home_;
};

class TfrmMailprop final : public QWidget {
  Q_OBJECT
 public:
  TfrmMailprop(QWidget* owner, std::filesystem::path home, TSettingsStore& store)
      : QWidget(owner, Qt::Window), home_(std::move(home)), store_(store) {
    setObjectName(QStringLiteral("TfrmMailprop"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Tr("属性"));
    setAccessibleName(Tr("属性"));
    QFont f = font();
    f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                   QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Serif CJK SC"),
                   QStringLiteral("WenQuanYi Micro Hei")});
    setFont(f);

    Notebook2 = new QStackedWidget(this);
    Notebook2->setObjectName(QStringLiteral("Notebook2"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(2, 2, 3, 2);
    outer->addWidget(Notebook2);
    BuildLetterPage();
    BuildReplyPage();

    flatControl1->setCurrentIndex(0);
    Notebook2->setCurrentWidget(pageDefault);
    // The user cannot resize the window.
    setFixedSize(kClientWidth, kClientHeight);
  }

  void Fill(const TMailRow& row, const QString& note) {
    captions_ = LetterCaptions(row);
    SetCaption(lbFrom, Q(captions_.From));
    SetCaption(lbSubject, Q(captions_.Subject));
    SetCaption(lbOrganization, Q(captions_.Organization));
    SetCaption(lbSendto, Q(captions_.Sendto));
    SetCaption(lbrealAddr, Q(captions_.RealAddr));
    SetCaption(lbPriority, Q(captions_.Priority));
    SetCaption(lbDateTime, Q(captions_.DateTime));
    // A deleted message shows its kept copy, whole, when there is one;
    // without any of its files the pages keep what they showed.
    std::optional<TLetterTexts> texts;
    if (ascii::Trim(row.Items[mcDeletionMark]) == "Deleted")
      texts = LoadKeptLetterTexts(home_, row.Items[mcMessageKey]);
    if (!texts)
      texts = LoadLetterTexts(home_, row.Items[mcMessageKey]);
    if (texts) {
      memoHTML->setPlainText(JoinLines(texts->Html));
      memText->setPlainText(texts->HasBody ? JoinLines(texts->Text) : note);
      memProp->setPlainText(JoinLines(texts->Prop));
    } else if (!note.isEmpty()) {
      memoHTML->clear();
      memText->setPlainText(note);
    }
  }

 private:
  QLabel* NewLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
  }

  QPushButton* NewButton(const char* name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(caption);
    return button;
  }

  QPlainTextEdit* NewMemo(const char* name, const QString& caption, bool readOnly) {
    auto* memo = new QPlainTextEdit;
    memo->setObjectName(QLatin1String(name));
    memo->setAccessibleName(caption);
    memo->setReadOnly(readOnly);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Fixed pitch, a Chinese character two columns wide, as 宋体 draws it:
    // the reply's rules and indents line up.
    QFont f = memo->font();
    f.setFamilies({QStringLiteral("新宋体"), QStringLiteral("NSimSun"),
                   QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("monospace")});
    f.setStyleHint(QFont::TypeWriter);
    memo->setFont(f);
    return memo;
  }

  void BuildLetterPage() {
    pageDefault = new QWidget;
    pageDefault->setObjectName(QStringLiteral("default"));
    auto* layout = new QVBoxLayout(pageDefault);
    layout->setContentsMargins(4, 4, 4, 4);

    auto* header = new QGridLayout;
    lbSubject = NewLabel("lbSubject", pageDefault);
    lbFrom = NewLabel("lbFrom", pageDefault);
    lbOrganization = NewLabel("lbOrganization", pageDefault);
    lbSendto = NewLabel("lbSendto", pageDefault);
    lbrealAddr = NewLabel("lbrealAddr", pageDefault);
    lbPriority = NewLabel("lbPriority", pageDefault);
    lbDateTime = NewLabel("lbDateTime", pageDefault);
    header->addWidget(lbSubject, 0, 0, 1, 2);
    header->addWidget(lbFrom, 1, 0, 1, 2);
    header->addWidget(lbSendto, 2, 0, 1, 2);
    header->addWidget(lbOrganization, 3, 0);
    header->addWidget(lbrealAddr, 3, 1);
    header->addWidget(lbPriority, 4, 0);
    header->addWidget(lbDateTime, 4, 1);
    for (QLabel* label :
         {lbSubject, lbFrom, lbSendto, lbOrganization, lbrealAddr, lbPriority, lbDateTime})
      label->setMinimumWidth(1);  // long captions must not widen the fixed window
    layout->addLayout(header);

    auto* buttons = new QHBoxLayout;
    FlatSpeedButton1 = NewButton("FlatSpeedButton1", Tr("保存该信件为纯文本"), pageDefault);
    FlatSpeedButton2 = NewButton("FlatSpeedButton2", Tr("回复该信件"), pageDefault);
    buttons->addWidget(FlatSpeedButton1);
    buttons->addWidget(FlatSpeedButton2);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(FlatSpeedButton1, &QPushButton::clicked, this, &TfrmMailprop::FlatSpeedButton1Click);
    connect(FlatSpeedButton2, &QPushButton::clicked, this, &TfrmMailprop::FlatSpeedButton2Click);

    flatControl1 = new QTabBar(pageDefault);
    flatControl1->setObjectName(QStringLiteral("flatControl1"));
    flatControl1->setAccessibleName(Tr("信件内容"));
    flatControl1->setExpanding(false);
    Notebook1 = new QStackedWidget(pageDefault);
    Notebook1->setObjectName(QStringLiteral("Notebook1"));
    memText = NewMemo("memText", Tr("纯文本"), true);
    memoHTML = NewMemo("memoHTML", Tr("HTML源码"), true);
    memProp = NewMemo("memProp", Tr("属性"), true);
    for (QPlainTextEdit* memo : {memText, memoHTML, memProp}) {
      flatControl1->addTab(memo->accessibleName());
      Notebook1->addWidget(memo);
    }
    connect(flatControl1, &QTabBar::currentChanged, Notebook1, &QStackedWidget::setCurrentIndex);
    layout->addWidget(flatControl1);
    layout->addWidget(Notebook1, 1);
    Notebook2->addWidget(pageDefault);
  }

  void BuildReplyPage() {
    pageWrite = new QWidget;
    pageWrite->setObjectName(QStringLiteral("writeletter"));
    auto* layout = new QVBoxLayout(pageWrite);
    layout->setContentsMargins(4, 4, 4, 4);

    auto* fields = new QGridLayout;
    const auto addField = [&](const char* name, const QString& caption, int row) {
      auto* label = new QLabel(caption, pageWrite);
      label->setAccessibleName(caption);
      auto* edit = new QLineEdit(pageWrite);
      edit->setObjectName(QLatin1String(name));
      edit->setAccessibleName(caption);
      label->setBuddy(edit);
      fields->addWidget(label, row, 0);
      fields->addWidget(edit, row, 1);
      return edit;
    };
    edtSendto = addField("edtSendto", Tr("收件人："), 0);
    edtCC = addField("edtCC", Tr("抄送："), 1);
    edtSubject = addField("edtSubject", Tr("主题："), 2);
    layout->addLayout(fields);

    memWrite = NewMemo("memWrite", Tr("回信内容"), false);
    layout->addWidget(memWrite, 1);

    auto* bottom = new QHBoxLayout;
    StaticText1 = NewLabel("StaticText1", pageWrite);
    SetCaption(StaticText1, Tr("发信状态"));
    StaticText1->setMinimumWidth(1);
    FlatSpeedButton4 = NewButton("FlatSpeedButton4", Tr("停止回复"), pageWrite);
    btnSmtp = NewButton("btnSmtp", Tr("发送回复"), pageWrite);
    bottom->addWidget(StaticText1, 1);
    bottom->addWidget(FlatSpeedButton4);
    bottom->addWidget(btnSmtp);
    layout->addLayout(bottom);
    connect(FlatSpeedButton4, &QPushButton::clicked, this, &TfrmMailprop::FlatSpeedButton4Click);
    connect(btnSmtp, &QPushButton::clicked, this, &TfrmMailprop::btnSmtpClick);
    Notebook2->addWidget(pageWrite);
  }

  // Save as text.
  void FlatSpeedButton1Click() {
    const QString proposed = Q(StripNameChars(U(lbSubject->text())));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString chosen = Dialogs().SaveFileName(
        this, Tr("保存该信件为纯文本"),
        folder.isEmpty() ? proposed : QDir(folder).filePath(proposed), Tr("文本文件(*.txt *.TXT)"));
    const auto path = LetterSavePath(U(chosen));
    if (!path)
      return;
    if (!WriteLetterText(*path, captions_, MemoLines(memText)))
      ShowMessage(this, Tr("保存该信件为纯文本"), Tr("无法写入文件 ") + Q(path->string()),
                  TIcon::Critical);
  }

  // The reply page, filled anew.
  void FlatSpeedButton2Click() {
    Notebook2->setCurrentWidget(pageWrite);
    const TReplyDraft draft = ComposeReply(U(lbFrom->text()), U(lbSubject->text()),
                                           MemoLines(memText), std::time(nullptr));
    edtSendto->setText(Q(draft.Sendto));
    edtSubject->setText(Q(draft.Subject));
    edtCC->clear();
    memWrite->setPlainText(JoinLines(draft.Lines));
  }

  void FlatSpeedButton4Click() { Notebook2->setCurrentWidget(pageDefault); }

  void SetSending(bool sending) {
    for (QWidget* w : std::initializer_list<QWidget*>{btnSmtp, memWrite, edtSendto, edtCC,
                                                      edtSubject, FlatSpeedButton4})
      w->setEnabled(!sending);
  }

  void btnSmtpClick() {
    const TSmtpSettings settings = ReadSmtpSettings(store_);
    if (const std::string problem = SmtpSettingsProblem(settings); !problem.empty()) {
      statusLog_.clear();
      Smtp1Status(Q(problem));
      return;
    }
    TReplySend send;
    send.Sendto = U(edtSendto->text());
    send.CC = U(edtCC->text());
    send.Subject = U(edtSubject->text());
    send.Lines = MemoLines(memWrite);

    statusLog_.clear();
    SetSending(true);
    auto* thread = new TReplySendThread(settings, std::move(send), home_);
    connect(thread, &TReplySendThread::Status, this, &TfrmMailprop::Smtp1Status);
    connect(thread, &TReplySendThread::Done, this, &TfrmMailprop::SendDone);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    // The program does not end under a send still talking to its server.
    connect(qApp, &QCoreApplication::aboutToQuit, thread, [thread] { thread->wait(); });
    thread->start();
  }

  void Smtp1Status(const QString& step) {
    const QString text = SendStepText(step);
    SetCaption(StaticText1, text);
    statusLog_ << text;
    StaticText1->setToolTip(statusLog_.join(QLatin1Char('\n')));
  }

  void SendDone(bool sent, const QString& error) {
    if (!error.isEmpty()) {
      // The status line ends on "断开服务器!": the reason stays at hand.
      statusLog_ << error;
      StaticText1->setToolTip(statusLog_.join(QLatin1Char('\n')));
      StaticText1->setAccessibleDescription(error);
    } else {
      StaticText1->setAccessibleDescription({});
    }
    SetSending(false);
    if (sent)
      Notebook2->setCurrentWidget(pageDefault);
  }

  std::filesystem::path home_;
  TSettingsStore& store_;
  TLetterCaptions captions_;
  QStringList statusLog_;

  QStackedWidget* Notebook2 = nullptr;
  QWidget* pageDefault = nullptr;
  QWidget* pageWrite = nullptr;
  QLabel *lbSubject = nullptr, *lbFrom = nullptr, *lbOrganization = nullptr, *lbSendto = nullptr,
         *lbrealAddr = nullptr, *lbPriority = nullptr, *lbDateTime = nullptr;
  QPushButton *FlatSpeedButton1 = nullptr, *FlatSpeedButton2 = nullptr;
  QTabBar* flatControl1 = nullptr;
  QStackedWidget* Notebook1 = nullptr;
  QPlainTextEdit *memText = nullptr, *memoHTML = nullptr, *memProp = nullptr;
  QLineEdit *edtSendto = nullptr, *edtCC = nullptr, *edtSubject = nullptr;
  QPlainTextEdit* memWrite = nullptr;
  QPushButton *FlatSpeedButton4 = nullptr, *btnSmtp = nullptr;
  QLabel* StaticText1 = nullptr;
};

}  // namespace

void ShowLetterWindow(QWidget* owner, const std::filesystem::path& home, TSettingsStore& store,
                      const TMailRow& row, const QString& note) {
  // The owner holds the one window while it is open; closing deletes it.
  TfrmMailprop* window = nullptr;
  if (owner != nullptr) {
    window =
        owner->findChild<TfrmMailprop*>(QStringLiteral("TfrmMailprop"), Qt::FindDirectChildrenOnly);
  } else {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* found = qobject_cast<TfrmMailprop*>(top); found != nullptr && window == nullptr)
        window = found;
  }
  if (window == nullptr)
    window = new TfrmMailprop(owner, home, store);
  window->Fill(row, note);
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace pelorix::gui

#include "letter_window.moc"
