#include "install/worker.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/context.h"
#include "install/folder_swap.h"
#include "install/messages.h"
#include "install/unpack_queue.h"
#include "system/install_log.h"
#include "system/session.h"
#include "system/shell_registration.h"
#include "base/text.h"
#include "system/url_protocol.h"

namespace {
constexpr DWORD kPauseMs = 100;

// Step indices, also rows of the step-name table the window shows.
enum Step : int {
  kStepDownloadBase = 2,
  kStepDownloadConfig = 3,
  kStepDownloadRuntime = 4,
  kStepDownloadQuant = 5,
  kStepUnpackBase = 7,
  kStepUnpackConfig = 8,
  kStepUnpackRuntime = 9,
  kStepUnpackQuant = 10,
  kStepCleanStaging = 12,
  kStepSaveVersion = 13,
  kStepRemoveOld = 14,
  kStepDownloadStock = 15,
  kStepUnpackStock = 16,
};

// Writes the step's failure line, then tells the window. The line must come first: the
// window closes the log when the message arrives.
unsigned Fail(int step, const char* failureLine) {
  InstallLog::Write(failureLine);
  PostInstallMessage(WM_INSTALL_FAILED, step);
  return 0;
}

// A failure before the unpacking steps: nothing more is unpacked ahead, and what is being
// unpacked ends before the window hears of the failure.
unsigned Fail(UnpackQueue& ahead, int step, const char* failureLine) {
  ahead.Stop();
  return Fail(step, failureLine);
}

// The worker's queue, known to the client for the unpacking steps while the run lasts.
class UnpackingAhead {
 public:
  explicit UnpackingAhead(IClient& client) : client_(client) {
    if (client.unpackAhead) client.unpackQueue = &queue_;
  }
  ~UnpackingAhead() {
    queue_.Stop();
    client_.unpackQueue = nullptr;
  }
  UnpackingAhead(const UnpackingAhead&) = delete;
  UnpackingAhead& operator=(const UnpackingAhead&) = delete;
  // A downloaded package, in the order of the unpacking steps.
  void Add(const std::string& archive, const std::string& target) {
    if (client_.unpackQueue) queue_.Add(archive, target);
  }
  UnpackQueue& Queue() { return queue_; }

 private:
  IClient& client_;
  UnpackQueue queue_;
};

void AddPercent(IClient& client, int points) {
  client.overallPercent = std::min(100, client.overallPercent + points);
  PostInstallMessage(WM_INSTALL_PROGRESS, client.overallPercent);
}

void WriteTerminalSettings(const InstallerContext& context) {
  const std::string pubPath = context.installDir + "\\config\\morvantis.Default.pub";
  const std::string priPath = context.installDir + "\\config\\morvantis.Default.pri";
  WriteProfileStringGbk("morvantis", "package", context.packageCode.c_str(), pubPath);
  const std::string language = FormatBounded(260, "%d", context.languageId);
  WriteProfileStringGbk("morvantis", "language", language.c_str(), priPath);
}
}  // namespace

void CleanStaging(IClient& client) {
  const std::string& staging = InstallerContext::Instance().tempDir;
  const std::string paths[] = {
      staging + "/summary.ini",
      staging + "/depend.zip",
      staging + "/base.zip",
      staging + "/config.zip",
      staging + "/" + client.manifest.fixVersion + ".zip",
      staging + "/" + client.manifest.quantName + ".zip",
      staging + "/CspAccessApi.StockInfo.pub.zip",
  };
  for (const std::string& path : paths) ShellDeletePath(path.c_str());
}

