// Settings and storage commands: the same operations the settings window
// performs, one change at a time, each saved at once.
#include <optional>
#include <ostream>
#include <stdexcept>

#include "app/args.h"
#include "app/cli_oauth.h"
#include "app/commands.h"
#include "store/account_imap.h"
#include "store/accounts.h"
#include "store/autostart.h"
#include "store/connection_security.h"
#include "store/filter_lists.h"
#include "store/ip_table.h"
#include "store/mail_plan.h"
#include "store/oauth_account.h"
#include "store/settings_store.h"
#include "store/smtp_secret.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/home.h"
#include "text/textutil.h"

namespace pelorix {
namespace {

[[noreturn]] void Fail(const std::string& message) {
  throw std::runtime_error(message);
}

std::unique_ptr<TSettingsStore> OpenStore(const CommandContext& ctx) {
  std::string error;
  auto store = TSettingsStore::Open(ctx.home, &error);
  if (!store)
    Fail(error);
  MoveSecretsToKeyring(*store);
  return store;
}

// The sub-command word and the arguments after it.
std::string TakeSubcommand(CommandContext& ctx, std::vector<std::string>& rest) {
  if (ctx.args.empty())
    throw UsageError("missing sub-command");
  rest.assign(ctx.args.begin() + 1, ctx.args.end());
  return ctx.args[0];
}

std::string Required(const std::optional<std::string>& value, const char* option) {
  if (!value)
    throw UsageError(std::string("missing option ") + option);
  return *value;
}

void PrintAccount(std::ostream& out, const TAccount& a, bool imap = false) {
  out << a.Server << '\t' << a.User << '\t' << a.Note << (imap ? "\tIMAP" : "") << '\n';
}

std::string SecurityMode(const std::string& text) {
  const auto mode = SecurityModeName(text);
  if (!mode)
    throw UsageError("unknown security mode " + text + " (auto, tls, starttls or none)");
  return *mode;
}

std::string LoginMethod(const std::string& text) {
  const auto method = LoginMethodName(text);
  if (!method)
    throw UsageError("unknown login method " + text +
                     " (user, apop, plain, login, xoauth2 or oauthbearer)");
  return *method;
}

// The stored account whose key (user[server]) is `key`.
std::optional<TAccount> FindAccount(TSettingsStore& store, const std::string& key) {
  for (const auto& a : LoadAccounts(store)) {
    if (AccountKey(a) == key)
      return a;
  }
  return std::nullopt;
}

int AccountAdd(CommandContext& ctx, std::vector<std::string> args) {
  std::optional<std::string> server, user, password, note, security, folders, deleteMode, auth,
      oauth;
  bool imap = false;
  ArgParser(std::move(args))
      .Option("--server", &server)
      .Option("--user", &user)
      .Option("--password", &password)
      .Option("--note", &note)
      .Option("--security", &security)
      .Switch("--imap", &imap)
      .Option("--folders", &folders)
      .Option("--delete-mode", &deleteMode)
      .Option("--auth", &auth)
      .Option("--oauth", &oauth)
      .Parse();
  if (oauth) {
    if (password || auth || imap)
      throw UsageError("--oauth takes no --password, --auth or --imap");
    return OAuthAccountAdd(
        ctx, {*oauth, Required(user, "--user"), server,
              security ? std::optional<std::string>(SecurityMode(*security)) : std::nullopt,
              note.value_or("")});
  }
  if ((folders || deleteMode) && !imap)
    throw UsageError("--folders and --delete-mode are for --imap accounts");
  TImapAccountSettings imapSettings;
  if (folders)
    imapSettings.Folders = ParseFolderList(*folders);
  if (deleteMode) {
    const auto m = DeleteModeText(*deleteMode);
    if (!m)
      throw UsageError("unknown delete mode " + *deleteMode + " (auto, junk, trash or expunge)");
    imapSettings.DeleteMode = *m;
  }
  TAccount account{Required(server, "--server"), Required(user, "--user"),
                   Required(password, "--password"), note.value_or("")};
  const std::optional<std::string> mode =
      security ? std::optional<std::string>(SecurityMode(*security)) : std::nullopt;
  const std::optional<std::string> method =
      auth ? std::optional<std::string>(LoginMethod(*auth)) : std::nullopt;
  auto store = OpenStore(ctx);
  auto accounts = LoadAccounts(*store);
  std::string error;
  // The account, its mode, its login method and its IMAP settings land
  // together or not at all. Without --security (--auth) a replaced account
  // keeps its mode (login method), without --imap its protocol.
  const bool written = store->Write([&] {
    if (!AddAccount(accounts, account, &error) || !SaveAccounts(*store, accounts, &error))
      throw std::runtime_error(error);
    for (const auto& a : accounts) {
      if (mode && IsSameAccount(a, ascii::Trim(account.Server), ascii::Trim(account.User)) &&
          !WriteAccountSecurity(*store, AccountKey(a), *mode)) {
        throw std::runtime_error("cannot write the settings file");
      }
      if (imap && IsSameAccount(a, ascii::Trim(account.Server), ascii::Trim(account.User)) &&
          !WriteImapSettings(*store, AccountKey(a), imapSettings)) {
        throw std::runtime_error("the folders are longer than 255 bytes");
      }
      if (method && IsSameAccount(a, ascii::Trim(account.Server), ascii::Trim(account.User)) &&
          !WriteAccountLogin(*store, AccountKey(a), *method)) {
        throw std::runtime_error("cannot write the settings file");
      }
    }
  });
  if (!written)
    Fail("cannot write the settings file");
  return 0;
}

// `account security|auth KEY [VALUE]`: shows the account's setting, or
// sets it to VALUE (checked by `parse`).
int AccountSetting(CommandContext& ctx, std::vector<std::string> args,
                   std::string (*read)(TSettingsStore&, std::string_view),
                   bool (*write)(TSettingsStore&, std::string_view, std::string_view),
                   std::string (*parse)(const std::string&)) {
  std::vector<std::string> positional;
  ArgParser(std::move(args)).Positionals(&positional, 1, 2).Parse();
  auto store = OpenStore(ctx);
  if (!FindAccount(*store, positional[0]))
    Fail("no account " + positional[0]);
  if (positional.size() == 1) {
    ctx.out << read(*store, positional[0]) << '\n';
    return 0;
  }
  if (!write(*store, positional[0], parse(positional[1])))
    Fail("cannot write the settings file");
  return 0;
}

int AccountSecurity(CommandContext& ctx, std::vector<std::string> args) {
  return AccountSetting(ctx, std::move(args), ReadAccountSecurity, WriteAccountSecurity,
                        SecurityMode);
}

int AccountAuth(CommandContext& ctx, std::vector<std::string> args) {
  return AccountSetting(ctx, std::move(args), ReadAccountLogin, WriteAccountLogin, LoginMethod);
}

int AccountRemove(CommandContext& ctx, std::vector<std::string> args) {
  std::optional<std::string> server, user;
  ArgParser(std::move(args)).Option("--server", &server).Option("--user", &user).Parse();
  std::string s = Required(server, "--server"), u = Required(user, "--user");
  auto store = OpenStore(ctx);
  auto accounts = LoadAccounts(*store);
  const auto removed = FindAccount(*store, u + "[" + s + "]");
  if (!RemoveAccount(accounts, s, u))
    Fail("no account " + u + "[" + s + "]");
  std::string error;
  if (!SaveAccounts(*store, accounts, &error))
    Fail(error);
  // Its mode goes with it, so that a later account of that name starts at auto.
  if (removed) {
    WriteAccountSecurity(*store, AccountKey(*removed), kDefaultSecurity);
    WriteImapSettings(*store, AccountKey(*removed), std::nullopt);
    WriteAccountLogin(*store, AccountKey(*removed), kDefaultLogin);
    RemoveOAuthTokens(*store, AccountKey(*removed));
    WriteAccountOAuthProvider(*store, AccountKey(*removed), "");
  }
  return 0;
}

int AccountImportThunderbird(CommandContext& ctx, std::vector<std::string> args) {
  std::vector<std::string> positional;
  ArgParser(std::move(args)).Positionals(&positional, 0, 1).Parse();
  std::vector<std::filesystem::path> profiles;
  if (positional.empty()) {
    profiles = FindThunderbirdProfiles();
    if (profiles.empty())
      Fail("no Thunderbird profile found in ~/.thunderbird");
  } else {
    std::filesystem::path profile(positional[0]);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(profile / "prefs.js", ec)) {
      Fail("no prefs.js in " + profile.string());
    }
    profiles.push_back(profile);
  }
  auto store = OpenStore(ctx);
  auto accounts = LoadAccounts(*store);
  std::vector<std::string> imapKeys;
  for (const auto& profile : profiles) {
    for (const bool imap : {false, true}) {
      for (const auto& imported : ReadThunderbirdAccounts(profile, imap)) {
        std::string error;
        if (!AddImportedAccount(accounts, imported, &error)) {
          ctx.err << "pelorix account: skipped " << AccountKey(imported) << ": " << error << "\n";
          continue;
        }
        if (imap)
          imapKeys.push_back(AccountKey(imported));
        PrintAccount(ctx.out, imported, imap);
      }
    }
  }
  std::string error;
  const bool written = store->Write([&] {
    if (!SaveAccounts(*store, accounts, &error))
      throw std::runtime_error(error);
    // An account already known as IMAP keeps its folders and way of deleting.
    for (const std::string& key : imapKeys) {
      if (!ReadImapSettings(*store, key) && !WriteImapSettings(*store, key, TImapAccountSettings{}))
        throw std::runtime_error("cannot write the settings file");
    }
  });
  if (!written)
    Fail(error.empty() ? "cannot write the settings file" : error);
  return 0;
}

}  // namespace

