// The installer's own folder operations, one at a time, for tools/bench/copy-bench.sh.
//   swap_bench copy FROM TO            copies a tree as the installer copies a release to
//                                      another volume; exit 0, or 1 with the failure line
//   swap_bench swap INSTALL STAGING    checks for links, moves INSTALL's entries aside,
//                                      places STAGING's entries and checks them, removes the
//                                      old ones (INSTALL\morvantislog stays), printing the
//                                      seconds of each step; exit 0, or 1
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "install/folder_swap.h"
#include "base/text.h"

namespace {
double Seconds(const LARGE_INTEGER& from) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  const std::wstring verb = argv[1];
  if (verb == L"copy") {
    std::vector<std::wstring> created;
    std::string failure;
    if (CopyTree(argv[2], argv[3], &created, &failure)) return 0;
    printf("%s\n", failure.c_str());
    return 1;
  }
  if (verb != L"swap") return 2;
  SwapFolders folders;
  folders.installDir = WideToGbk(argv[2], 4096);
  folders.stagingDir = WideToGbk(argv[3], 4096);
  folders.logDir = folders.installDir + "\\morvantislog";
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  const bool clean = PrepareInstallFolders(folders).empty();
  printf("link scan and checks       %.3f s\n", Seconds(start));
  if (!clean) return 1;
  FolderSwap swap(folders);
  QueryPerformanceCounter(&start);
  const bool aside = swap.MoveOldAside();
  printf("old entries aside          %.3f s\n", Seconds(start));
  if (!aside) return 1;
  QueryPerformanceCounter(&start);
  const bool placed = swap.PlaceStaged();
  printf("placed, checked, old gone  %.3f s\n", Seconds(start));
  return placed ? 0 : 1;
}
