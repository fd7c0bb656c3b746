// Arbitrary bytes as a record file loaded into the mail list: one row per
// whole record, and after one save and reload the rows stay as they are.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "../store/fuzz_folder.h"
#include "engine/mail_list.h"
#include "engine/mail_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 16 * pelorix::kMailRecordSize)
    return 0;
  const auto& folder = pelorix::fuzz::ScratchFolder();
  const auto file = folder / "in.rec";
  pelorix::fuzz::WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));

  pelorix::TMailList list;
  list.Append({});
  if (!list.LoadRecordFile(file, false) || list.Count() != 1 + size / pelorix::kMailRecordSize)
    std::abort();
  if (!list.LoadRecordFile(file, true) || list.Count() != size / pelorix::kMailRecordSize)
    std::abort();

  const auto saved = folder / "all.rec";
  if (!list.SaveRecordFile(saved))
    std::abort();
  pelorix::TMailList once;
  if (!once.LoadRecordFile(saved, true) || !once.SaveRecordFile(saved))
    std::abort();
  pelorix::TMailList twice;
  if (!twice.LoadRecordFile(saved, true) || twice.Rows() != once.Rows())
    std::abort();
  return 0;
}
