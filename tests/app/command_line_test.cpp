#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"

namespace {
CommandLine Parse(const std::wstring& arguments) { return ParseCommandLine(arguments); }
}  // namespace

TEST(CommandLine, NoArgumentsIsTheWindowAsAlways) {
  for (const wchar_t* arguments : {L"", L"   ", L"\t"}) {
    CommandLine line = Parse(arguments);
    EXPECT_EQ(line.mode, LaunchMode::Window);
    EXPECT_TRUE(line.folder.empty());
    EXPECT_TRUE(line.logCopy.empty());
  }
}

TEST(CommandLine, SwitchesAreCaseInsensitive) {
  EXPECT_EQ(Parse(L"/S").mode, LaunchMode::Unattended);
  EXPECT_EQ(Parse(L"/s").mode, LaunchMode::Unattended);
  EXPECT_EQ(Parse(L"/?").mode, LaunchMode::Help);
  EXPECT_EQ(Parse(L"/h").mode, LaunchMode::Help);
  EXPECT_EQ(Parse(L"/S /H").mode, LaunchMode::Help);
  CommandLine line = Parse(L"/log=C:\\logs\\setup.log /S");
  EXPECT_EQ(line.mode, LaunchMode::Unattended);
  EXPECT_EQ(line.logCopy, L"C:\\logs\\setup.log");
  EXPECT_EQ(Parse(L"/d=C:\\Apps").folder, "C:\\Apps");
}

TEST(CommandLine, TheFolderTakesTheRestOfTheLineWithSpacesAndNoQuotes) {
  CommandLine line = Parse(L"/S /LOG=\"C:\\my logs\\setup.log\" /D=C:\\Program Files\\Trading Desk  ");
  EXPECT_EQ(line.mode, LaunchMode::Unattended);
  EXPECT_EQ(line.logCopy, L"C:\\my logs\\setup.log");
  EXPECT_EQ(line.folder, "C:\\Program Files\\Trading Desk");
  // What follows /D= belongs to the folder, a would-be switch included.
  EXPECT_EQ(Parse(L"/D=C:\\a b /S").folder, "C:\\a b \\S");
  EXPECT_EQ(Parse(L"/D=C:\\a b /S").mode, LaunchMode::Window);
  // Quoted as a whole, as programs that quote their arguments pass it; or its value quoted.
  EXPECT_EQ(Parse(L"/S \"/D=C:\\a b\"").folder, "C:\\a b");
  EXPECT_EQ(Parse(L"/S /D=\"C:\\a b\"").folder, "C:\\a b");
  // Written out in full: a drive root keeps its separator, other folders lose theirs.
  EXPECT_EQ(Parse(L"/D=D:\\").folder, "D:\\");
  EXPECT_EQ(Parse(L"/D=D:/apps/desk/").folder, "D:\\apps\\desk");
  EXPECT_EQ(Parse(L"/D=D:\\apps\\old\\..\\desk").folder, "D:\\apps\\desk");
  EXPECT_EQ(Parse(L"/D=\\\\server\\share\\desk").folder, "\\\\server\\share\\desk");
  EXPECT_EQ(Parse(L"/D=D:\\交易").folder, "D:\\\xBD\xBB\xD2\xD7");  // GBK
}

TEST(CommandLine, UnknownSwitchesAndMalformedValuesAreRefusedByName) {
  struct Case {
    const wchar_t* arguments;
    const wchar_t* refused;
  };
  for (const Case& c : {Case{L"/S /X", L"/X"}, Case{L"/silent", L"/silent"}, Case{L"S", L"S"}, Case{L"-S", L"-S"},
                        Case{L"/D", L"/D"}, Case{L"/S /D=", L"/D="}, Case{L"/D=relative\\folder", L"/D=relative\\folder"},
                        Case{L"/D=C:folder", L"/D=C:folder"}, Case{L"/D=C:\\a|b", L"/D=C:\\a|b"},
                        Case{L"/D=C:\\a?b", L"/D=C:\\a?b"}, Case{L"/LOG=", L"/LOG="},
                        Case{L"/LOG=a.log /LOG=b.log", L"/LOG=b.log"}, Case{L"\"/D=C:\\a\" /S", L"/D=C:\\a"},
                        Case{L"/D=C:\\\x0E01\x0E02", L"/D=C:\\\x0E01\x0E02"}}) {
    CommandLine line = Parse(c.arguments);
    EXPECT_EQ(line.mode, LaunchMode::Invalid) << c.arguments;
    EXPECT_EQ(line.refused, c.refused) << c.arguments;
  }
  // A folder too long for the installation paths.
  EXPECT_EQ(Parse(L"/D=C:\\" + std::wstring(300, L'a')).mode, LaunchMode::Invalid);
}

TEST(CommandLine, TheProgramNameIsSkippedQuotedOrNot) {
  EXPECT_EQ(ArgumentsOf(L"\"C:\\my files\\MorvantisSetup.exe\" /S /D=C:\\a b"), L"/S /D=C:\\a b");
  EXPECT_EQ(ArgumentsOf(L"MorvantisSetup.exe   /S"), L"/S");
  EXPECT_EQ(ArgumentsOf(L"MorvantisSetup.exe"), L"");
  EXPECT_EQ(ArgumentsOf(L"\"C:\\x.exe\""), L"");
}
