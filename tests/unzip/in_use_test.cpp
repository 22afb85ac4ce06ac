// The overwrite prompt for a file another process holds open without sharing.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "system/scoped.h"
#include "system/text.h"
#include "unzip/tunzip.h"
#include "unzip_fixtures.h"

using namespace testing_support;
using unzip_testing::ArchivePath;
using unzip_testing::ExpectedPrompt;
using unzip_testing::PromptRecorder;

namespace {

// Another process that holds target\held.txt open until Release().
class FileHolder {
 public:
  explicit FileHolder(const std::string& path) {
    std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter_++);
    std::wstring readyName = L"mvt-unzip-ready-" + suffix;
    std::wstring releaseName = L"mvt-unzip-release-" + suffix;
    ready_.Reset(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    release_.Reset(CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
    std::wstring command = L"\"" + GbkToWide(BinaryPath("test-programs/unzip_hold_file.exe")) + L"\" \"" +
                           GbkToWide(path, 4096) + L"\" " + readyName + L" " + releaseName;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return;
    CloseHandle(info.hThread);
    process_.Reset(info.hProcess);
    HANDLE waits[] = {ready_.Get(), process_.Get()};
    holding_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
  }
  ~FileHolder() { Release(); }
  bool Holding() const { return holding_; }
  // Lets go of the file and waits until the process has ended.
  void Release() {
    if (!process_) return;
    SetEvent(release_.Get());
    WaitForSingleObject(process_.Get(), 30000);
    process_.Reset();
  }

 private:
  static inline int counter_ = 0;
  ScopedHandle ready_, release_, process_;
  bool holding_ = false;
};

class InUse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteFileBytes(target / "held.txt", "old held\n"));
    ASSERT_TRUE(WriteFileBytes(target / "last.txt", "old last\n"));
  }
  bool Extract() { return TUnzip::ExtractArchive(ArchivePath("in_use.zip").c_str(), target.Path().c_str()); }
  ScratchFolder target{"unzip-in-use"};
};

}  // namespace

TEST_F(InUse, RetryAfterTheOtherProcessLetsGoOverwrites) {
  FileHolder holder(target / "held.txt");
  ASSERT_TRUE(holder.Holding());
  PromptRecorder prompts([&](const MessageBoxRequest&) {
    holder.Release();
    return IDRETRY;
  });
  EXPECT_TRUE(Extract());
  ASSERT_EQ(prompts.Requests().size(), 1u);
  EXPECT_EQ(prompts.Requests()[0].text, ExpectedPrompt(L"held.txt"));
  EXPECT_EQ(prompts.Requests()[0].caption, L"警告");
  EXPECT_EQ(prompts.Requests()[0].type, static_cast<UINT>(MB_ABORTRETRYIGNORE));
  EXPECT_EQ(ReadFileBytes(target / "held.txt"), "new held\n");
  EXPECT_EQ(ReadFileBytes(target / "last.txt"), "new last\n");
}

TEST_F(InUse, RetryWhileStillHeldAsksAgain) {
  FileHolder holder(target / "held.txt");
  ASSERT_TRUE(holder.Holding());
  int asked = 0;
  PromptRecorder prompts([&](const MessageBoxRequest&) {
    if (++asked == 3) holder.Release();
    return IDRETRY;
  });
  EXPECT_TRUE(Extract());
  EXPECT_EQ(prompts.Requests().size(), 3u);
  EXPECT_EQ(ReadFileBytes(target / "held.txt"), "new held\n");
}

TEST_F(InUse, IgnoreKeepsTheOldFileAndGoesOn) {
  FileHolder holder(target / "held.txt");
  ASSERT_TRUE(holder.Holding());
  PromptRecorder prompts([](const MessageBoxRequest&) { return IDIGNORE; });
  EXPECT_TRUE(Extract());
  holder.Release();
  EXPECT_EQ(prompts.Requests().size(), 1u);
  EXPECT_EQ(ReadFileBytes(target / "held.txt"), "old held\n");
  EXPECT_EQ(ReadFileBytes(target / "first.txt"), "new first\n");
  EXPECT_EQ(ReadFileBytes(target / "last.txt"), "new last\n");
}

TEST_F(InUse, AbortFailsTheArchiveAndLeavesEarlierEntries) {
  FileHolder holder(target / "held.txt");
  ASSERT_TRUE(holder.Holding());
  PromptRecorder prompts([](const MessageBoxRequest&) { return IDABORT; });
  EXPECT_FALSE(Extract());
  holder.Release();
  EXPECT_EQ(prompts.Requests().size(), 1u);
  EXPECT_EQ(ReadFileBytes(target / "first.txt"), "new first\n");
  EXPECT_EQ(ReadFileBytes(target / "held.txt"), "old held\n");
  EXPECT_EQ(ReadFileBytes(target / "last.txt"), "old last\n");
}
