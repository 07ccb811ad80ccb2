// The administration channel's TLS pieces: the gateway's key and self-signed
// certificate in the program folder (made once, at the first start with
// AdminPort set), their SHA-256 fingerprint that consoles pin, and the TLS
// contexts of both ends. The console's context verifies no chain: the
// certificate is self-signed and the pinned fingerprint is the trust.
//
// Threads: the functions are safe from any thread; a context is shared by the
// connections made from it (OpenSSL locks it internally).
#pragma once

#include <memory>
#include <openssl/ssl.h>
#include <optional>
#include <string>
#include <string_view>

namespace brindlex {

struct SslContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using SslContext = std::unique_ptr<SSL_CTX, SslContextFree>;

std::string AdminKeyPath(const std::string& programFolder);          // admin.key
std::string AdminCertificatePath(const std::string& programFolder);  // admin.crt

// Makes an EC P-256 key (mode 0600) and a certificate for `hostName` valid
// for ten years when either file is missing; both are written whole or not
// at all. True when both exist afterwards; false with `error` set otherwise.
bool EnsureAdminCertificate(const std::string& programFolder, const std::string& hostName, std::string& error);

// "SHA256:" and the digest of the certificate's DER form as hex pairs
// separated by ':' (upper case).
std::string FingerprintOfDer(std::string_view der);
std::string FingerprintOfCertificate(X509* certificate);
// The fingerprint of the program folder's certificate; nothing when there is
// none or it cannot be read.
std::optional<std::string> AdminFingerprint(const std::string& programFolder);

// The gateway's context: the folder's key and certificate, TLS 1.2 or later.
// Null with `error` set when they cannot be loaded.
SslContext MakeAdminServerContext(const std::string& programFolder, std::string& error);
// The console's context: TLS 1.2 or later, no chain verification.
SslContext MakeAdminClientContext();

// The last OpenSSL error of this thread as text (emptying the queue).
std::string TakeTlsError();

}  // namespace brindlex
