#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "system/install_log.h"
#include "system/message_box.h"
#include "base/text.h"

using namespace testing_support;

namespace {
// The one log file of a folder (the name carries the time of day).
std::string OnlyLogFile(const std::string& logDir) {
  std::vector<std::string> files = ListFilesRecursive(logDir);
  EXPECT_EQ(files.size(), 1u);
  return files.empty() ? std::string() : files[0];
}

const std::regex kLine(R"(\[(\d\d):(\d\d):(\d\d) (\d\d\d)\]\t\t)");
}  // namespace

TEST(InstallLog, OpensAFileNamedAfterTheTimeOfDayInANewFolder) {
  ScratchFolder root("log");
  SYSTEMTIME before;
  GetLocalTime(&before);
  InstallLog::Open((root / "install\\morvantislog").c_str());
  EXPECT_TRUE(InstallLog::IsOpen());
  InstallLog::Close();
  const std::string name = OnlyLogFile(root / "install\\morvantislog");
  ASSERT_TRUE(std::regex_match(name, std::regex(R"(\d{9}install\.log)"))) << name;
  const int hour = std::stoi(name.substr(0, 2));
  EXPECT_TRUE(hour == before.wHour || hour == (before.wHour + 1) % 24) << name;
  EXPECT_EQ(ReadFileBytes(root / ("install\\morvantislog\\" + name)), "");
}

TEST(InstallLog, LinesCarryTheStampTwoTabsTheBytesUnchangedAndCrLf) {
  ScratchFolder root("log");
  InstallLog::Open(root.Path().c_str());
  InstallLog::Write("Version: IE_9.5.9.1");
  InstallLog::Write("用户点击安装，安装开始...");
  InstallLog::Write("");
  InstallLog::Write(nullptr);
  InstallLog::Write("tab\there\rcr\nlf");
  InstallLog::Close();
  const std::string bytes = ReadFileBytes(root / OnlyLogFile(root.Path()));

  std::vector<std::string> messages;
  std::smatch match;
  std::string rest = bytes;
  while (std::regex_search(rest, match, kLine)) {
    ASSERT_EQ(match.position(0), 0) << "every line starts with its stamp";
    EXPECT_LT(std::stoi(match[1]), 24);
    EXPECT_LT(std::stoi(match[2]), 60);
    rest = match.suffix();
    size_t next = rest.find("\r\n[");
    std::string message = rest.substr(0, next == std::string::npos ? rest.size() : next + 2);
    messages.push_back(message);
    rest = rest.substr(message.size());
  }
  ASSERT_EQ(messages.size(), 4u) << bytes;  // the null message wrote nothing at all
  EXPECT_EQ(messages[0], "Version: IE_9.5.9.1\r\n");
  // GBK bytes as given.
  EXPECT_EQ(messages[1], "\xD3\xC3\xBB\xA7\xB5\xE3\xBB\xF7\xB0\xB2\xD7\xB0\xA3\xAC\xB0\xB2\xD7\xB0\xBF\xAA\xCA\xBC...\r\n");
  EXPECT_EQ(messages[2], "\r\n");
  EXPECT_EQ(messages[3], "tab\there\rcr\nlf\r\n");
}

TEST(InstallLog, WritesWhileClosedAreDroppedAndClosingTwiceIsHarmless) {
  ScratchFolder root("log");
  InstallLog::Close();
  InstallLog::Write("before open");
  InstallLog::Close();
  InstallLog::Open(root.Path().c_str());
  InstallLog::Write("kept");
  InstallLog::Close();
  InstallLog::Close();
  InstallLog::Write("after close");
  const std::string bytes = ReadFileBytes(root / OnlyLogFile(root.Path()));
  EXPECT_EQ(bytes.find("before open"), std::string::npos);
  EXPECT_EQ(bytes.find("after close"), std::string::npos);
  EXPECT_NE(bytes.find("kept\r\n"), std::string::npos);
}

TEST(InstallLog, FailedOpenLeavesTheSinkClosedAndTellsTheCopyWhy) {
  ScratchFolder root("log");
  WriteFileBytes(root / "occupied", "a file where the log folder should go");
  ASSERT_TRUE(InstallLog::OpenCopy(GbkToWide(root / "copy.log", 2048).c_str()));
  SetMessageBoxResponderForTesting([](const MessageBoxRequest&) { return IDOK; });
  InstallLog::Open((root / "occupied").c_str());
  SetMessageBoxResponderForTesting(nullptr);
  EXPECT_FALSE(InstallLog::IsOpen());
  InstallLog::CloseCopy();
  InstallLog::Write("nowhere");
  EXPECT_EQ(ReadFileBytes(root / "occupied"), "a file where the log folder should go");
  const std::string copy = ReadFileBytes(root / "copy.log");
  const std::string cause = WideToGbk(L"\t\t无法创建日志文件：" + GbkToWide(root / "occupied\\", 2048), 4096, CP_UTF8);
  const size_t at = copy.find(cause);
  ASSERT_NE(at, std::string::npos) << copy;
  EXPECT_NE(copy.find(u8"install.log (错误码 3)\r\n", at), std::string::npos) << copy;
}

