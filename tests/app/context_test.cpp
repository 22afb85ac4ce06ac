#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <sstream>

#include "base/context.h"
#include "app/startup.h"
#include "install/credentials.h"
#include "support/test_support.h"
#include "system/session.h"

using namespace testing_support;

namespace {
// Runs the context probe in a new process with the given LANG and reads its fields.
std::map<std::string, std::string> ProbeContext(const std::string& lang, const std::string& chosenRoot = "") {
  ScratchFolder folder("probe");
  std::vector<std::string> arguments = {folder / "fields.txt"};
  if (!chosenRoot.empty()) arguments.push_back(chosenRoot);
  ProcessResult run = RunWindowsProgramWithLang(lang, BinaryPath("test-programs/context_probe.exe"), arguments);
  EXPECT_EQ(run.exitCode, 0u) << lang;
  std::map<std::string, std::string> fields;
  std::istringstream lines(ReadFileBytes(folder / "fields.txt"));
  std::string line;
  while (std::getline(lines, line)) {
    size_t equals = line.find('=');
    if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return fields;
}

std::string BaseFolder() { return RunningAccountLocalAppDataPath(); }
}  // namespace

TEST(LanguageRule, EnglishTraditionalOtherwiseSimplified) {
  EXPECT_EQ(LanguageOf(0x0409), UiLanguage::Enu);
  EXPECT_EQ(LanguageOf(0x0404), UiLanguage::Cht);
  EXPECT_EQ(LanguageOf(0x0804), UiLanguage::Chs);
  EXPECT_EQ(LanguageOf(0x0809), UiLanguage::Chs);
  EXPECT_EQ(MapUiLanguage(0x0C04), 0x0404);
  EXPECT_EQ(MapUiLanguage(0x0809), 0x0809);
}

TEST(InstallerContextStartUp, LanguageAndDistributorNameFollowTheUserInterfaceLanguage) {
  struct Case {
    const char* lang;
    const char* languageId;
    const char* distributor;
  } cases[] = {
      {"zh_CN.UTF-8", "0804", "Zelmora香港"},
      {"zh_HK.UTF-8", "0404", "Zelmora香港"},  // Hong Kong reads the Traditional Chinese texts
      {"zh_TW.UTF-8", "0404", "Zelmora香港"},
      {"en_US.UTF-8", "0409", "Zelmora HK"},
      {"en_GB.UTF-8", "0809", "Zelmora香港"},  // keeps its id, reads the Simplified Chinese texts
  };
  for (const Case& c : cases) {
    auto fields = ProbeContext(c.lang);
    EXPECT_EQ(fields["languageId"], c.languageId) << c.lang;
    // GBK bytes whatever the process's own code page is.
    EXPECT_EQ(fields["distributorName"], c.distributor) << c.lang;
    EXPECT_EQ(fields["packageCode"], "602731") << c.lang;
    EXPECT_EQ(fields["fonts"], "1") << c.lang;
  }
}

TEST(InstallerContextStartUp, FoldersDeriveFromTheConsoleUsersLocalAppData) {
  auto fields = ProbeContext("zh_CN.UTF-8");
  const std::string base = BaseFolder();
  ASSERT_FALSE(base.empty());
  EXPECT_EQ(fields["productFolderName"], "MOrvantis602731v9.5");
  EXPECT_EQ(fields["installDir"], base + "\\MOrvantis602731v9.5");
  EXPECT_EQ(fields["tempDir"], base + "\\MOrvantis602731v9.5temp");
  EXPECT_EQ(fields["logDir"], base + "\\MOrvantis602731v9.5\\morvantislog");
  EXPECT_EQ(fields["dependBaseDir"], base + "\\MOrvantisDependBaseV9.5");
}

TEST(InstallerContextStartUp, ChosenFolderMovesInstallAndLogFoldersOnly) {
  const std::string base = BaseFolder();
  auto fields = ProbeContext("zh_CN.UTF-8", "D:\\Apps\\Trading");
  EXPECT_EQ(fields["installDir"], "D:\\Apps\\Trading\\MOrvantis602731v9.5");
  EXPECT_EQ(fields["logDir"], "D:\\Apps\\Trading\\MOrvantis602731v9.5\\morvantislog");
  EXPECT_EQ(fields["tempDir"], base + "\\MOrvantis602731v9.5temp");
  EXPECT_EQ(fields["dependBaseDir"], base + "\\MOrvantisDependBaseV9.5");

  // A drive root already ends in a separator: no doubled backslash.
  fields = ProbeContext("zh_CN.UTF-8", "D:\\");
  EXPECT_EQ(fields["installDir"], "D:\\MOrvantis602731v9.5");

  // 運 ends in the byte of a backslash, on every system code page.
  for (const char* lang : {"zh_CN.UTF-8", "zh_TW.UTF-8", "en_US.UTF-8"}) {
    fields = ProbeContext(lang, "D:\\營運");
    EXPECT_EQ(fields["installDir"], "D:\\營運\\MOrvantis602731v9.5") << lang;
    EXPECT_EQ(fields["logDir"], "D:\\營運\\MOrvantis602731v9.5\\morvantislog") << lang;
  }
}

TEST(InstallerContextStartUp, FirstUseFromTwoThreadsGivesOneRecord) {
  InstallerContext* seen[2] = {};
  std::thread first([&] { seen[0] = &InstallerContext::Instance(); });
  std::thread second([&] { seen[1] = &InstallerContext::Instance(); });
  first.join();
  second.join();
  EXPECT_EQ(seen[0], seen[1]);
}

TEST(StoreCredentials, ConfigureToolAndUnscramblingRoundTripForSeveralSplits) {
  struct Case {
    const char* id;
    const char* secret;
  } cases[] = {{"ABCDEFGHI", "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHI"},
               {"DemoAccessKeyIdMorvant01", "DemoSecretForTheLocalStore2026"},
               {"LTxx5tQ2mZr8vK1pW3nB6yHc", "s3cr3t/with+symbols=and_more!!"},
               {"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUV", "012345"}};
  int seed = 1;
  for (const Case& c : cases) {
    ScratchFolder folder("scramble");
    const std::string header = folder / "store.h";
    ProcessResult run = RunShellScript("python3 '" + WindowsToUnixPath(SourcePath("tools/scramble_credentials.py")) +
                                       "' '" + c.id + "' '" + c.secret + "' " + std::to_string(seed++) + " > '" +
                                       WindowsToUnixPath(header) + "'");
    ASSERT_EQ(run.exitCode, 0u) << c.id;
    std::string text = ReadFileBytes(header);
    size_t storeStart = text.find("STORE \"") + 7;
    size_t storeEnd = text.find('"', storeStart);
    size_t maskStart = text.find("MASK 0x") + 5;
    ASSERT_NE(storeEnd, std::string::npos) << text;
    std::string store = text.substr(storeStart, storeEnd - storeStart);
    uint64_t mask = std::stoull(text.substr(maskStart, 18), nullptr, 16);
    ASSERT_EQ(store.size(), 57u);
    EXPECT_EQ(store.find(c.id), std::string::npos);
    EXPECT_EQ(store.find(c.secret), std::string::npos);
    StoreCredentials keys = UnscrambleCredentials(store, mask);
    EXPECT_EQ(keys.accessKeyId, c.id);
    EXPECT_EQ(keys.accessKeySecret, c.secret);
  }
  // The build's own credentials come back from the executable's scrambled store.
  StoreCredentials keys = BuildCredentials();
  EXPECT_EQ(keys.accessKeyId, "DemoAccessKeyIdMorvant01");
  EXPECT_EQ(keys.accessKeySecret, "DemoSecretForTheLocalStore2026");
}

TEST(StoreCredentials, SplitsTheStoreCannotExpressAreRefused) {
  // An id of 8 or a secret of 5 characters would lie in the store in one piece.
  const char* bad[][2] = {{"ABCDEFGH", "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJ"},
                          {"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVW", "01234"},
                          {"DemoAccessKeyIdMorvant01", "tooShort"},  // not 54 in all
                          {"DemoAccessKeyIdMorvant0\xe4", "DemoSecretForTheLocalStore202"}};
  for (const auto& pair : bad) {
    ProcessResult run = RunShellScript("python3 '" + WindowsToUnixPath(SourcePath("tools/scramble_credentials.py")) +
                                       "' '" + pair[0] + "' '" + pair[1] + "' 1 >/dev/null 2>&1");
    EXPECT_EQ(run.exitCode, 1u) << pair[0] << " / " << pair[1];
  }
}
