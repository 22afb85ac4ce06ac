// Copies a folder tree the way the installer copies a release to another volume, for the
// copy benchmark. Usage: copy_tree FROM TO. Exit 0 when copied, 1 with the failure line.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "install/folder_swap.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  std::vector<std::wstring> created;
  std::string failure;
  if (CopyTree(argv[1], argv[2], &created, &failure)) return 0;
  printf("%s\n", failure.c_str());
  return 1;
}
