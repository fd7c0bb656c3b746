#include "engine/reply.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <memory>

#include "engine/failure_cause.h"
#include "engine/mail_list.h"
#include "engine/message_file.h"
#include "engine/verdict.h"
#include "net/errors.h"
#include "net/line_connection.h"
#include "net/smtp_client.h"
#include "store/accounts.h"
#include "store/connection_security.h"
#include "store/mail_plan.h"
#include "store/oauth_account.h"
#include "store/settings_store.h"
#include "store/smtp_secret.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPropertiesMarker = "########### 属性 ##########";
// The settings window's text for an address not filled in yet.
constexpr std::string_view kMyEmailPlaceholder = "在这里填写您的Email地址";

std::string_view WithoutPrefix(std::string_view caption, std::string_view prefix) {
  if (caption.substr(0, prefix.size()) == prefix)
    caption.remove_prefix(prefix.size());
  return caption;
}

bool ParseInt(std::string_view text, int& value) {
  text = ascii::Trim(text);
  if (!text.empty() && text.front() == '+')
    text.remove_prefix(1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// The name a greeting uses: without blanks around it and without the
// quotes an address text puts round a name with special characters.
std::string GreetingName(std::string_view name) {
  name = ascii::Trim(name);
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
    name = ascii::Trim(name.substr(1, name.size() - 2));
  return std::string(name);
}

}  // namespace

std::string PriorityName(std::string_view priorityText) {
  int value = 3;
  if (!ParseInt(priorityText, value))
    value = 3;
  return PriorityWord(std::to_string(value));
}

TLetterCaptions LetterCaptions(const TMailRow& row) {
  const auto& it = row.Items;
  TLetterCaptions c;
  c.From = std::string(kFromPrefix) + it[mcSender];
  c.Subject = std::string(kSubjectPrefix) + it[mcSubject];
  c.Organization = "组织：" + it[mcOrganization];
  c.Sendto = "收件人：" + it[mcRecipients];
  c.RealAddr = "地址：" + it[mcSenderRoute];
  c.Priority = "优先级：" + PriorityName(it[mcPriority]);
  c.DateTime = "时间：" + it[mcDate];
  return c;
}

std::optional<TLetterTexts> LoadLetterTexts(const fs::path& home, std::string_view messageKey) {
  const std::string k = CleanFileName(messageKey);
  if (k.empty())
    return std::nullopt;
  std::error_code ec;
  for (const fs::path& folder : {home / "tmp", home / "tmp" / "deleted"}) {
    const fs::path body = folder / k;
    if (!fs::is_regular_file(body, ec))
      continue;
    TLetterTexts texts;
    ReadAnsiLines(body, texts.Html);
    HtmlFileToText(body, false);
    ReadAnsiLines(folder / (k + ".txt"), texts.Text);
    ReadAnsiLines(folder / (k + ".msg"), texts.Prop);
    return texts;
  }
  for (const fs::path& folder : {home / "tmp", home / "tmp" / "deleted"}) {
    const fs::path header = folder / (k + ".msg");
    if (!fs::is_regular_file(header, ec))
      continue;
    TLetterTexts texts;
    texts.HasBody = false;
    ReadAnsiLines(header, texts.Prop);
    return texts;
  }
  return std::nullopt;
}

bool WriteLetterText(const fs::path& file, const TLetterCaptions& captions,
                     const std::vector<std::string>& textLines) {
  std::string out;
  for (const std::string* caption : captions.InOrder())
    out += ToAnsi(*caption) + "\r\n";
  out += "\r\n\r\n";
  out += std::string(48, '-') + "\r\n";
  for (const auto& line : textLines)
    out += ToAnsi(line) + "\r\n";
  out += "\r\n";
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(file.c_str(), "wb"), &std::fclose);
  if (!f)
    return false;
  const bool written = std::fwrite(out.data(), 1, out.size(), f.get()) == out.size();
  return std::fclose(f.release()) == 0 && written;
}

std::optional<fs::path> LetterSavePath(std::string_view chosen) {
  const std::string_view trimmed = ascii::Trim(chosen);
  if (trimmed.empty())
    return std::nullopt;
  return fs::path(std::string(trimmed) + ".txt");
}

