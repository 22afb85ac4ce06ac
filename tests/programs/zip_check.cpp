// The installer's own zip reader over one package, for tools/release check: unpacks it
// with TUnzip::ExtractArchive into a scratch folder exactly as the install worker does.
// A box the reader would show is answered Abort and printed, and so is every line it
// writes to the install log (kept in <scratch-folder>-log).
// Usage: zip_check <archive> <scratch-folder>. Prints "accepted" or "rejected"; exit 0
// accepted, 1 rejected, 2 bad arguments.
#include <windows.h>

#include <cstdio>
#include <string>

#include "system/install_log.h"
#include "system/message_box.h"
#include "base/scoped.h"
#include "base/text.h"
#include "unzip/tunzip.h"

namespace {
void PrintLogLines(const std::wstring& logDir) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((logDir + L"\\*install.log").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    ScopedFileHandle file(CreateFileW((logDir + L"\\" + found.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) continue;
    char buffer[4096];
    DWORD got = 0;
    std::string text;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      // Past the "[hh:mm:ss mmm]\t\t" stamp; GBK bytes, as the log holds them.
      std::string line = text.substr(start, end - start);
      size_t tabs = line.find("\t\t");
      printf("log: %s\n", tabs == std::string::npos ? line.c_str() : line.c_str() + tabs + 2);
      start = end + 2;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: zip_check <archive> <scratch-folder>\n");
    return 2;
  }
  SetMessageBoxResponderForTesting([](const MessageBoxRequest& request) {
    printf("box: %s\n", WideToGbk(request.text).c_str());
    return (request.type & MB_TYPEMASK) == MB_ABORTRETRYIGNORE ? IDABORT : IDCANCEL;
  });
  const std::wstring logDir = std::wstring(argv[2]) + L"-log";
  InstallLog::Open(WideToGbk(logDir, MAX_PATH).c_str());
  bool accepted = TUnzip::ExtractArchive(WideToGbk(argv[1], MAX_PATH).c_str(), WideToGbk(argv[2], MAX_PATH).c_str());
  InstallLog::Close();
  PrintLogLines(logDir);
  printf("%s\n", accepted ? "accepted" : "rejected");
  fflush(stdout);
  return accepted ? 0 : 1;
}
