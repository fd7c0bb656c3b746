#include "net/imap_session.h"

#include <algorithm>

#include "mime/mail_message.h"
#include "net/pop3_session.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

// The parser's view of the connection.
class TConnectionSource : public TImapSource {
 public:
  explicit TConnectionSource(TLineConnection& c) : c_(c) {}
  std::string Line(std::size_t maxLength) override {
    return c_.ReadLine("\n", -1, static_cast<int>(std::min<std::size_t>(maxLength, INT32_MAX)));
  }
  void Bytes(std::uint64_t count, std::string& out, std::uint64_t keep) override {
    c_.ReadBytes(count, out, keep);
  }

 private:
  TLineConnection& c_;
};

// Lines of a fetched message as the message model reads a POP3 answer:
// a line starting with "." stuffed, "." at the end; over-long lines cut.
class TFetchedLines : public TLineSource {
 public:
  TFetchedLines(std::string_view bytes, std::size_t keep) : bytes_(bytes), keep_(keep) {}
  std::string ReadLine() override {
    if (pos_ > bytes_.size())
      throw EConnClosedGracefully();
    if (pos_ == bytes_.size()) {
      ++pos_;
      return ".";
    }
    std::size_t lf = bytes_.find('\n', pos_);
    const std::size_t next = lf == std::string_view::npos ? bytes_.size() : lf + 1;
    std::size_t end = lf == std::string_view::npos ? bytes_.size() : lf;
    if (end > pos_ && bytes_[end - 1] == '\r')
      --end;
    std::string line;
    if (end - pos_ > 0 && bytes_[pos_] == '.')
      line = ".";
    line.append(bytes_.substr(pos_, std::min(end - pos_, keep_)));
    Cut = Cut || end - pos_ > keep_;
    pos_ = next;
    return line;
  }
  bool Cut = false;

 private:
  std::string_view bytes_;
  std::size_t keep_;
  std::size_t pos_ = 0;
};

// An astring argument: quoted when it can be, else nothing.
std::string SetText(const std::vector<std::uint64_t>& uids, std::size_t from, std::size_t to) {
  std::string set;
  for (std::size_t i = from; i < to;) {
    std::size_t j = i;
    while (j + 1 < to && uids[j + 1] == uids[j] + 1)
      ++j;
    if (!set.empty())
      set += ',';
    set += std::to_string(uids[i]);
    if (j > i)
      set += ':' + std::to_string(uids[j]);
    i = j + 1;
  }
  return set;
}

// "1:3,7" of an ESEARCH answer.
void AddSequenceSet(std::string_view text, std::vector<std::uint64_t>& out) {
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view part = text.substr(0, comma);
    const std::size_t colon = part.find(':');
    const auto a = std::strtoull(std::string(part.substr(0, colon)).c_str(), nullptr, 10);
    const auto b = colon == std::string_view::npos
                       ? a
                       : std::strtoull(std::string(part.substr(colon + 1)).c_str(), nullptr, 10);
    // A range is only believed as far as the mailbox could hold it.
    for (std::uint64_t u = std::min(a, b); u <= std::max(a, b) && out.size() < (1u << 24); ++u)
      out.push_back(u);
    if (comma == std::string_view::npos)
      break;
    text.remove_prefix(comma + 1);
  }
}

std::string StatusLine(const TImapResponse& r) {
  std::string text = r.Status;
  if (!r.Code.empty())
    text += " [" + r.Code + (r.CodeArgs.empty() ? "" : " " + r.CodeArgs) + "]";
  if (!r.Text.empty())
    text += " " + r.Text;
  return text;
}

std::uint64_t CodeNumber(const TImapResponse& r) {
  return std::strtoull(r.CodeArgs.c_str(), nullptr, 10);
}

}  // namespace

std::string_view DeleteModeName(TImapDeleteMode mode) {
  switch (mode) {
    case TImapDeleteMode::Junk:
      return "junk";
    case TImapDeleteMode::Trash:
      return "trash";
    case TImapDeleteMode::Expunge:
      return "expunge";
    case TImapDeleteMode::Auto:
      break;
  }
  return "auto";
}

