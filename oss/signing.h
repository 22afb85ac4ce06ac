// Request signing (OSS signature version 1), endpoint addressing and the small text
// helpers the client needs. Kept apart from the transport so they can be checked alone.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "oss/header_map.h"

namespace oss {

// Base64 of HMAC-SHA1(key, data); "" when the system's crypto provider fails.
std::string Base64HmacSha1(const std::string& key, const std::string& data);
// "Sun, 06 Nov 1994 08:49:37 GMT": English names whatever the locale.
std::string HttpDate(const SYSTEMTIME& utc);

// "/bucket/key" with the raw key, and "?sub" for a signed sub-resource.
std::string CanonicalResource(const std::string& bucket, const std::string& key, const std::string& subResource);
// VERB \n Content-MD5 \n Content-Type \n Date \n, then the x-oss- headers lower-cased and
// sorted ("name:value\n" each), then the canonical resource.
std::string StringToSign(const std::string& verb, const std::string& contentMd5, const std::string& contentType,
                         const std::string& date, const HeaderMap& headers, const std::string& resource);
// "OSS <id>:<signature>"
std::string AuthorizationHeader(const std::string& accessKeyId, const std::string& accessKeySecret,
                                const std::string& stringToSign);

// Percent-encodes a key for a request path; unreserved characters and "/" stay.
std::string UrlEncodePath(const std::string& key);

struct Endpoint {
  bool valid = false;
  bool https = false;
  std::string host;
  uint16_t port = 80;
  bool ipv4 = false;  // addressed path style; a host name is addressed virtual-hosted
};
Endpoint ParseEndpoint(const std::string& endpoint);
// The host a request goes to and its path, for the bucket and key.
std::string RequestHost(const Endpoint& endpoint, const std::string& bucket);
std::string RequestPath(const Endpoint& endpoint, const std::string& bucket, const std::string& key);

}  // namespace oss
