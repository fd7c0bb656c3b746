#include "store/filter_lists.h"

#include <algorithm>

#include "store/accounts.h"
#include "store/atomic_file.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/home.h"
#include "text/textutil.h"

namespace pelorix {
namespace fs = std::filesystem;

namespace {
constexpr std::array<TFilterListInfo, 5> kInfos = {{
    {TFilterList::Sender, "sender", "RMail_addr", "mrAddr.lst"},
    {TFilterList::Length, "length", "RMail_length", "mrlen.lst"},
    {TFilterList::Content, "content", "RMail_MsgID", "mrMid.lst"},
    {TFilterList::Subject, "subject", "RMail_title", "mrTitle.lst"},
    {TFilterList::Recipient, "recipient", "RMail_Deliver", "mrDelive.lst"},
}};

// One line per entry whatever the caller handed in, within the stored limit.
// A zero byte goes too: entries are value names, which the settings file
// compares only up to a zero byte.
std::string StorableEntry(std::string_view entry) {
  std::string out(entry);
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\0')
      c = ' ';
  }
  return CutToAnsiBytes(out, kMaxTextBytes);
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

std::vector<std::string> ReadKeyEntries(TSettingsStore& store, const TSettingsKey& key) {
  std::vector<std::string> entries;
  for (auto& name : store.EnumValueNames(key))
    entries.emplace_back(ascii::Trim(name));
  return entries;
}
}  // namespace

const std::array<TFilterListInfo, 5>& FilterListInfos() {
  return kInfos;
}

const TFilterListInfo& FilterListInfoOf(TFilterList list) {
  for (const auto& info : kInfos) {
    if (info.list == list)
      return info;
  }
  return kInfos[0];
}

std::optional<TFilterList> FilterListByName(std::string_view cliName) {
  for (const auto& info : kInfos) {
    if (ascii::EqualNoCase(info.cliName, cliName))
      return info.list;
  }
  return std::nullopt;
}

std::vector<std::string>& TFilterLists::Of(TFilterList list) {
  switch (list) {
    case TFilterList::Subject:
      return Subject;
    case TFilterList::Sender:
      return Sender;
    case TFilterList::Length:
      return Length;
    case TFilterList::Content:
      return Content;
    case TFilterList::Recipient:
      return Recipient;
  }
  return Subject;
}

const std::vector<std::string>& TFilterLists::Of(TFilterList list) const {
  return const_cast<TFilterLists*>(this)->Of(list);
}

TFilterLists LoadFilterLists(TSettingsStore& store) {
  TFilterLists lists;
  // Missing keys are created first: a write cannot start inside the read.
  std::array<TSettingsKey, 5> keys;
  for (std::size_t i = 0; i < kInfos.size(); ++i) {
    OpenSettingsKey(store, kInfos[i].registryKey, true, keys[i]);
  }
  store.Read([&] {
    for (std::size_t i = 0; i < kInfos.size(); ++i) {
      if (keys[i].IsOpen())
        lists.Of(kInfos[i].list) = ReadKeyEntries(store, keys[i]);
    }
  });
  return lists;
}

bool SaveFilterLists(TSettingsStore& store, const TFilterLists& lists) {
  return store.Write([&] {
    for (const auto& info : kInfos) {
      store.DeleteKey(info.registryKey);
      TSettingsKey key;
      if (!OpenSettingsKey(store, info.registryKey, true, key))
        continue;
      for (const auto& entry : lists.Of(info.list))
        WriteTextValue(key, StorableEntry(entry), "");
    }
  });
}

bool WriteListFiles(const fs::path& home, TSettingsStore& store) {
  const fs::path tmp = home / "tmp";
  if (!EnsureFolder(tmp))
    return false;
  std::array<TSettingsKey, 5> keys;
  std::array<std::vector<std::string>, 5> entries;
  for (std::size_t i = 0; i < kInfos.size(); ++i) {
    OpenSettingsKey(store, kInfos[i].registryKey, true, keys[i]);
  }
  store.Read([&] {
    for (std::size_t i = 0; i < kInfos.size(); ++i) {
      if (keys[i].IsOpen())
        entries[i] = ReadKeyEntries(store, keys[i]);
    }
  });
  bool ok = true;
  for (std::size_t i = 0; i < kInfos.size(); ++i) {
    if (!keys[i].IsOpen())
      continue;  // that list's file stays as it was
    std::string bytes;
    for (const auto& entry : entries[i])
      bytes += ToAnsi(entry) + "\r\n";
    auto existing = FindFileNoCase(tmp, std::string(kInfos[i].fileName));
    ok = store::WriteFileAtomic(existing ? *existing : tmp / kInfos[i].fileName, bytes) && ok;
  }
  return ok;
}

std::vector<std::string> SplitListLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
      start = i + 1;
    }
  }
  if (start < text.size())
    lines.emplace_back(text.substr(start));
  return lines;
}

