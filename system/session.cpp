#include "system/session.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <wtsapi32.h>
#include <userenv.h>

#include <algorithm>
#include <vector>

#include "base/context.h"
#include "base/folders.h"
#include "system/failure_log.h"
#include "system/message_box.h"
#include "base/scoped.h"
#include "base/text.h"

namespace {
// The "" of SpecialFolderPath, with the shell's reason for it.
std::string NoFolder(HRESULT result, long* failure) {
  if (failure != nullptr) *failure = FAILED(result) ? result : E_FAIL;
  return std::string();
}
}  // namespace

std::string SpecialFolderPath(int folderId, long* failure) {
  ScopedComPtr<IMalloc> allocator;
  HRESULT result = SHGetMalloc(allocator.Receive());
  if (FAILED(result) || !allocator) return NoFolder(result, failure);
  LPITEMIDLIST items = nullptr;
  result = SHGetSpecialFolderLocation(nullptr, folderId, &items);
  if (FAILED(result) || items == nullptr) return NoFolder(result, failure);
  // Read wide and kept as GBK: the 8-bit call answers in the system's code page.
  std::vector<wchar_t> buffer(32768, L'\0');
  const bool named = SHGetPathFromIDListW(items, buffer.data()) != FALSE;
  allocator->Free(items);
  return named ? WideToGbk(buffer.data(), 65536) : NoFolder(E_FAIL, failure);
}

std::string RunningAccountLocalAppDataPath(long* failure) { return SpecialFolderPath(CSIDL_LOCAL_APPDATA, failure); }

std::string ConsoleSessionUserName() {
  // Names are read wide and kept as GBK, so the system's code page never changes them.
  LPWSTR name = nullptr;
  DWORD bytes = 0;
  std::string result;
  if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTSGetActiveConsoleSessionId(), WTSUserName, &name, &bytes)) {
    if (name != nullptr) result = WideToGbk(name, 520);
  }
  if (name != nullptr) WTSFreeMemory(name);
  return result;
}

std::string ShellProcessUserName() {
  HWND shell = GetShellWindow();
  if (shell == nullptr) return std::string();
  DWORD processId = 0;
  GetWindowThreadProcessId(shell, &processId);
  if (processId == 0) return std::string();
  ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
  if (!process) return std::string();
  ScopedHandle token;
  if (!OpenProcessToken(process.Get(), TOKEN_QUERY, token.Receive())) return std::string();
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return std::string();
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return std::string();
  wchar_t name[260] = {};
  wchar_t domain[260] = {};
  DWORD nameSize = ARRAYSIZE(name);
  DWORD domainSize = ARRAYSIZE(domain);
  SID_NAME_USE use;
  auto* user = reinterpret_cast<TOKEN_USER*>(buffer.data());
  if (!LookupAccountSidW(nullptr, user->User.Sid, name, &nameSize, domain, &domainSize, &use)) return std::string();
  return WideToGbk(name, 520);
}

std::string SpliceUserName(const std::string& path, const std::string& userName) {
  // An empty name would leave a broken profile path: keep the running account's.
  if (userName.empty()) return path;
  // Profile folders such as 誠一 hold the byte of a backslash inside a character.
  size_t first = FindGbkSeparator(path);
  if (first == std::string::npos) return path;
  size_t second = FindGbkSeparator(path, first + 1);
  if (second == std::string::npos) return path;
  size_t third = FindGbkSeparator(path, second + 1);
  if (third == std::string::npos) return path;
  return path.substr(0, second + 1) + userName + path.substr(third);
}

void AppendInteractiveUserAppDataPath(std::string& path) {
  long failure = S_OK;
  const std::string own = RunningAccountLocalAppDataPath(&failure);
  // Every folder of the installation is derived from it.
  if (own.empty()) LogFailureCause("无法取得本地应用数据文件夹", std::string("CSIDL_LOCAL_APPDATA"), failure);
  path += own;
  std::string name = ConsoleSessionUserName();
  if (name.empty()) name = ShellProcessUserName();
  path = SpliceUserName(path, name);
}

namespace {
// The GBK prefix of path through its count-th backslash: the same folder as a wide prefix
// with that many backslashes, since a 0x5C byte inside a character is no backslash in either.
std::string PrefixThroughSeparator(const std::string& path, size_t count) {
  size_t at = FindGbkSeparator(path);
  for (size_t seen = 1; seen < count && at != std::string::npos; ++seen) at = FindGbkSeparator(path, at + 1);
  return at == std::string::npos ? path : path.substr(0, at + 1);
}
}  // namespace

bool CreatePathFolders(const char* path) {
  if (path == nullptr) return true;
  const std::string full(path);
  // Each prefix lives in a 260-byte buffer: the folders are made as far as the prefixes
  // fit, and the first one that does not counts as a folder that cannot be created.
  size_t fitting = 0;
  size_t tooLong = 0;
  for (size_t i = FindGbkSeparator(full); i != std::string::npos; i = FindGbkSeparator(full, i + 1)) {
    if (i + 1 >= 260) {
      tooLong = i + 1;
      break;
    }
    fitting = i + 1;
  }
  FolderFailure failure;
  std::string prefix;
  if (!CreateFolders(GbkToWide(full.substr(0, fitting), 2048), 0, &failure)) {
    prefix = PrefixThroughSeparator(full, std::count(failure.folder.begin(), failure.folder.end(), L'\\'));
  } else if (tooLong > 0) {
    prefix = full.substr(0, tooLong);
    failure.code = ERROR_FILENAME_EXCED_RANGE;
  } else {
    return true;
  }
  LogFailureCause("创建文件夹失败", prefix, failure.code);
  ShowMessageBoxA(nullptr, prefix.c_str(), "提示", MB_OK);
  return false;
}

