// libFuzzer entry point for the zip reader and the entry-name checks: opens the input as
// an archive held in memory, walks every entry, decides where its name would go (as the
// extraction does, under a fixed target folder) and reads each entry to its end in
// uneven chunks. A path outside the target folder is a finding.
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "unzip/entry_path.h"
#include "unzip/unzip.h"

namespace {
const std::wstring kFolder = L"C:\\target";

// The name as the extraction decodes it; empty when the bytes are not valid.
std::wstring Decode(const char* name, bool utf8) {
  static iconv_t fromGbk = iconv_open("WCHAR_T", "GBK");
  static iconv_t fromUtf8 = iconv_open("WCHAR_T", "UTF-8");
  iconv_t converter = utf8 ? fromUtf8 : fromGbk;
  std::string in(name);
  std::wstring out(in.size() + 1, L'\0');
  char* from = &in[0];
  char* to = reinterpret_cast<char*>(&out[0]);
  size_t fromLeft = in.size(), toLeft = out.size() * sizeof(wchar_t);
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &from, &fromLeft, &to, &toLeft) == static_cast<size_t>(-1)) return std::wstring();
  out.resize(out.size() - toLeft / sizeof(wchar_t));
  return out;
}

void CheckInside(const std::wstring& path) {
  if (path.compare(0, kFolder.size() + 1, kFolder + L"\\") != 0) abort();
  std::wstring rest = path.substr(kFolder.size() + 1);
  if (rest.find(L':') != std::wstring::npos || rest.find(L'/') != std::wstring::npos || rest.empty() ||
      rest[0] == L'\\')
    abort();
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) end = rest.size();
    std::wstring component = rest.substr(start, end - start);
    if (component.size() >= 2 && component.find_first_not_of(L". ") == std::wstring::npos) abort();
    if (IsDeviceName(component)) abort();
    start = end + 1;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  unzFile archive = unzOpenMemory(data, size);
  if (!archive) return 0;
  unz_global_info global;
  unzGetGlobalInfo(archive, &global);
  uint64_t total = 0;
  unzGetDeclaredTotal(archive, &total);
  unsigned char chunk[3000];
  unsigned chunkSize = size > 0 ? 1 + data[0] * 11u % sizeof(chunk) : 2048;
  EntryNameSet names;
  for (int status = unzGoToFirstFile(archive); status == UNZ_OK; status = unzGoToNextFile(archive)) {
    unz_file_info info;
    char name[261] = {};
    char comment[256];
    if (unzGetCurrentFileInfo(archive, &info, name, sizeof(name) - 1, nullptr, 0, comment, sizeof(comment) - 1) != UNZ_OK)
      break;
    bool utf8 = (info.flag & UNZ_FLAG_UTF8) != 0;
    ZipEntryName entry{Decode(name, utf8), utf8 ? 0 : std::string(name).size(), info.external_fa,
                       info.uncompressed_size};
    std::wstring path;
    EntryVerdict verdict = PlanEntryPath(kFolder, kFolder.size(), entry, &path);
    if (verdict == EntryVerdict::kFile || verdict == EntryVerdict::kFolder) {
      CheckInside(path);
      names.Add(entry.name);
    }
    if (unzOpenCurrentFile(archive) != UNZ_OK) continue;
    uint64_t produced = 0;
    int got;
    while ((got = unzReadCurrentFile(archive, chunk, chunkSize)) > 0) produced += static_cast<unsigned>(got);
    // Never more than the entry declares.
    if (produced > info.uncompressed_size) abort();
    unzCloseCurrentFile(archive);
  }
  unzClose(archive);
  return 0;
}