TFilterLists ReadListFiles(const fs::path& home) {
  TFilterLists lists;
  for (const auto& info : kInfos) {
    auto file = FindFileNoCase(home / "tmp", std::string(info.fileName));
    if (!file)
      continue;
    auto bytes = store::ReadWholeFile(*file);
    if (!bytes)
      continue;
    for (auto& line : SplitListLines(*bytes))
      lists.Of(info.list).push_back(FromAnsi(line));
  }
  return lists;
}

bool AddTextEntry(std::vector<std::string>& list, std::string_view entry) {
  std::string_view e = ascii::Trim(entry);
  if (e.empty())
    return false;
  for (const auto& existing : list) {
    if (ascii::EqualNoCase(ascii::Trim(existing), e))
      return false;
  }
  list.emplace_back(e);
  return true;
}

bool RemoveEntry(std::vector<std::string>& list, std::string_view entry) {
  std::string_view e = ascii::Trim(entry);
  auto before = list.size();
  std::erase_if(list, [&](const std::string& s) { return ascii::EqualNoCase(ascii::Trim(s), e); });
  return list.size() != before;
}

bool AddLengthRule(std::vector<std::string>& rules, int operatorIndex, std::string_view number,
                   std::string* error) {
  std::string_view n = ascii::Trim(number);
  if (n.empty())
    return false;
  if (operatorIndex < 0 || operatorIndex > 2) {
    if (error)
      *error = "a length rule needs one of ==, >= or <=";
    return false;
  }
  if (!AllDigits(n)) {
    if (error)
      *error = "a length must be written in the digits 0 to 9";
    return false;
  }
  std::string rule =
      std::string(kLengthOperators[static_cast<std::size_t>(operatorIndex)]) + std::string(n);
  std::erase_if(rules, [&](const std::string& r) { return ascii::EqualNoCase(r, rule); });
  rules.push_back(std::move(rule));
  return true;
}

TLengthRuleParts SplitLengthRule(std::string_view rule) {
  TLengthRuleParts parts;
  for (std::size_t i = 0; i < kLengthOperators.size(); ++i) {
    if (rule.find(kLengthOperators[i]) != std::string_view::npos) {
      parts.operatorIndex = static_cast<int>(i);
      break;
    }
  }
  parts.number = rule.size() > 2 ? std::string(rule.substr(2)) : std::string();
  return parts;
}

TLengthRuleParts TakeOutLengthRule(std::vector<std::string>& rules, std::size_t index) {
  if (index >= rules.size())
    return {};
  TLengthRuleParts parts = SplitLengthRule(rules[index]);
  rules.erase(rules.begin() + static_cast<std::ptrdiff_t>(index));
  return parts;
}

bool AddLengthRuleText(std::vector<std::string>& rules, std::string_view rule, std::string* error) {
  std::string_view r = ascii::Trim(rule);
  TLengthRuleParts parts = SplitLengthRule(r);
  if (parts.operatorIndex < 0) {
    if (error)
      *error = "a length rule needs one of ==, >= or <=";
    return false;
  }
  if (!AllDigits(ascii::Trim(parts.number))) {
    if (error)
      *error = "a length rule is ==, >= or <= followed by digits: " + std::string(r);
    return false;
  }
  return AddLengthRule(rules, parts.operatorIndex, parts.number, error);
}

namespace {

// Sections in the order the export writes them.
struct TRubSection {
  std::string_view name;
  TFilterList list;
};
constexpr TRubSection kExportSections[] = {
    {"Title", TFilterList::Subject},     {"length", TFilterList::Length},
    {"Deliver", TFilterList::Recipient}, {"Mid", TFilterList::Content},
    {"Mail", TFilterList::Sender},
};
constexpr TRubSection kImportSections[] = {
    {"Title", TFilterList::Subject}, {"Deliver", TFilterList::Recipient},
    {"Length", TFilterList::Length}, {"Mid", TFilterList::Content},
    {"Mail", TFilterList::Sender},
};

// "[name]" alone on its line. A key line always holds "=", so an entry that
// starts with "[" is never taken for a section.
bool SectionHeader(std::string_view line, std::string_view& name) {
  std::string_view t = ascii::Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']')
    return false;
  name = ascii::Trim(t.substr(1, t.size() - 2));
  return true;
}

