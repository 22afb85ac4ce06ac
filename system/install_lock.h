// One installation at a time per staging folder. Every copy of the installer stages in
// the folder derived from the default installation folder, so two copies installing at
// once would remove each other's files; a named mutex derived from that path keeps the
// second one out from Install to the end of the run.
#pragma once
#include <string>

#include "base/scoped.h"

class InstallLock {
 public:
  InstallLock() = default;
  ~InstallLock() { Release(); }
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;

  // Takes the lock for the staging folder (GBK path); false when another copy holds it
  // or the mutex cannot be made (logged). Taking it again while held is a no-op. A lock
  // left behind by a copy that ended without releasing it is taken over.
  bool Acquire(const std::string& stagingDir);
  // Must run on the thread that acquired it (a mutex belongs to its thread).
  void Release();
  bool Held() const { return held_; }

 private:
  ScopedHandle mutex_;
  bool held_ = false;
};

// The mutex name for a staging folder: the same for every spelling of the path that
// Windows treats as the same folder (case, a trailing backslash).
std::wstring InstallLockName(const std::string& stagingDir);
