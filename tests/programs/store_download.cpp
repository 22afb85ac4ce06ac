// Downloads one object from a store with the installer's client and prints how long the
// transfer took and the process's peak memory. Used by tools/bench/download-bench.sh.
//   store_download.exe <endpoint> <key> <local file>
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "install/client.h"
#include "base/text.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: store_download <endpoint> <key> <local file>\n");
    return 2;
  }
  IClient client;
  client.SetupAccess();
  client.endpoint = WideToGbk(argv[1]);
  client.ConnectStore();
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  bool ok = client.DownloadObject(WideToGbk(argv[2]).c_str(), WideToGbk(argv[3]).c_str());
  QueryPerformanceCounter(&end);
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
  printf("ok=%d seconds=%.3f peak_working_set_mib=%.1f peak_private_mib=%.1f\n", ok ? 1 : 0,
         static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart,
         memory.PeakWorkingSetSize / 1048576.0, memory.PeakPagefileUsage / 1048576.0);
  return ok ? 0 : 1;
}
