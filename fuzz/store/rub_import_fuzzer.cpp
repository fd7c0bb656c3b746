// Arbitrary bytes as a ".rub" filter file: import, import again, then export
// the lists into a copy of the same file and import that.
// Imported entries are trimmed, storable and unique; a second import of the
// same file adds nothing; an export followed by an import loses no entry
// (unless the written GB18030 file happens to read as UTF-8).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_folder.h"
#include "store/filter_lists.h"
#include "store/settings_store.h"
#include "text/ansi.h"
#include "text/asciiutil.h"

namespace {

using pelorix::TFilterList;
using pelorix::TFilterLists;

constexpr TFilterList kLists[] = {TFilterList::Subject, TFilterList::Sender, TFilterList::Length,
                                  TFilterList::Content, TFilterList::Recipient};

bool HoldsNoCase(const std::vector<std::string>& list, std::string_view entry) {
  for (const auto& e : list) {
    if (pelorix::ascii::EqualNoCase(e, entry))
      return true;
  }
  return false;
}

void CheckEntries(const TFilterLists& lists) {
  for (TFilterList which : kLists) {
    const auto& list = lists.Of(which);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string& e = list[i];
      if (e.empty() || pelorix::ascii::Trim(e) != e ||
          pelorix::ToAnsi(e).size() > pelorix::kMaxTextBytes || !pelorix::IsValidUtf8(e))
        std::abort();
      for (std::size_t j = 0; j < i; ++j) {
        if (pelorix::ascii::EqualNoCase(list[j], e))
          std::abort();
      }
      if (which == TFilterList::Length) {
        const std::string_view op(e.data(), std::min<std::size_t>(2, e.size()));
        const std::string_view digits = std::string_view(e).substr(op.size());
        if ((op != "==" && op != ">=" && op != "<=") || digits.empty() ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
          std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& folder = pelorix::fuzz::ScratchFolder();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto input = folder / "in.rub";
  pelorix::fuzz::WriteBytes(input, bytes);

  TFilterLists lists;
  pelorix::TFilterImportResult first, second;
  if (!pelorix::ImportFilterFile(input, lists, &first))
    std::abort();
  CheckEntries(lists);
  std::size_t total = 0;
  for (TFilterList which : kLists)
    total += lists.Of(which).size();
  if (total != static_cast<std::size_t>(first.added))
    std::abort();

  const TFilterLists once = lists;
  if (!pelorix::ImportFilterFile(input, lists, &second))
    std::abort();
  if (second.added != 0 || second.skipped != first.skipped)
    std::abort();
  for (TFilterList which : kLists) {
    if (lists.Of(which).size() != once.Of(which).size())
      std::abort();
  }

  // Export into the same file: what the file already held stays, the
  // lists' entries land in their sections and come back on import.
  if (!pelorix::ExportFilterFile(input, once))
    std::abort();
  // A written file that is valid UTF-8 with a three-byte sequence is read as
  // UTF-8 (hand-edited files); GB18030 text can look like that only by
  // chance, and then it cannot come back.
  std::ifstream file(input, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
  if (pelorix::IsValidUtf8(written) && std::any_of(written.begin(), written.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0xE0;
      }))
    return 0;
  TFilterLists back;
  if (!pelorix::ImportFilterFile(input, back))
    std::abort();
  CheckEntries(back);
  for (TFilterList which : kLists) {
    for (const auto& e : once.Of(which)) {
      if (!HoldsNoCase(back.Of(which), e))
        std::abort();
    }
  }
  return 0;
}
