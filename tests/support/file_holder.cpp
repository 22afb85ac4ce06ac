#include "support/file_holder.h"

#include <windows.h>

#include "support/test_support.h"
#include "base/text.h"

namespace testing_support {
namespace {
int holderCounter = 0;
}  // namespace

FileHolder::FileHolder(const std::string& path) {
  std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(holderCounter++);
  std::wstring readyName = L"mvt-unzip-ready-" + suffix;
  std::wstring releaseName = L"mvt-unzip-release-" + suffix;
  ready_.Reset(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
  release_.Reset(CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
  std::wstring command = L"\"" + GbkToWide(BinaryPath("test-programs/unzip_hold_file.exe")) + L"\" \"" +
                         GbkToWide(path, 4096) + L"\" " + readyName + L" " + releaseName;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return;
  CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  HANDLE waits[] = {ready_.Get(), process_.Get()};
  holding_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
}

void FileHolder::Release() {
  if (!process_) return;
  SetEvent(release_.Get());
  WaitForSingleObject(process_.Get(), 30000);
  process_.Reset();
}

}  // namespace testing_support
