#pragma once
// TChkNewVerThread: asks the maker's server whether a newer version exists.

#include <atomic>
#include <optional>
#include <string>

class QWidget;

namespace pelorix::gui {

struct TVersionCheckOptions {
  std::string Url;       // the version file, "http://" put in front when it has no scheme
  std::string HomePage;  // shown after "下载地址: "
  long ConnectTimeoutMs = 10000;
  long TotalTimeoutMs = 30000;  // the thread always ends
};

// The build's addresses; $PELORIX_VERSION_URL overrides the version file's.
TVersionCheckOptions DefaultVersionCheckOptions();

// Starts one check in the background; its answer appears as a message box
// that is not modal to any window. Several checks may run at once.
void StartVersionCheck(QWidget* owner);
void StartVersionCheck(QWidget* owner, const TVersionCheckOptions& options);

// One GET ("obrinel", no cache, the environment's proxy, redirects
// followed); the first 10,000 bytes of the body, or nothing when the file
// could not be fetched. `stop` aborts a transfer under way.
std::optional<std::string> FetchVersionText(const TVersionCheckOptions& options,
                                            const std::atomic<bool>* stop = nullptr);

}  // namespace pelorix::gui
