#include "install/release_signature.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "release_key.h"
#include "system/install_log.h"
#include "base/text.h"

namespace {
constexpr size_t kDigestBytes = 32;
constexpr size_t kCoordinateBytes = 32;

struct BcryptKeyTraits {
  using Value = BCRYPT_KEY_HANDLE;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value v) { return v != nullptr; }
  static void Close(Value v) { BCryptDestroyKey(v); }
};

void LogStatus(const char* call, NTSTATUS status) {
  InstallLog::Write(FormatBounded(260, "%s failed: NTSTATUS 0x%08lX", call, static_cast<unsigned long>(status)).c_str());
}

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

// One INTEGER of a DER signature appended as 32 big-endian bytes; false unless minimal and positive.
bool ReadInteger(const std::string& der, size_t& at, std::string* out) {
  if (at + 2 > der.size() || der[at] != 0x02) return false;
  const size_t length = static_cast<unsigned char>(der[at + 1]);
  const size_t begin = at + 2;
  if (length == 0 || begin + length > der.size()) return false;
  std::string value = der.substr(begin, length);
  if (value[0] & 0x80) return false;                                // negative
  if (length > 1 && value[0] == 0 && !(value[1] & 0x80)) return false;  // not minimal
  if (length > 1 && value[0] == 0) value.erase(0, 1);
  if (value.size() > kCoordinateBytes) return false;
  out->append(kCoordinateBytes - value.size(), '\0');
  out->append(value);
  at = begin + length;
  return true;
}

bool IsLowerHex(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}
}  // namespace

Sha256Stream::Sha256Stream() {
  NTSTATUS status = BCryptOpenAlgorithmProvider(algorithm_.Receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) {
    LogStatus("BCryptOpenAlgorithmProvider(SHA256)", status);
    failed_ = true;
    return;
  }
  Restart();
}

void Sha256Stream::Restart() {
  if (!algorithm_) return;
  NTSTATUS status = BCryptCreateHash(algorithm_.Get(), hash_.Receive(), nullptr, 0, nullptr, 0, 0);
  failed_ = !BCRYPT_SUCCESS(status);
  if (failed_) LogStatus("BCryptCreateHash(SHA256)", status);
}

void Sha256Stream::Update(const char* data, size_t size) {
  if (failed_ || !hash_) return;
  NTSTATUS status = BCryptHashData(hash_.Get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data)), static_cast<ULONG>(size), 0);
  if (!BCRYPT_SUCCESS(status)) {
    LogStatus("BCryptHashData", status);
    failed_ = true;
  }
}

bool Sha256Stream::Finish(unsigned char (&digest)[32]) {
  if (failed_ || !hash_) return false;
  NTSTATUS status = BCryptFinishHash(hash_.Get(), digest, sizeof(digest), 0);
  hash_.Reset();
  if (!BCRYPT_SUCCESS(status)) LogStatus("BCryptFinishHash", status);
  return BCRYPT_SUCCESS(status);
}

std::string Sha256Stream::HexDigest() {
  unsigned char digest[kDigestBytes];
  return Finish(digest) ? Hex(digest, sizeof(digest)) : "";
}

std::string BuildReleaseKey() {
  // The generated list ends with a comma; the trailing zero keeps an empty one valid C++.
  static const unsigned char kKey[] = {MORVANTIS_RELEASE_KEY_BYTES 0};
  return std::string(reinterpret_cast<const char*>(kKey), sizeof(kKey) - 1);
}

bool DerSignatureToRaw(const std::string& der, std::string* raw) {
  // SEQUENCE { INTEGER r, INTEGER s }, short-form length (a P-256 signature is at most 72 bytes).
  if (der.size() < 8 || der[0] != 0x30 || static_cast<unsigned char>(der[1]) != der.size() - 2) return false;
  std::string out;
  size_t at = 2;
  if (!ReadInteger(der, at, &out) || !ReadInteger(der, at, &out) || at != der.size()) return false;
  *raw = out;
  return true;
}

