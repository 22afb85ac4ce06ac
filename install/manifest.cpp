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

// A fixed-size record field, cut as the field's size requires.
template <size_t N>
void ReadProfileField(char (&field)[N], const char* section, const char* key, const std::string& path) {
  const std::string value = ReadProfileStringGbk(section, key, path, N);
  memcpy(field, value.c_str(), value.size() + 1);
}
}  // namespace

void ReadReleaseManifest(ReleaseManifest& manifest, const char* path, const char* packageCode) {
  // The staging path is GBK: read through the wide calls whatever the system's code page.
  const std::string file = path ? path : "";
  manifest.cfgTime = ParseStamp(ReadProfileStringGbk("cfgstamp", "time", file, 101).c_str());
  ReadProfileField(manifest.fixVersion, "fixstamp", packageCode, file);
  ReadProfileField(manifest.quantName, "quant", packageCode, file);
  ReadProfileField(manifest.stockName, "stock", packageCode, file);
  manifest.hasQuant = manifest.quantName[0] != '\0';
  manifest.hasStock = manifest.stockName[0] != '\0';
}

void SaveVersionRecord(const ReleaseManifest& manifest) {
  InstallerContext& context = InstallerContext::Instance();
  const std::string path = context.tempDir + "\\update.ini";
  const std::string stamp = FormatBounded(101, "%lld", static_cast<long long>(manifest.cfgTime));
  WriteProfileStringGbk("cfgstamp", "time", stamp.c_str(), path);
  WriteProfileStringGbk("version", "cur", manifest.fixVersion, path);
  WriteProfileStringGbk("version", "quant", manifest.quantName, path);
  WriteProfileStringGbk("version", "stock", manifest.stockName, path);
  WriteProfileStringGbk("ETag", "ETagStock", manifest.stockETag, path);
  context.version = manifest.fixVersion;
}
