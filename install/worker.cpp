#include "install/worker.h"

#include <windows.h>

#include <iterator>
#include <string>

#include "base/context.h"
#include "install/folder_swap.h"
#include "install/messages.h"
#include "install/packages.h"
#include "install/unpack_queue.h"
#include "system/install_log.h"
#include "system/session.h"
#include "system/shell_registration.h"
#include "base/text.h"
#include "system/url_protocol.h"

namespace {
constexpr DWORD kPauseMs = 100;

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
// Each downloaded package is unpacked while the next one downloads, as far as the
// unpacking order allows.
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
  // A package is downloaded: every package whose turn has come in the unpacking order is
  // handed to the queue, up to the first one still to be downloaded.
  void Downloaded(PackageId id) {
    downloaded_[static_cast<size_t>(id)] = true;
    for (; next_ < std::size(kUnpackOrder); ++next_) {
      const ReleasePackage& package = Package(kUnpackOrder[next_]);
      if (!PackageIsTaken(package, client_.manifest)) continue;
      if (!downloaded_[static_cast<size_t>(package.id)]) break;
      if (client_.unpackQueue) queue_.Add(PackageArchive(package, client_.manifest), PackageTarget(package));
    }
  }
  UnpackQueue& Queue() { return queue_; }

 private:
  IClient& client_;
  UnpackQueue queue_;
  bool downloaded_[std::size(kReleasePackages)] = {};
  size_t next_ = 0;
};

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
  ShellDeletePath((staging + "/summary.ini").c_str());
  // Every package's file, also of those the release does not have: absent is no error.
  for (const ReleasePackage& package : kReleasePackages) ShellDeletePath(PackageArchive(package, client.manifest).c_str());
}

unsigned __stdcall InstallWorker(void* argument) {
  IClient& client = *static_cast<IClient*>(argument);
  InstallerContext& context = InstallerContext::Instance();
  const std::string& staging = context.tempDir;
  const ReleaseManifest& manifest = client.manifest;
  UnpackingAhead ahead(client);
  UnpackQueue& queue = ahead.Queue();

  Sleep(kPauseMs);
  for (const ReleasePackage& package : kReleasePackages) {
    if (!PackageIsTaken(package, manifest)) {
      // The reserved front-end package is never selected; its line is kept for the record.
      if (package.taken == PackageTaken::kNever) InstallLog::Write(package.downloadLine);
      continue;
    }
    InstallLog::Write(package.downloadLine);
    if (!client.DownloadPackage(package)) return Fail(queue, package.downloadStep, package.downloadFailureLine);
    ahead.Downloaded(package.id);
  }

  client.BeginUnpacking();
  for (PackageId id : kUnpackOrder) {
    const ReleasePackage& package = Package(id);
    if (!PackageIsTaken(package, manifest)) {
      if (package.taken == PackageTaken::kNever) {
        InstallLog::Write(package.unpackLine);
        Sleep(kPauseMs);
      }
      continue;
    }
    InstallLog::Write(package.unpackLine);
    if (!client.UnpackReleasePackage(package)) return Fail(queue, package.unpackStep, package.unpackFailureLine);
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
  if (!swap.MoveOldAside()) return Fail(kStepFilesHeld, kSwapFailureLine);
  client.AddPercent(5);
  Sleep(kPauseMs);

  InstallLog::Write("复制新版本数据到原目录");
  if (!swap.PlaceStaged()) {
    // The old installation is back; the staging folder stays for the clean-up at exit.
    return Fail(kStepFilesHeld, kSwapFailureLine);
  }
  client.AddPercent(4);
  // Emptied by the moves, or still full after a copy to another volume.
  if (GetFileAttributesW(GbkToWide(staging, 2048).c_str()) != INVALID_FILE_ATTRIBUTES) ShellDeletePath(staging.c_str());

  RegisterUninstallEntry();
  RegisterUrlProtocol();
  CreateDesktopShortcut();
  // Nothing after this point is logged.
  InstallLog::Close();
  WriteTerminalSettings(context);

  client.AddPercent(1);
  PostInstallMessage(WM_INSTALL_DONE, 0);
  return 1;
}