int RunAccountCommand(CommandContext& ctx) {
  std::vector<std::string> rest;
  std::string sub = TakeSubcommand(ctx, rest);
  if (sub == "add")
    return AccountAdd(ctx, std::move(rest));
  if (sub == "remove")
    return AccountRemove(ctx, std::move(rest));
  if (sub == "import-thunderbird")
    return AccountImportThunderbird(ctx, std::move(rest));
  if (sub == "security")
    return AccountSecurity(ctx, std::move(rest));
  if (sub == "auth")
    return AccountAuth(ctx, std::move(rest));
  if (sub == "login") {
    std::vector<std::string> positional;
    bool browser = false;
    ArgParser(std::move(rest)).Positionals(&positional, 1, 1).Switch("--browser", &browser).Parse();
    return OAuthAccountLogin(ctx, positional[0], browser);
  }
  if (sub == "logout") {
    std::vector<std::string> positional;
    ArgParser(std::move(rest)).Positionals(&positional, 1, 1).Parse();
    return OAuthAccountLogout(ctx, positional[0]);
  }
  if (sub == "list") {
    ArgParser(std::move(rest)).Parse();
    auto store = OpenStore(ctx);
    for (const auto& a : LoadAccounts(*store))
      PrintAccount(ctx.out, a, ReadImapSettings(*store, AccountKey(a)).has_value());
    return 0;
  }
  throw UsageError("unknown sub-command: " + sub);
}

