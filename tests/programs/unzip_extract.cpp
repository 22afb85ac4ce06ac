// Benchmark helper: unpacks one archive with TUnzip::ExtractArchive and prints the
// process's peak working set and peak private bytes.
// Usage: unzip_extract <archive> <target-folder>. Exit 0 on success, 1 on failure.
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "base/text.h"
#include "unzip/tunzip.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: unzip_extract <archive> <target-folder>\n");
    return 2;
  }
  bool extracted = TUnzip::ExtractArchive(WideToGbk(argv[1], MAX_PATH).c_str(), WideToGbk(argv[2], MAX_PATH).c_str());
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
    printf("peak_working_set_kib=%llu peak_private_kib=%llu\n",
           static_cast<unsigned long long>(counters.PeakWorkingSetSize / 1024),
           static_cast<unsigned long long>(counters.PeakPagefileUsage / 1024));
  }
  return extracted ? 0 : 1;
}