std::optional<TImapDeleteMode> ParseDeleteMode(std::string_view name) {
  name = ascii::Trim(name);
  for (const auto m : {TImapDeleteMode::Auto, TImapDeleteMode::Junk, TImapDeleteMode::Trash,
                       TImapDeleteMode::Expunge}) {
    if (ascii::EqualNoCase(name, DeleteModeName(m)))
      return m;
  }
  return std::nullopt;
}

bool TImapFolderInfo::Has(std::string_view attribute) const {
  return std::any_of(Attributes.begin(), Attributes.end(),
                     [&](const std::string& a) { return ascii::EqualNoCase(a, attribute); });
}

TImapSession::TImapSession() {
  Port = 143;
  MaxLineAction = TMaxLineAction::Exception;
}

const std::vector<std::string>& TImapSession::Capabilities() {
  if (!capabilitiesKnown_)
    Command("CAPABILITY");
  return capabilities_;
}

bool TImapSession::HasCapability(std::string_view name) const {
  return std::any_of(capabilities_.begin(), capabilities_.end(),
                     [&](const std::string& c) { return ascii::EqualNoCase(c, name); });
}

std::string TImapSession::Send(std::string_view command) {
  std::string tag = "P" + std::to_string(++tagCounter_);
  WriteLine(tag + " " + std::string(command));
  return tag;
}

void TImapSession::Observe(const TImapResponse& r) {
  if (r.Type != TImapResponse::TType::Untagged && r.Code != "CAPABILITY")
    return;
  if (r.Name == "CAPABILITY" || r.Code == "CAPABILITY") {
    capabilities_.clear();
    if (r.Name == "CAPABILITY") {
      for (const TImapValue& v : r.Data)
        capabilities_.push_back(v.Text);
    } else {
      std::string_view args = r.CodeArgs;
      while (!args.empty()) {
        const std::size_t blank = args.find(' ');
        if (blank != 0)
          capabilities_.emplace_back(args.substr(0, blank));
        if (blank == std::string_view::npos)
          break;
        args.remove_prefix(blank + 1);
      }
    }
    capabilitiesKnown_ = true;
  } else if (r.Number && r.Name == "EXISTS") {
    selected_.Exists = *r.Number;
  } else if (r.Status == "OK") {
    if (r.Code == "UIDVALIDITY")
      selected_.UidValidity = CodeNumber(r);
    else if (r.Code == "UIDNEXT")
      selected_.UidNext = CodeNumber(r);
  } else if (r.Status == "BYE" && !loggingOut_) {
    // Nothing more will come: the command in progress gets no answer.
    TLineConnection::Disconnect();
    throw EImapBye(r.Text);
  }
}

TImapResponse TImapSession::Await(const std::string& tag,
                                  const std::function<void(const TImapResponse&)>& untagged,
                                  const TImapLimits* limits) {
  TImapResponse done;
  if (auto it = completed_.find(tag); it != completed_.end()) {
    done = std::move(it->second);
    completed_.erase(it);
  } else {
    TConnectionSource source(*this);
    for (;;) {
      TImapResponse r = ReadImapResponse(source, limits ? *limits : Limits);
      if (r.Type == TImapResponse::TType::Tagged) {
        Observe(r);
        if (r.Tag == tag) {
          done = std::move(r);
          break;
        }
        // Only a bounded number of commands is ever in flight.
        if (completed_.size() < 4096)
          completed_.emplace(r.Tag, std::move(r));
        continue;
      }
      if (r.Type == TImapResponse::TType::Continuation)
        throw EImapProtocolError("continuation request nobody asked for");
      Observe(r);
      if (untagged)
        untagged(r);
    }
  }
  if (done.Status != "OK")
    throw EImapReplyError(done.Status, done.Code, StatusLine(done));
  return done;
}

TImapResponse TImapSession::Command(std::string_view command,
                                    const std::function<void(const TImapResponse&)>& untagged) {
  return Await(Send(command), untagged);
}

void TImapSession::Greeting() {
  TConnectionSource source(*this);
  const TImapResponse r = ReadImapResponse(source, Limits);
  if (r.Type != TImapResponse::TType::Untagged || !r.IsStatus())
    throw EImapProtocolError("no greeting");
  Observe(r);
  if (r.Status == "BYE")
    throw EImapReplyError("BYE", r.Code, StatusLine(r));
  if (r.Status != "OK" && r.Status != "PREAUTH")
    throw EImapProtocolError("greeting " + r.Status);
  preauth_ = r.Status == "PREAUTH";
}

