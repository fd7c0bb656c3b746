#include "mime/body_reader.h"

#include <memory>
#include <new>

#include "mime/header_util.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix {

namespace {

constexpr std::size_t kLineCost = 32;

// Images, applications and the like are files even when the message names
// none; only text (and unlabelled) content becomes text lines.
bool IsBinaryType(std::string_view type) {
  return !type.empty() && !StartsWithNoCase(type, "text/") && !StartsWithNoCase(type, "message/") &&
         !StartsWithNoCase(type, "multipart/");
}

// The attachment's name: "filename" of the disposition, else "name" of the
// type; RFC 2231 forms converted from their charset, encoded words decoded.
std::string AttachmentName(std::string_view contentType, std::string_view disposition) {
  std::string charset;
  std::string name = HeaderParam(disposition, "filename", &charset);
  if (name.empty())
    name = HeaderParam(contentType, "name", &charset);
  std::string utf8;
  if (!charset.empty() && CharsetToUtf8(name, charset, utf8))
    return utf8;
  return DecodeEncodedWord(name);
}

}  // namespace

// ---- TPartWriter ----

TPartWriter::TEncoding TPartWriter::EncodingOf(std::string_view contentTransferEncoding) {
  std::string_view cte = HeaderMainValue(contentTransferEncoding);
  if (ascii::EqualNoCase(cte, "base64"))
    return TEncoding::Base64;
  if (ascii::EqualNoCase(cte, "quoted-printable"))
    return TEncoding::QuotedPrintable;
  return TEncoding::Other;
}

void TPartWriter::StartText(TTextPart& part, TEncoding encoding) {
  Finish();
  text_ = &part;
  encoding_ = encoding;
}

void TPartWriter::StartAttachment(TAttachmentPart& part, TEncoding encoding, TAttachmentFile file) {
  Finish();
  attachment_ = &part;
  encoding_ = encoding;
  file_ = std::move(file);
  part.StoredFile = file_.IsOpen() ? file_.Path() : std::filesystem::path();
}

void TPartWriter::Line(std::string_view line) {
  if (!Active())
    return;
  switch (encoding_) {
    case TEncoding::Other:
      if (text_) {
        text_->Body.emplace_back(line);
      } else {
        file_.Write(line);
        file_.Write("\r\n");
      }
      return;
    case TEncoding::Base64:
      scratch_.clear();
      base64_.Feed(line, scratch_);
      break;
    case TEncoding::QuotedPrintable:
      scratch_.clear();
      if (!DecodeQuotedPrintableLine(line, scratch_))
        scratch_ += text_ ? "\n" : "\r\n";
      break;
    case TEncoding::Uu:
      scratch_.clear();
      DecodeUuLine(line, scratch_);
      break;
  }
  Emit(scratch_);
}

void TPartWriter::Emit(std::string_view bytes) {
  if (attachment_) {
    file_.Write(bytes);
    return;
  }
  while (!bytes.empty()) {
    auto nl = bytes.find('\n');
    if (nl == std::string_view::npos) {
      pending_ += bytes;
      return;
    }
    pending_ += bytes.substr(0, nl);
    if (!pending_.empty() && pending_.back() == '\r')
      pending_.pop_back();
    text_->Body.push_back(std::move(pending_));
    pending_.clear();
    bytes.remove_prefix(nl + 1);
  }
}

void TPartWriter::Finish() {
  if (!Active())
    return;
  if (encoding_ == TEncoding::Base64) {
    scratch_.clear();
    base64_.Finish(scratch_);
    Emit(scratch_);
  }
  if (text_ && !pending_.empty()) {
    if (pending_.back() == '\r')
      pending_.pop_back();
    text_->Body.push_back(std::move(pending_));
  }
  if (attachment_ && !file_.Close())
    attachment_->StoredFile.clear();
  pending_.clear();
  text_ = nullptr;
  attachment_ = nullptr;
  base64_ = {};
}

// ---- TBodyReader ----

TBodyReader::TBodyReader(TMailMessage& message, TAttachmentStore& store)
    : msg_(message), store_(store) {
  std::string contentType = msg_.Headers.Values("Content-Type");
  std::string boundary = HeaderParam(contentType, "boundary");
  if (!boundary.empty()) {
    boundaries_.push_back(std::move(boundary));
  } else {
    auto enc = TPartWriter::EncodingOf(msg_.Headers.Values("Content-Transfer-Encoding"));
    wholeBody_ =
        enc == TPartWriter::TEncoding::Base64 || enc == TPartWriter::TEncoding::QuotedPrintable;
  }
}