namespace {

TFilterList ListNamed(const std::string& name) {
  auto list = FilterListByName(name);
  if (!list)
    Fail("unknown list " + name + " (subject, sender, length, content or recipient)");
  return *list;
}

void CheckEntryText(const std::string& entry) {
  if (entry.find_first_of("\r\n") != std::string::npos)
    Fail("an entry must be one line");
  if (!IsValidUtf8(entry))
    Fail("an entry must be UTF-8 text");
  if (ToAnsi(ascii::Trim(entry)).size() > kMaxTextBytes) {
    Fail("entry longer than 255 bytes: " + std::string(ascii::Trim(entry)).substr(0, 40) + "...");
  }
}

int FilterChange(CommandContext& ctx, std::vector<std::string> args, bool add) {
  std::vector<std::string> positional;
  ArgParser(std::move(args)).Positionals(&positional, 2, -1).Parse();
  TFilterList which = ListNamed(positional[0]);
  auto store = OpenStore(ctx);
  TFilterLists lists = LoadFilterLists(*store);
  auto& list = lists.Of(which);
  for (std::size_t i = 1; i < positional.size(); ++i) {
    const std::string& entry = positional[i];
    CheckEntryText(entry);
    if (!add) {
      if (!RemoveEntry(list, entry))
        Fail("no entry " + std::string(ascii::Trim(entry)));
      continue;
    }
    if (ascii::Trim(entry).empty())
      Fail("an entry must not be blank");
    std::string error;
    if (which == TFilterList::Length) {
      if (!AddLengthRuleText(list, entry, &error))
        Fail(error);
    } else {
      AddTextEntry(list, entry);
    }
  }
  if (!SaveFilterLists(*store, lists))
    Fail("cannot write the settings file");
  return 0;
}

}  // namespace

