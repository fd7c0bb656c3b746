#pragma once
// Fetches a server's certificate without judging it, so the user can look at
// it and pin it: TLS from the first byte, or after STLS/STARTTLS (chosen by
// the greeting: "+OK" is POP3, "220" is SMTP).

#include <string>

#include "net/tls.h"

namespace pelorix {

// server is host:port (default port 995, or 110 with startTls). Raises the
// connection's errors, EProtocolReplyError when the upgrade is refused.
TCertificateInfo ProbeCertificate(const std::string& server, bool startTls, int timeoutMs = 30000);

}  // namespace pelorix
