#include "system/shell_registration.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/context.h"
#include "system/failure_log.h"
#include "system/install_log.h"
#include "system/registry.h"
#include "base/scoped.h"
#include "system/session.h"
#include "base/text.h"

namespace {

constexpr size_t kWideUnits = 1024;
constexpr size_t kNarrowBytes = 1024;
constexpr size_t kLogLineBytes = 101;

const char kUninstallKey64[] = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string DisplayName() { return InstallerContext::Instance().distributorName + "v9.5"; }

std::string ShortcutPath(long* desktopFailure = nullptr) {
  std::string path;
  AppendCommonDesktopPath(path, desktopFailure);
  return path + "\\" + DisplayName() + ".lnk";
}

// The entry belongs to the 32-bit view on 64-bit Windows, where uninstallers of 32-bit
// programs are listed.
const char* UninstallParentKey() {
  using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  auto getNativeSystemInfo = reinterpret_cast<GetNativeSystemInfoFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "GetNativeSystemInfo")));
  if (getNativeSystemInfo == nullptr) return kUninstallKey;
  SYSTEM_INFO info = {};
  getNativeSystemInfo(&info);
  if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
      info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64) {
    return kUninstallKey64;
  }
  return kUninstallKey;
}

// Paths are composed as GBK in a 1024-byte buffer, then converted.
std::wstring PathValue(const std::string& gbk) { return GbkToWide(CutGbk(gbk, kNarrowBytes - 1), kWideUnits); }

void LogResult(const char* operation, HRESULT result) {
  InstallLog::Write(FormatBounded(kLogLineBytes, "%s : %d", operation, static_cast<int>(result)).c_str());
}

bool FileReadable(const std::wstring& path) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return false;
  fclose(file);
  return true;
}

void SaveShellLink(const std::wstring& shortcut, const std::wstring& target, const std::wstring& folder,
                   const std::wstring& icon) {
  ScopedComPtr<IShellLinkW> link;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid());
  LogResult("CoCreateInstance", result);
  if (FAILED(result)) return;

  LogResult("IShellLink::SetPath", link->SetPath(target.c_str()));
  LogResult("IShellLink::SetWorkingDirectory", link->SetWorkingDirectory(folder.c_str()));
  if (FileReadable(icon)) link->SetIconLocation(icon.c_str(), 0);

  ScopedComPtr<IPersistFile> file;
  result = link->QueryInterface(IID_IPersistFile, file.ReceiveVoid());
  LogResult("IShellLink::QueryInterface", result);
  if (SUCCEEDED(result)) LogResult("IPersistFile::Save", file->Save(shortcut.c_str(), FALSE));
}

}  // namespace

void AppendCommonDesktopPath(std::string& path, long* failure) {
  path += SpecialFolderPath(CSIDL_COMMON_DESKTOPDIRECTORY, failure);
}

int RegisterUninstallEntry() {
  const InstallerContext& context = InstallerContext::Instance();
  const std::string parentPath = std::string("HKEY_LOCAL_MACHINE\\") + UninstallParentKey();
  ScopedRegKey parent;
  LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallParentKey(), 0, KEY_SET_VALUE, parent.Receive());
  if (status != ERROR_SUCCESS) {
    LogFailureCause("无法打开注册表项", parentPath, status);
    return -1;
  }
  ScopedRegKey entry;
  const std::string subkey = "Morvantis_" + context.packageCode + "v9.5";
  status = RegCreateKeyA(parent.Get(), subkey.c_str(), entry.Receive());
  if (status != ERROR_SUCCESS) {
    LogFailureCause("无法创建注册表项", parentPath + subkey, status);
    return -1;
  }

  const struct {
    const wchar_t* name;
    std::wstring data;
  } values[] = {
      {L"DisplayName", GbkToWide(DisplayName(), kWideUnits)},
      // Quoted: unquoted, a blank in the folder lets Windows start a program at the blank.
      {L"UninstallString", L"\"" + PathValue(context.installDir + "\\uninstall.exe") + L"\""},
      {L"DisplayIcon", PathValue(context.installDir + "\\" + kTerminalExeName)},
      {L"DisplayVersion", PathValue(context.version)},
      {L"Publisher", L"Harkel Information"},
      {L"Shortcut", GbkToWide(ShortcutPath(), kWideUnits)},
  };
  for (const auto& value : values) {
    status = SetRegistryText(entry.Get(), value.name, value.data);
    if (status != ERROR_SUCCESS) {
      LogFailureCause("无法写入注册表值", parentPath + subkey + "\\" + WideToGbk(value.name, kNarrowBytes), status);
      return -1;
    }
  }
  return 0;
}

bool CreateDesktopShortcut() {
  const InstallerContext& context = InstallerContext::Instance();
  long desktopFailure = S_OK;
  const std::string shortcutPath = ShortcutPath(&desktopFailure);
  const std::wstring shortcut = GbkToWide(shortcutPath, kWideUnits);
  if (shortcut.empty()) return false;
  InstallLog::Write(shortcutPath.c_str());
  // Without the all-users desktop the link is saved below the drive's root, if at all.
  if (FAILED(desktopFailure)) LogFailureCause("无法取得所有用户的桌面文件夹", shortcutPath, desktopFailure);

  const std::string terminalPath = context.installDir + "\\" + kTerminalExeName;
  const std::wstring target = GbkToWide(terminalPath, kWideUnits);
  const std::wstring folder = GbkToWide(context.installDir, kWideUnits);
  if (target.empty() || folder.empty()) return false;
  InstallLog::Write(terminalPath.c_str());
  InstallLog::Write(context.installDir.c_str());

  HRESULT initialized = CoInitialize(nullptr);
  LogResult("CoInitialize", initialized);
  if (FAILED(initialized)) return true;

  const std::string iconPath = context.installDir + "\\Server\\config\\shortcut\\shortcut" + context.packageCode + ".ico";
  SaveShellLink(shortcut, target, folder, GbkToWide(iconPath, kWideUnits));
  CoUninitialize();
  return true;
}