void TImapSession::Connect(int timeout) {
  capabilities_.clear();
  capabilitiesKnown_ = false;
  completed_.clear();
  loggingOut_ = false;
  current_ = SIZE_MAX;
  items_.clear();
  pending_.clear();
  carried_.clear();
  committed_ = false;
  const TSecurity mode = EffectiveSecurity(Security, EffectivePort(), 993);
  ImplicitTls = mode == TSecurity::Tls;
  TLineConnection::Connect(timeout);
  try {
    Greeting();
    if (mode == TSecurity::Auto || mode == TSecurity::StartTls) {
      Capabilities();
      if (HasCapability("STARTTLS")) {
        // A refusal after the offer fails the login: no downgrade.
        Command("STARTTLS");
        StartTls();
        capabilities_.clear();
        capabilitiesKnown_ = false;
      } else if (mode == TSecurity::StartTls) {
        throw ETlsNotOffered("STARTTLS");
      }
    }
    Capabilities();
    // What the server offers may change once the user is logged in; the
    // login's answer often says so itself.
    capabilitiesKnown_ = false;
    // A server that greets with PREAUTH has logged the user in already.
    if (!preauth_)
      Login();
    Capabilities();
    if (HasCapability("IMAP4rev2"))
      Command("ENABLE IMAP4rev2");
  } catch (...) {
    TLineConnection::Disconnect();
    throw;
  }
}

void TImapSession::Login() {
  if (Sasl) {
    Authenticate(*Sasl);
    return;
  }
  if (HasCapability("AUTH=PLAIN")) {
    Authenticate(TSaslMechanism::Plain);
    return;
  }
  if (HasCapability("LOGINDISABLED"))
    throw EImapReplyError("NO", "PRIVACYREQUIRED", "NO LOGIN is disabled on this connection");
  // Strings that cannot be quoted go as literals, each after the server's
  // go-ahead (or without waiting where LITERAL+ allows it).
  const bool nonSync = HasCapability("LITERAL+");
  std::string tag = "P" + std::to_string(++tagCounter_);
  std::string line = tag + " LOGIN";
  auto argument = [&](std::string_view value, bool last) {
    if (auto quoted = ImapQuoted(value)) {
      line += " " + *quoted;
      if (last)
        WriteLine(line);
      return;
    }
    WriteLine(line + " {" + std::to_string(value.size()) + (nonSync ? "+}" : "}"));
    if (!nonSync) {
      TConnectionSource source(*this);
      for (;;) {
        TImapResponse r = ReadImapResponse(source, Limits);
        if (r.Type == TImapResponse::TType::Continuation)
          break;
        if (r.Type == TImapResponse::TType::Tagged)
          throw EImapReplyError(r.Status, r.Code, StatusLine(r));
        Observe(r);
      }
    }
    Write(value);
    line.clear();
    if (last)
      WriteLine("");
  };
  argument(Username, false);
  argument(Password, true);
  Await(tag);
}

void TImapSession::Authenticate(TSaslMechanism mechanism) {
  const std::string name(SaslMechanismName(mechanism));
  // A server that does not list the mechanism gets no secret.
  if (!HasCapability("AUTH=" + name))
    throw EMechanismNotOffered(name);
  std::string host;
  int port = 0;
  if (!SplitHostPort(Host, Port, host, port))
    host = Host;
  TSaslExchange exchange(mechanism, Username, Password, host, EffectivePort());
  std::string command = "AUTHENTICATE " + name;
  if (const auto first = exchange.InitialResponse(); first && HasCapability("SASL-IR")) {
    // RFC 4959: an empty initial response is a single "=".
    command += " " + (first->empty() ? std::string("=") : SaslBase64(*first));
    exchange.InitialResponseSent();
  }
  const std::string tag = Send(command);
  TConnectionSource source(*this);
  bool cancelled = false;
  TImapResponse done;
  for (;;) {
    TImapResponse r = ReadImapResponse(source, Limits);
    if (r.Type == TImapResponse::TType::Continuation) {
      if (cancelled)
        throw EImapProtocolError("the server goes on with a cancelled SASL exchange");
      if (exchange.TooManySteps()) {
        // "*" cancels (RFC 3501 6.2.2); the server ends the command with BAD.
        WriteLine("*");
        cancelled = true;
        continue;
      }
      const std::string_view text = ascii::Trim(r.Text);
      WriteLine(SaslBase64(exchange.Respond(SaslUnbase64(text).value_or(std::string(text)))));
      continue;
    }
    Observe(r);
    if (r.Type == TImapResponse::TType::Tagged) {
      if (r.Tag != tag)
        throw EImapProtocolError("answer to a command never sent during AUTHENTICATE");
      done = std::move(r);
      break;
    }
  }
  if (done.Status == "OK")
    return;
  if (!exchange.ErrorCause().empty())
    throw EAuthRefused(done.Status == "NO" ? 2 : 3, StatusLine(done) + "\r\n",
                       exchange.ErrorCause());
  throw EImapReplyError(done.Status, done.Code, StatusLine(done));
}

