// HTTP header fields as the client and the request signing both hold them.
#pragma once
#include <map>
#include <string>

namespace oss {

// Header names in the map compare case-insensitively, as HTTP's do.
struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using HeaderMap = std::map<std::string, std::string, CaseInsensitiveLess>;

}  // namespace oss
