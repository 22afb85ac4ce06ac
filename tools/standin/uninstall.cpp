// Stand-in uninstaller that the sample release carries as "uninstall.exe". It removes
// what the installer registered for the installation it lies in:
//   the uninstall entry "Morvantis_<code>v9.5" (both registry parents),
//   the URL protocol key "MOrvantis<code>" under HKEY_CLASSES_ROOT,
//   the desktop shortcut named by the entry's "Shortcut" value,
//   and its own folder, the installation folder.
// Usage: uninstall.exe [<six-digit package code>]; without an argument the code is
// "package" of config\morvantis.Default.pub. No window, no questions: the exit code
// tells the result (kExit* below).
//
// A running program cannot delete its own file on Windows, so the folder goes in two
// stages: everything but this program now, then a copy of this program in %TEMP%
// (started with --finish) waits for this process to end and removes the rest.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "module_path.h"
#include <vector>

namespace {

constexpr int kExitDone = 0;
constexpr int kExitBadPackageCode = 2;     // missing or not six digits: nothing touched
constexpr int kExitNotInstallation = 3;    // no terminal next to us: nothing touched
constexpr int kExitFolderLeft = 4;         // registrations removed, some files could not be
constexpr int kExitBadArguments = 5;

constexpr wchar_t kTerminalName[] = L"morvantis v9.5.exe";
constexpr const wchar_t* kUninstallParents[] = {
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
};

bool IsFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsPackageCode(const std::wstring& text) {
  if (text.size() != 6) return false;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

bool EndsWithNoCase(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && _wcsicmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

// The desktop shortcut recorded in an uninstall entry; only a ".lnk" file is ever deleted.
std::wstring RecordedShortcut(const std::wstring& entryKey) {
  wchar_t value[4096] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, entryKey.c_str(), L"Shortcut", RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return std::wstring();
  std::wstring path = value;
  return EndsWithNoCase(path, L".lnk") ? path : std::wstring();
}

// Deletes a file or a whole folder tree; read-only files included. True when it is gone.
bool DeleteTree(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
  }
  bool all = true;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") all = DeleteTree(path + L"\\" + name) && all;
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  return RemoveDirectoryW(path.c_str()) && all;
}

// Every entry of the folder except the named file.
bool DeleteFolderContentExcept(const std::wstring& folder, const std::wstring& keepName) {
  bool all = true;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L".." || _wcsicmp(name.c_str(), keepName.c_str()) == 0) continue;
    all = DeleteTree(folder + L"\\" + name) && all;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return all;
}

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

// Hands the last step to a copy of this program outside the folder.
bool StartFinisher(const std::wstring& modulePath, const std::wstring& folder) {
  wchar_t temp[MAX_PATH + 1] = {};
  if (!GetTempPathW(MAX_PATH + 1, temp)) return false;
  // Copies from earlier uninstalls wait for a restart to go; remove those that can go now.
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((std::wstring(temp) + L"morvantis-uninstall-*.exe").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileW((std::wstring(temp) + data.cFileName).c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  std::wstring copy = std::wstring(temp) + L"morvantis-uninstall-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
  if (!CopyFileW(modulePath.c_str(), copy.c_str(), FALSE)) return false;
  std::wstring command = Quote(copy) + L" --finish " + std::to_wstring(GetCurrentProcessId()) + L" " + Quote(folder);
  std::vector<wchar_t> commandLine(command.begin(), command.end());
  commandLine.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, temp, &startup, &process)) {
    DeleteFileW(copy.c_str());
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// --finish <pid> <folder>: waits for the uninstaller to end, then removes what it left:
// its uninstall.exe and the folder once empty. Nothing else is deleted here, so a wrong
// folder on this command line cannot cost anything but one uninstall.exe.
int Finish(DWORD parentId, const std::wstring& folder) {
  std::wstring leftOver = folder + L"\\uninstall.exe";
  if (folder.empty() || !IsFile(leftOver)) return kExitBadArguments;
  if (HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, parentId)) {
    WaitForSingleObject(parent, 60000);
    CloseHandle(parent);
  }
  // The file may stay locked for a moment after its process ended (virus scanners too).
  for (int attempt = 0; attempt < 40; ++attempt) {
    SetFileAttributesW(leftOver.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(leftOver.c_str());
    if (!IsFile(leftOver)) break;
    Sleep(250);
  }
  bool removed = RemoveDirectoryW(folder.c_str()) || GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
  MoveFileExW(ModulePath().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return removed ? kExitDone : kExitFolderLeft;
}

int Uninstall(const std::wstring& packageCodeArgument) {
  std::wstring modulePath = ModulePath();
  std::wstring folder = FolderOf(modulePath);
  std::wstring packageCode = packageCodeArgument;
  if (packageCode.empty()) {
    wchar_t value[64] = {};
    GetPrivateProfileStringW(L"morvantis", L"package", L"", value, 64,
                             (folder + L"\\config\\morvantis.Default.pub").c_str());
    packageCode = value;
  }
  if (!IsPackageCode(packageCode)) return kExitBadPackageCode;
  // Only ever remove a folder that is an installation of the terminal.
  if (folder.empty() || !IsFile(folder + L"\\" + kTerminalName)) return kExitNotInstallation;

  std::vector<std::wstring> shortcuts;
  for (const wchar_t* parent : kUninstallParents) {
    std::wstring entryKey = std::wstring(parent) + L"Morvantis_" + packageCode + L"v9.5";
    std::wstring shortcut = RecordedShortcut(entryKey);
    if (!shortcut.empty()) shortcuts.push_back(shortcut);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, entryKey.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, entryKey.c_str());
  }
  std::wstring protocolKey = L"MOrvantis" + packageCode;
  RegDeleteTreeW(HKEY_CLASSES_ROOT, protocolKey.c_str());
  RegDeleteKeyW(HKEY_CLASSES_ROOT, protocolKey.c_str());
  for (const std::wstring& shortcut : shortcuts) DeleteFileW(shortcut.c_str());

  bool contentGone = DeleteFolderContentExcept(folder, L"uninstall.exe");
  if (!StartFinisher(modulePath, folder)) return kExitFolderLeft;
  return contentGone ? kExitDone : kExitFolderLeft;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments) return kExitBadArguments;
  std::vector<std::wstring> args(arguments + 1, arguments + count);
  LocalFree(arguments);

  if (!args.empty() && args[0] == L"--finish") {
    if (args.size() != 3) return kExitBadArguments;
    wchar_t* end = nullptr;
    unsigned long parentId = wcstoul(args[1].c_str(), &end, 10);
    if (!end || *end) return kExitBadArguments;
    return Finish(static_cast<DWORD>(parentId), args[2]);
  }
  if (args.size() > 1) return kExitBadArguments;
  return Uninstall(args.empty() ? std::wstring() : args[0]);
}
