// Certificate commands: look at a server's certificate and pin it, for
// servers whose certificate the system's trust store does not vouch for.
#include <ostream>
#include <stdexcept>

#include "app/args.h"
#include "app/commands.h"
#include "net/cert_probe.h"
#include "net/line_connection.h"
#include "net/tls.h"
#include "store/connection_security.h"
#include "store/settings_store.h"

namespace pelorix {
namespace {

std::unique_ptr<TSettingsStore> OpenStore(const CommandContext& ctx) {
  std::string error;
  auto store = TSettingsStore::Open(ctx.home, &error);
  if (!store)
    throw std::runtime_error(error);
  return store;
}

// The pin's name: host:port with the port the connection would use.
std::string PinName(const std::string& server, bool startTls) {
  const std::string key = HostPortKey(server, startTls ? 110 : 995);
  if (key.empty())
    throw UsageError("not a server: " + server + " (HOST:PORT)");
  return key;
}

void PrintCertificate(std::ostream& out, const TCertificateInfo& info, const std::string& pin) {
  out << "subject:     " << info.Subject << "\n"
      << "issuer:      " << info.Issuer << "\n"
      << "valid from:  " << info.NotBefore << "\n"
      << "valid until: " << info.NotAfter << "\n"
      << "SHA-256:     " << info.Fingerprint << "\n"
      << "verified:    " << (info.Problem.empty() ? "yes" : "no: " + info.Problem) << "\n";
  if (pin.empty())
    out << "pinned:      no\n";
  else if (NormalizeFingerprint(pin) == NormalizeFingerprint(info.Fingerprint))
    out << "pinned:      yes\n";
  else
    out << "pinned:      a different certificate (" << pin << ")\n";
}

}  // namespace

int RunTlsCommand(CommandContext& ctx) {
  if (ctx.args.empty())
    throw UsageError("missing sub-command");
  const std::string sub = ctx.args[0];
  if (sub != "show" && sub != "trust" && sub != "untrust")
    throw UsageError("unknown sub-command: " + sub);
  std::vector<std::string> positional;
  bool startTls = false;
  ArgParser parser({ctx.args.begin() + 1, ctx.args.end()});
  parser.Positionals(&positional, 1, 1);
  if (sub != "untrust")
    parser.Switch("--starttls", &startTls);
  parser.Parse();
  const std::string name = PinName(positional[0], startTls);
  auto store = OpenStore(ctx);
  if (sub == "untrust") {
    if (!DeleteTrustedCert(*store, name))
      throw std::runtime_error("no certificate is pinned for " + name);
    ctx.out << "no longer pinned: " << name << "\n";
    return 0;
  }
  const TCertificateInfo info = ProbeCertificate(positional[0], startTls);
  if (info.Fingerprint.empty())
    throw std::runtime_error("the server sent no certificate");
  if (sub == "trust") {
    if (!WriteTrustedCert(*store, name, info.Fingerprint))
      throw std::runtime_error("cannot write the settings file");
  }
  PrintCertificate(ctx.out, info, ReadTrustedCert(*store, name));
  return 0;
}

}  // namespace pelorix
