#include "install/manifest.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/context.h"
#include "system/failure_log.h"
#include "system/install_log.h"
#include "base/text.h"

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

namespace {
// Windows opens these as devices whatever the extension: "NUL.zip" is NUL.
bool NamesDevice(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  for (char& c : base) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

bool IsSafeName(const std::string& name) {
  if (name == "." || name == "..") return false;
  for (char c : name) {
    bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                   c == '-';
    if (!allowed) return false;
  }
  return !NamesDevice(name);
}
}  // namespace

bool ManifestNamesAreSafe(const ReleaseManifest& manifest, const char* packageCode) {
  const struct {
    const char* section;
    const char* value;
  } names[] = {{"fixstamp", manifest.fixVersion}, {"quant", manifest.quantName}};
  for (const auto& entry : names) {
    // Empty values keep their meaning: no quant package, or a runtime download that fails.
    if (entry.value[0] == '\0' || IsSafeName(entry.value)) continue;
    InstallLog::Write(FormatBounded(260, "Manifest value refused,key:%s/%s,value:%s", entry.section, packageCode,
                                    entry.value).c_str());
    return false;
  }
  return true;
}

void SaveVersionRecord(const ReleaseManifest& manifest) {
  InstallerContext& context = InstallerContext::Instance();
  const std::string path = context.tempDir + "\\update.ini";
  const std::string stamp = FormatBounded(101, "%lld", static_cast<long long>(manifest.cfgTime));
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } entries[] = {
      {"cfgstamp", "time", stamp.c_str()},
      {"version", "cur", manifest.fixVersion},
      {"version", "quant", manifest.quantName},
      {"version", "stock", manifest.stockName},
      {"ETag", "ETagStock", manifest.stockETag},
  };
  // Every key is tried; the first that cannot be written names the cause.
  bool failed = false;
  for (const auto& entry : entries) {
    if (WriteProfileStringGbk(entry.section, entry.key, entry.value, path) || failed) continue;
    failed = true;
    LogLastErrorCause("无法写入版本记录", path);
  }
  context.version = manifest.fixVersion;
}
