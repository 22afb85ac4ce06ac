#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "system/install_lock.h"

namespace {
// Tries the lock from another thread (a mutex belongs to its thread); true when taken.
// abandon: the thread ends holding it, as a copy that crashed leaves it.
bool OtherThreadTakes(const std::string& stagingDir, bool abandon = false) {
  bool taken = false;
  std::thread other([&] {
    if (abandon) {
      taken = (new InstallLock)->Acquire(stagingDir);  // never released
      return;
    }
    InstallLock lock;
    taken = lock.Acquire(stagingDir);
  });
  other.join();
  return taken;
}
}  // namespace

TEST(InstallLock, OneNamePerStagingFolderWhateverItsSpelling) {
  const std::string staging = "C:\\users\\alice\\AppData\\Local\\MOrvantis602731v9.5temp";
  const std::wstring name = InstallLockName(staging);
  EXPECT_EQ(name.rfind(L"Global\\", 0), 0u);
  EXPECT_EQ(name.find(L'\\', 7), std::wstring::npos) << "no backslash after the namespace";
  EXPECT_EQ(InstallLockName("c:\\USERS\\alice\\appdata\\local\\MOrvantis602731V9.5TEMP\\"), name);
  EXPECT_NE(InstallLockName("C:\\users\\bob\\AppData\\Local\\MOrvantis602731v9.5temp"), name);
}

TEST(InstallLock, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
  const std::string staging = "C:\\lock-test\\one-at-a-time-" + std::to_string(GetCurrentProcessId());
  InstallLock first;
  ASSERT_TRUE(first.Acquire(staging));
  EXPECT_TRUE(first.Acquire(staging)) << "taking it again while held";
  EXPECT_TRUE(first.Held());
  EXPECT_FALSE(OtherThreadTakes(staging));
  EXPECT_TRUE(OtherThreadTakes(staging + "-elsewhere"));
  first.Release();
  EXPECT_FALSE(first.Held());
  EXPECT_TRUE(OtherThreadTakes(staging));
}

TEST(InstallLock, ALockLeftBehindByAnEndedHolderIsTakenOver) {
  const std::string staging = "C:\\lock-test\\abandoned-" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(OtherThreadTakes(staging, true));
  InstallLock next;
  EXPECT_TRUE(next.Acquire(staging));
}
