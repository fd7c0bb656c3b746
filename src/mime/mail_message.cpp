#include "mime/mail_message.h"

#include <charconv>
#include <new>

#include "mime/attachment_store.h"
#include "mime/body_reader.h"
#include "mime/header_util.h"
#include "mime/mail_date.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix {

namespace {

// Rough heap cost of one kept line beside its bytes; keeps the byte limits
// honest for floods of empty lines.
constexpr std::size_t kLineCost = 32;

// Runs one field's derivation; a failure leaves that field empty and never
// stops the others.
template <typename F>
void Derive(F&& derive) {
  try {
    derive();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
  }
}

}  // namespace

TMessagePriority PriorityFromText(std::string_view text) {
  std::string lower = AsciiLower(TrimBlanks(text));
  // "non-urgent" must be tested before "urgent", which it contains.
  if (lower.find("non-urgent") != std::string::npos ||
      lower.find("non-priority") != std::string::npos)
    return TMessagePriority::mpLow;
  if (lower.find("urgent") != std::string::npos)
    return TMessagePriority::mpHigh;
  std::string_view token = lower;
  token = token.substr(0, token.find_first_of(" \t"));
  int n = 3;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), n);
  // Not a number, or a number outside 1..5 (which has no priority): normal.
  if (ec != std::errc() || end != token.data() + token.size() || n < 1 || n > 5)
    n = 3;
  return static_cast<TMessagePriority>(n - 1);
}

std::vector<std::string> LinesToUtf8(const std::vector<std::string>& lines,
                                     std::string_view charset) {
  // One conversion for the whole text: cheap, and stateful charsets keep
  // their state across lines.
  std::string joined;
  std::size_t total = 0;
  for (const auto& l : lines)
    total += l.size() + 1;
  joined.reserve(total);
  for (const auto& l : lines) {
    joined += l;
    joined += '\n';
  }
  std::string utf8;
  if (!CharsetToUtf8(joined, charset, utf8))
    utf8 = RawToUtf8(joined);
  std::vector<std::string> out;
  out.reserve(lines.size());
  std::size_t start = 0;
  for (std::size_t nl = utf8.find('\n'); nl != std::string::npos; nl = utf8.find('\n', start)) {
    out.emplace_back(utf8, start, nl - start);
    start = nl + 1;
  }
  if (start < utf8.size())
    out.emplace_back(utf8, start);
  return out;
}

std::vector<std::string> TTextPart::Utf8Body() const {
  return LinesToUtf8(Body, CharSet);
}

TMailMessage::TMailMessage() = default;
TMailMessage::~TMailMessage() = default;
TMailMessage::TMailMessage(TMailMessage&&) noexcept = default;
TMailMessage& TMailMessage::operator=(TMailMessage&&) noexcept = default;

void TMailMessage::ClearFields() {
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
}

void TMailMessage::Clear() {
  Headers.Clear();
  ClearFields();
  Body.clear();
  MessageParts.clear();
  Truncated = false;
  if (store_)
    store_->Clear();
}

std::string TMailMessage::ReadHeader(TLineSource& source, std::string_view terminator) {
  std::size_t used = 0;
  for (const auto& l : Headers.Lines)
    used += l.size() + kLineCost;
  try {
    for (;;) {
      std::string line = source.ReadLine();
      if (terminator.empty() ? (line.empty() || line == ".") : line == terminator) {
        ProcessHeaders();
        return line;
      }
      if (line.empty())
        continue;
      used += line.size() + kLineCost;
      if (used > Limits.MaxHeaderBytes) {
        Truncated = true;
        continue;
      }
      Headers.Add(std::move(line));
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    // The connection failed: what arrived is still derived for the caller.
    ProcessHeaders();
    throw;
  }
}

void TMailMessage::ReadBody(TLineSource& source) {
  if (!store_)
    store_ = std::make_unique<TAttachmentStore>();
  TBodyReader reader(*this, *store_);
  reader.Read(source);
}

void TMailMessage::ProcessHeaders() {
  ClearFields();
  const auto& h = Headers;
  Derive([&] { Subject = DecodeEncodedWord(h.Values("Subject")); });
  Derive([&] { From = ParseAddressLenient(DecodeEncodedWord(h.Values("From"))); });
  Derive([&] { Sender = ParseAddressLenient(PlainHeaderValue(h.Values("Sender"))); });
  Derive([&] { Recipients.SetText(h.Values("To"), DecodeEncodedWord); });
  Derive([&] { CCList.SetText(h.Values("Cc"), DecodeEncodedWord); });
  Derive([&] { ReplyTo.SetText(h.Values("Reply-To"), PlainHeaderValue); });
  Derive([&] {
    std::string notify = h.Values("Disposition-Notification-To");
    if (notify.empty())
      notify = h.Values("Return-Receipt-To");
    ReceiptRecipient = ParseAddressLenient(PlainHeaderValue(notify));
  });
  Derive([&] { MessageId = PlainHeaderValue(h.Values("Message-Id")); });
  Derive([&] { Organization = PlainHeaderValue(h.Values("Organization")); });
  Derive([&] { References = PlainHeaderValue(h.Values("References")); });
  Derive([&] {
    std::string groups = PlainHeaderValue(h.Values("Newsgroups"));
    std::string_view rest = groups;
    while (!rest.empty()) {
      auto comma = rest.find(',');
      std::string_view g = TrimBlanks(rest.substr(0, comma));
      if (!g.empty())
        NewsGroups.emplace_back(g);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
  });
  Derive([&] { Date = ParseMailDate(h.Values("Date")); });
  Derive([&] {
    std::string p = h.Values("Priority");
    Priority = PriorityFromText(p.empty() ? h.Values("X-Priority") : p);
  });
  Derive([&] {
    std::string raw = h.Values("Content-Type");
    ContentType = PlainHeaderValue(raw);
    CharSet = ascii::ToUpper(TrimBlanks(HeaderParam(raw, "charset")));
  });
  Derive(
      [&] { ContentTransferEncoding = PlainHeaderValue(h.Values("Content-Transfer-Encoding")); });
  Derive([&] { ContentDisposition = PlainHeaderValue(h.Values("Content-Disposition")); });
}

std::vector<std::string> TMailMessage::Utf8Body() const {
  return LinesToUtf8(Body, CharSet);
}

std::filesystem::path TMailMessage::AttachmentFolder() const {
  return store_ ? store_->Folder() : std::filesystem::path();
}

}  // namespace pelorix
