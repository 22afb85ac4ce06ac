#include "system/free_space.h"

#include <windows.h>

#include "system/failure_log.h"
#include "system/install_log.h"
#include "base/text.h"

namespace {
// The path itself when it is a folder, else the nearest existing folder above it (a file
// about to be overwritten is asked about through its folder).
std::wstring NearestExistingFolder(std::wstring path) {
  while (!path.empty()) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return path;
    const size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos) break;
    path.resize(cut);
    // "C:" alone names the current folder of drive C, not its root.
    if (path.size() == 2 && path[1] == L':') path.push_back(L'\\');
  }
  return path;
}
}  // namespace

bool QueryFreeBytes(const std::string& path, uint64_t* freeBytes) {
  const std::wstring folder = NearestExistingFolder(GbkToWide(path, 2048));
  ULARGE_INTEGER available = {};
  if (folder.empty() || !GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return false;
  *freeBytes = available.QuadPart;
  return true;
}

bool EnsureFreeSpace(const std::string& path, uint64_t neededBytes) {
  uint64_t freeBytes = 0;
  if (!QueryFreeBytes(path, &freeBytes)) {
    LogLastErrorCause("无法读取磁盘剩余空间", path);
    return false;
  }
  if (freeBytes >= neededBytes) return true;
  InstallLog::Write(FormatBounded(2048, "磁盘空间不足：需要 %llu 字节，可用 %llu 字节：%s",
                                  static_cast<unsigned long long>(neededBytes),
                                  static_cast<unsigned long long>(freeBytes), path.c_str())
                        .c_str());
  return false;
}
