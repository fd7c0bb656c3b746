#pragma once
// A test certificate authority and server certificates made with OpenSSL at
// run time, written as PEM files to a temporary folder:
//
//   TTestCertificates certs;           // CA, good, expired and self-signed
//   certs.TrustCa();                   // SSL_CERT_FILE = the CA, for this process
//   dovecot.EnableTls(certs.Good());

#include <string>

#include "support/process.h"

namespace pelorix::test {

struct TCertFiles {
  std::string Cert;  // PEM certificate path
  std::string Key;   // PEM private key path
};

class TTestCertificates {
 public:
  // Server certificates name DNS localhost and IP 127.0.0.1 and 127.0.0.2.
  TTestCertificates();
  ~TTestCertificates();
  TTestCertificates(const TTestCertificates&) = delete;
  TTestCertificates& operator=(const TTestCertificates&) = delete;

  const std::string& CaFile() const { return ca_.Cert; }
  const TCertFiles& Good() const { return good_; }        // signed by the CA
  const TCertFiles& Expired() const { return expired_; }  // signed by the CA, ended a day ago
  const TCertFiles& SelfSigned() const { return self_; }  // not signed by the CA
  const TCertFiles& OtherName() const { return other_; }  // signed by the CA for mail.invalid

  // Points SSL_CERT_FILE at the CA (SSL_CERT_DIR at an empty folder) until
  // destruction, when the former values come back.
  void TrustCa();
  // "AB:CD:..." SHA-256 of a certificate file's DER form.
  static std::string Fingerprint(const std::string& certFile);

 private:
  TTempFolder temp_{"pelorix-certs"};
  TCertFiles ca_, good_, expired_, self_, other_;
  bool trusted_ = false;
  std::string oldFile_, oldDir_;
  bool hadFile_ = false, hadDir_ = false;
};

}  // namespace pelorix::test