unsigned __stdcall InstallWorker(void* argument) {
  IClient& client = *static_cast<IClient*>(argument);
  InstallerContext& context = InstallerContext::Instance();
  const std::string& staging = context.tempDir;
  const ReleaseManifest& manifest = client.manifest;
  const std::string baseArchive = staging + "/base.zip";
  const std::string configArchive = staging + "/config.zip";
  const std::string runtimeArchive = staging + FormatBounded(101, "/%s.zip", manifest.fixVersion);
  const std::string quantArchive = staging + FormatBounded(101, "/%s.zip", manifest.quantName);
  // Each package is unpacked while the next one downloads, as far as the unpacking order
  // (base, runtime, configuration, quant, securities information) allows.
  UnpackingAhead ahead(client);
  UnpackQueue& queue = ahead.Queue();

  Sleep(kPauseMs);
  // The front-end dependency package is never selected; its line is kept for the record.
  InstallLog::Write("下载前端依赖库");

  InstallLog::Write("下载服务依赖库");
  PostInstallMessage(WM_INSTALL_STEP, kStepDownloadBase);
  if (!client.DownloadObject((client.keyPrefix + "/base.zip").c_str(), baseArchive.c_str())) {
    return Fail(queue, kStepDownloadBase, "下载服务依赖库失败");
  }
  ahead.Add(baseArchive, staging);
  InstallLog::Write("下载配置文件");
  PostInstallMessage(WM_INSTALL_STEP, kStepDownloadConfig);
  if (!client.DownloadObject((client.keyPrefix + "/config.zip").c_str(), configArchive.c_str())) {
    return Fail(queue, kStepDownloadConfig, "下载配置文件失败");
  }
  InstallLog::Write("下载运行库");
  if (!client.DownloadRuntime(FormatBounded(101, "%s.zip", manifest.fixVersion).c_str())) {
    return Fail(queue, kStepDownloadRuntime, "下载运行库失败");
  }
  ahead.Add(runtimeArchive, staging);
  ahead.Add(configArchive, staging);
  if (manifest.hasQuant) {
    InstallLog::Write("下载Quant");
    if (!client.DownloadQuant(FormatBounded(101, "%s.zip", manifest.quantName).c_str())) {
      return Fail(queue, kStepDownloadQuant, "下载Quant 失败");
    }
    ahead.Add(quantArchive, staging);
  }
  if (manifest.hasStock) {
    InstallLog::Write("下载证券信息配置文件");
    if (!client.DownloadStockInfo()) return Fail(queue, kStepDownloadStock, "下载证券信息配置文件失败");
    ahead.Add(client.StockInfoArchive(), client.StockInfoTarget());
  }

  // From here on the count is of packages to unpack, the manifest excluded.
  client.plannedTransfers -= 1;
  InstallLog::Write("安装前端依赖库");
  Sleep(kPauseMs);

  // An unpacking step of the worker's own: its line, its step, the package into the
  // staging folder, a pause; the failure line is the start line followed by "失败".
  auto unpackIntoStaging = [&](int step, const char* line, const std::string& archive) {
    InstallLog::Write(line);
    PostInstallMessage(WM_INSTALL_STEP, step);
    if (!client.UnpackPackage(archive.c_str(), staging.c_str())) {
      Fail(queue, step, (std::string(line) + "失败").c_str());
      return false;
    }
    Sleep(kPauseMs);
    return true;
  };
  // Base, runtime, configuration, quant: later packages overwrite earlier ones.
  if (!unpackIntoStaging(kStepUnpackBase, "安装服务依赖库", baseArchive) ||
      !unpackIntoStaging(kStepUnpackRuntime, "安装运行库", runtimeArchive) ||
      !unpackIntoStaging(kStepUnpackConfig, "安装配置文件", configArchive) ||
      (manifest.hasQuant && !unpackIntoStaging(kStepUnpackQuant, "安装Quant运行库", quantArchive))) {
    return 0;
  }
  if (manifest.hasStock) {
    InstallLog::Write("安装证券信息配置文件");
    if (!client.UnpackStockInfo()) return Fail(queue, kStepUnpackStock, "安装证券信息配置文件失败");
    Sleep(kPauseMs);
  }

  queue.Stop();  // all collected; the thread ends before the archives go
  InstallLog::Write("清理安装文件");
  PostInstallMessage(WM_INSTALL_STEP, kStepCleanStaging);
  CleanStaging(client);
  Sleep(kPauseMs);

  InstallLog::Write("保存更新版本信息");
  PostInstallMessage(WM_INSTALL_STEP, kStepSaveVersion);
  SaveVersionRecord(manifest);

  InstallLog::Write("删除源文件");
  PostInstallMessage(WM_INSTALL_STEP, kStepRemoveOld);
  // The old installation only moves aside here; it is removed once the new one is in
  // place and checked, and comes back on any failure before that.
  FolderSwap swap(CurrentSwapFolders());
  if (!swap.MoveOldAside()) return Fail(kSwapFailureStep, kSwapFailureLine);
  AddPercent(client, 5);
  Sleep(kPauseMs);

  InstallLog::Write("复制新版本数据到原目录");
  if (!swap.PlaceStaged()) {
    // The old installation is back; the staging folder stays for the clean-up at exit.
    return Fail(kSwapFailureStep, kSwapFailureLine);
  }
  AddPercent(client, 4);
  // Emptied by the moves, or still full after a copy to another volume.
  if (GetFileAttributesW(GbkToWide(staging, 2048).c_str()) != INVALID_FILE_ATTRIBUTES) ShellDeletePath(staging.c_str());

  RegisterUninstallEntry();
  RegisterUrlProtocol();
  CreateDesktopShortcut();
  // Nothing after this point is logged.
  InstallLog::Close();
  WriteTerminalSettings(context);

  AddPercent(client, 1);
  PostInstallMessage(WM_INSTALL_DONE, 0);
  return 1;
}