TImapSelected TImapSession::Select(std::string_view wireName, bool readOnly) {
  selected_ = {};
  const std::string name = ImapQuoted(wireName).value_or("\"" + std::string(wireName) + "\"");
  const TImapResponse done = Command((readOnly ? "EXAMINE " : "SELECT ") + name);
  selected_.ReadOnly = done.Code == "READ-ONLY";
  return selected_;
}

void TImapSession::Enter(std::size_t folder, bool readWrite) {
  if (folder == current_ && (currentWritable_ || !readWrite))
    return;
  current_ = SIZE_MAX;
  const TImapSelected s = Select(wireFolders_.at(folder), !readWrite);
  current_ = folder;
  currentWritable_ = readWrite && !s.ReadOnly;
  if (folder < validity_.size() && validity_[folder] != 0 && s.UidValidity != validity_[folder]) {
    // The UIDs taken from this folder name other messages now.
    throw EImapDeletionRefused("文件夹 " + Folders.at(folder) + " 的 UIDVALIDITY 已改变 (" +
                               std::to_string(validity_[folder]) + " → " +
                               std::to_string(s.UidValidity) + ")，未删除任何信件");
  }
}

std::vector<TImapFolderInfo> TImapSession::ListFolders() {
  std::vector<TImapFolderInfo> folders;
  const bool extended = HasCapability("SPECIAL-USE") && HasCapability("LIST-EXTENDED");
  Command(extended ? "LIST \"\" \"*\" RETURN (SPECIAL-USE)" : "LIST \"\" \"*\"",
          [&](const TImapResponse& r) {
            if (r.Name != "LIST" || r.Data.size() < 3 || r.Data[0].Kind != TImapValue::TKind::List)
              return;
            TImapFolderInfo f;
            for (const TImapValue& a : r.Data[0].Items)
              f.Attributes.push_back(a.Text);
            f.Name = r.Data[2].Text;
            folders.push_back(std::move(f));
          });
  return folders;
}

std::vector<std::uint64_t> TImapSession::UidSearch(std::string_view criteria) {
  std::vector<std::uint64_t> uids;
  Command("UID SEARCH " + std::string(criteria), [&](const TImapResponse& r) {
    if (r.Name == "SEARCH") {
      for (const TImapValue& v : r.Data)
        if (v.Kind == TImapValue::TKind::Number)
          uids.push_back(v.Number);
    } else if (r.Name == "ESEARCH") {
      for (std::size_t i = 0; i + 1 < r.Data.size(); ++i)
        if (r.Data[i].IsAtom("ALL"))
          AddSequenceSet(r.Data[i + 1].Text, uids);
    }
  });
  std::sort(uids.begin(), uids.end());
  uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
  return uids;
}

