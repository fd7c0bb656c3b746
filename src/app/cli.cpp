#include <iostream>
#include <map>
#include <optional>

#include "app/args.h"
#include "app/commands.h"
#include "pelorix_version.h"
#include "text/home.h"

namespace pelorix {

std::string UsageText() {
  return R"(Usage: pelorix [--home DIR] [COMMAND [ARGS...]]

Without a command the program starts its window.

Options:
  --home DIR        keep settings and working files in DIR
                    (default: $PELORIX_HOME, else $XDG_DATA_HOME/pelorix)
  --version         print the version and exit
  --help            print this text and exit

Commands:
  check [--content] [--account USER[HOST]] [--yes]
                    check the accounts' mail (headers, or whole messages)
  delete [--account USER[HOST]]
                    delete the ticked messages of the last check on the servers
  account add --server S --user U --password P [--note N] [--security MODE]
              [--auth METHOD] [--imap [--folders INBOX,...] [--delete-mode MODE]]
                    an IMAP account: the folders to check (INBOX) and what
                    deleting does: auto (Junk, else Trash), junk, trash or
                    expunge (delete for good; needs the server's UIDPLUS)
  account add --oauth gmail|outlook|custom --user U [--server S] [--note N]
              [--security MODE]
                    an account that signs in with OAuth 2.0 (the provider's
                    servers unless --server); then account login
  account login USER[HOST] [--browser]
                    sign in: prints the address to open in the browser and
                    waits on 127.0.0.1 for its answer ($BROWSER opens it);
                    Outlook.com / Microsoft 365 use a code to type instead,
                    unless --browser
  account logout USER[HOST]
                    revoke the sign-in where the provider allows, forget it
  account list
  account security USER[HOST] [MODE]
                    show or set how the account connects (see below)
  account auth USER[HOST] [METHOD]
                    show or set how the account logs in: user (USER/PASS,
                    the default), apop, or the SASL mechanisms plain, login,
                    xoauth2, oauthbearer (the OAuth ones take an access token
                    as the password)
  account remove --server S --user U
  account import-thunderbird [PROFILE_DIR]
  filter list|add|remove NAME [ENTRY...]
                    NAME: subject, sender, length, content or recipient
  filter import|export FILE.rub
  set KEY NAME VALUE
                    KEY: MailCheck, Smtp or Judge (AutoJudge on/off, SpamCut
                    and UnsureCut 0-100, PeekLines); flags take on/off;
                    set Smtp Security MODE for the reply's SMTP server;
                    set Smtp authMechanism login|plain|xoauth2|oauthbearer
  get KEY NAME
  iptable import FILE.dat
  iptable export [--all] FILE.dat
  iptable add START END AREA PLACE
  iptable list [--all]
                    your own rows (searched before the delivered table),
                    or with --all every row a lookup can find
  iptable slim      drop your rows that equal the delivered table's
  restore --list    list the kept copies of deleted mail, newest first
  restore [--account USER[HOST]] --mbox FILE [KEY...]
                    append kept copies (all, or the given message keys) to
                    an mbox file that mail programs can import
  restore [--account USER[HOST]] --resend [KEY...]
                    send kept copies back to your own address (Smtp MyEmail)
                    with Resent- header fields added
  learn --spam PATH... --ham PATH...
                    teach the spam judge from mbox files, Maildirs or folders
                    of .eml files (either list may be left out)
  learn --thunderbird [PROFILE_DIR]
                    Junk folders as spam, Inbox and Sent as good, and the
                    address books as friends
  learn --status | --clear
                    what was learnt / forget all of it
  mark spam|ham KEY...
                    teach the judge one list message by its message key
  classify FILE...  score messages (0 good .. 100 spam) with their clues:
                    "SCORE VERDICT FILE CLUES" per line
  friends list | add ADDRESS... | import-thunderbird [PROFILE_DIR]
                    senders the judge never calls spam
  tls show HOST:PORT [--starttls]
                    print the server's certificate (subject, issuer, validity,
                    SHA-256 fingerprint), after STLS/STARTTLS with --starttls
  tls trust HOST:PORT [--starttls]
                    pin that certificate: accepted while it stays the same
  tls untrust HOST:PORT
                    remove the pin

Connection security (MODE):
  auto              the default: TLS from the first byte on port 995 (POP3)
                    and 465 (SMTP); elsewhere upgrade with STLS/STARTTLS when
                    the server offers it, else plain text
  tls               TLS from the first byte ("SSL/TLS")
  starttls          plain connect, then STLS/STARTTLS; fails, sending no
                    password, when the server does not offer it
  none              plain text only
  Certificates are checked against the system's trust store (SSL_CERT_FILE,
  SSL_CERT_DIR name other CA files) and the host name, or against a pin.
)";
}

int RunCommandLine(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
                   const WindowStart& startWindow) {
  std::optional<std::string> home;
  std::size_t i = 0;
  // Global options stand before the command word.
  for (; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a == "--version") {
      out << "pelorix " << PELORIX_VERSION << "\n";
      return 0;
    }
    if (a == "--help" || a == "-h") {
      out << UsageText();
      return 0;
    }
    if (a == "--home") {
      if (i + 1 >= argv.size()) {
        err << "pelorix: option --home needs a value\n";
        return 2;
      }
      home = argv[++i];
      continue;
    }
    if (a.rfind("--home=", 0) == 0) {
      home = a.substr(7);
      continue;
    }
    // "-auto" (start hidden in the tray) belongs to the window.
    if (a.find("auto") != std::string::npos)
      break;
    if (!a.empty() && a[0] == '-') {
      err << "pelorix: unknown option: " << a << "\n";
      return 2;
    }
    break;
  }
  if (i >= argv.size() || argv[i].find("auto") != std::string::npos) {
    if (!startWindow) {
      err << "pelorix: the window is not available in this build; see pelorix --help\n";
      return 1;
    }
    std::filesystem::path folder = ResolveHomeFolder(home);
    std::string error;
    if (!EnsureFolder(folder, &error)) {
      err << "pelorix: " << error << "\n";
      return 1;
    }
    return startWindow(folder, {argv.begin() + static_cast<long>(i), argv.end()});
  }

  using Handler = int (*)(CommandContext&);
  static const std::map<std::string, Handler> handlers = {
      {"check", RunCheckCommand},     {"delete", RunDeleteCommand}, {"account", RunAccountCommand},
      {"filter", RunFilterCommand},   {"set", RunSetCommand},       {"get", RunGetCommand},
      {"iptable", RunIpTableCommand}, {"tls", RunTlsCommand},       {"restore", RunRestoreCommand},
      {"learn", RunLearnCommand},     {"mark", RunMarkCommand},     {"classify", RunClassifyCommand},
      {"friends", RunFriendsCommand},
  };
  auto it = handlers.find(argv[i]);
  if (it == handlers.end()) {
    err << "pelorix: unknown command: " << argv[i] << "\n";
    return 2;
  }
  CommandContext ctx{
      ResolveHomeFolder(home), {argv.begin() + static_cast<long>(i) + 1, argv.end()}, out, err};
  std::string error;
  if (!EnsureFolder(ctx.home, &error)) {
    err << "pelorix: " << error << "\n";
    return 1;
  }
  try {
    return it->second(ctx);
  } catch (const UsageError& e) {
    err << "pelorix " << argv[i] << ": " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    err << "pelorix " << argv[i] << ": " << e.what() << "\n";
    return 1;
  }
}

}  // namespace pelorix
