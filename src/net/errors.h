#pragma once
// Failures of the line connection and the mail sessions built on it. Their
// texts are the system's own English messages; workers catch them by type.

#include <string>
#include <utility>

#include "mime/errors.h"

namespace pelorix {

// Everything that leaves the connection itself unusable or undecided
// (as opposed to a mail-level failure the server reported in words).
class EConnectionError : public EPelorixError {
 public:
  using EPelorixError::EPelorixError;
};

class EAlreadyConnected : public EConnectionError {
 public:
  EAlreadyConnected() : EConnectionError("Already connected.") {}
};

class EConnectTimeout : public EConnectionError {
 public:
  EConnectTimeout() : EConnectionError("Connect timed out.") {}
};

class ELineTooLong : public EConnectionError {
 public:
  ELineTooLong() : EConnectionError("Max line length exceeded.") {}
};

class EConnClosedGracefully : public EConnectionError {
 public:
  EConnClosedGracefully() : EConnectionError("Connection Closed Gracefully.") {}
};

class EReadTimeout : public EConnectionError {
 public:
  EReadTimeout() : EConnectionError("Read Timeout") {}
};

class ENotConnected : public EConnectionError {
 public:
  ENotConnected() : EConnectionError("Not Connected") {}
};

// Code is the Windows Sockets error number ("Socket Error # %d\r\n%s").
class ESocketError : public EConnectionError {
 public:
  ESocketError(int code, const std::string& description)
      : EConnectionError("Socket Error # " + std::to_string(code) + "\r\n" + description),
        Code(code) {}
  int Code;
};

// TLS could not be set up or broke down (handshake failure, a server that
// stalls in the handshake, a bad record). Reason is the cause alone.
class ETlsError : public EConnectionError {
 public:
  ETlsError(const std::string& message, std::string reason)
      : EConnectionError(message), Reason(std::move(reason)) {}
  explicit ETlsError(const std::string& reason) : ETlsError("TLS error: " + reason, reason) {}
  std::string Reason;
};

// The server's certificate failed verification or no longer matches its pin.
class ECertificateError : public ETlsError {
 public:
  explicit ECertificateError(const std::string& reason)
      : ETlsError("Certificate verification failed: " + reason, reason) {}
};

// The security mode requires STLS/STARTTLS and the server does not offer it;
// nothing secret has been sent. Reason is the command ("STLS", "STARTTLS").
class ETlsNotOffered : public ETlsError {
 public:
  explicit ETlsNotOffered(const std::string& command)
      : ETlsError("The server does not offer " + command + ".", command) {}
};

// A reply code the command does not allow; the message is the reply text.
class EProtocolReplyError : public EPelorixError {
 public:
  EProtocolReplyError(int replyCode, const std::string& text)
      : EPelorixError(text), ReplyCode(replyCode) {}
  int ReplyCode;
};

// A reply field that should be a decimal number and is not.
class EConvertError : public EPelorixError {
 public:
  using EPelorixError::EPelorixError;
};

}  // namespace pelorix