void TBodyReader::Read(TLineSource& source) {
  try {
    for (;;) {
      std::string line = source.ReadLine();
      if (line == ".")
        break;
      if (line.starts_with(".."))
        line.erase(0, 1);
      bytes_ += line.size() + kLineCost;
      if (bytes_ > msg_.Limits.MaxBodyBytes && mode_ != TMode::Drop) {
        writer_.Finish();
        partHeaders_.clear();
        mode_ = TMode::Drop;
        msg_.Truncated = true;
      }
      if (mode_ == TMode::Drop)
        continue;
      if (mode_ != TMode::Overflow && !boundaries_.empty() && line.starts_with("--") &&
          TakeBoundary(line))
        continue;
      switch (mode_) {
        case TMode::Plain:
        case TMode::Overflow:
          PlainLine(std::move(line));
          break;
        case TMode::PartHeaders:
          if (line.empty()) {
            EndPartHeaders();
          } else if ((line[0] == ' ' || line[0] == '\t') && !partHeaders_.empty()) {
            partHeaders_.back() += ' ';
            partHeaders_.back() += TrimBlanks(line);
          } else {
            partHeaders_.push_back(std::move(line));
          }
          break;
        case TMode::PartContent:
          writer_.Line(line);
          break;
        case TMode::Uu:
          if (TrimBlanks(line) == "end") {
            writer_.Finish();
            mode_ = TMode::Plain;
          } else {
            writer_.Line(line);
          }
          break;
        case TMode::Skip:
        case TMode::Drop:
          break;
      }
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    writer_.Finish();  // keep what arrived before the connection failed
    throw;
  }
  writer_.Finish();
  if (mode_ == TMode::PartHeaders)
    throw EMailError("Unknown Message Part Type.");
}

bool TBodyReader::TakeBoundary(std::string_view line) {
  for (std::size_t i = boundaries_.size(); i-- > 0;) {
    const std::string& b = boundaries_[i];
    if (line.size() < 2 + b.size() || !ascii::EqualNoCase(line.substr(2, b.size()), b))
      continue;
    std::string_view rest = line.substr(2 + b.size());
    bool closing = rest.starts_with("--");
    if (closing)
      rest.remove_prefix(2);
    if (!TrimBlanks(rest).empty())
      continue;
    writer_.Finish();
    partHeaders_.clear();
    boundaries_.resize(i + 1);
    if (closing) {
      boundaries_.pop_back();
      mode_ = boundaries_.empty() ? TMode::Plain : TMode::Skip;
    } else {
      mode_ = TMode::PartHeaders;
    }
    return true;
  }
  return false;
}

bool TBodyReader::PartsFull() {
  if (parts_ < msg_.Limits.MaxParts)
    return false;
  mode_ = TMode::Overflow;
  return true;
}

void TBodyReader::PlainLine(std::string line) {
  if (mode_ == TMode::Plain && wholeBody_) {
    wholeBody_ = false;
    const auto& h = msg_.Headers;
    StartPart(h.Values("Content-Type"), h.Values("Content-Transfer-Encoding"),
              h.Values("Content-Disposition"), {});
    writer_.Line(line);
    return;
  }
  std::string name;
  if (mode_ == TMode::Plain && IsUuBeginLine(line, name) && !PartsFull()) {
    ++parts_;
    auto part = std::make_unique<TAttachmentPart>();
    part->FileName = RawToUtf8(name);
    part->ContentType = "application/octet-stream";
    part->ContentTransfer = "x-uuencode";
    part->CharSet = msg_.CharSet;
    writer_.StartAttachment(*part, TPartWriter::TEncoding::Uu, store_.Create(part->FileName));
    msg_.MessageParts.push_back(std::move(part));
    mode_ = TMode::Uu;
    return;
  }
  msg_.Body.push_back(std::move(line));
}

void TBodyReader::EndPartHeaders() {
  THeaderList h;
  h.Lines = std::move(partHeaders_);
  partHeaders_.clear();
  std::string contentType = h.Values("Content-Type");
  std::string boundary = HeaderParam(contentType, "boundary");
  if (!boundary.empty()) {
    if (boundaries_.size() >= msg_.Limits.MaxDepth) {
      mode_ = TMode::Overflow;
    } else {
      boundaries_.push_back(std::move(boundary));
      mode_ = TMode::Skip;
    }
    return;
  }
  if (PartsFull())
    return;
  std::vector<std::string> extra;
  for (const auto& line : h.Lines) {
    std::string_view name = TrimBlanks(std::string_view(line).substr(0, line.find(':')));
    if (ascii::EqualNoCase(name, "Content-Type") ||
        ascii::EqualNoCase(name, "Content-Transfer-Encoding") ||
        ascii::EqualNoCase(name, "Content-Disposition"))
      continue;
    extra.push_back(RawToUtf8(line));
  }
  StartPart(contentType, h.Values("Content-Transfer-Encoding"), h.Values("Content-Disposition"),
            std::move(extra));
}

void TBodyReader::StartPart(std::string_view contentType, std::string_view transfer,
                            std::string_view disposition, std::vector<std::string> extra) {
  ++parts_;
  auto encoding = TPartWriter::EncodingOf(transfer);
  std::string charset = ascii::ToUpper(TrimBlanks(HeaderParam(contentType, "charset")));
  if (charset.empty())
    charset = msg_.CharSet;
  bool attachment = ascii::EqualNoCase(HeaderMainValue(disposition), "attachment") ||
                    FindNoCase(contentType, "NAME") != std::string_view::npos ||
                    !HeaderParam(disposition, "filename").empty() ||
                    IsBinaryType(HeaderMainValue(contentType));
  std::unique_ptr<TMessagePart> part;
  if (attachment) {
    auto a = std::make_unique<TAttachmentPart>();
    a->FileName = AttachmentName(contentType, disposition);
    writer_.StartAttachment(*a, encoding, store_.Create(a->FileName));
    part = std::move(a);
  } else {
    auto t = std::make_unique<TTextPart>();
    writer_.StartText(*t, encoding);
    part = std::move(t);
  }
  part->ContentType = PlainHeaderValue(contentType);
  part->ContentTransfer = PlainHeaderValue(transfer);
  part->ContentDisposition = PlainHeaderValue(disposition);
  part->CharSet = std::move(charset);
  part->ExtraHeaders = std::move(extra);
  msg_.MessageParts.push_back(std::move(part));
  mode_ = TMode::PartContent;
}

}  // namespace pelorix
