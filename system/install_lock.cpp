#include "system/install_lock.h"

#include <windows.h>

#include <cstdint>

#include "system/failure_log.h"
#include "system/install_log.h"
#include "base/text.h"

std::wstring InstallLockName(const std::string& stagingDir) {
  std::wstring path = GbkToWide(stagingDir, 32768);
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  if (!path.empty()) CharUpperBuffW(&path[0], static_cast<DWORD>(path.size()));
  // A mutex name may hold no backslash and is limited in length: a digest of the path.
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (wchar_t unit : path) {
    hash ^= static_cast<uint16_t>(unit);
    hash *= 1099511628211ull;
  }
  return GbkToWide(FormatBounded(64, "Global\\MorvantisInstall-%016llx", static_cast<unsigned long long>(hash)), 64);
}

bool InstallLock::Acquire(const std::string& stagingDir) {
  if (held_) return true;
  // Global: copies started in other sessions share the same staging folder.
  mutex_.Reset(CreateMutexW(nullptr, FALSE, InstallLockName(stagingDir).c_str()));
  if (!mutex_) {
    InstallLog::Write(FormatBounded(101, "CreateMutex : %lu", GetLastError()).c_str());
    return false;
  }
  DWORD wait = WaitForSingleObject(mutex_.Get(), 0);
  // A timeout is another copy holding it; a failed wait is ours and would read the same.
  if (wait == WAIT_FAILED) LogLastErrorCause("无法获取安装锁", stagingDir);
  held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  if (!held_) mutex_.Reset();
  return held_;
}

void InstallLock::Release() {
  if (held_) ReleaseMutex(mutex_.Get());
  held_ = false;
  mutex_.Reset();
}
