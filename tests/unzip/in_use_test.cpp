// The overwrite prompt for a file another process holds open without sharing.
#include <gtest/gtest.h>

#include <string>

#include "support/file_holder.h"
#include "support/test_support.h"
#include "base/scoped.h"
#include "base/text.h"
#include "unzip/tunzip.h"
#include "unzip_fixtures.h"

using namespace testing_support;
using unzip_testing::ArchivePath;
using unzip_testing::ExpectedPrompt;
using unzip_testing::PromptRecorder;

namespace {

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
