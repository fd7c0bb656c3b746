#include "engine/verdict.h"

#include <cctype>
#include <charconv>
#include <climits>

#include "engine/message_file.h"
#include "engine/origin.h"
#include "mime/mail_message.h"
#include "text/ansi.h"
#include "text/textutil.h"

#include "text/asciiutil.h"

namespace pelorix {

namespace fs = std::filesystem;

namespace {

std::string Trim(std::string_view s) {
  return std::string(ascii::Trim(s));
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

void EraseFirst(std::string& s, std::string_view what) {
  auto at = s.find(what);
  if (at != std::string::npos)
    s.erase(at, what.size());
}

std::string Quoted(std::string_view s) {
  return "\"" + std::string(s) + "\"";
}

// The report's size: at least three digits, the sign of an unknown size
// (-1) in front of them ("-001").
std::string SizeDigits(long long size) {
  const unsigned long long magnitude = size < 0 ? 0ULL - static_cast<unsigned long long>(size)
                                                : static_cast<unsigned long long>(size);
  std::string digits = std::to_string(magnitude);
  if (digits.size() < 3)
    digits.insert(0, 3 - digits.size(), '0');
  return (size < 0 ? "-" : "") + digits;
}

}  // namespace

std::vector<std::string> DecodedHeaderLines(const std::vector<std::string>& rawLines) {
  std::vector<std::string> lines;
  lines.reserve(rawLines.size());
  for (const auto& raw : rawLines) {
    std::string line = RawToUtf8(raw);
    // The decoder trims; a line without encoded words keeps its blanks so
    // that "To:" followed by blanks still has a To value.
    if (Contains(line, "=?"))
      line = DecodeEncodedWord(line);
    lines.push_back(std::move(line));
  }
  return lines;
}

THeaderScan ScanHeaders(const std::vector<std::string>& decodedLines,
                        const std::vector<std::string>& senderList) {
  THeaderScan scan;
  for (std::string h : decodedLines) {
    if (Contains(h, "To:")) {
      EraseFirst(h, "To:");
      if (!Contains(h, "Reply-")) {
        scan.ToValue = h;
      } else {
        EraseFirst(h, "Reply-");
      }
      scan.RecipientLines.push_back(Trim(h));
    }
    if (Contains(h, "Received:")) {
      auto at = h.find("Received: from");
      if (at != std::string::npos)
        h.erase(at, 14);
      if (scan.RelayMatch.empty())
        scan.RelayMatch = FindListEntry(senderList, h);
      scan.ReceivedLines.push_back(h);
    }
  }
  return scan;
}

bool NotAddressedToMe(const std::vector<std::string>& recipientLines, std::string_view user,
                      const std::vector<std::string>& acceptedList) {
  for (const auto& r : recipientLines) {
    if ((!user.empty() && Contains(r, user)) || !FindListEntry(acceptedList, r).empty()) {
      return false;
    }
  }
  return true;
}

bool LengthRuleMatches(std::string_view rule, long long size) {
  const std::string s = Trim(rule);
  const std::string op = Trim(std::string_view(s).substr(0, std::min<std::size_t>(2, s.size())));
  std::string_view rest = s.size() > 2 ? std::string_view(s).substr(2) : std::string_view();
  while (!rest.empty() && rest.front() == ' ')
    rest.remove_prefix(1);
  long long number = 0;
  if (!rest.empty()) {
    std::string_view digits = rest;
    if (digits.front() == '+')
      digits.remove_prefix(1);
    int value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec == std::errc() && end == digits.data() + digits.size() && !digits.empty())
      number = value;
  }
  if (op == "==")
    return size == number;
  if (op == ">=")
    return size >= number;
  if (op == "<=")
    return size <= number;
  return false;
}

std::string PriorityDigit(const TMailMessage& message) {
  switch (message.Priority) {
    case TMessagePriority::mpHighest:
      return "5";
    case TMessagePriority::mpHigh:
      return "4";
    case TMessagePriority::mpNormal:
      return "3";
    case TMessagePriority::mpLow:
      return "2";
    case TMessagePriority::mpLowest:
      return "1";
  }
  return "3";
}

std::string PriorityWord(std::string_view digit) {
  if (digit == "5")
    return "最高";
  if (digit == "4")
    return "较高";
  if (digit == "2")
    return "较低";
  if (digit == "1")
    return "最低";
  return "普通";
}

TVerdict Judge(const TJudgeInput& in, TReportSink& report) {
  const TMailMessage& m = *in.Message;
  const TFilterLists& lists = *in.Lists;
  TVerdict v;
  v.SenderText = m.From.Text();
  v.SubjectText = m.Subject;

  report.Line(std::string(50, '-'));
  report.Line("发信人:" + v.SenderText);
  report.Line("主题: " + v.SubjectText);
  report.Line("信息标识:" + m.MessageId);
  report.Line("长度: " + SizeDigits(in.Size) + "字节");
  report.Line("时间: " + in.DateText);
  report.Line("文本类型:" + m.CharSet + "[" + m.ContentType + "]");
  report.Line("此信的关注程度：" + PriorityWord(PriorityDigit(m)));

  v.Scan = ScanHeaders(DecodedHeaderLines(m.Headers.Lines), lists.Sender);
  v.NotAddressedToMe = NotAddressedToMe(v.Scan.RecipientLines, in.User, lists.Recipient);

  v.SenderRoute = in.IpTable ? WriteRoute(v.Scan.ReceivedLines, *in.IpTable, report)
                             : WriteRoute(v.Scan.ReceivedLines, in.Home, report);

  report.Line("");
  report.Line("该信件的收件人有以下人员: ");
  report.Line("");
  int k = 0;
  for (const auto& r : v.Scan.RecipientLines) {
    report.Line("收件人  (" + std::to_string(++k) + "):" + r);
    v.RecipientsText += "→" + r;
  }
  report.Line("");

  // Rule 1: missing address.
  if ((v.SenderText.empty() || v.Scan.ToValue.empty()) && in.CheckNoMsg) {
    v.BlacklistHit = true;
    v.NotAddressedToMe = true;
    v.Reason = "无收、发件人地址,";
  }
  // Rule 2: sender list, always evaluated.
  if (auto hit = FindListEntry(lists.Sender, v.SenderText); !hit.empty()) {
    v.BlacklistHit = true;
    v.Reason = "发件人地址特征串" + Quoted(hit);
  }
  // Rule 3: relay site.
  if (!v.BlacklistHit && !v.Scan.RelayMatch.empty()) {
    v.BlacklistHit = true;
    v.Reason = "转信网站 " + v.Scan.RelayMatch;
  }
  // Rule 4: length rules.
  if (!v.BlacklistHit) {
    for (const auto& rule : lists.Length) {
      if (LengthRuleMatches(rule, in.Size)) {
        v.BlacklistHit = true;
        v.Reason = "信件长度:" + Quoted(std::to_string(in.Size));
        break;
      }
    }
  }
  // Rule 5: subject list.
  if (!v.BlacklistHit) {
    if (auto hit = FindListEntry(lists.Subject, v.SubjectText); !hit.empty()) {
      v.BlacklistHit = true;
      v.Reason = "主题标识特征串" + Quoted(hit);
    }
  }
  // Rule 6: the body goes to the report with the whole-message switch.
  std::string bodyText;
  if (in.WholeMessage) {
    report.Line("信件内文:");
    for (std::size_t i = 0; i < in.BodyLines.size(); ++i) {
      report.Line(in.BodyLines[i]);
      if (i)
        bodyText += "\r\n";
      bodyText += in.BodyLines[i];
    }
  }
  // Rule 7: content signatures.
  if (!v.BlacklistHit && !lists.Content.empty()) {
    if (auto hit = FindListEntry(lists.Content, bodyText); !hit.empty()) {
      v.BlacklistHit = true;
      v.Reason = "信息标识特征串" + Quoted(hit);
    }
  }
  v.Spam = v.BlacklistHit || (v.NotAddressedToMe && in.CheckDeliver);
  return v;
}

std::string VerdictLine(const TVerdict& v, bool deleteRubbish) {
  std::string mark = deleteRubbish ? "该信息已从服务器上删除！原因: " : "!! ";
  if (v.JudgedSpam)
    return mark + v.Reason + "自动判断为垃圾邮件。";
  return mark + v.Reason + (v.BlacklistHit ? "存在于黑名单中。" : "这封信投递错误！");
}

}  // namespace pelorix