SignatureCheck VerifyReleaseSignature(const std::string& publicKey, const std::string& message,
                                      const std::string& derSignature) {
  std::string raw;
  if (publicKey.size() != 2 * kCoordinateBytes || !DerSignatureToRaw(derSignature, &raw)) return SignatureCheck::kMalformed;
  Sha256Stream hasher;
  hasher.Update(message.data(), message.size());
  unsigned char digest[kDigestBytes];
  if (!hasher.Finish(digest)) return SignatureCheck::kFailed;

  Scoped<BcryptAlgorithmTraits> algorithm;
  NTSTATUS status = BCryptOpenAlgorithmProvider(algorithm.Receive(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) {
    LogStatus("BCryptOpenAlgorithmProvider(ECDSA_P256)", status);
    return SignatureCheck::kFailed;
  }
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + publicKey.size());
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(kCoordinateBytes)};
  memcpy(blob.data(), &header, sizeof(header));
  memcpy(blob.data() + sizeof(header), publicKey.data(), publicKey.size());
  Scoped<BcryptKeyTraits> key;
  status = BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Receive(), blob.data(),
                               static_cast<ULONG>(blob.size()), 0);
  if (!BCRYPT_SUCCESS(status)) {
    LogStatus("BCryptImportKeyPair(ECCPUBLIC)", status);
    return SignatureCheck::kFailed;
  }
  status = BCryptVerifySignature(key.Get(), nullptr, digest, sizeof(digest),
                                 reinterpret_cast<PUCHAR>(const_cast<char*>(raw.data())), static_cast<ULONG>(raw.size()), 0);
  if (BCRYPT_SUCCESS(status)) return SignatureCheck::kValid;
  if (status == static_cast<NTSTATUS>(0xC000A000L)) return SignatureCheck::kMismatch;  // STATUS_INVALID_SIGNATURE
  LogStatus("BCryptVerifySignature", status);
  return SignatureCheck::kFailed;
}

bool ParseReleaseList(const std::string& text, std::map<std::string, std::string>* entries, std::string* problem) {
  std::map<std::string, std::string> parsed;
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const bool wellFormed = line.size() > 66 && line.compare(64, 2, "  ") == 0 && IsLowerHex(line.substr(0, 64)) &&
                            line.find_first_of("\r\\", 66) == std::string::npos;
    if (!wellFormed) {
      *problem = "line " + std::to_string(number) + " is not \"<64 lowercase hex digits>  <object key>\"";
      return false;
    }
    if (!parsed.emplace(line.substr(66), line.substr(0, 64)).second) {
      *problem = "line " + std::to_string(number) + " lists " + line.substr(66) + " a second time";
      return false;
    }
  }
  if (parsed.empty()) {
    *problem = "the list is empty";
    return false;
  }
  *entries = std::move(parsed);
  return true;
}

bool ReleaseVerifier::Load(const std::string& listKey, const std::string& list, const std::string& signature,
                           std::string* problem) {
  switch (VerifyReleaseSignature(publicKey_, list, signature)) {
    case SignatureCheck::kValid: break;
    case SignatureCheck::kMalformed:
      *problem = listKey + ".sig is not a DER-encoded ECDSA P-256 signature (" + std::to_string(signature.size()) + " bytes)";
      return false;
    case SignatureCheck::kMismatch:
      *problem = listKey + ".sig does not match " + listKey + " under the build's release key";
      return false;
    case SignatureCheck::kFailed:
      *problem = listKey + ".sig could not be checked: the system's ECDSA failed";
      return false;
  }
  std::string why;
  if (!ParseReleaseList(list, &listed_, &why)) {
    *problem = listKey + " is malformed: " + why;
    return false;
  }
  loaded_ = true;
  for (const auto& early : fetchedEarly_) {
    if (!Check(early.first, early.second, problem)) return false;
  }
  fetchedEarly_.clear();
  return true;
}

bool ReleaseVerifier::Admit(const std::string& key, std::string* problem) const {
  if (!Enabled()) return true;
  if (!loaded_) {
    *problem = key + " was asked for before the signed list was loaded";
    return false;
  }
  if (listed_.count(key) == 0) {
    *problem = key + " is not in the signed list";
    return false;
  }
  return true;
}

bool ReleaseVerifier::Check(const std::string& key, const std::string& hexDigest, std::string* problem) {
  if (!Enabled()) return true;
  if (!loaded_) {
    fetchedEarly_[key] = hexDigest;
    return true;
  }
  auto listed = listed_.find(key);
  if (listed == listed_.end()) {
    *problem = key + " is not in the signed list";
    return false;
  }
  if (hexDigest != listed->second) {
    *problem = key + " has SHA-256 " + (hexDigest.empty() ? std::string("(not computed)") : hexDigest) +
               ", the signed list says " + listed->second;
    return false;
  }
  return true;
}
