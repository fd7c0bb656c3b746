#include "support/tls_certs.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace pelorix::test {

namespace {

struct TKeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct TCertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
using TKey = std::unique_ptr<EVP_PKEY, TKeyFree>;
using TCert = std::unique_ptr<X509, TCertFree>;

TKey NewKey() {
  TKey key(EVP_EC_gen("P-256"));
  if (!key) {
    throw std::runtime_error("cannot make a test key");
  }
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (ext == nullptr) {
    throw std::runtime_error("bad test certificate extension");
  }
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// Valid from `fromDays` to `toDays` (days from now); signed by the issuer,
// or by itself when issuer is null.
TCert MakeCert(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
               long fromDays, long toDays, bool ca, long serial) {
  TCert cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * 86400);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), toDays * 86400);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Pelorix Test"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  if (ca) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE");
    const std::string alt = std::string("DNS:") + commonName + ",IP:127.0.0.1,IP:127.0.0.2";
    AddExtension(cert.get(), signer, NID_subject_alt_name,
                 std::string(commonName) == "localhost" ? alt.c_str() : "DNS:mail.invalid");
    AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
  }
  AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) == 0) {
    throw std::runtime_error("cannot sign a test certificate");
  }
  return cert;
}

TCertFiles Save(const std::string& folder, const std::string& name, X509* cert, EVP_PKEY* key) {
  TCertFiles files{folder + "/" + name + ".pem", folder + "/" + name + ".key"};
  FILE* out = std::fopen(files.Cert.c_str(), "w");
  PEM_write_X509(out, cert);
  std::fclose(out);
  out = std::fopen(files.Key.c_str(), "w");
  PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(out);
  // Dovecot reads them as root; the SMTP server as whoever runs the tests.
  std::filesystem::permissions(
      files.Key, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  return files;
}

}  // namespace

TTestCertificates::TTestCertificates() {
  const std::string& t = temp_.Path();
  std::filesystem::create_directories(t + "/empty");
  const TKey caKey = NewKey();
  const TCert ca = MakeCert("Pelorix Test CA", caKey.get(), nullptr, nullptr, -1, 30, true, 1);
  ca_ = Save(t, "ca", ca.get(), caKey.get());
  const TKey key = NewKey();
  const TCert good = MakeCert("localhost", key.get(), ca.get(), caKey.get(), -1, 30, false, 2);
  good_ = Save(t, "good", good.get(), key.get());
  const TCert expired = MakeCert("localhost", key.get(), ca.get(), caKey.get(), -30, -1, false, 3);
  expired_ = Save(t, "expired", expired.get(), key.get());
  const TCert self = MakeCert("localhost", key.get(), nullptr, nullptr, -1, 30, false, 4);
  self_ = Save(t, "self", self.get(), key.get());
  const TCert other = MakeCert("mail.invalid", key.get(), ca.get(), caKey.get(), -1, 30, false, 5);
  other_ = Save(t, "other", other.get(), key.get());
}

TTestCertificates::~TTestCertificates() {
  if (!trusted_) {
    return;
  }
  if (hadFile_) {
    setenv("SSL_CERT_FILE", oldFile_.c_str(), 1);
  } else {
    unsetenv("SSL_CERT_FILE");
  }
  if (hadDir_) {
    setenv("SSL_CERT_DIR", oldDir_.c_str(), 1);
  } else {
    unsetenv("SSL_CERT_DIR");
  }
}

void TTestCertificates::TrustCa() {
  if (!trusted_) {
    const char* file = std::getenv("SSL_CERT_FILE");
    const char* dir = std::getenv("SSL_CERT_DIR");
    hadFile_ = file != nullptr;
    hadDir_ = dir != nullptr;
    oldFile_ = file != nullptr ? file : "";
    oldDir_ = dir != nullptr ? dir : "";
    trusted_ = true;
  }
  setenv("SSL_CERT_FILE", ca_.Cert.c_str(), 1);
  setenv("SSL_CERT_DIR", (temp_.Path() + "/empty").c_str(), 1);
}

std::string TTestCertificates::Fingerprint(const std::string& certFile) {
  FILE* in = std::fopen(certFile.c_str(), "r");
  if (in == nullptr) {
    throw std::runtime_error("cannot read " + certFile);
  }
  TCert cert(PEM_read_X509(in, nullptr, nullptr, nullptr));
  std::fclose(in);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  X509_digest(cert.get(), EVP_sha256(), digest, &length);
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
    text += pair;
  }
  return text;
}

}  // namespace pelorix::test
