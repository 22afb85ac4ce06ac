// Reads a program's version information back as Windows shows it in the file's
// properties: the fixed file and product versions, the translations, and each text of
// each translation's block, one "name=value" line each, in UTF-8.
// Usage: version_probe <program>. Exit 0, or 1 when the file has no version information.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
void PrintUtf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(size > 0 ? size : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
  fputs(bytes.c_str(), stdout);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: version_probe <program>\n");
    return 2;
  }
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
  std::vector<char> data(size ? size : 1);
  if (size == 0 || !GetFileVersionInfoW(argv[1], 0, size, data.data())) {
    fprintf(stderr, "version_probe: no version information (error %lu)\n", GetLastError());
    return 1;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
    printf("file=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    printf("product=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
           HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
  }
  struct Translation {
    WORD language, codePage;
  }* translations = nullptr;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length))
    length = 0;
  static const wchar_t* const kNames[] = {L"CompanyName", L"FileDescription", L"FileVersion", L"ProductName",
                                          L"ProductVersion", L"OriginalFilename", L"Comments"};
  for (UINT i = 0; i < length / sizeof(Translation); ++i) {
    wchar_t block[64];
    swprintf(block, 64, L"%04x%04x", translations[i].language, translations[i].codePage);
    printf("translation=%ls\n", block);
    for (const wchar_t* name : kNames) {
      wchar_t path[128];
      swprintf(path, 128, L"\\StringFileInfo\\%ls\\%ls", block, name);
      wchar_t* value = nullptr;
      UINT units = 0;
      if (!VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&value), &units) || !value) continue;
      printf("%ls.%ls=", block, name);
      PrintUtf8(value);
      printf("\n");
    }
  }
  return 0;
}
