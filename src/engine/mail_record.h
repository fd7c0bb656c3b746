#pragma once
// The fixed 3260-byte record of one judged message, as stored in the record
// files (.new, .spa, .del), tmp/all.rec and saved lists. Fields are UTF-8 in
// memory and GB18030 on disk; a text longer than its field is cut at a
// character boundary.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace pelorix {

inline constexpr std::size_t kMailRecordSize = 3260;

// Field offsets and on-disk sizes. A "text" field is char[501]: at most 500
// bytes and a terminating zero. A "short" field is string[N]: a length byte
// and N bytes.
struct TRecordField {
  std::size_t Offset;
  std::size_t Size;                               // bytes the field takes in the record
  bool ShortString;                               // length-prefixed (else zero-terminated)
  std::size_t Limit() const { return Size - 1; }  // longest text in bytes
};

namespace record_field {
inline constexpr TRecordField VerdictMark{0, 11, true};
inline constexpr TRecordField Sender{11, 501, false};
inline constexpr TRecordField SenderRoute{512, 501, false};
inline constexpr TRecordField Recipients{1013, 501, false};
inline constexpr TRecordField AccountKey{1514, 501, false};
inline constexpr TRecordField Subject{2015, 501, false};
inline constexpr TRecordField Number{2516, 6, true};
inline constexpr TRecordField MessageKey{2522, 501, false};
inline constexpr TRecordField DeletionMark{3023, 21, true};
inline constexpr TRecordField Size{3044, 21, true};
inline constexpr TRecordField Date{3065, 21, true};
inline constexpr TRecordField CharSet{3086, 31, true};
inline constexpr TRecordField ContentType{3117, 31, true};
inline constexpr TRecordField Priority{3148, 11, true};
inline constexpr TRecordField Organization{3159, 101, true};
}  // namespace record_field

struct TMailRecord {
  std::string VerdictMark;  // "Yes" for spam
  std::string Sender;
  std::string SenderRoute;  // "→" + location, per hop, origin first
  std::string Recipients;   // "→" + recipient, per recipient line
  std::string AccountKey;   // user[host]
  std::string Subject;
  std::string Number;        // "3", "3!" when the check deleted it
  std::string MessageKey;    // Message-ID as parsed
  std::string DeletionMark;  // "Deleted"
  std::string Size;          // "12345", "12345!" when deleted
  std::string Date;
  std::string CharSet;
  std::string ContentType;
  std::string Priority;  // "1".."5"
  std::string Organization;

  bool operator==(const TMailRecord&) const = default;
};

using TMailRecordBytes = std::array<char, kMailRecordSize>;

// Writes every field into `buffer`. Bytes behind a terminator or a length
// are left as they were, so one buffer can serve many records.
void EncodeMailRecord(const TMailRecord& record, TMailRecordBytes& buffer);
TMailRecordBytes EncodeMailRecord(const TMailRecord& record);

// Reads the fields of one record. Never fails: a field without a
// terminator ends at its size, a length byte beyond the field is clamped.
TMailRecord DecodeMailRecord(std::string_view bytes);

// One field of an encoded record, for readers that need a single value.
std::string ReadRecordField(std::string_view bytes, const TRecordField& field);
void WriteRecordField(TMailRecordBytes& buffer, const TRecordField& field, std::string_view utf8);

}  // namespace pelorix
