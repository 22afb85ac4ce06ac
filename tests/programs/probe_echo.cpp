// Test helper: writes the language settings it sees ("UI=xxxx ACP=n") to the file named
// by its first argument (or stdout); exit code 7.
#include <windows.h>
#include <cstdio>
int wmain(int argc, wchar_t** argv) {
  FILE* out = argc > 1 ? _wfopen(argv[1], L"w") : stdout;
  if (out == nullptr) return 1;
  fprintf(out, "UI=%04x ACP=%u\n", GetUserDefaultUILanguage(), GetACP());
  if (out != stdout) fclose(out);
  return 7;
}
