// The installer's gateway to the package store: access keys, object keys of the
// release's packages, downloads with progress, and unpacking with progress.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "install/manifest.h"
#include "install/packages.h"
#include "install/release_signature.h"

namespace oss { class OssClient; }
class UnpackQueue;

class IClient {
 public:
  IClient();
  ~IClient();  // shuts the store library down
  IClient(const IClient&) = delete;
  IClient& operator=(const IClient&) = delete;

  // Fills the access fields from the build's scrambled credentials and resets the counters.
  void SetupAccess();
  // Initialises the store library (once) and creates the connection from endpoint and
  // keys with the default configuration. Tests may change endpoint and keys before it.
  void ConnectStore();

  bool FetchManifest();
  // maxBytes: the most the object may have (-1: the length the store announces).
  bool DownloadObject(const char* key, const char* localPath, int64_t maxBytes = -1);
  // A package of the table into the staging folder: posts its download step, then
  // downloads it (the securities package's ETag is read first, for the version record).
  bool DownloadPackage(const ReleasePackage& package);
  bool DownloadRuntime(const char* fileName);
  bool DownloadQuant(const char* fileName);
  bool DownloadStockInfo();
  bool UnpackPackage(const char* archivePath, const char* targetFolder);
  // A downloaded package of the table into its folder: posts its unpack step, then unpacks.
  bool UnpackReleasePackage(const ReleasePackage& package);
  bool UnpackStockInfo();

  // The overall percentage (install/progress.cpp): downloads fill 0 to 80 in equal slices
  // of the planned transfers, unpacking 80 to 90, and the last steps add the rest.
  static void OnTransferProgress(size_t increment, int64_t transferred, int64_t total, void* userData);
  // From here on plannedTransfers counts the packages to unpack, the manifest excluded.
  void BeginUnpacking();
  // Adds points to overallPercent (at most 100) and posts it.
  void AddPercent(int points);

  std::string accessKeyId;
  std::string accessKeySecret;
  std::string endpoint;
  std::string bucket;
  std::string keyPrefix = "9.5MOrvantisIE";
  std::unique_ptr<oss::OssClient> client;
  ReleaseManifest manifest{};
  int32_t plannedTransfers = 0;
  int32_t transfersDone = 0;
  int32_t overallPercent = 0;
  double unpackShare = 0.0;
  // The signed list of the run; SetupAccess gives it the build's release key (none: unsigned).
  ReleaseVerifier release;
  // Set by the worker while packages are unpacked ahead of their steps (null: at them);
  // tests clear unpackAhead to get the plain sequence.
  UnpackQueue* unpackQueue = nullptr;
  bool unpackAhead = true;

 private:
  bool DownloadPackageFile(const ReleasePackage& package, const std::string& fileName);
  void ReadStockTag(const std::string& key);
  void ResetProgress();
  void PlanOptionalPackages();
  void TransferEnded();
  // One more package unpacked: its share of 80 to 90; the new overall percentage.
  int32_t PackageUnpacked();
  bool LoadReleaseList();
  bool AdmitObject(const std::string& storeKey);
  bool FetchSmallObject(const std::string& storeKey, size_t limit, std::string* body);
  void LogReleaseProblem(const std::string& problem);
  bool sdkStarted_ = false;  // ConnectStore initialised the store library
};