bool ShellDeletePath(const char* path) {
  if (path == nullptr) return false;
  std::wstring list = GbkToWide(path, 32768);
  list.push_back(L'\0');  // the list ends with two NULs
  SHFILEOPSTRUCTW operation = {};
  operation.hwnd = nullptr;
  operation.wFunc = FO_DELETE;
  operation.pFrom = list.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
  if (BoxesAnsweredUnattended()) operation.fFlags |= FOF_NOERRORUI;
  const int result = SHFileOperationW(&operation);
  if (result == 0) return true;
  // Only what is left behind is worth a line: a path that was never there is not.
  const DWORD left = GetFileAttributesW(list.c_str());
  const DWORD error = left == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    LogFailureCause("删除失败", std::string(path), static_cast<unsigned long>(result));
  }
  return false;
}

namespace {
// Closes the handles CreateProcess returned; the process runs on.
void CloseProcessHandles(const PROCESS_INFORMATION& info) {
  ScopedHandle thread(info.hThread);
  ScopedHandle process(info.hProcess);
}

// Frees what CreateEnvironmentBlock and InitializeProcThreadAttributeList made.
struct EnvironmentBlock {
  void* block = nullptr;
  ~EnvironmentBlock() {
    if (block != nullptr) DestroyEnvironmentBlock(block);
  }
};
struct ParentAttribute {
  std::vector<unsigned char> buffer;
  bool initialized = false;
  LPPROC_THREAD_ATTRIBUTE_LIST List() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer.data()); }
  ~ParentAttribute() {
    if (initialized) DeleteProcThreadAttributeList(List());
  }
};

// Starts the command as a child of the console session's shell process: it inherits the
// shell's unelevated token and account, not the installer's, and gets the environment of
// that account. False when no shell window or process can be had; *started then stays.
// A failed start leaves its error in *error, read before the clean-up here can change it.
bool StartUnderShell(wchar_t* command, const std::wstring& folder, const STARTUPINFOW& base, BOOL* started,
                     DWORD* error) {
  HWND shell = GetShellWindow();
  if (shell == nullptr) return false;
  DWORD processId = 0;
  GetWindowThreadProcessId(shell, &processId);
  if (processId == 0) return false;
  ScopedHandle process(OpenProcess(PROCESS_CREATE_PROCESS | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return false;

  ParentAttribute attribute;
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  attribute.buffer.resize(size);
  if (size == 0 || !InitializeProcThreadAttributeList(attribute.List(), 1, 0, &size)) return false;
  attribute.initialized = true;
  HANDLE parent = process.Get();
  if (!UpdateProcThreadAttribute(attribute.List(), 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent, sizeof(parent),
                                 nullptr, nullptr)) {
    return false;
  }

  // The shell's user's own environment, not the elevated account's; without it the
  // terminal still runs as that user, with the installer's environment.
  EnvironmentBlock environment;
  ScopedHandle token;
  if (OpenProcessToken(process.Get(), TOKEN_QUERY | TOKEN_DUPLICATE, token.Receive()) &&
      !CreateEnvironmentBlock(&environment.block, token.Get(), FALSE)) {
    environment.block = nullptr;
  }
  STARTUPINFOEXW startup = {};
  startup.StartupInfo = base;
  startup.StartupInfo.cb = sizeof(startup);
  startup.lpAttributeList = attribute.List();
  DWORD flags = CREATE_NEW_CONSOLE | EXTENDED_STARTUPINFO_PRESENT;
  if (environment.block != nullptr) flags |= CREATE_UNICODE_ENVIRONMENT;
  PROCESS_INFORMATION info = {};
  *started = CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, flags, environment.block, folder.c_str(),
                            &startup.StartupInfo, &info);
  if (*started) CloseProcessHandles(info);
  else *error = GetLastError();
  return true;
}
}  // namespace

int LaunchTerminal() {
  const std::string& installDir = InstallerContext::Instance().installDir;
  std::string commandLine = "\"" + installDir + "\\" + kTerminalExeName + "\" end";
  std::wstring wideCommand = GbkToWide(commandLine, 2048);
  std::wstring wideFolder = GbkToWide(installDir, 2048);
  std::vector<wchar_t> mutableCommand(wideCommand.begin(), wideCommand.end());
  mutableCommand.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  // The log file is closed by now; a failed start still reaches the /LOG= copy.
  BOOL started = FALSE;
  DWORD error = ERROR_SUCCESS;
  if (!StartUnderShell(mutableCommand.data(), wideFolder, startup, &started, &error)) {
    // No shell to start it from: started by the installer itself.
    PROCESS_INFORMATION process = {};
    started = CreateProcessW(nullptr, mutableCommand.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                             wideFolder.c_str(), &startup, &process);
    if (started) CloseProcessHandles(process);
    else error = GetLastError();
  }
  if (!started) LogFailureCause("无法启动终端", commandLine, error);
  return started;
}
