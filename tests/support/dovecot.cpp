#include "support/dovecot.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace pelorix::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDovecot = "/usr/sbin/dovecot";

std::string WithLf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      continue;
    }
    out += text[i];
  }
  return out;
}

// Dovecot's mail processes run as nobody: the folders they use must be theirs.
void ChownTree(const fs::path& root, uid_t uid, gid_t gid) {
  ::chown(root.c_str(), uid, gid);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    ::chown(entry.path().c_str(), uid, gid);
  }
}

}  // namespace

std::string TDovecotServer::SkipReason() {
  if (::access(kDovecot, X_OK) != 0) {
    return "Dovecot is not installed (/usr/sbin/dovecot, Debian dovecot-pop3d)";
  }
  if (::geteuid() != 0) {
    return "Dovecot tests need root";
  }
  return {};
}

std::string TDovecotServer::ImapSkipReason() {
  if (auto why = SkipReason(); !why.empty())
    return why;
  if (::access("/usr/lib/dovecot/imap", X_OK) != 0)
    return "Dovecot IMAP is not installed (Debian dovecot-imapd)";
  return {};
}

TDovecotServer::TDovecotServer() {
  ::chmod(temp_.Path().c_str(), 0755);
  fs::create_directories(fs::path(temp_.Path()) / "run");
  fs::create_directories(fs::path(temp_.Path()) / "state");
  fs::create_directories(fs::path(temp_.Path()) / "home");
}

TDovecotServer::~TDovecotServer() {
  Stop();
}

std::string TDovecotServer::MaildirOf(const std::string& user) const {
  return (fs::path(temp_.Path()) / "home" / user / "Maildir").string();
}

void TDovecotServer::AddUser(const std::string& user, const std::string& password,
                             const std::vector<std::string>& messages) {
  const fs::path maildir = MaildirOf(user);
  for (const char* sub : {"cur", "new", "tmp"}) {
    fs::create_directories(maildir / sub);
  }
  // Names sort in the intended order; Dovecot numbers new mail by name. The
  // microseconds and process ids vary as a delivery agent's do: names
  // differing only in a counter send Dovecot's file-name hash into long
  // chains, which would cost it most of its time on a big mailbox.
  for (std::size_t i = 0; i < messages.size(); ++i) {
    char name[96];
    std::snprintf(name, sizeof name, "%010zu.M%06zuP%zu.pelorix", 1000000000 + i,
                  (i * 7919 + 13) % 1000000, 1000 + (i * 104729) % 90000);
    WriteFile((maildir / "new" / name).string(), WithLf(messages[i]));
  }
  passwd_ += user + ":{PLAIN}" + password + "\n";
}

void TDovecotServer::EnableTls(const std::string& cert, const std::string& key, bool required) {
  tlsConfig_ = std::string("ssl = ") + (required ? "required" : "yes") + "\nssl_cert = <" + cert +
               "\nssl_key = <" + key + "\nssl_min_protocol = TLSv1.2\n" +
               (required ? "disable_plaintext_auth = yes\n" : "disable_plaintext_auth = no\n");
}

void TDovecotServer::EnableOAuth2(const std::string& introspectionUrl) {
  introspectionUrl_ = introspectionUrl;
}

