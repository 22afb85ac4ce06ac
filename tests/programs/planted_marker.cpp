// Test helper planted as cmd.exe or xcopy.exe where the installer must never look: when
// started it leaves "<its own path>.ran" beside itself and exits 0, as a copy that
// "succeeded" would.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  HANDLE marker = CreateFileW((std::wstring(self) + L".ran").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return 0;
}
