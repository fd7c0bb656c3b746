#include "net/cert_probe.h"

#include "net/errors.h"
#include "net/line_connection.h"
#include "text/asciiutil.h"

namespace pelorix {

TCertificateInfo ProbeCertificate(const std::string& server, bool startTls, int timeoutMs) {
  TLineClient client;
  client.Host = server;
  client.Port = startTls ? 110 : 995;
  client.ReadTimeout = timeoutMs;
  client.InspectCertificate = true;
  client.ImplicitTls = !startTls;
  client.Connect();
  if (startTls) {
    client.ReadReply();
    const std::string code = ascii::ToUpper(client.LastReply.TextCode());
    if (code == "+OK") {
      client.SendCommand("STLS");
      if (ascii::ToUpper(client.LastReply.TextCode()) != "+OK") {
        throw EProtocolReplyError(2, client.LastReply.FormattedText());
      }
    } else if (code == "220") {
      client.SendCommand("EHLO localhost", {250});
      client.SendCommand("STARTTLS", {220});
    } else {
      throw EMailError("Neither a POP3 nor an SMTP greeting:\n\"" +
                       client.LastReply.FormattedText() + "\"");
    }
    client.StartTls();
  }
  TCertificateInfo info = client.PeerCertificate().value_or(TCertificateInfo{});
  client.Disconnect();
  return info;
}

}  // namespace pelorix
