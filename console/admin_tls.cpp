#include "console/admin_tls.h"

#include <sys/stat.h>

#include <cstdio>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include "core/file_io.h"

namespace brindlex {

namespace {

constexpr long kCertificateDays = 3650;
constexpr std::size_t kPemMax = 64 * 1024;

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Certificate = std::unique_ptr<X509, X509Free>;
using Bio = std::unique_ptr<BIO, BioFree>;

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

Certificate ReadCertificate(const std::string& path) {
  std::string pem;
  if (!ReadFileBounded(path, kPemMax, pem)) return nullptr;
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return nullptr;
  return Certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

Certificate SelfSigned(EVP_PKEY* key, const std::string& hostName) {
  Certificate certificate(X509_new());
  if (!certificate) return nullptr;
  X509_set_version(certificate.get(), 2);
  // A random serial: a console that met an earlier certificate of this name
  // must not take the new one for the same.
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof(serial)) != 1) return nullptr;
  serial[0] &= 0x7f;
  BIGNUM* number = BN_bin2bn(serial, sizeof(serial), nullptr);
  if (!number) return nullptr;
  ASN1_INTEGER* asn1 = BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
  BN_free(number);
  if (!asn1) return nullptr;
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 60L * 60 * 24 * kCertificateDays);
  X509_NAME* name = X509_get_subject_name(certificate.get());
  std::string commonName = hostName.empty() ? "brindlex" : hostName.substr(0, 64);
  if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                                 -1, -1, 0) != 1 ||
      X509_set_issuer_name(certificate.get(), name) != 1 || X509_set_pubkey(certificate.get(), key) != 1 ||
      X509_sign(certificate.get(), key, EVP_sha256()) <= 0)
    return nullptr;
  return certificate;
}

}  // namespace

std::string TakeTlsError() {
  unsigned long code = ERR_get_error();
  std::string text;
  while (code != 0) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof(buffer));
    text = buffer;  // the last is the nearest to the caller
    code = ERR_get_error();
  }
  return text.empty() ? "TLS error" : text;
}

std::string AdminKeyPath(const std::string& programFolder) { return programFolder + "/admin.key"; }
std::string AdminCertificatePath(const std::string& programFolder) { return programFolder + "/admin.crt"; }

bool EnsureAdminCertificate(const std::string& programFolder, const std::string& hostName, std::string& error) {
  const std::string keyPath = AdminKeyPath(programFolder);
  const std::string certificatePath = AdminCertificatePath(programFolder);
  if (Exists(keyPath) && Exists(certificatePath)) return true;
  Pkey key(EVP_EC_gen("P-256"));
  if (!key) {
    error = TakeTlsError();
    return false;
  }
  Certificate certificate = SelfSigned(key.get(), hostName);
  if (!certificate) {
    error = TakeTlsError();
    return false;
  }
  Bio keyPem(BIO_new(BIO_s_mem()));
  Bio certificatePem(BIO_new(BIO_s_mem()));
  if (!keyPem || !certificatePem ||
      PEM_write_bio_PrivateKey(keyPem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_X509(certificatePem.get(), certificate.get()) != 1) {
    error = TakeTlsError();
    return false;
  }
  // The key first: a certificate without its key would be kept at the next
  // start and never load.
  if (!WriteFileAtomically(keyPath, BioText(keyPem.get()), 0600)) {
    error = keyPath + ": cannot be written";
    return false;
  }
  if (!WriteFileAtomically(certificatePath, BioText(certificatePem.get()))) {
    error = certificatePath + ": cannot be written";
    return false;
  }
  return true;
}

std::string FingerprintOfDer(std::string_view der) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(der.data(), der.size(), digest, &size, EVP_sha256(), nullptr);
  std::string text = "SHA256:";
  for (unsigned int i = 0; i < size; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof(pair), i == 0 ? "%02X" : ":%02X", digest[i]);
    text += pair;
  }
  return text;
}

std::string FingerprintOfCertificate(X509* certificate) {
  unsigned char* der = nullptr;
  int size = i2d_X509(certificate, &der);
  if (size <= 0) return {};
  std::string text =
      FingerprintOfDer(std::string_view(reinterpret_cast<const char*>(der), static_cast<std::size_t>(size)));
  OPENSSL_free(der);
  return text;
}

std::optional<std::string> AdminFingerprint(const std::string& programFolder) {
  Certificate certificate = ReadCertificate(AdminCertificatePath(programFolder));
  if (!certificate) return std::nullopt;
  std::string text = FingerprintOfCertificate(certificate.get());
  if (text.empty()) return std::nullopt;
  return text;
}

SslContext MakeAdminServerContext(const std::string& programFolder, std::string& error) {
  SslContext context(SSL_CTX_new(TLS_server_method()));
  if (!context) {
    error = TakeTlsError();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_CTX_use_certificate_file(context.get(), AdminCertificatePath(programFolder).c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(context.get(), AdminKeyPath(programFolder).c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context.get()) != 1) {
    error = TakeTlsError();
    return nullptr;
  }
  return context;
}

SslContext MakeAdminClientContext() {
  SslContext context(SSL_CTX_new(TLS_client_method()));
  if (!context) return nullptr;
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
  return context;
}

}  // namespace brindlex
