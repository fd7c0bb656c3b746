#include "support/keyring.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace pelorix::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kRunSession = "/usr/bin/dbus-run-session";
constexpr const char* kDaemon = "/usr/bin/gnome-keyring-daemon";

// Runs on the new bus: the daemon in the background, the bus address for the
// test, then a wait for the stop file (so that everything ends in order).
constexpr const char* kScript = R"SH(
d=$1
printf 'pelorix-test' | gnome-keyring-daemon --foreground --unlock --components=secrets \
  > "$d/keyring.log" 2>&1 &
k=$!
# The address only once the Secret Service owns its name.
n=0
until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
    grep -q 'boolean true'; do
  n=$((n + 1))
  [ $n -gt 100 ] && { kill $k; exit 1; }
  sleep 0.05
done
echo "$DBUS_SESSION_BUS_ADDRESS" > "$d/address.tmp"
mv "$d/address.tmp" "$d/address"
while [ ! -e "$d/stop" ]; do sleep 0.1; done
kill $k
wait $k
)SH";

}  // namespace

std::string TKeyringSession::SkipReason() {
  if (::access(kRunSession, X_OK) != 0)
    return "dbus-run-session is not installed (Debian dbus)";
  if (::access(kDaemon, X_OK) != 0)
    return "gnome-keyring-daemon is not installed (Debian gnome-keyring)";
  return {};
}

TKeyringSession::TKeyringSession() {
  const fs::path t(temp_.Path());
  fs::create_directories(t / "home" / ".local" / "share");
  fs::create_directories(t / "run");
  ::chmod((t / "run").c_str(), 0700);
  WriteFile((t / "run.sh").string(), kScript);
}

TKeyringSession::~TKeyringSession() {
  Stop();
}

bool TKeyringSession::Start() {
  const fs::path t(temp_.Path());
  session_.Start({"/usr/bin/env", "-u", "DISPLAY", "HOME=" + (t / "home").string(),
                  "XDG_DATA_HOME=" + (t / "home" / ".local" / "share").string(),
                  "XDG_RUNTIME_DIR=" + (t / "run").string(), kRunSession, "--", "/bin/sh",
                  (t / "run.sh").string(), t.string()},
                 (t / "session.log").string());
  std::string address;
  for (int i = 0; i < 500 && address.empty(); ++i) {
    if (fs::exists(t / "address")) {
      address = ReadFile((t / "address").string());
      while (!address.empty() && (address.back() == '\n' || address.back() == '\r'))
        address.pop_back();
    } else if (!session_.Running()) {
      break;
    } else {
      std::this_thread::sleep_for(20ms);
    }
  }
  if (address.empty()) {
    failure_ = "the keyring did not start: " + ReadFile((t / "session.log").string()) +
               ReadFile((t / "keyring.log").string());
    Stop();
    return false;
  }
  bus_ = std::make_unique<TScopedEnv>("DBUS_SESSION_BUS_ADDRESS", address);
  return true;
}

void TKeyringSession::Stop() {
  bus_.reset();
  if (!session_.Running())
    return;
  WriteFile((fs::path(temp_.Path()) / "stop").string(), "");
  for (int i = 0; i < 250 && session_.Running(); ++i)
    std::this_thread::sleep_for(20ms);
  session_.Stop();
}

}  // namespace pelorix::test
