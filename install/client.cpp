#include "install/client.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <io.h>

#include "base/context.h"
#include "build_settings.h"
#include "install/credentials.h"
#include "install/messages.h"
#include "install/unpack_queue.h"
#include "oss/oss_client.h"
#include "base/scoped.h"
#include "system/failure_log.h"
#include "system/free_space.h"
#include "system/install_log.h"
#include "system/session.h"
#include "base/text.h"
#include "unzip/tunzip.h"

namespace {
// The failure line's buffer; what does not fit is cut.
constexpr size_t kFailureLineBytes = 2046;
// A manifest is a few lines; a larger one is refused before it is written.
constexpr int64_t kMaxManifestBytes = 1024 * 1024;

// The logic side speaks GBK; the store's keys and texts are UTF-8.
std::string GbkToUtf8(const std::string& text) { return WideToGbk(GbkToWide(text, 4096), 8192, CP_UTF8); }
std::string Utf8ToGbk(const std::string& text) { return WideToGbk(GbkToWide(text, 4096, CP_UTF8), 8192); }

// What the store said about a failed request, as the cause after the fixed line: its
// error code and text with the HTTP status, or the WinHTTP or Win32 error when no
// answer came. A missing object, a refused key and a dead network each read as such.
void LogStoreFailure(const char* what, const std::string& key, const oss::OssError& error) {
  const unsigned long code = error.Status() > 0 ? static_cast<unsigned long>(error.Status()) : error.SystemError();
  LogFailureCause(what, key + "：" + Utf8ToGbk(error.Code() + " " + error.Message()), code);
}

std::string StagingFile(const std::string& fileName) { return InstallerContext::Instance().tempDir + "/" + fileName; }

// The signed list and its signature are small; a store that sends more is not believed.
constexpr size_t kMaxReleaseListBytes = 4 * 1024 * 1024;
constexpr size_t kMaxSignatureBytes = 1024;
}  // namespace

IClient::IClient() = default;

IClient::~IClient() {
  client.reset();
  if (sdkStarted_) oss::ShutdownSdk();
}

void IClient::SetupAccess() {
  StoreCredentials keys = BuildCredentials();
  accessKeyId = keys.accessKeyId;
  accessKeySecret = keys.accessKeySecret;
  endpoint = MORVANTIS_STORE_ENDPOINT;
  bucket = "zqpublish";
  ResetProgress();
  release = ReleaseVerifier(BuildReleaseKey());
}

void IClient::ConnectStore() {
  if (!sdkStarted_) {
    oss::InitializeSdk();
    sdkStarted_ = true;
  }
  oss::ClientConfiguration configuration;
  client.reset(new oss::OssClient(endpoint, accessKeyId, accessKeySecret, configuration));
}

bool IClient::FetchManifest() {
  std::string key = keyPrefix + "/summary.ini";
  std::string localPath = StagingFile("summary.ini");
  if (!DownloadObject(key.c_str(), localPath.c_str(), kMaxManifestBytes)) return false;
  // A signed build reads the manifest only once the signed list vouches for it.
  if (release.Enabled() && !LoadReleaseList()) return false;
  const char* packageCode = InstallerContext::Instance().packageCode.c_str();
  ReadReleaseManifest(manifest, localPath.c_str(), packageCode);
  // These values become file names and object keys: refused before any package is asked for.
  if (!ManifestNamesAreSafe(manifest, packageCode)) return false;
  PlanOptionalPackages();
  return true;
}

bool IClient::DownloadObject(const char* key, const char* localPath, int64_t maxBytes) {
  const std::string storeKey = GbkToUtf8(key);
  if (!AdmitObject(storeKey)) return false;
  const oss::HeadObjectOutcome meta =
      client ? client->GetObjectMeta(bucket, storeKey) : oss::HeadObjectOutcome(oss::OssError("NotConnected", ""));
  if (!meta.isSuccess()) {
    InstallLog::Write((std::string(key) + ",文件不存在").c_str());
    LogStoreFailure("无法读取对象信息", key, meta.error());
    return false;
  }
  // Refused before a byte is written when the staging volume cannot hold the object.
  const int64_t length = meta.result().ContentLength();  // -1 when the store did not say
  if (!EnsureFreeSpace(localPath, length > 0 ? static_cast<uint64_t>(length) : 0)) return false;
  oss::GetObjectRequest request(bucket, storeKey);
  // The body may be no longer than the existence test announced, nor than the cap.
  int64_t agreed = meta.result().ContentLength();
  if (maxBytes >= 0 && (agreed < 0 || agreed > maxBytes)) agreed = maxBytes;
  request.setMaxLength(agreed);
  const std::wstring widePath = GbkToWide(localPath, 2048);
  request.setResponseStreamFactory([widePath]() { return std::make_shared<oss::FileStream>(widePath.c_str()); });
  request.setTransferProgress({&IClient::OnTransferProgress, this});
  Sha256Stream digest;
  if (release.Enabled()) request.setBodyObserver(&digest);
  CreatePathFolders(localPath);
  oss::GetObjectOutcome outcome = client->GetObject(request);
  TransferEnded();
  if (outcome.isSuccess()) {
    outcome = oss::OssError();  // closes the file before the check may delete it
    std::string problem;
    if (release.Check(storeKey, release.Enabled() ? digest.HexDigest() : "", &problem)) return true;
    LogReleaseProblem(problem);
    DeleteFileW(GbkToWide(localPath, 2048).c_str());  // nothing of it may be unpacked
    return false;
  }
  const oss::OssError& error = outcome.error();
  // Formatted whole, then cut on a character boundary to the line's buffer.
  std::string line = FormatBounded(kFailureLineBytes * 4, "Downfile Fail,code:%s,message:%s,requestId:%s",
                                   OneLine(Utf8ToGbk(error.Code())).c_str(), OneLine(Utf8ToGbk(error.Message())).c_str(),
                                   OneLine(Utf8ToGbk(error.RequestId())).c_str());
  InstallLog::Write(CutGbk(line, kFailureLineBytes - 1).c_str());
  LogStoreFailure("下载失败", key, error);
  return false;
}

