#pragma once
// A private desktop keyring for tests: gnome-keyring-daemon (its Secret
// Service only) inside dbus-run-session, with its own home, unlocked with a
// test password. While it runs, DBUS_SESSION_BUS_ADDRESS points at its bus.
//
//   if (auto why = TKeyringSession::SkipReason(); !why.empty()) GTEST_SKIP() << why;
//   TKeyringSession keyring;
//   if (!keyring.Start()) GTEST_SKIP() << keyring.Failure();

#include <memory>
#include <string>

#include "support/process.h"
#include "support/scoped_env.h"

namespace pelorix::test {

class TKeyringSession {
 public:
  // Empty when the programs are installed (Debian dbus, gnome-keyring).
  static std::string SkipReason();

  TKeyringSession();
  ~TKeyringSession();
  TKeyringSession(const TKeyringSession&) = delete;
  TKeyringSession& operator=(const TKeyringSession&) = delete;

  // False, with Failure() saying why, when the bus or the daemon did not come up.
  bool Start();
  const std::string& Failure() const { return failure_; }
  // Ends the daemon and its bus.
  void Stop();

 private:
  TTempFolder temp_{"pelorix-keyring"};
  TChildProcess session_;
  std::unique_ptr<TScopedEnv> bus_;
  std::string failure_;
};

}  // namespace pelorix::test
