#pragma once
// TfrmReport: the main window. Menus, tool bar, the list, brief and event
// pages, the status bar, the outlook bar and the tray; the commands that
// start, stop and finish check and deletion runs through the engine.

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/check_run.h"
#include "engine/delete_worker.h"
#include "engine/run_lock.h"
#include "gui/qt_sink.h"

class QAction;
class QActionGroup;
class QButtonGroup;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QStackedWidget;
class QTableView;
class QTimer;
class QToolButton;

namespace pelorix {
class TSettingsStore;
}

namespace pelorix::gui {

class TMailListModel;
class TOutlookBar;
class TTray;

inline constexpr int kHeaderCheck = 1;
inline constexpr int kContentCheck = 2;
inline constexpr int kDeletion = 3;

class TfrmReport final : public QMainWindow, private TSinkTarget {
  Q_OBJECT
 public:
  // Prepares tmp/, loads the check settings and the accounts. The window is
  // not shown; StartShown decides.
  TfrmReport(std::filesystem::path home, TSettingsStore& store, QWidget* parent = nullptr);
  ~TfrmReport() override;

  // Shows the window, or (startHidden and a tray exists) only the tray icon.
  void StartShown(bool startHidden);

  TRunState& State() { return engine_.State(); }
  TMailListModel& Model() { return *model_; }
  QTableView* List() const { return lvMailList_; }
  TOutlookBar* OutlookBar() const { return outBar_; }
  QMenu* AccountMenu() const { return pMenuClear_; }
  TTray* Tray() const { return tray_; }
  QString StatusPanel(int panel) const;  // 1..5
  // The brief report page's lines, shown there or still waiting to be.
  QStringList BriefLines() const;
  QStringList EventLines() const;
  QString PreviewText() const;
  bool Running();
  // The whole program ends (saving what must be saved) rather than hiding.
  void ExitProgram();

  // Commands, as the menus and buttons run them.
  void CheckHeaders();
  void CheckContents();
  void StopRun();
  void ClearMail();
  void AccountMenuChosen(QAction* item, int pendingCommand);
  void OutlookButtonClicked(int group, int button);
  void OpenList();
  void SaveList();
  void OpenBrief();
  void SaveBrief();
  void SelectAll(bool ticked);
  void PurgeCurrentAccount();
  void PurgeAllAccounts();
  // The ticked rows of an account's deleted mail, from their kept copies:
  // appended to an mbox file or sent back to the user's own address.
  void RestoreMail();
  // "标为垃圾邮件" / "标为正常邮件": the judge learns the selected rows.
  void MarkSelected(bool spam);
  void StartMailProgram();
  void OpenSettings();
  void OpenLetter();
  void ShowPage(int page);  // 0 list, 1 brief, 2 events
  void HeaderClicked(int column);
  void PreviewRow(int row);
  // The scheduled check: skipped quietly when a run is under way.
  void AutoCheck();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetBrief(const QString& text);
  void ShowPendingBrief();
  // TSinkTarget, on the GUI thread.
  void OnStatus(const TStatusTexts& texts) override;
  void OnRowAdded(std::size_t index) override;
  void OnBatchEnd() override;
  void OnCounters(const TMailboxCounters& counters) override;
  bool OnQuestion(const std::string& caption, const std::string& text) override;
  void OnWorkerEnded() override;

  void BuildMenus();
  void BuildToolBar();
  void BuildPages();
  void BuildStatusBar();
  void LoadAccounts();
  void ConfigureAutoCheck();
  void SetCheckButtonsEnabled(bool enabled);
  void SetClearEnabled(bool enabled);
  // Whether the list shows an account's deleted mail (restore is offered).
  void SetDeletedView(bool deleted);
  // Sends the copies back, the status line telling how far it got; false
  // with the reason when it did not go.
  bool ResendCopies(const std::vector<std::filesystem::path>& files, QString& result);
  void TickAllMailboxes();
  QString Selection() const;
  void RunCheck(bool wholeMessage, bool scheduled);
  void RunDeletion();
  // Display name to account file name (through the display and key lists).
  std::string AccountFileNameOf(const QString& groupCaption) const;
  void SetPanel(int panel, const QString& text);
  void ReplaceList(const std::filesystem::path& file);
  bool ListLocked();
  void CheckFinishedHandler();
  void DeletionFinishedHandler();
  void ShowWindowFromTray();
  void UpdateTray(const QString& tip, bool useImage, int image);
  // A row without its body file: the message fetched from its server on a
  // thread, then the preview (or, openWindow, the letter window) shown.
  // False when nothing was started (switched off, busy, failed before).
  bool FetchLetter(const TMailRow& row, bool openWindow);
  void LetterFetched(const TMailRow& row, int generation, bool fetched, const QString& line);
  // Before a run: the fetch is stopped and its result dropped.
  void CancelLetterFetch();
  // What became of a fetch that brought no text, by message key.
  QString FetchNote(const TMailRow& row) const;

  std::filesystem::path home_;
  TSettingsStore& store_;
  TQtSink sink_;
  TCheckEngine engine_;
  TDeleteEngine deleter_;
  TFileLock runLock_;
  // The former run's files, deleted once the first run is over (deleting
  // them while a check creates its own slows both) or at exit.
  std::optional<TTmpSweep> tmpSweep_;

  std::vector<std::string> keyList_;
  std::vector<std::string> displayList_;
  int sortColumn_ = 0;
  bool sortAscending_ = false;
  bool checkAllState_ = false;
  int pendingCommand_ = 0;
  bool exitRequested_ = false;
  bool exiting_ = false;
  bool trayUpdating_ = false;
  int questionsOpen_ = 0;  // worker questions on screen (nested loops)

  TMailListModel* model_ = nullptr;
  QTableView* lvMailList_ = nullptr;
  TOutlookBar* outBar_ = nullptr;
  QPlainTextEdit* memText_ = nullptr;
  QPlainTextEdit* memo1_ = nullptr;
  QPlainTextEdit* lstMsg_ = nullptr;
  struct TPendingSinkCalls {
    std::optional<TStatusTexts> Status;
    QStringList Log;
    std::optional<std::size_t> LastRow;
  };
  TPendingSinkCalls pending_;            // of the sink batch being handed over
  std::optional<QString> pendingBrief_;  // put on its page once the page shows
  QStackedWidget* pages_ = nullptr;
  QButtonGroup* pageButtons_ = nullptr;
  QLabel* panels_[5] = {};
  QMenu* pMenuClear_ = nullptr;
  QActionGroup* accountItems_ = nullptr;
  QAction* actCheckHeader_ = nullptr;
  QAction* actCheckContent_ = nullptr;
  QAction* actClear_ = nullptr;
  QAction* actClearMenu_ = nullptr;
  QAction* actCheckMenu_ = nullptr;
  QAction* actSelectAll_ = nullptr;
  QAction* actSelectNone_ = nullptr;
  QAction* actPageList_ = nullptr;
  QAction* actPageBrief_ = nullptr;
  QAction* actRestore_ = nullptr;
  QAction* actMarkSpam_ = nullptr;
  QAction* actMarkGood_ = nullptr;
  QAction* actFetchLetters_ = nullptr;
  TTray* tray_ = nullptr;
  QTimer* autoTimer_ = nullptr;
  std::thread letterFetch_;
  std::atomic<bool> letterStop_{false};
  bool fetching_ = false;
  std::string fetchKey_;  // of the fetch under way
  bool openWhenFetched_ = false;
  int fetchGeneration_ = 0;
  std::map<std::string, QString> fetchNotes_;
};

}  // namespace pelorix::gui