int RunFilterCommand(CommandContext& ctx) {
  std::vector<std::string> rest;
  std::string sub = TakeSubcommand(ctx, rest);
  if (sub == "add")
    return FilterChange(ctx, std::move(rest), true);
  if (sub == "remove")
    return FilterChange(ctx, std::move(rest), false);
  std::vector<std::string> positional;
  if (sub == "list") {
    ArgParser(std::move(rest)).Positionals(&positional, 1, 1).Parse();
    TFilterList which = ListNamed(positional[0]);
    auto store = OpenStore(ctx);
    const TFilterLists lists = LoadFilterLists(*store);
    for (const auto& entry : lists.Of(which))
      ctx.out << entry << '\n';
    return 0;
  }
  if (sub == "import") {
    ArgParser(std::move(rest)).Positionals(&positional, 1, 1).Parse();
    auto store = OpenStore(ctx);
    TFilterLists lists = LoadFilterLists(*store);
    TFilterImportResult result;
    std::string error;
    if (!ImportFilterFile(positional[0], lists, &result, &error))
      Fail(error);
    if (!SaveFilterLists(*store, lists))
      Fail("cannot write the settings file");
    if (result.skipped > 0) {
      ctx.err << "pelorix filter: skipped " << result.skipped
              << " entries (length rules without ==, >= or <=, or longer than 255 bytes)\n";
    }
    return 0;
  }
  if (sub == "export") {
    ArgParser(std::move(rest)).Positionals(&positional, 1, 1).Parse();
    auto store = OpenStore(ctx);
    std::string error;
    if (!ExportFilterFile(positional[0], LoadFilterLists(*store), &error))
      Fail(error);
    return 0;
  }
  throw UsageError("unknown sub-command: " + sub);
}

namespace {

const TSettingDef& SettingNamed(const std::string& key, const std::string& name) {
  if (!ascii::EqualNoCase(key, kMailCheckKey) && !ascii::EqualNoCase(key, kSmtpKey) &&
      !ascii::EqualNoCase(key, kJudgeKey)) {
    Fail("unknown key " + key + " (MailCheck, Smtp or Judge)");
  }
  const TSettingDef* def = FindSettingDef(key, name);
  if (!def)
    Fail("unknown value " + name + " in " + key);
  return *def;
}

bool IsSmtpSecurity(const std::string& key, const std::string& name) {
  return ascii::EqualNoCase(key, kSmtpKey) && ascii::EqualNoCase(name, kSmtpSecurityName);
}

bool IsSmtpMechanism(const std::string& key, const std::string& name) {
  return ascii::EqualNoCase(key, kSmtpKey) && ascii::EqualNoCase(name, kSmtpMechanismName);
}

bool ParseFlag(const std::string& value) {
  if (ascii::EqualNoCase(value, "on"))
    return true;
  if (ascii::EqualNoCase(value, "off"))
    return false;
  Fail("a flag is on or off, not " + value);
}

}  // namespace

