// Test helper: holds a file open without sharing until told to let go.
// Usage: unzip_hold_file <path> <ready-event> <release-event>. Exit 0 after releasing,
// 2 if the file cannot be opened, 3 if the events are missing or never signalled.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 3;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
  if (!ready || !release) return 3;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  SetEvent(ready);
  DWORD waited = WaitForSingleObject(release, 60000);
  CloseHandle(file);
  return waited == WAIT_OBJECT_0 ? 0 : 3;
}
