#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "system/session.h"
#include "base/text.h"

namespace testing_support {
namespace {
std::atomic<int> scratchCounter{0};

std::string TempRoot() {
  wchar_t buffer[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, buffer);
  std::string root = WideToGbk(buffer, 1024);
  while (!root.empty() && root.back() == '\\') root.pop_back();
  return root;
}

void ListInto(const std::wstring& root, const std::wstring& relative, std::vector<std::string>& out) {
  WIN32_FIND_DATAW data;
  std::wstring pattern = root + (relative.empty() ? L"" : L"\\" + relative) + L"\\*";
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring child = relative.empty() ? name : relative + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListInto(root, child, out);
    } else {
      out.push_back(WideToGbk(child, 4096));
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}
}  // namespace

ScratchFolder::ScratchFolder(const std::string& name) {
  path_ = TempRoot() + "\\mvt-" + name + "-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(scratchCounter++);
  RemoveTree(path_);
  CreatePathFolders((path_ + "\\").c_str());
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(GbkToWide(path, 4096).c_str(), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  size_t slash = path.find_last_of('\\');
  if (slash != std::string::npos) CreatePathFolders(path.substr(0, slash + 1).c_str());
  std::ofstream out(GbkToWide(path, 4096).c_str(), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(GbkToWide(path, 4096).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(GbkToWide(path, 4096).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::string& path) {
  if (FileExists(path) || FolderExists(path)) ShellDeletePath(path.c_str());
}

std::vector<std::string> ListFilesRecursive(const std::string& root) {
  std::vector<std::string> out;
  ListInto(GbkToWide(root, 4096), L"", out);
  std::sort(out.begin(), out.end());
  return out;
}

std::string UnixToWindowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string SourcePath(const std::string& relative) { return UnixToWindowsPath(std::string(MORVANTIS_SOURCE_DIR) + "/" + relative); }
std::string BinaryPath(const std::string& relative) { return UnixToWindowsPath(std::string(MORVANTIS_BINARY_DIR) + "/" + relative); }

StartedProcess StartProcess(const std::wstring& commandLine, const std::vector<std::wstring>& environment,
                            const std::wstring& currentFolder) {
  // The child's environment: ours, with the given entries added or replaced.
  std::map<std::wstring, std::wstring> variables;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
      std::wstring text = entry;
      size_t equals = text.find(L'=', 1);
      if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    FreeEnvironmentStringsW(block);
  }
  for (const std::wstring& entry : environment) {
    size_t equals = entry.find(L'=');
    variables[entry.substr(0, equals)] = entry.substr(equals + 1);
  }
  std::wstring block;
  for (const auto& variable : variables) block += variable.first + L"=" + variable.second + L'\0';
  block += L'\0';

  std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
  command.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  StartedProcess started;
  started.started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                                   block.data(), currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info);
  if (started.started) {
    if (info.hThread != nullptr) CloseHandle(info.hThread);
    started.process.Reset(info.hProcess);
    started.id = info.dwProcessId;
  }
  return started;
}

ProcessResult RunProcess(const std::wstring& commandLine, const std::vector<std::wstring>& environment, DWORD timeoutMs,
                         const std::wstring& currentFolder) {
  ProcessResult result;
  StartedProcess started = StartProcess(commandLine, environment, currentFolder);
  result.started = started.started;
  if (!result.started) return result;
  HANDLE process = started.process.Get();
  if (WaitForSingleObject(process, timeoutMs) == WAIT_TIMEOUT) {
    result.timedOut = true;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
  }
  GetExitCodeProcess(process, &result.exitCode);
  return result;
}

ProcessResult RunUnixProgram(const std::string& commandLine, DWORD timeoutMs) {
  return RunProcess(GbkToWide(commandLine, 8192), {}, timeoutMs);
}

std::string WindowsToUnixPath(const std::string& windowsPath) {
  std::string path = windowsPath;
  if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') {
    path = path.substr(2);
  } else {
    // Another drive: ask Wine where it lies.
    char unixPath[4096] = {};
    std::wstring wide = GbkToWide(windowsPath, 4096);
    using GetUnixFileName = char*(CDECL*)(const wchar_t*);
    auto convert = reinterpret_cast<GetUnixFileName>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (convert != nullptr) {
      if (char* result = convert(wide.c_str())) {
        strncpy(unixPath, result, sizeof(unixPath) - 1);
        HeapFree(GetProcessHeap(), 0, result);
        return unixPath;
      }
    }
  }
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

ProcessResult RunShellScript(const std::string& script, DWORD timeoutMs) {
  ScratchFolder folder("script");
  const std::string scriptPath = folder / "run.sh";
  const std::string statusPath = folder / "status";
  const std::string statusUnix = ShellQuote(WindowsToUnixPath(statusPath));
  // Wine does not wait for a Linux program it starts: the script announces its end
  // by renaming its status file into place.
  WriteFileBytes(scriptPath, "(\n" + script + "\n)\necho $? > " + statusUnix + ".tmp && mv " + statusUnix + ".tmp " +
                                 statusUnix + "\n");
  ProcessResult result = RunUnixProgram("/bin/sh " + WindowsToUnixPath(scriptPath), timeoutMs);
  if (!result.started) return result;
  const DWORD start = GetTickCount();
  while (!FileExists(statusPath)) {
    if (GetTickCount() - start > timeoutMs) {
      result.timedOut = true;
      result.exitCode = 255;
      return result;
    }
    Sleep(20);
  }
  std::string status = ReadFileBytes(statusPath);
  result.exitCode = status.empty() ? 255 : static_cast<DWORD>(std::stoul(status));
  return result;
}

ProcessResult RunWindowsProgramWithLang(const std::string& lang, const std::string& exePath,
                                        const std::vector<std::string>& arguments, DWORD timeoutMs) {
  // The shell and Wine read the command line as UTF-8; the paths here are GBK.
  auto utf8 = [](const std::string& gbk) { return WideToGbk(GbkToWide(gbk, 32768), 65536, CP_UTF8); };
  std::string command = "LANG=" + ShellQuote(lang) + " /usr/lib/wine/wine64 " + ShellQuote(utf8(exePath));
  for (const std::string& argument : arguments) command += " " + ShellQuote(utf8(argument));
  return RunShellScript(command + " </dev/null >/dev/null 2>&1", timeoutMs);
}

}  // namespace testing_support