void TDovecotServer::Start() {
  const std::string t = temp_.Path();
  WriteFile(t + "/passwd", passwd_);
  const bool oauth = !introspectionUrl_.empty();
  if (oauth) {
    WriteFile(t + "/oauth2.conf.ext",
              "introspection_mode = post\nintrospection_url = " + introspectionUrl_ +
                  "\nusername_attribute = username\n"
                  "active_attribute = active\nactive_value = true\n");
  }
  port_ = FreeLoopbackPort();
  const bool tls = !tlsConfig_.empty();
  tlsPort_ = tls ? FreeLoopbackPort() : 0;
  const std::string address = tls ? "127.0.0.1 127.0.0.2" : "127.0.0.1";
  imapPort_ = imap_ ? FreeLoopbackPort() : 0;
  imapTlsPort_ = imap_ && tls ? FreeLoopbackPort() : 0;
  const std::string imapConfig =
      !imap_
          ? std::string()
          : "namespace inbox {\n  inbox = yes\n"
            "  mailbox Junk {\n    special_use = \\Junk\n    auto = create\n  }\n"
            "  mailbox Trash {\n    special_use = \\Trash\n    auto = create\n  }\n}\n"
            "service imap-login {\n  chroot =\n  inet_listener imap {\n    address = " +
                address + "\n    port = " + std::to_string(imapPort_) + "\n  }\n" +
                (tls ? "  inet_listener imaps {\n    address = " + address +
                           "\n    port = " + std::to_string(imapTlsPort_) + "\n    ssl = yes\n  }\n"
                     : std::string()) +
                "}\n";
  const std::string conf = t + "/dovecot.conf";
  WriteFile(conf,
            std::string(imap_ ? "protocols = pop3 imap\n" : "protocols = pop3\n") +
                "listen = " + address +
                "\n"
                "base_dir = " +
                t +
                "/run\n"
                "state_dir = " +
                t +
                "/state\n"
                "log_path = " +
                t + "/dovecot.log\n" +
                (tls ? tlsConfig_ : std::string("ssl = no\ndisable_plaintext_auth = no\n")) +
                (oauth ? "auth_mechanisms = plain login xoauth2 oauthbearer\n"
                       : "auth_mechanisms = plain login\n") +
                "auth_failure_delay = 0\n"
                "default_internal_user = dovecot\n"
                "default_login_user = dovenull\n"
                "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " +
                t +
                "/passwd\n" + (oauth ? "  mechanisms = plain login\n" : "") + "}\n" +
                (oauth ? "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " +
                             t + "/oauth2.conf.ext\n}\n"
                       : std::string()) +
                "userdb {\n  driver = static\n  args = uid=nobody gid=nogroup home=" +
                t +
                "/home/%u\n}\n"
                "mail_location = maildir:~/Maildir\n"
                "pop3_uidl_format = %08Xu%08Xv\n"
                "service pop3-login {\n  chroot =\n  inet_listener pop3 {\n"
                "    address = " +
                address + "\n    port = " + std::to_string(port_) + "\n  }\n" +
                (tls ? "  inet_listener pop3s {\n    address = " + address +
                           "\n    port = " + std::to_string(tlsPort_) + "\n    ssl = yes\n  }\n"
                     : std::string()) +
                "}\n"
                "service anvil {\n  chroot =\n}\n" +
                imapConfig);
  const passwd* nobody = ::getpwnam("nobody");
  const group* nogroup = ::getgrnam("nogroup");
  ChownTree(fs::path(t) / "home", nobody != nullptr ? nobody->pw_uid : 65534,
            nogroup != nullptr ? nogroup->gr_gid : 65534);
  process_.Start({kDovecot, "-F", "-c", conf}, t + "/dovecot.out");
  if (!WaitForPort(port_, std::chrono::seconds(15)) ||
      (tls && !WaitForPort(tlsPort_, std::chrono::seconds(15))) ||
      (imap_ && !WaitForPort(imapPort_, std::chrono::seconds(15))) || !process_.Running()) {
    process_.Stop();
    throw std::runtime_error("Dovecot did not start:\n" + Log());
  }
}

void TDovecotServer::Stop() {
  process_.Stop();
}

std::vector<std::string> TDovecotServer::Messages(const std::string& user) const {
  return Messages(user, "INBOX");
}

std::vector<std::string> TDovecotServer::Messages(const std::string& user,
                                                  const std::string& name) const {
  std::vector<fs::path> files;
  const fs::path root =
      name == "INBOX" ? fs::path(MaildirOf(user)) : fs::path(MaildirOf(user)) / ("." + name);
  for (const char* sub : {"new", "cur"}) {
    const fs::path folder = root / sub;
    if (!fs::exists(folder)) {
      continue;
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.is_regular_file()) {
        files.push_back(entry.path());
      }
    }
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  std::vector<std::string> texts;
  for (const auto& file : files) {
    texts.push_back(ReadFile(file.string()));
  }
  return texts;
}

void TDovecotServer::RenumberInbox(const std::string& user) {
  const std::string conf = temp_.Path() + "/dovecot.conf";
  TChildProcess doveadm;
  doveadm.Start({"/usr/bin/doveadm", "-c", conf, "mailbox", "update", "-u", user, "--uid-validity",
                 std::to_string(::time(nullptr) % 100000 + 4242), "INBOX"},
                temp_.Path() + "/doveadm.out");
  doveadm.Wait();
}

void TDovecotServer::Deliver(const std::string& user, const std::string& message) {
  char name[96];
  std::snprintf(name, sizeof name, "%010d.M%06dP%d.late", 2000000000 + delivered_, delivered_,
                4242 + delivered_);
  ++delivered_;
  const fs::path file = fs::path(MaildirOf(user)) / "new" / name;
  WriteFile(file.string(), WithLf(message));
  const passwd* nobody = ::getpwnam("nobody");
  const group* nogroup = ::getgrnam("nogroup");
  ::chown(file.c_str(), nobody != nullptr ? nobody->pw_uid : 65534,
          nogroup != nullptr ? nogroup->gr_gid : 65534);
}

std::size_t TDovecotServer::MessageCount(const std::string& user) const {
  return Messages(user).size();
}

std::string TDovecotServer::Log() const {
  return ReadFile(temp_.Path() + "/dovecot.log") + ReadFile(temp_.Path() + "/dovecot.out");
}

}  // namespace pelorix::test
