#include "support/oauth_server.h"

#include <curl/curl.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>

namespace pelorix::test {

namespace {

constexpr const char* kPython = "/usr/bin/python3";

constexpr const char* kServerScript = R"PY(
import base64, hashlib, json, secrets, signal, sys, threading, time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlencode, urlparse

port, client, user, lifetime = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
lock = threading.Lock()
codes = {}      # code -> (challenge, redirect_uri)
access = {}     # token -> expiry
refresh = {}    # token -> live
devices = {}    # device_code -> [user_code, approved]

def issue():
    a = secrets.token_urlsafe(24)
    r = secrets.token_urlsafe(24)
    access[a] = time.time() + lifetime
    refresh[r] = True
    return {"access_token": a, "token_type": "Bearer", "expires_in": lifetime,
            "refresh_token": r, "scope": "mail"}

class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        sys.stderr.write((args[0] % args[1:]) + "\n")

    def reply(self, status, body=None, location=None):
        data = json.dumps(body).encode() if body is not None else b""
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urlparse(self.path)
        q = {k: v[0] for k, v in parse_qs(url.query).items()}
        if url.path == "/authorize":
            if (q.get("client_id") != client or q.get("response_type") != "code"
                    or q.get("code_challenge_method") != "S256" or not q.get("code_challenge")):
                return self.reply(400, {"error": "invalid_request"})
            code = secrets.token_urlsafe(16)
            with lock:
                codes[code] = (q["code_challenge"], q.get("redirect_uri", ""))
            target = q.get("redirect_uri", "") + "?" + urlencode({"code": code, "state": q.get("state", "")})
            return self.reply(302, None, target)
        if url.path == "/issue":
            with lock:
                return self.reply(200, issue())
        if url.path == "/device/approve":
            with lock:
                for entry in devices.values():
                    if entry[0] == q.get("user_code"):
                        entry[1] = True
                        return self.reply(200, {"approved": True})
            return self.reply(404, {"error": "unknown user_code"})
        self.reply(404, {"error": "not_found"})

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        q = {k: v[0] for k, v in parse_qs(self.rfile.read(length).decode()).items()}
        path = urlparse(self.path).path
        with lock:
            if path == "/token":
                if q.get("client_id") != client:
                    return self.reply(401, {"error": "invalid_client"})
                grant = q.get("grant_type")
                if grant == "authorization_code":
                    entry = codes.pop(q.get("code", ""), None)
                    verifier = q.get("code_verifier", "").encode()
                    challenge = base64.urlsafe_b64encode(hashlib.sha256(verifier).digest()).rstrip(b"=").decode()
                    if entry is None or entry[1] != q.get("redirect_uri") or entry[0] != challenge:
                        return self.reply(400, {"error": "invalid_grant", "error_description": "PKCE or code check failed"})
                    return self.reply(200, issue())
                if grant == "refresh_token":
                    if not refresh.get(q.get("refresh_token", "")):
                        return self.reply(400, {"error": "invalid_grant", "error_description": "Token has been revoked."})
                    a = secrets.token_urlsafe(24)
                    access[a] = time.time() + lifetime
                    return self.reply(200, {"access_token": a, "token_type": "Bearer", "expires_in": lifetime})
                if grant == "urn:ietf:params:oauth:grant-type:device_code":
                    entry = devices.get(q.get("device_code", ""))
                    if entry is None:
                        return self.reply(400, {"error": "expired_token"})
                    if not entry[1]:
                        return self.reply(400, {"error": "authorization_pending"})
                    del devices[q["device_code"]]
                    return self.reply(200, issue())
                return self.reply(400, {"error": "unsupported_grant_type"})
            if path == "/device":
                if q.get("client_id") != client:
                    return self.reply(401, {"error": "invalid_client"})
                device = secrets.token_urlsafe(16)
                user_code = "%04d-%04d" % (secrets.randbelow(10000), secrets.randbelow(10000))
                devices[device] = [user_code, False]
                return self.reply(200, {"device_code": device, "user_code": user_code,
                                        "verification_uri": "http://127.0.0.1:%d/device/approve" % port,
                                        "verification_uri_complete": "http://127.0.0.1:%d/device/approve?user_code=%s" % (port, user_code),
                                        "interval": 1, "expires_in": 600})
            if path == "/revoke":
                token = q.get("token", "")
                refresh.pop(token, None)
                access.pop(token, None)
                return self.reply(200, {})
            if path == "/introspect":
                expiry = access.get(q.get("token", ""), 0)
                if expiry > time.time():
                    return self.reply(200, {"active": True, "username": user, "scope": "mail"})
                return self.reply(200, {"active": False})
        self.reply(404, {"error": "not_found"})

server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
signal.signal(signal.SIGTERM, lambda *a: threading.Thread(target=server.shutdown).start())
server.serve_forever()
)PY";

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

}  // namespace

std::string TOAuthServer::SkipReason() {
  return ::access(kPython, X_OK) == 0 ? std::string() : "no /usr/bin/python3";
}

TOAuthServer::TOAuthServer(std::string client, std::string user, int lifetime)
    : client_(std::move(client)), user_(std::move(user)), lifetime_(lifetime) {}

TOAuthServer::~TOAuthServer() {
  Stop();
}

void TOAuthServer::Start() {
  const std::string script = temp_.Path() + "/server.py";
  WriteFile(script, kServerScript);
  port_ = FreeLoopbackPort();
  process_.Start(
      {kPython, script, std::to_string(port_), client_, user_, std::to_string(lifetime_)},
      temp_.Path() + "/server.log");
  if (!WaitForPort(port_, std::chrono::seconds(20)) || !process_.Running()) {
    process_.Stop();
    throw std::runtime_error("the OAuth server did not start:\n" + Log());
  }
}

void TOAuthServer::Stop() {
  process_.Stop();
}

std::string TOAuthServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string TOAuthServer::Log() const {
  return ReadFile(temp_.Path() + "/server.log");
}

std::string TOAuthServer::IssueAccessToken() const {
  const std::string body = BrowserGet(Url("/issue"));
  const std::string field = "\"access_token\": \"";
  const std::size_t at = body.find(field);
  if (at == std::string::npos)
    throw std::runtime_error("the OAuth server issued no token: " + body);
  const std::size_t from = at + field.size();
  return body.substr(from, body.find('"', from) - from);
}

std::string TOAuthServer::BrowserGet(const std::string& url) {
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    return {};
  }
  std::string body;
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  return curl_easy_perform(curl.get()) == CURLE_OK ? body : std::string();
}

}  // namespace pelorix::test