TReplyDraft ComposeReply(std::string_view fromCaption, std::string_view subjectCaption,
                         const std::vector<std::string>& textLines, std::time_t today) {
  TReplyDraft d;
  const std::string_view from = WithoutPrefix(fromCaption, kFromPrefix);
  std::string name;
  if (const auto lt = from.find('<'); lt == std::string_view::npos) {
    d.Sendto = std::string(from);
    if (const auto at = from.find('@'); at != std::string_view::npos)
      name = GreetingName(from.substr(0, at));
  } else {
    const auto gt = from.find('>');
    // A ">" only before the "<" leaves the address running to the end.
    const auto end = gt == std::string_view::npos || gt < lt ? from.size() : gt;
    d.Sendto = std::string(from.substr(lt + 1, end - lt - 1));
    name = GreetingName(from.substr(0, lt));
  }
  d.Subject = "Re: " + std::string(ascii::Trim(WithoutPrefix(subjectCaption, kSubjectPrefix)));

  auto& l = d.Lines;
  l.push_back(name + ", 您好！");
  l.insert(l.end(), 5, "");
  l.push_back("         此致");
  l.push_back("敬礼！");
  l.push_back("");
  l.push_back(std::string(30, ' ') + DateText(today));
  l.push_back("");
  l.push_back(std::string(62, '-'));
  l.push_back(" 以下是您的来信摘要：" + std::string(41, ' '));
  l.push_back(std::string(62, '-'));
  if (!textLines.empty()) {
    const auto lineAt = [&](std::size_t i) -> std::string_view {
      return i < textLines.size() ? std::string_view(textLines[i]) : std::string_view();
    };
    std::size_t i = 0;
    do {
      l.push_back("| " + std::string(lineAt(i)));
      ++i;
    } while (i <= 10 && lineAt(i).find(kPropertiesMarker) == std::string_view::npos);
    if (i > 10)
      l.push_back("|     …… ……");
  }
  l.push_back(std::string(61, '-'));
  l.push_back(" 您的来信摘要完毕" + std::string(44, ' '));
  l.push_back(std::string(61, '-'));
  return d;
}

namespace {

// The SMTP login of an OAuth mailbox is the POP3 account of the same user
// name that signs in with OAuth: its token, taken when the mail goes.
void UseOAuthAccountToken(TSettingsStore& store, TSmtpSettings& s) {
  const std::string user(ascii::Trim(s.Account));
  std::vector<TAccount> accounts = LoadAccounts(store);
  std::erase_if(accounts, [&](const TAccount& a) {
    return a.User != user || ReadAccountOAuthProvider(store, AccountKey(a)).empty();
  });
  s.Password.clear();
  if (accounts.empty()) {
    s.SecretProblem = "发信帐号“" + user +
                      "”没有用 OAuth 登录的收信帐号：请先用 pelorix account add --oauth 添加并登录";
    return;
  }
  s.OAuthAccount = AccountKey(accounts[0]);
  s.StoreFile = store.FilePath();
}

}  // namespace

TSmtpSettings ReadSmtpSettings(TSettingsStore& store) {
  TSmtpSettings s;
  TSettingsKey key;
  if (!OpenSettingsKey(store, kSmtpKey, false, key))
    return s;
  // Values other than 0 and 1 leave the client's setting as it is: none.
  const int auth = ReadNumberValue(key, "authType", 0);
  s.AuthType = auth == 1 ? 1 : 0;
  s.Server = ReadTextValue(key, "SmtpServer", "");
  s.Port = ReadTextValue(key, "smtpPort", "");
  s.Account = ReadTextValue(key, "account", "");
  s.Password = ReadSmtpPassword(store, &s.SecretProblem);
  s.MyEmail = std::string(ascii::Trim(ReadTextValue(key, "myemail", "")));
  if (s.MyEmail.empty() || s.MyEmail == kMyEmailPlaceholder) {
    // A server with a port still names the mail domain without it.
    std::string host;
    int port = 0;
    if (!SplitHostPort(ascii::Trim(s.Server), 25, host, port))
      host = std::string(ascii::Trim(s.Server));
    s.MyEmail = std::string(ascii::Trim(s.Account)) + "@" + host;
  }
  // Read at each send, as the workers read theirs at each run, so a mode
  // or pin set meanwhile (window or command line) is in force.
  s.Security = ReadSmtpSecurity(store);
  s.Mechanism = ReadSmtpMechanism(store);
  if (s.AuthType == 1 && (s.Mechanism == "xoauth2" || s.Mechanism == "oauthbearer"))
    UseOAuthAccountToken(store, s);
  if (const int port = SmtpPort(s); port > 0)
    s.PinnedCertificate = ReadTrustedCert(store, HostPortKey(ascii::Trim(s.Server), port));
  return s;
}

void TakeSmtpToken(TSmtpSettings& settings) {
  if (settings.OAuthAccount.empty() || !settings.SecretProblem.empty())
    return;
  std::string why;
  const auto store = TSettingsStore::OpenFile(settings.StoreFile, &why);
  if (!store) {
    settings.SecretProblem = "无法打开设置文件: " + why;
    return;
  }
  const TAccessToken token =
      FreshAccessToken(*store, settings.OAuthAccount, static_cast<long long>(std::time(nullptr)));
  settings.Password = token.Token;
  settings.SecretProblem = token.Problem;
  // Taken once: a second send with these settings reads the store again.
  settings.OAuthAccount.clear();
}

