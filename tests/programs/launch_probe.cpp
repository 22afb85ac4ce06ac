// Test helper: records how it was started. Appends "<command line>|<current folder>"
// (UTF-8) as one line to the file named by MORVANTIS_LAUNCH_RECORD, then exits.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
  wchar_t recordPath[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"MORVANTIS_LAUNCH_RECORD", recordPath, MAX_PATH)) return 2;
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  std::wstring line = std::wstring(GetCommandLineW()) + L"|" + folder + L"\n";
  char utf8[4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8, sizeof(utf8), nullptr, nullptr);
  FILE* out = _wfopen(recordPath, L"ab");
  if (out == nullptr) return 3;
  fputs(utf8, out);
  fclose(out);
  return 0;
}
