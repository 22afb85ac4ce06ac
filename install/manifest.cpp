#include "install/manifest.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/context.h"
#include "system/text.h"

namespace {
// Leading blanks, an optional sign, then digits up to the first other character;
// no digits give 0.
int64_t ParseStamp(const char* text) {
  return static_cast<int64_t>(strtoll(text, nullptr, 10));
}
}  // namespace

void ReadReleaseManifest(ReleaseManifest& manifest, const char* path, const char* packageCode) {
  char stamp[101] = {};
  GetPrivateProfileStringA("cfgstamp", "time", "", stamp, sizeof(stamp), path);
  manifest.cfgTime = ParseStamp(stamp);
  GetPrivateProfileStringA("fixstamp", packageCode, "", manifest.fixVersion, sizeof(manifest.fixVersion), path);
  GetPrivateProfileStringA("quant", packageCode, "", manifest.quantName, sizeof(manifest.quantName), path);
  GetPrivateProfileStringA("stock", packageCode, "", manifest.stockName, sizeof(manifest.stockName), path);
  manifest.hasQuant = manifest.quantName[0] != '\0';
  manifest.hasStock = manifest.stockName[0] != '\0';
}

void SaveVersionRecord(const ReleaseManifest& manifest) {
  InstallerContext& context = InstallerContext::Instance();
  const std::string path = context.tempDir + "\\update.ini";
  const std::string stamp = FormatBounded(101, "%lld", static_cast<long long>(manifest.cfgTime));
  WritePrivateProfileStringA("cfgstamp", "time", stamp.c_str(), path.c_str());
  WritePrivateProfileStringA("version", "cur", manifest.fixVersion, path.c_str());
  WritePrivateProfileStringA("version", "quant", manifest.quantName, path.c_str());
  WritePrivateProfileStringA("version", "stock", manifest.stockName, path.c_str());
  WritePrivateProfileStringA("ETag", "ETagStock", manifest.stockETag, path.c_str());
  context.version = manifest.fixVersion;
}
