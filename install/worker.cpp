#include "install/worker.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/context.h"
#include "install/messages.h"
#include "system/install_log.h"
#include "system/scoped.h"
#include "system/session.h"
#include "system/shell_registration.h"
#include "system/text.h"
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
  kStepFilesInUse = 11,
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

void AddPercent(IClient& client, int points) {
  client.overallPercent = std::min(100, client.overallPercent + points);
  PostInstallMessage(WM_INSTALL_PROGRESS, client.overallPercent);
}

// The names of a folder's entries, "." and ".." aside.
std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

// Removes everything in the old installation folder but the log folder the running
// install writes to: deleting the folder as a whole stops at the open log file and
// would leave files of the old version behind.
void RemoveOldInstallation(const std::string& installDir, const std::string& logDir) {
  std::string keep;
  if (logDir.size() > installDir.size() + 1 && logDir.compare(0, installDir.size() + 1, installDir + "\\") == 0) {
    keep = logDir.substr(installDir.size() + 1);
  }
  const std::wstring folder = GbkToWide(installDir, 2048);
  const std::wstring keepWide = GbkToWide(keep, 1024);
  for (const std::wstring& name : FolderEntries(folder)) {
    if (!keepWide.empty() && lstrcmpiW(name.c_str(), keepWide.c_str()) == 0) continue;
    std::wstring list = folder + L"\\" + name;
    list.push_back(L'\0');
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = list.c_str();
    // No dialog may interrupt an unattended step; what stays is overwritten by the copy.
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationW(&operation);
  }
}

// Copies the staging tree onto the installation folder with the system's XCOPY; true
// only when the copy started and reported no error.
bool CopyStagingTree(const std::string& stagingDir, const std::string& installDir) {
  const std::string commandLine =
      FormatBounded(1024, "cmd.exe /c XCOPY \"%s\" \"%s\\\" /S /E /Y /C", stagingDir.c_str(), installDir.c_str());
  std::wstring wide = GbkToWide(commandLine, 2048);
  std::vector<wchar_t> mutableCommand(wide.begin(), wide.end());
  mutableCommand.push_back(L'\0');
  // A hidden copy has nobody to answer a question: it reads the null device.
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  ScopedFileHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                   OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  if (nul) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
  }
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, mutableCommand.data(), nullptr, nullptr, nul ? TRUE : FALSE, IDLE_PRIORITY_CLASS, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  ScopedHandle processHandle(process.hProcess);
  ScopedHandle threadHandle(process.hThread);
  WaitForSingleObject(processHandle.Get(), INFINITE);
  DWORD exitCode = 1;
  if (!GetExitCodeProcess(processHandle.Get(), &exitCode)) return false;
  return exitCode == 0;
}

// Moves each entry at the top of the staging folder into the installation folder; true
// when none is left behind. Entries on the same volume move without copying a byte.
bool MoveStagingEntries(const std::wstring& staging, const std::wstring& target) {
  const std::vector<std::wstring> names = FolderEntries(staging);
  // A staged release always holds its version record: nothing listed is a failure.
  bool allMoved = !names.empty();
  for (const std::wstring& name : names) {
    if (!MoveFileExW((staging + L"\\" + name).c_str(), (target + L"\\" + name).c_str(), 0)) allMoved = false;
  }
  return allMoved;
}

