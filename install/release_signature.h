// Signed releases: the distributor lists every object of a release with its SHA-256
// ("release.sha256", sha256sum lines) and signs the list with ECDSA P-256
// ("release.sha256.sig", DER). A build with a release key installs nothing the list
// does not vouch for. Keys here are the store's UTF-8 keys.
#pragma once
#include <windows.h>
#include <bcrypt.h>

#include <cstddef>
#include <map>
#include <string>

#include "oss/oss_client.h"
#include "base/scoped.h"

struct BcryptAlgorithmTraits {
  using Value = BCRYPT_ALG_HANDLE;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value v) { return v != nullptr; }
  static void Close(Value v) { BCryptCloseAlgorithmProvider(v, 0); }
};
struct BcryptHashTraits {
  using Value = BCRYPT_HASH_HANDLE;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value v) { return v != nullptr; }
  static void Close(Value v) { BCryptDestroyHash(v); }
};

// SHA-256 of bytes fed in pieces; as a body observer it hashes a download while it is written.
class Sha256Stream : public oss::BodyObserver {
 public:
  Sha256Stream();
  void Restart() override;
  void Update(const char* data, size_t size) override;
  // The digest; false when BCrypt failed (logged). Ends the stream.
  bool Finish(unsigned char (&digest)[32]);
  // Lowercase hex of the digest; "" when BCrypt failed.
  std::string HexDigest();

 private:
  Scoped<BcryptAlgorithmTraits> algorithm_;
  Scoped<BcryptHashTraits> hash_;
  bool failed_ = false;
};

// X || Y (64 bytes) of the build's release key; empty for a build without one.
std::string BuildReleaseKey();

// r || s (64 bytes) of a DER-encoded ECDSA P-256 signature; false for anything else.
bool DerSignatureToRaw(const std::string& der, std::string* raw);

enum class SignatureCheck { kValid, kMalformed, kMismatch, kFailed };
// Checks an ECDSA P-256 / SHA-256 signature (DER) of message under publicKey (X || Y).
// kFailed: BCrypt could not check at all (logged with its status).
SignatureCheck VerifyReleaseSignature(const std::string& publicKey, const std::string& message,
                                      const std::string& derSignature);

// release.sha256 as key -> lowercase hex digest. LF or CRLF; false with the reason on
// the first line that is not "<64 lowercase hex>  <key>", on a key listed twice, or for
// an empty list.
bool ParseReleaseList(const std::string& text, std::map<std::string, std::string>* entries, std::string* problem);

// One run's check of what it downloads against the signed list. Problems come back as
// whole sentences naming the object, for the log.
class ReleaseVerifier {
 public:
  ReleaseVerifier() = default;
  explicit ReleaseVerifier(std::string publicKey) : publicKey_(std::move(publicKey)) {}
  bool Enabled() const { return !publicKey_.empty(); }
  bool Loaded() const { return loaded_; }
  // Verifies the list's signature and takes its lines; then checks every object that
  // was fetched before the list (the manifest).
  bool Load(const std::string& listKey, const std::string& list, const std::string& signature, std::string* problem);
  // Before an object is requested: the list must be loaded and name it.
  bool Admit(const std::string& key, std::string* problem) const;
  // After an object was written: its digest must be the listed one. Before the list is
  // loaded the digest is kept and checked by Load.
  bool Check(const std::string& key, const std::string& hexDigest, std::string* problem);

 private:
  std::string publicKey_;
  bool loaded_ = false;
  std::map<std::string, std::string> listed_;
  std::map<std::string, std::string> fetchedEarly_;
};
