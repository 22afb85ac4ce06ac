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
#include "system/free_space.h"
#include "system/install_log.h"
#include "system/session.h"
#include "base/text.h"
#include "unzip/tunzip.h"

namespace {
constexpr char kStockPackage[] = "CspAccessApi.StockInfo.pub.zip";
// The failure line's buffer; what does not fit is cut.
constexpr size_t kFailureLineBytes = 2046;
// A manifest is a few lines; a larger one is refused before it is written.
constexpr int64_t kMaxManifestBytes = 1024 * 1024;

// The logic side speaks GBK; the store's keys and texts are UTF-8.
std::string GbkToUtf8(const std::string& text) { return WideToGbk(GbkToWide(text, 4096), 8192, CP_UTF8); }
std::string Utf8ToGbk(const std::string& text) { return WideToGbk(GbkToWide(text, 4096, CP_UTF8), 8192); }

std::string StagingFile(const char* fileName) { return InstallerContext::Instance().tempDir + "/" + fileName; }

// A plan of zero transfers cannot happen in a run; it must not divide by zero either.
int32_t SafePlan(int32_t planned) { return planned > 0 ? planned : 1; }

// The signed list and its signature are small; a store that sends more is not believed.
constexpr size_t kMaxReleaseListBytes = 4 * 1024 * 1024;
constexpr size_t kMaxSignatureBytes = 1024;

int32_t ClampPercent(double value) {
  if (!(value > 0.0)) return 0;  // also NaN
  if (value >= 100.0) return 100;
  return static_cast<int32_t>(value);
}
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
  plannedTransfers = 4;
  transfersDone = 0;
  unpackShare = 0.0;
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
  if (manifest.hasQuant) ++plannedTransfers;
  if (manifest.hasStock) ++plannedTransfers;
  return true;
}

bool IClient::DownloadObject(const char* key, const char* localPath, int64_t maxBytes) {
  const std::string storeKey = GbkToUtf8(key);
  if (!AdmitObject(storeKey)) return false;
  const oss::HeadObjectOutcome meta =
      client ? client->GetObjectMeta(bucket, storeKey) : oss::HeadObjectOutcome(oss::OssError("NotConnected", ""));
  if (!meta.isSuccess()) {
    InstallLog::Write((std::string(key) + ",文件不存在").c_str());
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
  ++transfersDone;
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
  return false;
}

bool IClient::DownloadRuntime(const char* fileName) {
  std::string key = keyPrefix + "/fix/" + fileName;
  std::string localPath = StagingFile(fileName);
  PostInstallMessage(WM_INSTALL_STEP, 4);
  return DownloadObject(key.c_str(), localPath.c_str());
}

bool IClient::DownloadQuant(const char* fileName) {
  std::string key = keyPrefix + "/quant/" + fileName;
  std::string localPath = StagingFile(fileName);
  PostInstallMessage(WM_INSTALL_STEP, 5);
  return DownloadObject(key.c_str(), localPath.c_str());
}

bool IClient::DownloadStockInfo() {
  std::string key = keyPrefix + "/" + kStockPackage;
  if (!AdmitObject(GbkToUtf8(key))) return false;  // not even its metadata is asked for
  oss::HeadObjectOutcome head =
      client ? client->HeadObject(bucket, GbkToUtf8(key)) : oss::HeadObjectOutcome(oss::OssError("NotConnected", ""));
  if (head.isSuccess()) {
    // The whole tag, multipart ones included, up to the record's 64 characters.
    std::string tag = head.result().ETag().substr(0, sizeof(manifest.stockETag) - 1);
    memcpy(manifest.stockETag, tag.c_str(), tag.size() + 1);
  } else {
    InstallLog::Write("ETag获取失败");
  }
  std::string localPath = StagingFile(kStockPackage);
  PostInstallMessage(WM_INSTALL_STEP, 15);
  return DownloadObject(key.c_str(), localPath.c_str());
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
    return false;
  }
  *body = stream->str();
  return true;
}

void IClient::LogReleaseProblem(const std::string& problem) {
  // The problem may quote the store's own error text: kept to one line.
  InstallLog::Write(CutGbk(OneLine(Utf8ToGbk("Release check failed: " + problem)), kFailureLineBytes - 1).c_str());
}

void IClient::OnTransferProgress(size_t /*increment*/, int64_t transferred, int64_t total, void* userData) {
  IClient* self = static_cast<IClient*>(userData);
  if (self == nullptr) return;
  // An empty object (total 0) is a finished slice; an unknown total shows no progress yet.
  double fraction = total > 0 ? static_cast<double>(transferred) / static_cast<double>(total) : (total == 0 ? 1.0 : 0.0);
  if (fraction > 1.0) fraction = 1.0;
  if (fraction < 0.0) fraction = 0.0;
  double value = (fraction + self->transfersDone) * (0.8 / SafePlan(self->plannedTransfers)) * 100;
  self->overallPercent = ClampPercent(value);
  PostInstallMessage(WM_INSTALL_PROGRESS, self->overallPercent);
}

bool IClient::UnpackPackage(const char* archivePath, const char* targetFolder) {
  // The package was downloaded in this same run: one that cannot be read means an
  // incomplete installation, not a success.
  FILE* archive = _wfopen(GbkToWide(archivePath, 2048).c_str(), L"rb");
  if (archive == nullptr) {
    InstallLog::Write((std::string(archivePath) + ",文件无法打开").c_str());
    return false;
  }
  fclose(archive);
  bool result = unpackQueue ? unpackQueue->Extract(archivePath, targetFolder) : ExtractPackage(archivePath, targetFolder);
  unpackShare += 10.0 / SafePlan(plannedTransfers);
  overallPercent = ClampPercent(unpackShare + 80.0);
  if (result) PostInstallMessage(WM_INSTALL_PROGRESS, overallPercent);
  return result;
}

std::string IClient::StockInfoArchive() { return StagingFile(kStockPackage); }

std::string IClient::StockInfoTarget() { return StagingFile("Server/config/BaseData"); }

bool IClient::UnpackStockInfo() {
  std::string archive = StockInfoArchive();
  std::string target = StockInfoTarget();
  // The extraction creates whatever is still missing; this only starts the path.
  if (_waccess(GbkToWide(target, 2048).c_str(), 0) != 0) CreatePathFolders(target.c_str());
  PostInstallMessage(WM_INSTALL_STEP, 16);
  return UnpackPackage(archive.c_str(), target.c_str());
}