// Puts the staged release in place: a rename of the whole folder, else a move of its
// entries, else XCOPY of what is left. *stagingLeft tells whether the staging folder
// still exists and is to be removed.
bool MoveStagingIntoPlace(const std::string& stagingDir, const std::string& installDir, bool* stagingLeft) {
  *stagingLeft = false;
  const std::wstring staging = GbkToWide(stagingDir, 2048);
  const std::wstring target = GbkToWide(installDir, 2048);
  if (_wrename(staging.c_str(), target.c_str()) == 0) return true;
  *stagingLeft = true;
  // XCOPY asks whether the target is a file or a folder when no folder is there; make
  // sure one is, so that it never has a question to ask.
  DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    CreatePathFolders((installDir + "\\").c_str());
    attributes = GetFileAttributesW(target.c_str());
  }
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  // The open log keeps the installation folder in place, so the rename fails on every
  // run; moving the entries does the copy's work at once and leaves an empty folder to
  // remove instead of thousands of files.
  if (MoveStagingEntries(staging, target)) return true;
  // Another volume, or an entry already there: copy what could not be moved.
  return CopyStagingTree(stagingDir, installDir);
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

  Sleep(kPauseMs);
  // The front-end dependency package is never selected; its line is kept for the record.
  InstallLog::Write("下载前端依赖库");

  InstallLog::Write("下载服务依赖库");
  PostInstallMessage(WM_INSTALL_STEP, kStepDownloadBase);
  if (!client.DownloadObject((client.keyPrefix + "/base.zip").c_str(), (staging + "/base.zip").c_str())) {
    return Fail(kStepDownloadBase, "下载服务依赖库失败");
  }
  InstallLog::Write("下载配置文件");
  PostInstallMessage(WM_INSTALL_STEP, kStepDownloadConfig);
  if (!client.DownloadObject((client.keyPrefix + "/config.zip").c_str(), (staging + "/config.zip").c_str())) {
    return Fail(kStepDownloadConfig, "下载配置文件失败");
  }
  InstallLog::Write("下载运行库");
  if (!client.DownloadRuntime(FormatBounded(101, "%s.zip", manifest.fixVersion).c_str())) {
    return Fail(kStepDownloadRuntime, "下载运行库失败");
  }
  if (manifest.hasQuant) {
    InstallLog::Write("下载Quant");
    if (!client.DownloadQuant(FormatBounded(101, "%s.zip", manifest.quantName).c_str())) {
      return Fail(kStepDownloadQuant, "下载Quant 失败");
    }
  }
  if (manifest.hasStock) {
    InstallLog::Write("下载证券信息配置文件");
    if (!client.DownloadStockInfo()) return Fail(kStepDownloadStock, "下载证券信息配置文件失败");
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
      Fail(step, (std::string(line) + "失败").c_str());
      return false;
    }
    Sleep(kPauseMs);
    return true;
  };
  // Base, runtime, configuration, quant: later packages overwrite earlier ones.
  if (!unpackIntoStaging(kStepUnpackBase, "安装服务依赖库", staging + "/base.zip") ||
      !unpackIntoStaging(kStepUnpackRuntime, "安装运行库", staging + FormatBounded(101, "/%s.zip", manifest.fixVersion)) ||
      !unpackIntoStaging(kStepUnpackConfig, "安装配置文件", staging + "/config.zip") ||
      (manifest.hasQuant &&
       !unpackIntoStaging(kStepUnpackQuant, "安装Quant运行库", staging + FormatBounded(101, "/%s.zip", manifest.quantName)))) {
    return 0;
  }
  if (manifest.hasStock) {
    InstallLog::Write("安装证券信息配置文件");
    if (!client.UnpackStockInfo()) return Fail(kStepUnpackStock, "安装证券信息配置文件失败");
    Sleep(kPauseMs);
  }

  InstallLog::Write("清理安装文件");
  PostInstallMessage(WM_INSTALL_STEP, kStepCleanStaging);
  CleanStaging(client);
  Sleep(kPauseMs);

  InstallLog::Write("保存更新版本信息");
  PostInstallMessage(WM_INSTALL_STEP, kStepSaveVersion);
  SaveVersionRecord(manifest);

  InstallLog::Write("删除源文件");
  PostInstallMessage(WM_INSTALL_STEP, kStepRemoveOld);
  RemoveOldInstallation(context.installDir, context.logDir);
  AddPercent(client, 5);
  Sleep(kPauseMs);

  InstallLog::Write("复制新版本数据到原目录");
  bool stagingLeft = false;
  if (!MoveStagingIntoPlace(staging, context.installDir, &stagingLeft)) {
    // The tree in place may be incomplete: say so instead of reporting success. The
    // staging folder stays for the exit clean-up; running the installer again repairs it.
    return Fail(kStepFilesInUse, "安装失败：文件被占用");
  }
  AddPercent(client, 4);
  if (stagingLeft) ShellDeletePath(staging.c_str());

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