int TImapSession::MessageCount() {
  items_.clear();
  wireFolders_.clear();
  validity_.clear();
  pending_.clear();
  for (std::size_t f = 0; f < Folders.size(); ++f) {
    wireFolders_.push_back(EncodeMailboxName(Folders[f]));
    validity_.push_back(0);
  }
  for (std::size_t f = 0; f < Folders.size(); ++f) {
    current_ = SIZE_MAX;
    const TImapSelected s = Select(wireFolders_[f], true);
    current_ = f;
    currentWritable_ = false;
    validity_[f] = s.UidValidity;
    if (s.Exists == 0)
      continue;
    // Sequence order is the order the mailbox holds them in.
    std::map<std::uint64_t, TItem> bySequence;
    Command("FETCH 1:* (UID RFC822.SIZE)", [&](const TImapResponse& r) {
      const TImapValue* uid = FetchItem(r, "UID");
      const TImapValue* size = FetchItem(r, "RFC822.SIZE");
      if (!r.Number || !uid || uid->Kind != TImapValue::TKind::Number)
        return;
      TItem item{f, uid->Number, -1};
      if (size && size->Kind == TImapValue::TKind::Number && size->Number < (1ull << 62))
        item.Size = static_cast<long long>(size->Number);
      if (bySequence.size() < (1u << 24))
        bySequence[*r.Number] = item;
    });
    for (auto& [seq, item] : bySequence)
      items_.push_back(item);
  }
  if (items_.size() > 0x7fffffff)
    throw EImapProtocolError("too many messages");
  return static_cast<int>(items_.size());
}

TPop3Listing TImapSession::List(int count) {
  TPop3Listing listing;
  listing.Total = 0;
  for (int n = 1; n <= count; ++n) {
    const long long size = static_cast<std::size_t>(n) <= items_.size()
                               ? items_[static_cast<std::size_t>(n - 1)].Size
                               : TPop3Listing::kNotListed;
    listing.Sizes.push_back(size);
    if (size > 0)
      listing.Total += size;
  }
  listing.Complete =
      static_cast<std::size_t>(count) == items_.size() &&
      std::none_of(listing.Sizes.begin(), listing.Sizes.end(), [](long long s) { return s < 0; });
  return listing;
}

const TImapSession::TItem& TImapSession::ItemOf(int n) const {
  if (n < 1 || static_cast<std::size_t>(n) > items_.size())
    throw EMailError("No message " + std::to_string(n) + ".");
  return items_[static_cast<std::size_t>(n - 1)];
}

long long TImapSession::MessageSize(int n) {
  return ItemOf(n).Size;
}

TImapValue TImapSession::FetchOne(int n, bool whole, const TImapLimits& limits,
                                  const std::function<void(const TImapResponse&)>& others) {
  const TItem& item = ItemOf(n);
  Enter(item.Folder, false);
  std::optional<TImapValue> body;
  refusal_.clear();
  try {
    Await(
        Send("UID FETCH " + std::to_string(item.Uid) + " " + FetchItems(whole)),
        [&](const TImapResponse& r) {
          const TImapValue* uid = FetchItem(r, "UID");
          auto b = uid && uid->Number == item.Uid ? FetchedBody(r, whole) : std::nullopt;
          if (b)
            body = std::move(b);
          else if (others)
            others(r);
        },
        &limits);
  } catch (const EImapReplyError& e) {
    refusal_ = e.what();
    throw;
  }
  if (!body) {
    refusal_ = "the message is no longer in the folder";
    throw EMailError("UID " + std::to_string(item.Uid) + ": " + refusal_);
  }
  return std::move(*body);
}

std::string TImapSession::FetchItems(bool whole) const {
  if (whole)
    return "(BODY.PEEK[])";
  if (PeekLines <= 0)
    return "(BODY.PEEK[HEADER])";
  return "(BODY.PEEK[HEADER] BODY.PEEK[TEXT]<0." + std::to_string(PeekBytes()) + ">)";
}

std::optional<TImapValue> TImapSession::FetchedBody(const TImapResponse& r, bool whole) const {
  if (whole) {
    const TImapValue* b = FetchItem(r, "BODY[]");
    return b ? std::optional<TImapValue>(*b) : std::nullopt;
  }
  const TImapValue* header = FetchItem(r, "BODY[HEADER]");
  if (!header)
    return std::nullopt;
  TImapValue joined = *header;
  if (const TImapValue* text = PeekLines > 0 ? FetchItem(r, "BODY[TEXT]<0>") : nullptr) {
    // The part ends inside a line: only whole lines count.
    const std::size_t lf = text->Text.rfind('\n');
    if (lf != std::string::npos)
      joined.Text.append(text->Text, 0, lf + 1);
  }
  return joined;
}