TEST(InstallLog, AWriteNeverMeetsACloseFromAnotherThread) {
  ScratchFolder root("log");
  InstallLog::Open(root.Path().c_str());
  std::thread writer([] {
    for (int i = 0; i < 2000; ++i) InstallLog::Write("worker line");
  });
  Sleep(5);
  InstallLog::Close();
  writer.join();
  const std::string bytes = ReadFileBytes(root / OnlyLogFile(root.Path()));
  // Whatever got in before the close is whole lines.
  size_t lines = 0;
  for (size_t at = bytes.find("worker line\r\n"); at != std::string::npos; at = bytes.find("worker line\r\n", at + 1)) ++lines;
  EXPECT_EQ(bytes.size(), lines * (16 + 13));
}

TEST(InstallLog, LinesHeldByAThreadStayOutOfTheLogWhileOtherThreadsWrite) {
  ScratchFolder root("log");
  InstallLog::Open(root.Path().c_str());
  std::vector<std::string> held;
  std::thread ahead([&held] {
    InstallLog::HoldThisThread(&held);
    InstallLog::Write("held line");
    InstallLog::HoldThisThread(nullptr);
    InstallLog::Write("own line");
  });
  ahead.join();
  InstallLog::Write("in sequence");
  InstallLog::Close();
  EXPECT_EQ(held, std::vector<std::string>{"held line"});
  const std::string bytes = ReadFileBytes(root / OnlyLogFile(root.Path()));
  EXPECT_EQ(bytes.find("held line"), std::string::npos);
  EXPECT_LT(bytes.find("own line"), bytes.find("in sequence"));
}

TEST(InstallLog, TheCopyGetsEveryLineAsUtf8WithTheSameStampAndOutlivesTheLogFile) {
  ScratchFolder root("log");
  const std::wstring copyPath = GbkToWide(root / "copy.log", 2048);
  WriteFileBytes(root / "copy.log", "an earlier run's copy");
  ASSERT_TRUE(InstallLog::OpenCopy(copyPath.c_str()));
  InstallLog::Write("before the log opens");
  ASSERT_TRUE(InstallLog::Open((root / "logs").c_str()));
  InstallLog::Write("用户点击安装，安装开始...");
  InstallLog::Write("tab\there");
  InstallLog::Close();
  InstallLog::Write("after the log closed");
  InstallLog::CloseCopy();
  InstallLog::Write("after the copy closed");

  const std::string copy = ReadFileBytes(root / "copy.log");
  const std::string log = ReadFileBytes(root / ("logs\\" + OnlyLogFile(root / "logs")));
  const std::string logAsUtf8 = WideToGbk(GbkToWide(log, 4096), 8192, CP_UTF8);
  // No byte-order mark; the log file's lines, stamps and all, in the middle.
  EXPECT_EQ(copy.find("[", 0), 0u) << copy;
  EXPECT_EQ(copy.find("an earlier run"), std::string::npos);
  ASSERT_FALSE(logAsUtf8.empty());
  size_t at = copy.find(logAsUtf8);
  ASSERT_NE(at, std::string::npos) << copy;
  EXPECT_TRUE(std::regex_match(copy.substr(0, at), std::regex("\\[\\d\\d:\\d\\d:\\d\\d \\d{3}\\]\t\tbefore the log opens\r\n")));
  EXPECT_NE(copy.find(u8"\t\t用户点击安装，安装开始...\r\n"), std::string::npos);
  EXPECT_NE(copy.find("\t\tafter the log closed\r\n", at), std::string::npos);
  EXPECT_EQ(copy.find("after the copy closed"), std::string::npos);
  EXPECT_EQ(log.find("before the log opens"), std::string::npos);
}

TEST(InstallLog, ACopyThatCannotBeCreatedIsRefused) {
  ScratchFolder root("log");
  EXPECT_FALSE(InstallLog::OpenCopy(GbkToWide(root / "no such folder\\copy.log", 2048).c_str()));
  InstallLog::Write("nowhere");
  EXPECT_FALSE(FolderExists(root / "no such folder"));
}