// The key of a line: everything up to its last "=", since entries such as
// length rules hold "=" themselves.
std::string_view LineKey(std::string_view line) {
  std::size_t eq = line.rfind('=');
  return ascii::Trim(eq == std::string_view::npos ? line : line.substr(0, eq));
}

bool CommentLine(std::string_view line) {
  std::string_view t = ascii::Trim(line);
  return t.empty() ||
         ((t.front() == ';' || t.front() == '#') && t.find('=') == std::string_view::npos);
}

// Filter files are GB18030, but a hand-edited one may be UTF-8. GB18030
// Chinese is often valid UTF-8 too ("赚钱" is D7 AC C7 AE), so a file is
// taken for UTF-8 only with a byte order mark or a three- or four-byte
// sequence, which is how Chinese looks in UTF-8.
std::string FileText(std::string_view bytes) {
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  if (bytes.starts_with(kUtf8Mark) && IsValidUtf8(bytes))
    return std::string(bytes.substr(kUtf8Mark.size()));
  const bool longSequence = std::any_of(
      bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xE0; });
  if (longSequence && IsValidUtf8(bytes))
    return std::string(bytes);
  return FromAnsi(bytes);
}

}  // namespace

std::vector<std::string> ReadFilterSection(std::string_view text, std::string_view section) {
  std::vector<std::string> entries;
  bool inside = false, seen = false;
  for (const auto& line : SplitListLines(text)) {
    std::string_view name;
    if (SectionHeader(line, name)) {
      if (inside)
        break;  // the first section of that name is the one read
      inside = !seen && ascii::EqualNoCase(name, section);
      seen = seen || inside;
      continue;
    }
    if (inside && !CommentLine(line))
      entries.emplace_back(LineKey(line));
  }
  return entries;
}

bool ExportFilterFile(const fs::path& requested, const TFilterLists& lists, std::string* error) {
  fs::path file = requested;
  if (!file.has_extension())
    file += ".rub";
  std::vector<std::string> lines;
  if (auto bytes = store::ReadWholeFile(file))
    lines = SplitListLines(FileText(*bytes));

  for (const auto& section : kExportSections) {
    // Find the section; add it at the end when missing.
    std::size_t header = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string_view name;
      if (SectionHeader(lines[i], name) && ascii::EqualNoCase(name, section.name)) {
        header = i;
        break;
      }
    }
    if (header == lines.size())
      lines.push_back("[" + std::string(section.name) + "]");
    for (const auto& rawEntry : lists.Of(section.list)) {
      std::string entry(ascii::Trim(StorableEntry(rawEntry)));
      if (entry.empty())
        continue;
      std::size_t end = header + 1;
      while (end < lines.size()) {
        std::string_view name;
        if (SectionHeader(lines[end], name))
          break;
        ++end;
      }
      bool rewritten = false;
      std::size_t lastUsed = header;
      for (std::size_t i = header + 1; i < end; ++i) {
        if (CommentLine(lines[i]))
          continue;
        lastUsed = i;
        if (ascii::EqualNoCase(LineKey(lines[i]), entry)) {
          lines[i] = entry + "=";
          rewritten = true;
          break;
        }
      }
      if (!rewritten) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastUsed + 1), entry + "=");
      }
    }
  }
  std::string out;
  for (const auto& line : lines)
    out += ToAnsi(line) + "\r\n";
  return store::WriteFileAtomic(file, out, error);
}

bool ImportFilterFile(const fs::path& file, TFilterLists& lists, TFilterImportResult* result,
                      std::string* error) {
  auto bytes = store::ReadWholeFile(file);
  if (!bytes) {
    if (error)
      *error = "cannot read " + file.string();
    return false;
  }
  std::string text = FileText(*bytes);
  TFilterImportResult r;
  for (const auto& section : kImportSections) {
    auto& list = lists.Of(section.list);
    for (const auto& entry : ReadFilterSection(text, section.name)) {
      if (entry.empty())
        continue;
      if (ToAnsi(entry).size() > kMaxTextBytes) {
        ++r.skipped;
        continue;
      }
      if (section.list == TFilterList::Length) {
        auto before = list;
        if (!AddLengthRuleText(list, entry)) {
          ++r.skipped;
        } else if (list.size() != before.size()) {
          ++r.added;
        }
      } else if (AddTextEntry(list, entry)) {
        ++r.added;
      }
    }
  }
  if (result)
    *result = r;
  return true;
}

}  // namespace pelorix
