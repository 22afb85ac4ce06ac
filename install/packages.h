// The packages of a release, in the order they are downloaded: where each comes from in
// the store, the file it becomes in the staging folder, where it is unpacked, and the
// steps and log lines of its download and unpacking. The worker walks this table, and
// the clean-up removes the files it names.
#pragma once
#include <string>

#include "install/manifest.h"
#include "install/messages.h"

enum class PackageId { kDepend, kBase, kConfig, kRuntime, kQuant, kStock };

// When a run takes the package.
enum class PackageTaken {
  kNever,  // the reserved front-end package: only its start lines are written, for the record
  kAlways,
  kWithQuant,  // the manifest's hasQuant
  kWithStock,  // the manifest's hasStock
};

struct ReleasePackage {
  PackageId id;
  PackageTaken taken;
  const char* storeFolder;  // between the key prefix and the file name
  const char* fileName;     // null: the manifest names it (fixVersion or quantName + ".zip")
  const char* unpackFolder;  // below the staging folder; "" for the staging folder itself
  bool recordsTag;           // its ETag goes into the version record
  InstallStep downloadStep;
  const char* downloadLine;
  const char* downloadFailureLine;
  InstallStep unpackStep;
  const char* unpackLine;
  const char* unpackFailureLine;
};

// Every package, in download order.
extern const ReleasePackage kReleasePackages[6];
// Later packages overwrite earlier ones: base, runtime, configuration, quant, securities.
extern const PackageId kUnpackOrder[6];

const ReleasePackage& Package(PackageId id);
bool PackageIsTaken(const ReleasePackage& package, const ReleaseManifest& manifest);
// "base.zip", or the manifest's name formatted with "%s.zip" (cut to 100 bytes).
std::string PackageFileName(const ReleasePackage& package, const ReleaseManifest& manifest);
// The downloaded file and the folder it is unpacked into, in the context's staging folder.
std::string PackageArchive(const ReleasePackage& package, const ReleaseManifest& manifest);
std::string PackageTarget(const ReleasePackage& package);
