#include "mime/mail_message.h"

#include <cctype>

namespace pelorix {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

class TMailMessage::TAttachmentFolder {};

std::string TEmailAddress::Text() const {
  return Address;
}
void TEmailAddress::SetText(std::string_view text) {
  Address = std::string(Trim(text));
}

void TEmailAddressList::SetText(std::string_view text) {
  Clear();
  TEmailAddress a;
  a.SetText(text);
  if (!a.Address.empty())
    Add(a);
}

std::string THeaderList::Values(std::string_view name) const {
  for (std::size_t i = 0; i < Lines.size(); ++i) {
    std::string_view line = Lines[i];
    auto colon = line.find(':');
    if (colon == std::string_view::npos || !EqualNoCase(line.substr(0, colon), name))
      continue;
    std::string value(line.substr(colon + 1));
    for (std::size_t j = i + 1;
         j < Lines.size() && !Lines[j].empty() && (Lines[j][0] == ' ' || Lines[j][0] == '\t');
         ++j) {
      value += ' ';
      value += Trim(Lines[j]);
    }
    return std::string(Trim(value));
  }
  return {};
}

std::vector<std::string> THeaderList::Folded(std::size_t) const {
  return Lines;
}

void THeaderList::SetValue(std::string_view name, std::string_view value) {
  Lines.push_back(std::string(name) + ": " + std::string(value));
}

std::vector<std::string> TTextPart::Utf8Body() const {
  return Body;
}

TMailMessage::TMailMessage() = default;
TMailMessage::~TMailMessage() = default;

void TMailMessage::Clear() {
  Headers.Clear();
  Subject.clear();
  From = {};
  Sender = {};
  ReceiptRecipient = {};
  Recipients.Clear();
  CCList.Clear();
  ReplyTo.Clear();
  MessageId.clear();
  Organization.clear();
  References.clear();
  NewsGroups.clear();
  Date = 0;
  Priority = TMessagePriority::mpNormal;
  ContentType.clear();
  CharSet.clear();
  ContentTransferEncoding.clear();
  ContentDisposition.clear();
  Body.clear();
  MessageParts.clear();
}

std::string TMailMessage::ReadHeader(TLineSource& source, std::string_view terminator) {
  for (;;) {
    std::string line = source.ReadLine();
    if (terminator.empty() ? (line.empty() || line == ".") : line == terminator) {
      ProcessHeaders();
      return line;
    }
    if (!line.empty())
      Headers.Add(std::move(line));
  }
}

void TMailMessage::ReadBody(TLineSource& source) {
  for (;;) {
    std::string line = source.ReadLine();
    if (line == ".")
      return;
    if (line.starts_with(".."))
      line.erase(0, 1);
    Body.push_back(std::move(line));
  }
}

void TMailMessage::ProcessHeaders() {
  Subject = Headers.Values("Subject");
  MessageId = Headers.Values("Message-Id");
  ContentType = Headers.Values("Content-Type");
}

std::vector<std::string> TMailMessage::Utf8Body() const {
  return Body;
}

}  // namespace pelorix