void TImapSession::ReadFetched(const TImapValue& body, bool whole, TMailMessage& msg) const {
  // With peeked lines the answer reads as a (short) whole message.
  whole = whole || PeekLines > 0;
  const std::size_t keep = whole ? std::max(msg.Limits.MaxHeaderBytes, msg.Limits.MaxBodyBytes)
                                 : msg.Limits.MaxHeaderBytes;
  TFetchedLines lines(body.Text, keep);
  if (whole) {
    if (msg.ReadHeader(lines, "").empty())
      msg.ReadBody(lines);
  } else {
    msg.ReadHeader(lines, ".");
  }
  msg.Truncated = msg.Truncated || lines.Cut || body.Truncated;
}

bool TImapSession::FetchHeader(int n, TMailMessage& msg) {
  TImapLimits limits = Limits;
  limits.MaxKept = msg.Limits.MaxHeaderBytes;
  limits.MaxKept = msg.Limits.MaxHeaderBytes + static_cast<std::size_t>(PeekBytes());
  ReadFetched(FetchOne(n, false, limits), false, msg);
  return true;
}

bool TImapSession::FetchMessage(int n, TMailMessage& msg) {
  TImapLimits limits = Limits;
  limits.MaxKept = std::max(msg.Limits.MaxHeaderBytes, msg.Limits.MaxBodyBytes);
  try {
    ReadFetched(FetchOne(n, true, limits), true, msg);
  } catch (const EImapReplyError&) {
    return false;
  }
  return true;
}

bool TImapSession::RetrieveRaw(int n, std::string& raw) {
  return RetrieveRaw(n, raw, {});
}

bool TImapSession::RetrieveRaw(int n, std::string& raw,
                               const std::function<void(const TImapResponse&)>& others) {
  raw.clear();
  TImapLimits limits = Limits;
  limits.MaxKept = TPop3Session::kMaxRawMessage;
  TImapValue body;
  try {
    body = FetchOne(n, true, limits, others);
  } catch (const EImapReplyError&) {
    return false;
  }
  if (body.Truncated)
    throw EMailError("The message is larger than " + std::to_string(TPop3Session::kMaxRawMessage) +
                     " bytes.");
  raw = std::move(body.Text);
  return true;
}

std::string TImapSession::RefusalText(int n) const {
  const std::uint64_t uid =
      n >= 1 && static_cast<std::size_t>(n) <= items_.size() ? items_[n - 1].Uid : 0;
  return "UID FETCH " + std::to_string(uid) + ": " + refusal_;
}

bool TImapSession::DeleteMessage(int n) {
  ItemOf(n);
  pending_.insert(n);
  return true;
}

bool TImapSession::ResetSession() {
  // Nothing has gone to the server yet: forgetting the set withdraws it.
  pending_.clear();
  return true;
}

std::string TImapSession::MessageRef(int n) const {
  if (n < 1 || static_cast<std::size_t>(n) > items_.size())
    return {};
  const TItem& item = items_[static_cast<std::size_t>(n - 1)];
  return "imap:" + Folders.at(item.Folder) +
         ";UIDVALIDITY=" + std::to_string(validity_.at(item.Folder)) +
         ";UID=" + std::to_string(item.Uid);
}

std::string TImapSession::RefsProblem(const std::vector<std::string>& refs) const {
  for (const std::string& ref : refs) {
    const std::size_t v = ref.rfind(";UIDVALIDITY=");
    const std::size_t u = ref.rfind(";UID=");
    if (ref.rfind("imap:", 0) != 0 || v == std::string::npos || u == std::string::npos || u < v)
      continue;
    const std::string folder = ref.substr(5, v - 5);
    const std::string then = ref.substr(v + 13, u - v - 13);
    for (std::size_t f = 0; f < Folders.size() && f < validity_.size(); ++f) {
      if (Folders[f] == folder && std::to_string(validity_[f]) != then)
        return "文件夹 " + folder + " 的 UIDVALIDITY 已改变 (" + then + " → " +
               std::to_string(validity_[f]) + ")，未删除任何信件";
    }
  }
  return {};
}

std::optional<bool> TImapSession::DeletionDone(int n) const {
  return carried_.count(n) > 0;
}

