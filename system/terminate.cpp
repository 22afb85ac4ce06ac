#include "system/terminate.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

#include "base/context.h"
#include "base/scoped.h"
#include "base/text.h"
#include "system/failure_log.h"

namespace {

static_assert(sizeof(PROCESSENTRY32W) == 568 && sizeof(MODULEENTRY32W) == 1080, "64-bit Toolhelp records");

constexpr DWORD kExitWaitMs = 5000;
// Gives the ended terminal time to release its files before they are replaced.
constexpr DWORD kSettleMs = 2500;

// The first module of a process is its own executable; compared unit for unit, so the
// same folder spelled another way is a different installation.
bool RunsFrom(DWORD processId, const std::wstring& expectedPath) {
  ScopedFileHandle modules(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
  if (!modules) return false;
  MODULEENTRY32W module = {};
  module.dwSize = sizeof(module);
  if (!Module32FirstW(modules.Get(), &module)) return false;
  return expectedPath == module.szExePath;
}

// Walks the snapshot in order and stops at the first match; 0 when none.
DWORD FindFirstMatch(const wchar_t* imageName, const std::wstring& expectedPath) {
  ScopedFileHandle processes(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!processes) {
    // A copy left running keeps its files from being replaced.
    LogLastErrorCause("无法列出正在运行的进程", expectedPath);
    return 0;
  }
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(processes.Get(), &entry); more; more = Process32NextW(processes.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, imageName) == 0 && RunsFrom(entry.th32ProcessID, expectedPath)) {
      return entry.th32ProcessID;
    }
  }
  return 0;
}

}  // namespace

void TerminateRunningInstance(const wchar_t* imageName) {
  if (imageName == nullptr) return;
  const std::wstring expectedPath = GbkToWide(InstallerContext::Instance().installDir, 2047) + L"\\" + imageName;

  const DWORD processId = FindFirstMatch(imageName, expectedPath);
  if (processId == 0) return;

  ScopedHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
  if (!process) {
    LogLastErrorCause("无法打开正在运行的终端", expectedPath);
  } else if (!TerminateProcess(process.Get(), 0)) {
    LogLastErrorCause("无法结束正在运行的终端", expectedPath);
  } else {
    WaitForSingleObject(process.Get(), kExitWaitMs);
  }
  Sleep(kSettleMs);
}
