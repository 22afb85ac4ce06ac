// Test helper: records how it was started. Appends
// "<command line>|<current folder>|<process id>|<MORVANTIS_INSTALLER_ONLY>" (UTF-8) as
// one line to the file named by MORVANTIS_LAUNCH_RECORD or, when that is not set, to
// "launches.txt" beside itself. While "<record>.hold" exists it stays running, so that a
// test can look at it.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {
std::wstring Variable(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}
}  // namespace

int wmain() {
  std::wstring recordPath = Variable(L"MORVANTIS_LAUNCH_RECORD");
  if (recordPath.empty()) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    recordPath = self;
    recordPath = recordPath.substr(0, recordPath.find_last_of(L'\\') + 1) + L"launches.txt";
  }
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  std::wstring line = std::wstring(GetCommandLineW()) + L"|" + folder + L"|" + std::to_wstring(GetCurrentProcessId()) +
                      L"|" + Variable(L"MORVANTIS_INSTALLER_ONLY") + L"\n";
  char utf8[4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8, sizeof(utf8), nullptr, nullptr);
  FILE* out = _wfopen(recordPath.c_str(), L"ab");
  if (out == nullptr) return 3;
  fputs(utf8, out);
  fclose(out);
  const std::wstring hold = recordPath + L".hold";
  for (int i = 0; i < 600 && GetFileAttributesW(hold.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  return 0;
}