int RunSetCommand(CommandContext& ctx) {
  std::vector<std::string> positional;
  ArgParser(ctx.args).Positionals(&positional, 3, 3).Parse();
  if (IsSmtpSecurity(positional[0], positional[1])) {
    const std::string mode = SecurityMode(positional[2]);
    auto store = OpenStore(ctx);
    if (!WriteSmtpSecurity(*store, mode))
      Fail("cannot write the settings file");
    return 0;
  }
  if (IsSmtpMechanism(positional[0], positional[1])) {
    const auto mechanism = SmtpMechanismName(positional[2]);
    if (!mechanism)
      throw UsageError("unknown SMTP login mechanism " + positional[2] +
                       " (login, plain, xoauth2 or oauthbearer)");
    auto store = OpenStore(ctx);
    if (!WriteSmtpMechanism(*store, *mechanism))
      Fail("cannot write the settings file");
    return 0;
  }
  const TSettingDef& def = SettingNamed(positional[0], positional[1]);
  std::string value(ascii::Trim(positional[2]));
  auto store = OpenStore(ctx);
  TSettingsKey key;
  if (!OpenSettingsKey(*store, def.key, true, key))
    Fail("cannot write the settings file");

  // One transaction, so a value that cannot be written is reported.
  bool written = store->Write([&] {
    switch (def.kind) {
      case TSettingKind::Flag: {
        bool on = ParseFlag(value);
        if (def.name == "autostart") {
          // Ticking the box writes the log-on entry at once; so does this.
          std::string error;
          if (!(on ? WriteAutostartEntry(CurrentProgramPath(), &error)
                   : DeleteAutostartEntry(&error))) {
            Fail(error);
          }
        }
        WriteFlagValue(key, def.name, on);
        break;
      }
      case TSettingKind::Number: {
        int n = 0;
        if (!ParseSettingNumber(value, n) || n < 0 || n > 1) {
          Fail("authType is 0 (no authentication) or 1 (simple login), not " + value);
        }
        WriteNumberValue(key, def.name, n);
        break;
      }
      case TSettingKind::DigitsText: {
        int n = 0;
        bool digits = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || value.size() > static_cast<std::size_t>(def.maxDigits) ||
            (ascii::EqualNoCase(def.name, "smtpPort") &&
             (!ParseSettingNumber(value, n) || n < 1 || n > 65535))) {
          Fail(std::string(def.name) + " takes at most " + std::to_string(def.maxDigits) +
               " digits, not " + value);
        }
        WriteTextValue(key, def.name, value);
        break;
      }
      case TSettingKind::Text:
        if (!IsValidUtf8(value))
          Fail("the value must be UTF-8 text");
        if (value.find_first_of("\r\n\t") != std::string::npos)
          Fail("the value must be one line");
        if (ToAnsi(value).size() > kMaxTextBytes)
          Fail("the value is longer than 255 bytes");
        if (ascii::EqualNoCase(def.key, kSmtpKey) && ascii::EqualNoCase(def.name, "password")) {
          // Into the keyring when there is one.
          if (!WriteSmtpPassword(*store, value))
            Fail("cannot write the settings file");
          break;
        }
        WriteTextValue(key, def.name, value);
        break;
    }
  });
  if (!written)
    Fail("cannot write the settings file");
  return 0;
}

int RunGetCommand(CommandContext& ctx) {
  std::vector<std::string> positional;
  ArgParser(ctx.args).Positionals(&positional, 2, 2).Parse();
  if (IsSmtpSecurity(positional[0], positional[1])) {
    auto store = OpenStore(ctx);
    ctx.out << ReadSmtpSecurity(*store) << '\n';
    return 0;
  }
  if (IsSmtpMechanism(positional[0], positional[1])) {
    auto store = OpenStore(ctx);
    ctx.out << ReadSmtpMechanism(*store) << '\n';
    return 0;
  }
  const TSettingDef& def = SettingNamed(positional[0], positional[1]);
  auto store = OpenStore(ctx);
  TSettingsKey key;
  if (!OpenSettingsKey(*store, def.key, true, key))
    Fail("cannot read the settings file");
  // A missing value reads as what a check run would use.
  std::string_view fallback = def.scheduleDefault.empty() ? def.windowDefault : def.scheduleDefault;
  switch (def.kind) {
    case TSettingKind::Flag:
      ctx.out << (ReadFlagValue(key, def.name, fallback == "1") ? "on" : "off") << '\n';
      break;
    case TSettingKind::Number: {
      int n = 0;
      ParseSettingNumber(fallback, n);
      ctx.out << ReadNumberValue(key, def.name, n) << '\n';
      break;
    }
    case TSettingKind::DigitsText:
    case TSettingKind::Text:
      if (ascii::EqualNoCase(def.key, kSmtpKey) && ascii::EqualNoCase(def.name, "password")) {
        std::string problem;
        const std::string password = ReadSmtpPassword(*store, &problem);
        if (!problem.empty())
          Fail(problem);
        ctx.out << password << '\n';
        break;
      }
      ctx.out << ReadTextValue(key, def.name, fallback) << '\n';
      break;
  }
  return 0;
}

