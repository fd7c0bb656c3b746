#include "gui/version_check.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QThread>
#include <cstdlib>
#include <memory>

#include "engine/version_reply.h"
#include "gui/dialogs.h"
#include "pelorix_version.h"
#include "text/textutil.h"

namespace pelorix::gui {

namespace {

constexpr std::size_t kMaxReplyBytes = 10000;

struct TTransfer {
  std::string Body;
  bool Capped = false;
  const std::atomic<bool>* Stop = nullptr;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<TTransfer*>(user);
  const std::size_t bytes = size * count;
  const std::size_t room = kMaxReplyBytes - t->Body.size();
  if (bytes > room) {
    // Enough read: a short count ends the transfer.
    t->Body.append(data, room);
    t->Capped = true;
    return room;
  }
  t->Body.append(data, bytes);
  return bytes;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* t = static_cast<const TTransfer*>(user);
  return t->Stop != nullptr && t->Stop->load() ? 1 : 0;
}

class TChkNewVerThread final : public QThread {
  Q_OBJECT
 public:
  // Held by the application, which stops and waits for it before it ends.
  explicit TChkNewVerThread(TVersionCheckOptions options)
      : QThread(qApp), options_(std::move(options)) {}
  void Stop() { stop_ = true; }

 signals:
  void Answer(const QString& caption, const QString& text);

 protected:
  void run() override {
    // A version the program cannot read as a number ends the check silently.
    const auto mine = ProgramVersionNumber(FileVersionText());
    if (!mine)
      return;
    const auto reply = FetchVersionText(options_, &stop_);
    if (stop_)
      return;
    TVersionAnswer answer;  // unfetched: nothing can be said about a new version
    if (reply)
      answer = ReadVersionReply(*reply, *mine);
    const auto notice = VersionNotice(answer, options_.HomePage);
    emit Answer(QString::fromStdString(notice.Caption), QString::fromStdString(notice.Text));
  }

 private:
  TVersionCheckOptions options_;
  std::atomic<bool> stop_{false};
};

}  // namespace

TVersionCheckOptions DefaultVersionCheckOptions() {
  TVersionCheckOptions o;
  const char* url = std::getenv("PELORIX_VERSION_URL");
  o.Url = url != nullptr && *url != '\0' ? url : PELORIX_VERSION_URL;
  o.HomePage = PELORIX_HOME_PAGE;
  return o;
}

std::optional<std::string> FetchVersionText(const TVersionCheckOptions& options,
                                            const std::atomic<bool>* stop) {
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl)
    return std::nullopt;
  std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(nullptr, &curl_slist_free_all);
  for (const char* h : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
    curl_slist* more = curl_slist_append(headers.get(), h);
    if (more == nullptr)
      return std::nullopt;
    headers.release();
    headers.reset(more);
  }
  TTransfer transfer;
  transfer.Stop = stop;
  const std::string url = VersionFileAddress(options.Url);
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_USERAGENT, "obrinel");
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);  // an error page is no version file
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, options.ConnectTimeoutMs);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, options.TotalTimeoutMs);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // time-outs without SIGALRM in a thread
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Progress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  const CURLcode rc = curl_easy_perform(c);
  if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && transfer.Capped))
    return transfer.Body;
  return std::nullopt;
}

void StartVersionCheck(QWidget* owner) {
  StartVersionCheck(owner, DefaultVersionCheckOptions());
}

void StartVersionCheck(QWidget*, const TVersionCheckOptions& options) {
  // The answer box has no owner, like the boxes of the original thread.
  static const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (!curlReady)
    return;
  auto* thread = new TChkNewVerThread(options);
  QObject::connect(thread, &TChkNewVerThread::Answer, qApp,
                   [](const QString& caption, const QString& text) {
                     Dialogs().Notice(nullptr, caption, text, TIcon::Information);
                   });
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  // Quitting does not wait for a slow server: the transfer is aborted.
  QObject::connect(qApp, &QCoreApplication::aboutToQuit, thread, [thread] {
    thread->Stop();
    thread->wait();
  });
  thread->start();
}

}  // namespace pelorix::gui

#include "version_check.moc"
