// The release manifest summary.ini (what the release holds for this build) and the
// version record update.ini (what was installed), both Windows INI files.
#pragma once
#include <cstdint>

struct ReleaseManifest {
  int64_t cfgTime;        // [cfgstamp] time
  char fixVersion[21];    // [fixstamp] <packageCode>: the runtime package and the installed version
  char quantName[21];     // [quant] <packageCode>: empty when the release has no quant package
  char stockName[21];     // [stock] <packageCode>: non-empty selects the securities-information package
  char stockETag[65];     // entity tag of that package's object, quotes removed; empty when not fetched
  bool hasQuant;
  bool hasStock;
};

// Reads the manifest at path (the staging folder + "/summary.ini") for packageCode.
void ReadReleaseManifest(ReleaseManifest& manifest, const char* path, const char* packageCode);
// Checks the values that become file names and object keys (fixVersion, quantName):
// a non-empty one must be made of A-Z a-z 0-9 . _ -, must not be "." or "..", and must
// not name a device. Logs the first refused key and value; false then.
bool ManifestNamesAreSafe(const ReleaseManifest& manifest, const char* packageCode);
// Writes update.ini into the staging folder and sets the context's version.
void SaveVersionRecord(const ReleaseManifest& manifest);