TMailMessage BuildReplyMessage(const TSmtpSettings& settings, const TReplySend& send) {
  TMailMessage m;
  m.From.Name = ParseAddressLenient(settings.Account).Name;
  m.From.Address = settings.MyEmail;
  m.ContentType = "text/plain;";
  m.Subject = send.Subject;
  m.Recipients.Add(TEmailAddress{"", std::string(ascii::Trim(send.Sendto))});
  if (send.CC.find('@') != std::string::npos)
    m.CCList.Add(TEmailAddress{"", std::string(ascii::Trim(send.CC))});
  m.Body = send.Lines;
  return m;
}

int SmtpPort(const TSmtpSettings& settings) {
  int port = 0;
  if (!ascii::Trim(settings.Port).empty())
    return ParseInt(settings.Port, port) && port >= 1 && port <= 65535 ? port : 0;
  return ParseSecurity(settings.Security) == TSecurity::Tls ? 465 : 25;
}

std::string SmtpSettingsProblem(const TSmtpSettings& settings) {
  if (ascii::Trim(settings.Server).empty())
    return "没有设置发信服务器(SMTP)，请先在“配置”中填写!";
  if (!settings.SecretProblem.empty())
    return settings.SecretProblem;
  // An empty port is the standard one, as the settings window proposes.
  if (ascii::Trim(settings.Port).empty())
    return {};
  int port = 0;
  if (!ParseInt(settings.Port, port) || port < 1 || port > 65535)
    return "发信服务器端口“" + settings.Port + "”不是有效的数字!";
  return {};
}

void ConfigureSmtpClient(TSmtpClient& client, const TSmtpSettings& settings,
                         TSendTimeouts timeouts) {
  client.AuthenticationType = atNone;
  if (settings.AuthType == 1) {
    switch (ParseSaslMechanism(settings.Mechanism).value_or(TSaslMechanism::Login)) {
      case TSaslMechanism::Plain:
        client.AuthenticationType = atPlain;
        break;
      case TSaslMechanism::XOAuth2:
        client.AuthenticationType = atXOAuth2;
        break;
      case TSaslMechanism::OAuthBearer:
        client.AuthenticationType = atOAuthBearer;
        break;
      case TSaslMechanism::Login:
        client.AuthenticationType = atLogin;
        break;
    }
  }
  client.Username = settings.Account;
  client.Password = settings.Password;
  client.Host = std::string(ascii::Trim(settings.Server));
  client.Port = SmtpPort(settings);
  client.Security = ParseSecurity(settings.Security).value_or(TSecurity::Auto);
  client.PinnedCertificate = settings.PinnedCertificate;
  client.ReadTimeout = timeouts.ReadMs;
}

std::string SendFailureText(const std::exception& e) {
  if (dynamic_cast<const ETlsError*>(&e) != nullptr)
    return FailureCause(e);
  const auto* reply = dynamic_cast<const EProtocolReplyError*>(&e);
  return (reply ? std::to_string(reply->ReplyCode) + " " : std::string()) +
         std::string(ascii::Trim(e.what()));
}

bool SendReply(const TSmtpSettings& given, const TReplySend& send,
               const std::function<void(const std::string&)>& status, std::string* error,
               TSendTimeouts timeouts) {
  const auto say = [&](const std::string& text) {
    if (status)
      status(text);
  };
  TSmtpSettings settings = given;
  if (SmtpSettingsProblem(settings).empty())
    TakeSmtpToken(settings);
  if (const std::string problem = SmtpSettingsProblem(settings); !problem.empty()) {
    if (error)
      *error = problem;
    say(problem);
    return false;
  }
  TSmtpClient client;
  ConfigureSmtpClient(client, settings, timeouts);
  client.OnStatus = [&](TConnectionStatus, const std::string& text) { say(text); };

  say("正在连接服务器!");
  bool sent = false;
  try {
    client.Connect(timeouts.ConnectMs);
    say("连接成功!");
    const TMailMessage message = BuildReplyMessage(settings, send);
    say("正在发送!");
    client.Send(message);
    say("发送完毕器!");
    client.Disconnect();
    sent = true;
  } catch (const std::exception& e) {
    if (error)
      *error = SendFailureText(e);
    try {
      client.Disconnect();
    } catch (const std::exception&) {
      // Closing is all that is left; the failure is reported below.
    }
    say("发送失败！");
  }
  say("断开服务器!");
  return sent;
}

}  // namespace pelorix
