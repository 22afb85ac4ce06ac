#include "oss/signing.h"

#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace oss {
namespace {
struct AlgorithmHandle {
  BCRYPT_ALG_HANDLE value = nullptr;
  ~AlgorithmHandle() {
    if (value) BCryptCloseAlgorithmProvider(value, 0);
  }
};
struct HashHandle {
  BCRYPT_HASH_HANDLE value = nullptr;
  ~HashHandle() {
    if (value) BCryptDestroyHash(value);
  }
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool IsIpv4(const std::string& host) {
  int parts = 0;
  size_t i = 0;
  while (i <= host.size()) {
    size_t dot = host.find('.', i);
    if (dot == std::string::npos) dot = host.size();
    std::string part = host.substr(i, dot - i);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), ::isdigit) || std::stoi(part) > 255)
      return false;
    ++parts;
    i = dot + 1;
  }
  return parts == 4;
}
}  // namespace

std::string Base64HmacSha1(const std::string& key, const std::string& data) {
  AlgorithmHandle algorithm;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm.value, BCRYPT_SHA1_ALGORITHM, nullptr,
                                                  BCRYPT_ALG_HANDLE_HMAC_FLAG)))
    return "";
  HashHandle hash;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.value, &hash.value, nullptr, 0,
                                       reinterpret_cast<PUCHAR>(const_cast<char*>(key.data())),
                                       static_cast<ULONG>(key.size()), 0)))
    return "";
  if (!BCRYPT_SUCCESS(BCryptHashData(hash.value, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                     static_cast<ULONG>(data.size()), 0)))
    return "";
  unsigned char digest[20];
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.value, digest, sizeof(digest), 0))) return "";
  DWORD size = 0;
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  if (!CryptBinaryToStringA(digest, sizeof(digest), flags, nullptr, &size)) return "";
  std::vector<char> text(size + 1);
  if (!CryptBinaryToStringA(digest, sizeof(digest), flags, text.data(), &size)) return "";
  std::string result(text.data());
  // Some providers end the text with a line break even when asked not to.
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result;
}

std::string HttpDate(const SYSTEMTIME& utc) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  snprintf(text, sizeof(text), "%s, %02u %s %04u %02u:%02u:%02u GMT", kDays[utc.wDayOfWeek % 7], utc.wDay,
           kMonths[(utc.wMonth + 11) % 12], utc.wYear, utc.wHour, utc.wMinute, utc.wSecond);
  return text;
}

std::string CanonicalResource(const std::string& bucket, const std::string& key, const std::string& subResource) {
  std::string resource = "/" + bucket + "/" + key;
  if (!subResource.empty()) resource += "?" + subResource;
  return resource;
}

std::string StringToSign(const std::string& verb, const std::string& contentMd5, const std::string& contentType,
                         const std::string& date, const HeaderMap& headers, const std::string& resource) {
  std::string text = verb + "\n" + contentMd5 + "\n" + contentType + "\n" + date + "\n";
  std::map<std::string, std::string> ossHeaders;
  for (const auto& header : headers) {
    std::string name = Lower(header.first);
    if (name.compare(0, 6, "x-oss-") == 0) ossHeaders[name] = header.second;
  }
  for (const auto& header : ossHeaders) text += header.first + ":" + header.second + "\n";
  return text + resource;
}

std::string AuthorizationHeader(const std::string& accessKeyId, const std::string& accessKeySecret,
                                const std::string& stringToSign) {
  return "OSS " + accessKeyId + ":" + Base64HmacSha1(accessKeySecret, stringToSign);
}

std::string UrlEncodePath(const std::string& key) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : key) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
      encoded.push_back(static_cast<char>(c));
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[c >> 4]);
      encoded.push_back(kHex[c & 15]);
    }
  }
  return encoded;
}

Endpoint ParseEndpoint(const std::string& text) {
  Endpoint endpoint;
  std::string rest = text;
  std::string lower = Lower(text);
  if (lower.compare(0, 7, "http://") == 0) {
    rest = text.substr(7);
  } else if (lower.compare(0, 8, "https://") == 0) {
    rest = text.substr(8);
    endpoint.https = true;
  }
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  endpoint.port = endpoint.https ? 443 : 80;
  size_t colon = rest.find(':');
  if (colon != std::string::npos) {
    std::string port = rest.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), ::isdigit)) return endpoint;
    long value = std::stol(port);
    if (value < 1 || value > 65535) return endpoint;
    endpoint.port = static_cast<uint16_t>(value);
    rest = rest.substr(0, colon);
  }
  if (rest.empty() || rest.find_first_of("/?#@ ") != std::string::npos) return endpoint;
  endpoint.host = Lower(rest);
  endpoint.ipv4 = IsIpv4(endpoint.host);
  endpoint.valid = true;
  return endpoint;
}

std::string RequestHost(const Endpoint& endpoint, const std::string& bucket) {
  return endpoint.ipv4 ? endpoint.host : bucket + "." + endpoint.host;
}

std::string RequestPath(const Endpoint& endpoint, const std::string& bucket, const std::string& key) {
  return endpoint.ipv4 ? "/" + bucket + "/" + UrlEncodePath(key) : "/" + UrlEncodePath(key);
}

}  // namespace oss
