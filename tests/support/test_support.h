// Helpers shared by the tests: scratch folders on the Wine drive, files, processes.
#pragma once
#include <windows.h>

#include <string>

#include "base/scoped.h"
#include <vector>

namespace testing_support {

// A fresh empty folder (GBK path, no trailing backslash) removed when the object ends.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name = "scratch");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
void RemoveTree(const std::string& path);
// Relative paths (with backslashes) of every file below root, sorted.
std::vector<std::string> ListFilesRecursive(const std::string& root);

// A path of the source tree or build tree as Windows sees it (Z:\...).
std::string SourcePath(const std::string& relative);
std::string BinaryPath(const std::string& relative);
// A Unix path as Windows sees it through Wine's Z: drive.
std::string UnixToWindowsPath(const std::string& unixPath);

struct ProcessResult {
  bool started = false;
  DWORD exitCode = 0;
  bool timedOut = false;
};
// A started process, not waited for.
struct StartedProcess {
  bool started = false;  // a Linux program starts without a process handle to wait on
  ScopedHandle process;
  DWORD id = 0;
};
// Starts a command line; environment entries "NAME=value" are added or replaced.
StartedProcess StartProcess(const std::wstring& commandLine, const std::vector<std::wstring>& environment = {},
                            const std::wstring& currentFolder = L"");
// Runs a command line and waits; environment entries "NAME=value" are added or replaced.
ProcessResult RunProcess(const std::wstring& commandLine, const std::vector<std::wstring>& environment = {},
                         DWORD timeoutMs = 60000, const std::wstring& currentFolder = L"");
// Runs a Linux program (Wine starts ELF programs through CreateProcess) and waits for it.
// Wine neither waits for a Linux program nor passes its exit code back: use RunShellScript.
ProcessResult RunUnixProgram(const std::string& commandLine, DWORD timeoutMs = 120000);
// Runs a /bin/sh script (text) and waits; exitCode is the script's own exit status.
ProcessResult RunShellScript(const std::string& script, DWORD timeoutMs = 120000);
// Starts a Windows program in a new Wine process with LANG set (Wine picks the
// user-interface language and code page from LANG only when a process starts), waits.
// Paths are Windows paths; arguments are quoted for the shell here.
ProcessResult RunWindowsProgramWithLang(const std::string& lang, const std::string& exePath,
                                        const std::vector<std::string>& arguments, DWORD timeoutMs = 60000);
// A Windows path (Z:\...) as a Linux path, for scripts.
std::string WindowsToUnixPath(const std::string& windowsPath);
// text in single quotes for /bin/sh.
std::string ShellQuote(const std::string& text);

}  // namespace testing_support
