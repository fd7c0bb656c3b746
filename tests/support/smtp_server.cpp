#include "support/smtp_server.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace pelorix::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPython = "/usr/bin/python3";

// Saves each message as NNNN.eml with an NNNN.env beside it (mail from,
// login, then one recipient per line).
constexpr const char* kServerScript = R"PY(
import asyncio, os, signal, sys, threading
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

port, folder, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
mode = sys.argv[5] if len(sys.argv) > 5 else "plain"
tls = {}
if mode != "plain":
    import ssl
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(sys.argv[6], sys.argv[7])
    # STARTTLS: AUTH shows only after the upgrade, which proves the second EHLO.
    tls = (dict(tls_context=context, require_starttls=False, auth_require_tls=True)
           if mode == "starttls" else dict(ssl_context=context, auth_require_tls=False))
else:
    tls = dict(auth_require_tls=False)
introspect = sys.argv[8] if len(sys.argv) > 8 else ""
if introspect:
    # XOAUTH2 and OAUTHBEARER, the token checked at the authorization server.
    import base64, json, urllib.parse, urllib.request
    from aiosmtpd.smtp import MISSING

    def token_user(token):
        data = urllib.parse.urlencode({"token": token}).encode()
        with urllib.request.urlopen(introspect, data, timeout=10) as answer:
            info = json.load(answer)
        return info.get("username") if info.get("active") else None

    async def bearer(server, args, parse):
        raw = base64.b64decode(args[1]) if len(args) > 1 else await server.challenge_auth("")
        if raw is MISSING:
            return AuthResult(success=False, handled=False)
        user, fields = parse(raw.decode(errors="replace"))
        auth = fields.get("auth", "")
        if auth.startswith("Bearer ") and user and token_user(auth[7:]) == user:
            return AuthResult(success=True, auth_data=LoginPassword(user.encode(), b""))
        # The error payload; the client's answer ends the exchange.
        await server.challenge_auth(json.dumps({"status": "invalid_token", "scope": "mail"}))
        return AuthResult(success=False, handled=False)

    def fields_of(text):
        return dict(p.split("=", 1) for p in text.split("\x01") if "=" in p)

    def xoauth2(text):
        f = fields_of(text)
        return f.get("user", ""), f

    def oauthbearer(text):
        gs2, _, rest = text.partition("\x01")
        user = next((p[2:] for p in gs2.split(",") if p.startswith("a=")), "")
        return user.replace("=2C", ",").replace("=3D", "="), fields_of(rest)

counter = [0]
lock = threading.Lock()

def authenticate(server, session, envelope, mechanism, data):
    ok = (user != "" and isinstance(data, LoginPassword)
          and data.login.decode() == user and data.password.decode() == password)
    return AuthResult(success=ok, handled=False, auth_data=data if ok else None)

class Handler:
    if introspect:
        async def auth_XOAUTH2(self, server, args):
            return await bearer(server, args, xoauth2)

        async def auth_OAUTHBEARER(self, server, args):
            return await bearer(server, args, oauthbearer)

    async def handle_DATA(self, server, session, envelope):
        with lock:
            counter[0] += 1
            base = os.path.join(folder, "%04d" % counter[0])
        data = session.auth_data
        login = data.login.decode() if isinstance(data, LoginPassword) else ""
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(base + ".env", "w", encoding="utf-8") as f:
            f.write(envelope.mail_from + "\n" + login + "\n")
            for rcpt in envelope.rcpt_tos:
                f.write(rcpt + "\n")
        os.rename(base + ".tmp", base + ".eml")
        return "250 Message accepted for delivery"

controller = Controller(Handler(), hostname="127.0.0.1", port=port,
                        authenticator=authenticate if user else None,
                        auth_required=False, decode_data=False, **tls)
controller.start()
print("READY", flush=True)
stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *a: stop.set())
stop.wait()
controller.stop()
)PY";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string TAioSmtpServer::SkipReason() {
  if (::access(kPython, X_OK) != 0) {
    return "no /usr/bin/python3";
  }
  if (!fs::exists("/usr/lib/python3/dist-packages/aiosmtpd")) {
    return "aiosmtpd is not installed (Debian python3-aiosmtpd)";
  }
  return {};
}

TAioSmtpServer::TAioSmtpServer(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {
  fs::create_directories(fs::path(temp_.Path()) / "mail");
}

TAioSmtpServer::~TAioSmtpServer() {
  Stop();
}

void TAioSmtpServer::EnableTls(const std::string& cert, const std::string& key, bool implicit) {
  tlsMode_ = implicit ? "implicit" : "starttls";
  tlsCert_ = cert;
  tlsKey_ = key;
}

void TAioSmtpServer::EnableOAuth2(const std::string& introspectionUrl) {
  introspectionUrl_ = introspectionUrl;
}

void TAioSmtpServer::Start() {
  const std::string script = temp_.Path() + "/server.py";
  WriteFile(script, kServerScript);
  port_ = FreeLoopbackPort();
  std::vector<std::string> argv{kPython, script,   std::to_string(port_), temp_.Path() + "/mail",
                                user_,   password_};
  if (!tlsMode_.empty() || !introspectionUrl_.empty()) {
    argv.insert(argv.end(), {tlsMode_.empty() ? "plain" : tlsMode_, tlsCert_, tlsKey_});
  }
  if (!introspectionUrl_.empty()) {
    argv.push_back(introspectionUrl_);
  }
  process_.Start(argv, temp_.Path() + "/server.log");
  if (!WaitForPort(port_, std::chrono::seconds(20)) || !process_.Running()) {
    process_.Stop();
    throw std::runtime_error("aiosmtpd did not start:\n" + Log());
  }
}

void TAioSmtpServer::Stop() {
  process_.Stop();
}

std::vector<TAioSmtpServer::TReceived> TAioSmtpServer::Received() const {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::path(temp_.Path()) / "mail")) {
    if (entry.path().extension() == ".eml") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  std::vector<TReceived> received;
  for (const auto& file : files) {
    TReceived item;
    item.Content = ReadFile(file.string());
    auto env = file;
    env.replace_extension(".env");
    const auto lines = Lines(ReadFile(env.string()));
    if (!lines.empty()) {
      item.MailFrom = lines[0];
    }
    if (lines.size() > 1) {
      item.Login = lines[1];
    }
    for (std::size_t i = 2; i < lines.size(); ++i) {
      item.RcptTos.push_back(lines[i]);
    }
    received.push_back(std::move(item));
  }
  return received;
}

std::string TAioSmtpServer::Log() const {
  return ReadFile(temp_.Path() + "/server.log");
}

}  // namespace pelorix::test
