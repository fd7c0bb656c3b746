#include "engine/restore.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>

#include "engine/message_file.h"
#include "engine/record_files.h"
#include "mime/mail_message.h"
#include "net/smtp_client.h"
#include "store/atomic_file.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix {
namespace fs = std::filesystem;

namespace {

// The part after the last "@", or nothing without one.
std::string_view DomainOf(std::string_view address) {
  const auto at = address.rfind('@');
  return at == std::string_view::npos ? std::string_view() : address.substr(at + 1);
}

std::vector<std::string> RawLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    lines.push_back(RawToUtf8(line));
  }
  return lines;
}

}  // namespace

fs::path KeptCopyPath(const fs::path& home, std::string_view messageKey) {
  const auto copies = KeptCopies(home, messageKey);
  return copies.empty() ? fs::path() : copies.front();
}

std::optional<TLetterTexts> LoadKeptLetterTexts(const fs::path& home, std::string_view messageKey) {
  const fs::path copy = KeptCopyPath(home, messageKey);
  const auto read = copy.empty() ? std::nullopt : store::ReadWholeFile(copy);
  if (!read)
    return std::nullopt;
  const std::string& bytes = *read;
  TMailMessage message;
  TCopyLines lines(bytes);
  try {
    message.ReadHeader(lines, "");
    message.ReadBody(lines);
  } catch (const std::exception&) {
    // A body that cannot be read whole still shows what was read.
  }
  TLetterTexts texts;
  texts.Html = BodyLines(message);
  // As the body file's ".txt" is made.
  texts.Text = HtmlLinesToText(texts.Html);
  texts.Prop = RawLines(bytes);
  return texts;
}

std::vector<TQuarantineEntry> EntriesOfFiles(const fs::path& home,
                                             const std::vector<fs::path>& files) {
  std::vector<TQuarantineEntry> entries;
  for (TQuarantineEntry& entry : ListQuarantine(home)) {
    if (std::find(files.begin(), files.end(), entry.File) != files.end())
      entries.push_back(std::move(entry));
  }
  return entries;
}

bool AppendCopiesToMbox(const std::vector<TQuarantineEntry>& entries, const fs::path& mbox,
                        std::string* error) {
  std::string text;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const auto message = store::ReadWholeFile(it->File);
    if (!message) {
      if (error)
        *error = "cannot read " + it->File.string();
      return false;
    }
    AppendMboxrd(text, *message, ParseAddressLenient(it->Sender).Address, it->Saved);
  }
  std::ofstream out(mbox, std::ios::binary | std::ios::app);
  out << text;
  out.flush();
  if (!out) {
    if (error)
      *error = "cannot write " + mbox.string();
    return false;
  }
  return true;
}

std::string WithResentFields(std::string_view message, std::string_view address, std::time_t when,
                             std::string_view resentMessageId) {
  const std::string to(address);
  std::string out = "Resent-From: " + to + "\r\nResent-To: " + to +
                    "\r\nResent-Date: " + SmtpDateText(when) +
                    "\r\nResent-Message-ID: " + std::string(resentMessageId) + "\r\n";
  out += message;
  return out;
}

std::string NewResentMessageId(std::string_view address, std::time_t when) {
  // Time, a random number and a count: unique across runs and within one.
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string domain(DomainOf(address));
  if (domain.empty())
    domain = "pelorix.invalid";
  char text[80];
  std::snprintf(text, sizeof text, "%lld.%016llx.%u", static_cast<long long>(when),
                static_cast<unsigned long long>(random()), ++counter);
  return "<" + std::string(text) + ".resent@" + domain + ">";
}

std::string ResendProblem(const TSmtpSettings& settings) {
  if (std::string problem = SmtpSettingsProblem(settings); !problem.empty())
    return problem;
  const std::string_view address = ascii::Trim(settings.MyEmail);
  const auto at = address.rfind('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == address.size() ||
      address.find_first_of(" <>") != std::string_view::npos) {
    return "没有设置自己的邮件地址，请先在“配置”中填写!";
  }
  return {};
}

int ResendMessages(const TSmtpSettings& given, const std::vector<fs::path>& files,
                   std::string* error, TSendTimeouts timeouts) {
  TSmtpSettings settings = given;
  if (ResendProblem(settings).empty())
    TakeSmtpToken(settings);
  if (std::string problem = ResendProblem(settings); !problem.empty()) {
    if (error)
      *error = problem;
    return 0;
  }
  const std::string address(ascii::Trim(settings.MyEmail));
  TSmtpClient client;
  ConfigureSmtpClient(client, settings, timeouts);
  int sent = 0;
  try {
    client.Connect(timeouts.ConnectMs);
    for (const fs::path& file : files) {
      const auto message = store::ReadWholeFile(file);
      if (!message) {
        if (error)
          *error = "cannot read " + file.string();
        break;
      }
      const std::time_t now = std::time(nullptr);
      client.SendRaw(address, {address},
                     WithResentFields(*message, address, now, NewResentMessageId(address, now)));
      ++sent;
    }
    client.Disconnect();
  } catch (const std::exception& e) {
    if (error)
      *error = SendFailureText(e);
    try {
      client.Disconnect();
    } catch (const std::exception&) {
      // Closing is all that is left; the failure is reported already.
    }
  }
  return sent;
}

}  // namespace pelorix