std::string TImapSession::DeletionTarget() {
  if (DeleteMode == TImapDeleteMode::Expunge) {
    if (!HasCapability("UIDPLUS"))
      throw EImapDeletionRefused("服务器不支持 UIDPLUS，无法只彻底删除选中的信件");
    return {};
  }
  const std::vector<TImapFolderInfo> folders = ListFolders();
  auto find = [&](std::string_view use) -> std::string {
    for (const auto& f : folders)
      if (f.Has(use))
        return f.Name;
    return {};
  };
  std::string target;
  if (DeleteMode == TImapDeleteMode::Junk || DeleteMode == TImapDeleteMode::Auto)
    target = find("\\Junk");
  if (target.empty() && DeleteMode != TImapDeleteMode::Junk)
    target = find("\\Trash");
  if (target.empty())
    throw EImapDeletionRefused(DeleteMode == TImapDeleteMode::Junk
                                   ? "服务器没有标记为 \\Junk 的文件夹，未删除任何信件"
                                   : "服务器没有标记为 \\Junk 或 \\Trash 的文件夹，未删除任何信件");
  return target;
}

void TImapSession::Commit() {
  if (pending_.empty())
    return;
  // Taken out first: a failed commit is never repeated by a second close.
  const std::set<int> pending = std::move(pending_);
  pending_.clear();
  const std::string target = DeletionTarget();
  std::map<std::size_t, std::vector<std::uint64_t>> byFolder;
  for (const int n : pending)
    byFolder[items_[static_cast<std::size_t>(n - 1)].Folder].push_back(
        items_[static_cast<std::size_t>(n - 1)].Uid);
  for (auto& [folder, uids] : byFolder) {
    std::sort(uids.begin(), uids.end());
    CommitFolder(folder, uids, target);
  }
}

void TImapSession::CommitFolder(std::size_t folder, const std::vector<std::uint64_t>& uids,
                                const std::string& target) {
  Enter(folder, true);
  const std::string to =
      ImapQuoted(target).value_or("\"" + target + "\"");  // names from LIST are 7-bit
  const bool move = !target.empty() && HasCapability("MOVE");
  const bool uidplus = HasCapability("UIDPLUS");
  for (std::size_t from = 0; from < uids.size(); from += DeleteChunk) {
    // A stop waits for the command running, never for the rest.
    if (StopRequested())
      return;
    const std::size_t end = std::min(uids.size(), from + std::max<std::size_t>(DeleteChunk, 1));
    const std::string set = SetText(uids, from, end);
    // Only what is still there is moved; another client may have removed some.
    const std::vector<std::uint64_t> present = UidSearch("UID " + set);
    if (present.empty())
      continue;
    const std::string presentSet = SetText(present, 0, present.size());
    if (move) {
      Command("UID MOVE " + presentSet + " " + to);
    } else {
      if (!target.empty())
        Command("UID COPY " + presentSet + " " + to);
      Command("UID STORE " + presentSet + " +FLAGS.SILENT (\\Deleted)");
      // Never a bare EXPUNGE: it would take what another client flagged.
      if (uidplus)
        Command("UID EXPUNGE " + presentSet);
    }
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].Folder == folder &&
          std::binary_search(present.begin(), present.end(), items_[i].Uid))
        carried_.insert(static_cast<int>(i + 1));
    }
  }
}

void TImapSession::Logout() {
  loggingOut_ = true;
  try {
    Command("LOGOUT");
  } catch (const EPelorixError&) {
    // The server may hang up before the tagged answer; closing is all left.
  }
}

void TImapSession::Disconnect() {
  if (!SocketOpen()) {
    TLineConnection::Disconnect();
    return;
  }
  try {
    Commit();
  } catch (...) {
    try {
      Logout();
    } catch (...) {
    }
    TLineConnection::Disconnect();
    throw;
  }
  Logout();
  TLineConnection::Disconnect();
}

void TImapSession::Abandon() {
  pending_.clear();
  TLineConnection::Disconnect();
}

std::unique_ptr<TMessageFetcher> TImapSession::MakeFetcher(
    const TPop3Listing& listing, const std::function<bool(long long)>& whole) {
  if (!listing.Complete)
    return nullptr;
  std::vector<TFetchItem> items;
  for (std::size_t i = 0; i < listing.Sizes.size(); ++i)
    items.push_back({static_cast<int>(i + 1), whole(listing.Sizes[i]), listing.Sizes[i]});
  return std::make_unique<TImapFetcher>(*this, std::move(items), Pipeline);
}