bool IClient::DownloadPackageFile(const ReleasePackage& package, const std::string& fileName) {
  const std::string key = keyPrefix + package.storeFolder + fileName;
  if (package.recordsTag) {
    if (!AdmitObject(GbkToUtf8(key))) return false;  // not even its metadata is asked for
    ReadStockTag(key);
  }
  PostInstallMessage(WM_INSTALL_STEP, package.downloadStep);
  return DownloadObject(key.c_str(), StagingFile(fileName).c_str());
}

bool IClient::DownloadPackage(const ReleasePackage& package) {
  return DownloadPackageFile(package, PackageFileName(package, manifest));
}

bool IClient::DownloadRuntime(const char* fileName) { return DownloadPackageFile(Package(PackageId::kRuntime), fileName); }

bool IClient::DownloadQuant(const char* fileName) { return DownloadPackageFile(Package(PackageId::kQuant), fileName); }

bool IClient::DownloadStockInfo() { return DownloadPackage(Package(PackageId::kStock)); }

void IClient::ReadStockTag(const std::string& key) {
  oss::HeadObjectOutcome head =
      client ? client->HeadObject(bucket, GbkToUtf8(key)) : oss::HeadObjectOutcome(oss::OssError("NotConnected", ""));
  if (head.isSuccess()) {
    // The whole tag, multipart ones included, up to the record's 64 characters.
    std::string tag = head.result().ETag().substr(0, sizeof(manifest.stockETag) - 1);
    memcpy(manifest.stockETag, tag.c_str(), tag.size() + 1);
  } else {
    InstallLog::Write("ETag获取失败");
    LogStoreFailure("无法读取ETag", key, head.error());
  }
}

bool IClient::LoadReleaseList() {
  const std::string listKey = GbkToUtf8(keyPrefix) + "/release.sha256";
  std::string list, signature, problem;
  // Neither counts as a transfer nor posts progress: the run's percentages stay as they are.
  if (!FetchSmallObject(listKey, kMaxReleaseListBytes, &list) ||
      !FetchSmallObject(listKey + ".sig", kMaxSignatureBytes, &signature)) {
    return false;
  }
  if (release.Load(listKey, list, signature, &problem)) return true;
  LogReleaseProblem(problem);
  return false;
}

bool IClient::AdmitObject(const std::string& storeKey) {
  // The manifest comes before the list that vouches for it; the list checks it on arrival.
  if (!release.Enabled() || (!release.Loaded() && storeKey == GbkToUtf8(keyPrefix) + "/summary.ini")) return true;
  std::string problem;
  if (release.Admit(storeKey, &problem)) return true;
  LogReleaseProblem(problem);
  return false;
}

bool IClient::FetchSmallObject(const std::string& storeKey, size_t limit, std::string* body) {
  if (!client) {
    LogReleaseProblem(storeKey + " cannot be fetched: no connection to the store");
    return false;
  }
  oss::GetObjectRequest request(bucket, storeKey);
  // A store that sends more than the limit is not believed: the client refuses it.
  request.setMaxLength(static_cast<int64_t>(limit));
  std::shared_ptr<oss::MemoryStream> stream;
  request.setResponseStreamFactory([&stream]() {
    stream = std::make_shared<oss::MemoryStream>();
    return stream;
  });
  oss::GetObjectOutcome outcome = client->GetObject(request);
  if (!outcome.isSuccess()) {
    const oss::OssError& error = outcome.error();
    LogReleaseProblem(storeKey + " cannot be fetched: " + error.Code() + " (" + error.Message() + ")");
    LogStoreFailure("下载失败", Utf8ToGbk(storeKey), error);
    return false;
  }
  *body = stream->str();
  return true;
}

void IClient::LogReleaseProblem(const std::string& problem) {
  // The problem may quote the store's own error text: kept to one line.
  InstallLog::Write(CutGbk(OneLine(Utf8ToGbk("Release check failed: " + problem)), kFailureLineBytes - 1).c_str());
}

bool IClient::UnpackPackage(const char* archivePath, const char* targetFolder) {
  // The package was downloaded in this same run: one that cannot be read means an
  // incomplete installation, not a success.
  {
    ScopedFileHandle archive(CreateFileW(GbkToWide(archivePath, 2048).c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!archive) {
      const DWORD error = GetLastError();
      InstallLog::Write((std::string(archivePath) + ",文件无法打开").c_str());
      LogFailureCause("无法打开文件", archivePath, error);
      return false;
    }
  }
  bool result = unpackQueue ? unpackQueue->Extract(archivePath, targetFolder) : ExtractPackage(archivePath, targetFolder);
  const int32_t percent = PackageUnpacked();
  if (result) PostInstallMessage(WM_INSTALL_PROGRESS, percent);
  return result;
}

bool IClient::UnpackReleasePackage(const ReleasePackage& package) {
  const std::string archive = PackageArchive(package, manifest);
  const std::string target = PackageTarget(package);
  // The extraction creates whatever is still missing; this only starts the path.
  if (_waccess(GbkToWide(target, 2048).c_str(), 0) != 0) CreatePathFolders(target.c_str());
  PostInstallMessage(WM_INSTALL_STEP, package.unpackStep);
  return UnpackPackage(archive.c_str(), target.c_str());
}

bool IClient::UnpackStockInfo() { return UnpackReleasePackage(Package(PackageId::kStock)); }
