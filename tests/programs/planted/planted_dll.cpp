// Test helper: a DLL planted beside a copy of the installer under a system DLL's name.
// Loading it leaves "<its own path>.loaded"; its functions do nothing.
#include <windows.h>

extern "C" __declspec(dllexport) BOOL WINAPI WTSQuerySessionInformationA(HANDLE, DWORD, int, LPSTR*, DWORD*) {
  return FALSE;
}
extern "C" __declspec(dllexport) void WINAPI WTSFreeMemory(void*) {}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8] = {};
  DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatW(path, L".loaded");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}
