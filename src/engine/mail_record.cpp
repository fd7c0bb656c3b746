#include "engine/mail_record.h"

#include <algorithm>
#include <cstring>

#include "text/ansi.h"

namespace pelorix {

void WriteRecordField(TMailRecordBytes& buffer, const TRecordField& field, std::string_view utf8) {
  const std::string disk = ToAnsiCut(utf8, field.Limit());
  char* at = buffer.data() + field.Offset;
  if (field.ShortString) {
    at[0] = static_cast<char>(static_cast<unsigned char>(disk.size()));
    std::memcpy(at + 1, disk.data(), disk.size());
  } else {
    std::memcpy(at, disk.data(), disk.size());
    at[disk.size()] = '\0';
  }
}

std::string ReadRecordField(std::string_view bytes, const TRecordField& field) {
  if (bytes.size() < field.Offset + field.Size)
    return {};
  std::string_view raw = bytes.substr(field.Offset, field.Size);
  if (field.ShortString) {
    std::size_t len = std::min<std::size_t>(static_cast<unsigned char>(raw[0]), field.Size - 1);
    return FromAnsi(raw.substr(1, len));
  }
  std::size_t end = raw.find('\0');
  return FromAnsi(raw.substr(0, end == std::string_view::npos ? raw.size() : end));
}

void EncodeMailRecord(const TMailRecord& r, TMailRecordBytes& buffer) {
  namespace f = record_field;
  WriteRecordField(buffer, f::VerdictMark, r.VerdictMark);
  WriteRecordField(buffer, f::Sender, r.Sender);
  WriteRecordField(buffer, f::SenderRoute, r.SenderRoute);
  WriteRecordField(buffer, f::Recipients, r.Recipients);
  WriteRecordField(buffer, f::AccountKey, r.AccountKey);
  WriteRecordField(buffer, f::Subject, r.Subject);
  WriteRecordField(buffer, f::Number, r.Number);
  WriteRecordField(buffer, f::MessageKey, r.MessageKey);
  WriteRecordField(buffer, f::DeletionMark, r.DeletionMark);
  WriteRecordField(buffer, f::Size, r.Size);
  WriteRecordField(buffer, f::Date, r.Date);
  WriteRecordField(buffer, f::CharSet, r.CharSet);
  WriteRecordField(buffer, f::ContentType, r.ContentType);
  WriteRecordField(buffer, f::Priority, r.Priority);
  WriteRecordField(buffer, f::Organization, r.Organization);
}

TMailRecordBytes EncodeMailRecord(const TMailRecord& record) {
  TMailRecordBytes buffer{};
  EncodeMailRecord(record, buffer);
  return buffer;
}

TMailRecord DecodeMailRecord(std::string_view b) {
  namespace f = record_field;
  TMailRecord r;
  r.VerdictMark = ReadRecordField(b, f::VerdictMark);
  r.Sender = ReadRecordField(b, f::Sender);
  r.SenderRoute = ReadRecordField(b, f::SenderRoute);
  r.Recipients = ReadRecordField(b, f::Recipients);
  r.AccountKey = ReadRecordField(b, f::AccountKey);
  r.Subject = ReadRecordField(b, f::Subject);
  r.Number = ReadRecordField(b, f::Number);
  r.MessageKey = ReadRecordField(b, f::MessageKey);
  r.DeletionMark = ReadRecordField(b, f::DeletionMark);
  r.Size = ReadRecordField(b, f::Size);
  r.Date = ReadRecordField(b, f::Date);
  r.CharSet = ReadRecordField(b, f::CharSet);
  r.ContentType = ReadRecordField(b, f::ContentType);
  r.Priority = ReadRecordField(b, f::Priority);
  r.Organization = ReadRecordField(b, f::Organization);
  return r;
}

}  // namespace pelorix