namespace {
// Below this many rows a user's table is no copy of a delivered one.
constexpr std::size_t kCopiedTableHint = 1000;

void PrintIpRow(std::ostream& out, const TIpRecord& r) {
  out << r.StartIp << '\t' << r.EndIp << '\t' << r.Area << '\t' << r.Place << '\n';
}

// The user's rows, or (all) every row a lookup can find; a table that
// exists but cannot be read must not be replaced by a nearly empty one.
std::vector<TIpRecord> LoadRows(const CommandContext& ctx, bool all = false) {
  auto rows = all ? LoadAllIpRows(ctx.home) : LoadUserIpRows(ctx.home);
  if (!rows)
    Fail("cannot read the IP table " + UserIpTableFile(ctx.home).string());
  return std::move(*rows);
}

void SaveRows(const CommandContext& ctx, const std::vector<TIpRecord>& rows) {
  std::string error;
  if (!EnsureFolder(ctx.home / "modal", &error) || !SaveIpTable(ctx.home, rows, &error)) {
    Fail(error);
  }
}
}  // namespace

int RunIpTableCommand(CommandContext& ctx) {
  std::vector<std::string> rest, positional;
  std::string sub = TakeSubcommand(ctx, rest);
  std::string error;
  bool all = false;
  if (sub == "list") {
    ArgParser(std::move(rest)).Switch("--all", &all).Parse();
    const auto rows = LoadRows(ctx, all);
    for (const auto& r : rows)
      PrintIpRow(ctx.out, r);
    // A user's file copied whole from the delivered table, as older
    // versions saved it, is worth slimming once.
    if (!all && rows.size() >= kCopiedTableHint) {
      if (auto copied = CountCopiedIpRows(ctx.home); copied && *copied > 0) {
        ctx.err << "pelorix iptable: " << *copied
                << " of your rows equal the delivered table's; \"pelorix iptable slim\" drops "
                   "them\n";
      }
    }
    return 0;
  }
  if (sub == "add") {
    ArgParser(std::move(rest)).Positionals(&positional, 4, 4).Parse();
    auto rows = LoadRows(ctx);
    for (const auto& text : positional) {
      if (!IsValidUtf8(text))
        Fail("the texts must be UTF-8");
    }
    if (!AddIpRow(rows, {positional[0], positional[1], positional[2], positional[3]}, &error)) {
      Fail(error);
    }
    SaveRows(ctx, rows);
    return 0;
  }
  if (sub == "import") {
    ArgParser(std::move(rest)).Positionals(&positional, 1, 1).Parse();
    auto rows = LoadRows(ctx);
    int added = 0, skipped = 0;
    if (!ImportIpTable(positional[0], rows, &added, &skipped, &error))
      Fail(error);
    SaveRows(ctx, rows);
    if (skipped > 0) {
      ctx.err << "pelorix iptable: skipped " << skipped << " records with malformed addresses\n";
    }
    return 0;
  }
  if (sub == "export") {
    ArgParser(std::move(rest)).Switch("--all", &all).Positionals(&positional, 1, 1).Parse();
    if (!ExportIpTable(positional[0], LoadRows(ctx, all), &error))
      Fail(error);
    return 0;
  }
  if (sub == "slim") {
    ArgParser(std::move(rest)).Parse();
    std::size_t dropped = 0;
    if (!SlimUserIpTable(ctx.home, &dropped, &error))
      Fail(error);
    ctx.out << "dropped " << dropped << " rows equal to the delivered table's\n";
    return 0;
  }
  throw UsageError("unknown sub-command: " + sub);
}

}  // namespace pelorix
