#include <gtest/gtest.h>

#include <windows.h>

#include "base/scoped.h"

namespace {
// A close that fails, as CloseHandle on a stale handle does.
struct FailingCloseTraits {
  using Value = int;
  static Value Invalid() { return 0; }
  static bool IsValid(Value v) { return v != 0; }
  static void Close(Value) { SetLastError(ERROR_INVALID_HANDLE); }
};
}  // namespace

// An early return's owners close after the failing call: its error must still be there
// for the caller's GetLastError.
TEST(ScopedOwners, ClosingKeepsTheLastError) {
  {
    Scoped<FailingCloseTraits> owner(1);
    SetLastError(ERROR_FILE_NOT_FOUND);
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  Scoped<FailingCloseTraits> owner(1);
  SetLastError(ERROR_ACCESS_DENIED);
  owner.Reset(2);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  SetLastError(ERROR_SHARING_VIOLATION);
  event.Reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}
