#pragma once
// What the letter window does without a screen: its captions from a mail
// list row, the per-message files it shows, the letter saved as text, the
// reply it proposes, and the reply's trip through the SMTP client.

#include <array>
#include <ctime>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mime/mail_message.h"

namespace pelorix {

struct TMailRow;
class TSettingsStore;
class TSmtpClient;

// Caption prefixes of the letter window's header labels.
inline constexpr std::string_view kFromPrefix = "发件人：";
inline constexpr std::string_view kSubjectPrefix = "标题：";

// The seven header captions, prefix and column text each, in the order the
// window lists them and the saved letter writes them.
struct TLetterCaptions {
  std::string Subject, From, Organization, Sendto, RealAddr, Priority, DateTime;
  std::array<const std::string*, 7> InOrder() const {
    return {&Subject, &From, &Organization, &Sendto, &RealAddr, &Priority, &DateTime};
  }
};
TLetterCaptions LetterCaptions(const TMailRow& row);

// "最高" ... "最低" for the priority column read as a number; a text that is
// not a number counts as 3 ("普通").
std::string PriorityName(std::string_view priorityText);

// The texts of the three pages of a letter, UTF-8, one entry per line.
struct TLetterTexts {
  std::vector<std::string> Text;  // tmp/<k>.txt, made from the body file
  std::vector<std::string> Html;  // the body file tmp/<k>
  std::vector<std::string> Prop;  // the header file tmp/<k>.msg
  bool HasBody = true;            // false: only the header file was found
};
// Finds the body file of a message key under tmp/, else tmp/deleted/, makes
// its ".txt" beside it and reads the three files. Without a body file (a
// header check), the header file alone; nothing when neither exists.
std::optional<TLetterTexts> LoadLetterTexts(const std::filesystem::path& home,
                                            std::string_view messageKey);

// The saved letter: the seven captions, two empty lines, 48 "-", the text
// lines, one more line break; GB18030 with CR LF. False when the file
// cannot be written.
bool WriteLetterText(const std::filesystem::path& file, const TLetterCaptions& captions,
                     const std::vector<std::string>& textLines);
// The chosen save name with ".txt" appended (always); nothing when the
// trimmed name is empty.
std::optional<std::filesystem::path> LetterSavePath(std::string_view chosen);

// The reply the window proposes.
struct TReplyDraft {
  std::string Sendto;
  std::string Subject;
  std::vector<std::string> Lines;
};
// From the sender and subject captions (prefixes included or not), the
// letter's text lines and today's date.
TReplyDraft ComposeReply(std::string_view fromCaption, std::string_view subjectCaption,
                         const std::vector<std::string>& textLines, std::time_t today);

// The Smtp key as the letter window reads it at each send.
struct TSmtpSettings {
  int AuthType = 0;                 // 0 none, 1 log in
  std::string Mechanism = "login";  // login, plain, xoauth2 or oauthbearer
  std::string Server;
  std::string Port;
  std::string Account;
  std::string Password;
  std::string MyEmail;            // the sender's address
  std::string Security = "auto";  // auto, tls, starttls or none
  std::string PinnedCertificate;  // TrustedCerts for the server's host:port
  std::string SecretProblem;      // why the keyring could not give the password
  // With an OAuth mechanism: the account whose access token is the password
  // and the settings file it is kept in. The send fetches (and refreshes)
  // it, off the window thread, through TakeSmtpToken.
  std::string OAuthAccount;
  std::filesystem::path StoreFile;
};
// Reads no token: a refresh would be a network round trip on the caller's thread.
TSmtpSettings ReadSmtpSettings(TSettingsStore& store);
// Puts the OAuth account's access token into Password, refreshed when near
// its end, or the cause into SecretProblem. Nothing for a password login.
void TakeSmtpToken(TSmtpSettings& settings);

// One send as the window starts it.
struct TReplySend {
  std::string Sendto;
  std::string CC;
  std::string Subject;
  std::vector<std::string> Lines;
};
// The message the client sends: from the account's name and the settings'
// address, to the trimmed recipient taken whole, a copy only when the copy
// text holds "@".
TMailMessage BuildReplyMessage(const TSmtpSettings& settings, const TReplySend& send);

// The port field, or when it is empty 465 for SSL/TLS and 25 for the rest;
// 0 when the field is no port. A port in the server text wins over it, as
// when connecting.
int SmtpPort(const TSmtpSettings& settings);

// Why the settings cannot be used (no server, a port that is not a number
// from 1 to 65535), as the status line says it; empty when they can.
std::string SmtpSettingsProblem(const TSmtpSettings& settings);

// Limits of one send, so that a silent server cannot hold it forever.
struct TSendTimeouts {
  int ConnectMs = 30000;
  int ReadMs = 60000;
};

// The client set up from the settings: server, port, login, security, pin
// and time-outs.
void ConfigureSmtpClient(TSmtpClient& client, const TSmtpSettings& settings,
                         TSendTimeouts timeouts);
// A send's failure as the user reads it: the reply code and text, or the
// certificate or TLS problem in plain words.
std::string SendFailureText(const std::exception& e);

// Connects, sends and disconnects, reporting every status text in order:
// "正在连接服务器!", the client's own events, "连接成功!", "正在发送!",
// "发送完毕器!" or "发送失败！", "断开服务器!". Returns whether the mail went;
// `error` gets the failure's own text. Settings with a problem send nothing
// and report only that problem.
bool SendReply(const TSmtpSettings& settings, const TReplySend& send,
               const std::function<void(const std::string&)>& status, std::string* error = nullptr,
               TSendTimeouts timeouts = {});

}  // namespace pelorix