TImapFetcher::TImapFetcher(TImapSession& session, std::vector<TFetchItem> items,
                           TPipelineLimits limits)
    : session_(session), items_(std::move(items)), limits_(limits), parse_(session.Limits) {
  // A header answer keeps what a header may hold, a whole one what a body
  // may; bodies read ahead wait in got_ within kKeptBudget.
  const TMessageLimits m;
  const bool whole =
      std::any_of(items_.begin(), items_.end(), [](const TFetchItem& i) { return i.Whole; });
  parse_.MaxKept = whole ? std::max(m.MaxHeaderBytes, m.MaxBodyBytes)
                         : m.MaxHeaderBytes + static_cast<std::size_t>(session_.PeekBytes());
}

std::string TImapFetcher::Command(const TFetchItem& item) const {
  const auto& it = session_.Items().at(static_cast<std::size_t>(item.Number - 1));
  return "UID FETCH " + std::to_string(it.Uid) + " " + session_.FetchItems(item.Whole);
}

void TImapFetcher::Fill(bool enter) {
  const auto& all = session_.Items();
  while (sent_ < items_.size()) {
    const TFetchItem& item = items_[sent_];
    const std::size_t folder = all.at(static_cast<std::size_t>(item.Number - 1)).Folder;
    const long long expected = item.Whole
                                   ? std::max(item.Size, 0LL)
                                   : std::min(std::max(item.Size, 0LL), limits_.HeaderEstimate);
    if (!tags_.empty() &&
        (tags_.size() >= limits_.MaxCommands || inFlightBytes_ + expected > limits_.MaxBytes ||
         folder != session_.CurrentFolder()))
      return;
    if (tags_.empty()) {
      // Another folder only once the message before it has been dealt with.
      if (folder != session_.CurrentFolder() && !enter)
        return;
      session_.Enter(folder, false);
    }
    tags_.push_back(session_.Send(Command(item)));
    inFlightBytes_ += expected;
    ++sent_;
  }
}

void TImapFetcher::Keep(const TImapResponse& r) {
  const TImapValue* uid = FetchItem(r, "UID");
  if (!uid)
    return;
  std::optional<TImapValue> body = session_.FetchedBody(r, false);
  if (!body)
    body = session_.FetchedBody(r, true);
  // What a hostile server sends beyond the budget is dropped: that message
  // then reads as gone, and memory stays bounded.
  if (body && got_.size() < limits_.MaxCommands + 1 &&
      keptBytes_ + body->Text.size() <= kKeptBudget) {
    keptBytes_ += body->Text.size();
    got_[uid->Number] = *body;
  }
}

bool TImapFetcher::Next(TMailMessage& msg) {
  if (next_ >= items_.size())
    throw EMailError("No message left to fetch.");
  if (tags_.empty())
    Fill(true);
  const TFetchItem item = items_[next_];
  const std::uint64_t uid = session_.Items().at(static_cast<std::size_t>(item.Number - 1)).Uid;
  const std::string tag = tags_.front();
  tags_.pop_front();
  ++next_;
  const long long expected = item.Whole
                                 ? std::max(item.Size, 0LL)
                                 : std::min(std::max(item.Size, 0LL), limits_.HeaderEstimate);
  inFlightBytes_ -= expected;
  bool refused = false;
  try {
    session_.Await(
        tag, [this](const TImapResponse& r) { Keep(r); }, &parse_);
  } catch (const EImapReplyError&) {
    refused = true;
  }
  Fill(false);
  const auto it = got_.find(uid);
  if (it == got_.end()) {
    if (refused && item.Whole)
      return false;
    throw EMailError("UID " + std::to_string(uid) + ": the message is no longer in the folder");
  }
  const TImapValue body = std::move(it->second);
  got_.erase(it);
  keptBytes_ -= std::min(keptBytes_, body.Text.size());
  session_.ReadFetched(body, item.Whole, msg);
  return true;
}

bool TImapFetcher::Retrieve(int n, std::string& raw) {
  // Answers are matched by UID: those of the commands in flight are kept.
  return session_.RetrieveRaw(n, raw, [this](const TImapResponse& r) { Keep(r); });
}

void TImapFetcher::Drain() {
  while (!tags_.empty()) {
    const std::string tag = tags_.front();
    tags_.pop_front();
    try {
      session_.Await(tag);
    } catch (const EImapReplyError&) {
    }
  }
  sent_ = next_ = items_.size();
  got_.clear();
  keptBytes_ = 0;
}

}  // namespace pelorix
