#include "engine/failure_cause.h"

#include "net/errors.h"
#include "net/imap_session.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

// One line: the CR LF breaks of reply texts become blanks.
std::string OneLine(std::string_view text) {
  std::string line;
  for (const char c : text) {
    if (c == '\r' || c == '\n') {
      if (!line.empty() && line.back() != ' ') {
        line += ' ';
      }
    } else {
      line += c;
    }
  }
  return std::string(ascii::Trim(line));
}

// What the IMAP response codes (RFC 5530) mean for the user.
std::string ImapCodeText(std::string_view code) {
  static constexpr std::pair<std::string_view, std::string_view> kCodes[] = {
      {"AUTHENTICATIONFAILED", "用户名或密码错误"},
      {"AUTHORIZATIONFAILED", "没有访问此邮箱的权限"},
      {"EXPIRED", "密码已过期"},
      {"PRIVACYREQUIRED", "服务器要求加密连接"},
      {"UNAVAILABLE", "服务器暂时不可用"},
      {"OVERQUOTA", "邮箱空间已满"},
      {"NONEXISTENT", "文件夹不存在"},
      {"LIMIT", "超出服务器的限制"},
      {"INUSE", "邮箱正被占用"},
  };
  for (const auto& [name, text] : kCodes) {
    if (code == name)
      return std::string(text) + " (" + std::string(name) + ")";
  }
  return {};
}

}  // namespace

std::string FailureCause(const std::exception& failure) {
  if (const auto* e = dynamic_cast<const EImapReplyError*>(&failure)) {
    const std::string meaning = ImapCodeText(e->Code);
    const std::string text = OneLine(failure.what());
    return meaning.empty() ? text : meaning + ": " + text;
  }
  if (const auto* e = dynamic_cast<const EImapBye*>(&failure)) {
    return "服务器断开了连接: " + OneLine(e->Text);
  }
  if (const auto* e = dynamic_cast<const ECertificateError*>(&failure)) {
    return "证书验证失败: " + e->Reason;
  }
  if (const auto* e = dynamic_cast<const ETlsNotOffered*>(&failure)) {
    return "服务器不提供 " + e->Reason + " 加密连接，密码未发送";
  }
  if (const auto* e = dynamic_cast<const ETlsError*>(&failure)) {
    return "TLS 加密连接失败: " + e->Reason;
  }
  if (dynamic_cast<const ESocketError*>(&failure) != nullptr) {
    // "Socket Error # 10061\r\nConnection refused.": the description says it.
    const std::string_view text = failure.what();
    const auto brk = text.find("\r\n");
    return OneLine(brk == std::string_view::npos ? text : text.substr(brk + 2));
  }
  const std::string text = OneLine(failure.what());
  if (dynamic_cast<const EProtocolReplyError*>(&failure) != nullptr) {
    return text.empty() ? "服务器拒绝 (无说明)" : text;
  }
  return text;
}

std::string FailureCauseLine(std::string_view user, std::string_view server,
                             const std::exception& failure) {
  return std::string(user) + "@" + std::string(server) + " 失败原因: " + FailureCause(failure);
}

}  // namespace pelorix
