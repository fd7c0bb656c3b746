// Renders the main window with sample rows to a PNG on the offscreen
// platform (the README's screenshot), and times a long list:
//   pelorix_gui_sample shot FILE.png
//   pelorix_gui_sample time [ROWS]
//   pelorix_gui_sample judge FILE.png   (the settings window's 自动判断 page)
//   pelorix_gui_sample show [settings[:PAGE]] [SECONDS]   (on the desktop's display,
//     in its language, for a screen grab or a screen reader; ends after
//     SECONDS, 60 unless given)
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "classify/token_store.h"
#include "engine/record_files.h"
#include "gui/mail_list_model.h"
#include "gui/main_window.h"
#include "gui/settings_window.h"
#include "gui/translation.h"
#include "store/accounts.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"

namespace fs = std::filesystem;
using namespace pelorix;

namespace {

TMailRecord Sample(int i) {
  static const char* const senders[] = {"张伟 <zhang.wei@example.cn>", "newsletter@shop.example",
                                        "Maria <maria@example.org>", "促销中心 <sale@ad.example>",
                                        "build-bot@ci.example"};
  static const char* const subjects[] = {"周五的会议改到下午三点", "Your order has shipped",
                                         "Photos from the trip", "【特价】全场五折，仅限今天！！！",
                                         "Nightly build #"};
  static const char* const places[] = {"→(北京@电信)", "→(Frankfurt@Hetzner)",
                                       "→(上海@联通)→(广州@电信)", "→...", "→(Amsterdam)"};
  TMailRecord r;
  const int k = i % 5;
  r.Sender = senders[k];
  r.Subject = std::string(subjects[k]) + (k == 4 ? std::to_string(1000 + i) : "");
  r.SenderRoute = places[(i * 7) % 5];
  r.Recipients = "→me@example.org";
  r.AccountKey = i % 2 ? "me[pop.example.org]" : "work[mail.example.com]";
  r.Number = std::to_string(i + 1);
  r.MessageKey = "<m" + std::to_string(i) + "@example>";
  r.Size = std::to_string(1200 + (i * 7919) % 90000);
  r.Date = "2026-12-0" + std::to_string(1 + i % 8) + " 1" + std::to_string(i % 10) + ":2" +
           std::to_string(i % 10) + ":00";
  r.CharSet = k == 2 ? "utf-8" : "gb2312";
  r.ContentType = k == 1 || k == 3 ? "text/html" : "text/plain";
  r.Priority = k == 0 ? "5" : (k == 3 ? "2" : "3");
  r.VerdictMark = k == 3 ? "Yes" : "";
  r.Organization = k == 1 ? "Example Shop" : "";
  if (i == 6) {
    r.DeletionMark = "Deleted";
    r.Size += "!";
  }
  return r;
}

fs::path TempHome() {
  std::string pattern = (fs::temp_directory_path() / "pelorix-sample-XXXXXX").string();
  return mkdtemp(pattern.data());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode != "show")
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (mode != "shot" && mode != "time" && mode != "judge" && mode != "show") {
    std::fprintf(stderr,
                 "usage: %s shot FILE.png | time [ROWS] | judge FILE.png | show [settings] "
                 "[SECONDS]\n",
                 argv[0]);
    return 2;
  }
  const fs::path home = TempHome();
  if (mode == "judge") {
    auto store = TSettingsStore::Open(home);
    {
      auto learnt = TTokenStore::Open(TTokenStore::PathIn(home));
      for (std::uint64_t i = 0; i < 120; ++i)
        learnt->Learn(i + 1, i % 4 ? TLearnClass::Good : TLearnClass::Spam, 0, {i % 17});
      learnt->AddFriend("zhang.wei@example.cn", "thunderbird");
      learnt->AddFriend("maria@example.org", "reply");
    }
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSize(9);
    QApplication::setFont(font);
    bool saved = false;
    {
      gui::TfrmProp prop(nullptr, home, *store);
      auto* pages = prop.findChild<QTabWidget*>(QStringLiteral("PageControl7"));
      for (int i = 0; i < pages->count(); ++i)
        if (pages->tabText(i) == QStringLiteral("自动判断"))
          pages->setCurrentIndex(i);
      prop.show();
      QApplication::processEvents();
      saved = prop.grab().save(QString::fromLocal8Bit(argc > 2 ? argv[2] : "judge.png"));
    }
    store.reset();
    std::error_code ec;
    fs::remove_all(home, ec);
    return saved ? 0 : 1;
  }
  int status = 0;
  {
    auto store = TSettingsStore::Open(home);
    SaveAccounts(*store, {{"mail.example.com", "work", "pw", "工作信箱"},
                          {"pop.example.org", "me", "pw", ""}});
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSize(9);
    QApplication::setFont(font);
    // Sample rows have no server to fetch their letters from.
    TSettingsKey check;
    if (OpenSettingsKey(*store, kMailCheckKey, true, check))
      WriteFlagValue(check, "FetchLetters", false);
    // The window in the language the desktop asks for, as the program does.
    gui::InstallTranslations(app, gui::ChosenLanguage(*store));
    gui::TfrmReport window(home, *store);
    const int rows = mode == "time" && argc > 2 ? std::atoi(argv[2]) : (mode == "time" ? 10000 : 9);
    std::vector<TMailRecord> records;
    for (int i = 0; i < rows; ++i)
      records.push_back(Sample(i));
    const fs::path file = home / "sample.NFL";
    WriteRecordFile(file, records);

    window.show();
    QElapsedTimer t;
    t.start();
    window.State().MailList.LoadRecordFile(file, true);
    // The judge's scores, as a run leaves them beside the rows.
    window.State().MailList.WithRows([](std::vector<TMailRow>& list) {
      for (std::size_t i = 0; i < list.size(); ++i) {
        list[i].Score = static_cast<int>((i * 37 + 5) % 100);
        list[i].Unsure = list[i].Score >= 40 && list[i].Score < 80;
      }
    });
    const qint64 readMs = t.restart();
    window.Model().Reload();
    QApplication::processEvents();
    const qint64 loadMs = readMs + t.restart();
    window.HeaderClicked(7);  // by subject
    QApplication::processEvents();
    const qint64 sortMs = t.restart();
    if (mode == "time") {
      // Scroll through the whole list a page at a time, painting each page.
      QTableView* list = window.List();
      QScrollBar* bar = list->verticalScrollBar();
      int pages = 0;
      for (int v = 0; v <= bar->maximum(); v += bar->pageStep(), ++pages) {
        bar->setValue(v);
        list->viewport()->grab();
      }
      const qint64 scrollMs = t.elapsed();
      std::printf(
          "%d rows: load %lld ms (reading the file %lld ms), sort %lld ms, %d pages painted in "
          "%lld ms (%.2f ms/page)\n",
          rows, static_cast<long long>(loadMs), static_cast<long long>(readMs),
          static_cast<long long>(sortMs), pages, static_cast<long long>(scrollMs),
          pages ? double(scrollMs) / pages : 0.0);
    } else if (mode == "show") {
      window.Model().SetChecked(1, true);
      window.Model().SetChecked(3, true);
      window.List()->selectRow(0);
      window.PreviewRow(0);
      // "settings" or "settings:PAGE" (counted from 0).
      const std::string what = argc > 2 ? argv[2] : "";
      const bool settings = what.rfind("settings", 0) == 0;
      const int seconds = std::atoi(argv[argc - 1]) > 0 ? std::atoi(argv[argc - 1]) : 60;
      std::unique_ptr<gui::TfrmProp> prop;
      if (settings) {
        prop = std::make_unique<gui::TfrmProp>(&window, home, *store);
        if (what.size() > 9)
          prop->findChild<QTabWidget*>(QStringLiteral("PageControl7"))
              ->setCurrentIndex(std::atoi(what.c_str() + 9));
        prop->show();
      }
      QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
      app.exec();
    } else {
      window.Model().SetChecked(1, true);
      window.Model().SetChecked(3, true);
      window.List()->selectRow(0);
      window.PreviewRow(0);
      QApplication::processEvents();
      if (!window.grab().save(QString::fromLocal8Bit(argv[2] ? argv[2] : "pelorix.png"))) {
        std::fprintf(stderr, "cannot write %s\n", argc > 2 ? argv[2] : "pelorix.png");
        status = 1;
      }
    }
  }
  std::error_code ec;
  fs::remove_all(home, ec);
  return status;
}
