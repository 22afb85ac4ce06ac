// The stand-in terminal and uninstaller of the sample release, run for real under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sample_release.h"
#include "support/test_support.h"
#include "base/scoped.h"
#include "system/session.h"
#include "base/text.h"

using namespace testing_support;

namespace {

constexpr char kUninstallWow[] = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char kUninstallNative[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring Wide(const std::string& gbk) { return GbkToWide(gbk, 4096); }

StartedProcess Start(const std::wstring& commandLine, const std::wstring& folder, const wchar_t* environmentEntry = nullptr) {
  std::vector<std::wstring> environment;
  if (environmentEntry) environment.push_back(environmentEntry);
  return StartProcess(commandLine, environment, folder);
}

HWND FindVisibleWindowOf(DWORD processId) {
  struct Search {
    DWORD processId;
    HWND found;
  } search = {processId, nullptr};
  for (int attempt = 0; attempt < 300 && !search.found; ++attempt) {
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
          auto* s = reinterpret_cast<Search*>(data);
          DWORD owner = 0;
          GetWindowThreadProcessId(window, &owner);
          if (owner != s->processId || !IsWindowVisible(window)) return TRUE;
          s->found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (!search.found) Sleep(100);
  }
  return search.found;
}

std::wstring WindowText(HWND window) {
  wchar_t text[4096] = {};
  GetWindowTextW(window, text, 4096);
  return text;
}

DWORD WaitForExit(const StartedProcess& started) {
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(started.process.Get(), 30000) == WAIT_OBJECT_0) GetExitCodeProcess(started.process.Get(), &code);
  return code;
}

void WriteSetting(const std::string& file, const char* key, const char* value) {
  CreatePathFolders(file.c_str());
  WritePrivateProfileStringA("morvantis", key, value, file.c_str());
}

TEST(StandinTerminal, RecordsItsStartAndShowsTheSettingsNextToIt) {
  ScratchFolder scratch("standin");
  const std::string folder = scratch / "安装 目录";
  const std::string exe = PlaceStandinTerminal(folder);
  WriteSetting(folder + "\\config\\morvantis.Default.pub", "package", "602731");
  WriteSetting(folder + "\\config\\morvantis.Default.pri", "language", "2052");
  WriteSetting(folder + "\\config\\morvantis.Default.pri", "awaredpi", "1");

  const std::wstring commandLine = L"\"" + Wide(exe) + L"\" end";
  StartedProcess terminal = Start(commandLine, Wide(folder));
  ASSERT_TRUE(terminal.process.Valid());
  HWND window = FindVisibleWindowOf(terminal.id);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(WindowText(window), L"morvantis v9.5");
  const std::wstring info = WindowText(GetDlgItem(window, 100));
  EXPECT_NE(info.find(L"package: 602731\r\n"), std::wstring::npos) << WideToGbk(info);
  EXPECT_NE(info.find(L"language: 2052\r\n"), std::wstring::npos);
  EXPECT_NE(info.find(L"awaredpi: 1\r\n"), std::wstring::npos);

  // The record is written before the window appears; the folder and command line are
  // the ones given, Chinese and blanks included.
  StandinLaunch launch = FindStandinLaunch(terminal.id);
  EXPECT_EQ(launch.processId, terminal.id);
  EXPECT_EQ(launch.commandLine, commandLine);
  EXPECT_EQ(launch.currentFolder, Wide(folder));

  // It keeps running until closed.
  EXPECT_EQ(WaitForSingleObject(terminal.process.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(terminal), 0u);
}

TEST(StandinTerminal, WithoutSettingsShowsThemUnsetAndEndsWhenTold) {
  ScratchFolder scratch("standin");
  const std::string exe = PlaceStandinTerminal(scratch.Path());
  StartedProcess terminal = Start(L"\"" + Wide(exe) + L"\"", Wide(scratch.Path()), L"MORVANTIS_STANDIN_EXIT_MS=3000");
  ASSERT_TRUE(terminal.process.Valid());
  HWND window = FindVisibleWindowOf(terminal.id);
  ASSERT_NE(window, nullptr);
  const std::wstring info = WindowText(GetDlgItem(window, 100));
  EXPECT_NE(info.find(L"package: (not set)\r\nlanguage: (not set)\r\nawaredpi: (not set)"), std::wstring::npos)
      << WideToGbk(info);
  EXPECT_EQ(WaitForExit(terminal), 0u);
  EXPECT_EQ(FindStandinLaunch(terminal.id).processId, terminal.id);
}

// An installation as the installer leaves it: files, settings, log folder, the two
// uninstall entries, the URL protocol tree and a shortcut named by the entry.
class StandinUninstall : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_ / "用户";
    folder_ = root_ + "\\MOrvantis" + code_ + "v9.5";
    shortcut_ = root_ + "\\桌面\\Zelmora香港v9.5.lnk";
    PlaceStandinTerminal(folder_);
    CopyFileW(Wide(BinaryPath("standin\\uninstall.exe")).c_str(), Wide(folder_ + "\\uninstall.exe").c_str(), FALSE);
    WriteSetting(folder_ + "\\config\\morvantis.Default.pub", "package", code_.c_str());
    WriteFileBytes(folder_ + "\\morvantislog\\120000000install.log", "log\r\n");
    WriteFileBytes(folder_ + "\\Server\\config\\BaseData\\HK\\StockList.dat", "00700\r\n");
    WriteFileBytes(folder_ + "\\update.ini", "[version]\r\ncur=9.5.26.0302\r\n");
    SetFileAttributesW(Wide(folder_ + "\\update.ini").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileBytes(shortcut_, "link");
    for (const char* parent : {kUninstallWow, kUninstallNative}) {
      SetValue(HKEY_LOCAL_MACHINE, parent + EntryName(), L"DisplayName", L"Zelmora香港v9.5");
      SetValue(HKEY_LOCAL_MACHINE, parent + EntryName(), L"UninstallString", L"\"" + Wide(folder_ + "\\uninstall.exe") + L"\"");
      SetValue(HKEY_LOCAL_MACHINE, parent + EntryName(), L"Shortcut", Wide(shortcut_));
    }
    SetValue(HKEY_CLASSES_ROOT, ProtocolKey(), L"URL Protocol", Wide(folder_ + "\\morvantis v9.5.exe"));
    SetValue(HKEY_CLASSES_ROOT, ProtocolKey() + "\\shell\\open\\command", L"", L"\"" + Wide(folder_ + "\\morvantis v9.5.exe") + L"\"");
    // Another build's registrations, which must survive.
    SetValue(HKEY_LOCAL_MACHINE, kUninstallWow + std::string("Morvantis_") + otherCode_ + "v9.5", L"DisplayName", L"x");
    SetValue(HKEY_CLASSES_ROOT, "MOrvantis" + otherCode_, L"", L"MorvantisProtocol");
  }
  void TearDown() override {
    for (const std::string& code : {code_, otherCode_}) {
      RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kUninstallWow + std::string("Morvantis_") + code + "v9.5").c_str());
      RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kUninstallNative + std::string("Morvantis_") + code + "v9.5").c_str());
      RegDeleteTreeA(HKEY_CLASSES_ROOT, ("MOrvantis" + code).c_str());
    }
    SetFileAttributesW(Wide(folder_ + "\\update.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
  }

  static void SetValue(HKEY root, const std::string& key, const wchar_t* name, const std::wstring& data) {
    ScopedRegKey handle;
    ASSERT_EQ(RegCreateKeyExW(root, Wide(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, handle.Receive(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(handle.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  static bool KeyExists(HKEY root, const std::string& key) {
    ScopedRegKey handle;
    return RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, handle.Receive()) == ERROR_SUCCESS;
  }
  std::string EntryName() const { return "Morvantis_" + code_ + "v9.5"; }
  std::string ProtocolKey() const { return "MOrvantis" + code_; }
  bool RegistrationsPresent() const {
    return KeyExists(HKEY_LOCAL_MACHINE, kUninstallWow + EntryName()) &&
           KeyExists(HKEY_LOCAL_MACHINE, kUninstallNative + EntryName()) && KeyExists(HKEY_CLASSES_ROOT, ProtocolKey());
  }
  DWORD RunUninstaller(const std::wstring& arguments = L"") {
    ProcessResult result = RunProcess(L"\"" + Wide(folder_ + "\\uninstall.exe") + L"\"" + arguments);
    EXPECT_TRUE(result.started && !result.timedOut);
    return result.exitCode;
  }
  void ExpectOthersUntouched() const {
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallWow + std::string("Morvantis_") + otherCode_ + "v9.5"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "MOrvantis" + otherCode_));
    EXPECT_TRUE(FolderExists(root_));
  }

  ScratchFolder scratch_{"uninstall"};
  std::string code_ = "990517";
  std::string otherCode_ = "990518";
  std::string root_, folder_, shortcut_;
};

TEST_F(StandinUninstall, RemovesWhatWasRegisteredAndTheWholeFolder) {
  ASSERT_TRUE(RegistrationsPresent());
  EXPECT_EQ(RunUninstaller(), 0u);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallWow + EntryName()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallNative + EntryName()));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ProtocolKey()));
  EXPECT_FALSE(FileExists(shortcut_));
  EXPECT_TRUE(WaitForUninstalledFolder(folder_));
  ExpectOthersUntouched();
}

TEST_F(StandinUninstall, TakesThePackageCodeFromItsArgument) {
  DeleteFileW(Wide(folder_ + "\\config\\morvantis.Default.pub").c_str());
  EXPECT_EQ(RunUninstaller(L" " + Wide(code_)), 0u);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ProtocolKey()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallWow + EntryName()));
  EXPECT_TRUE(WaitForUninstalledFolder(folder_));
  ExpectOthersUntouched();
}

TEST_F(StandinUninstall, RefusesABadPackageCodeAndTouchesNothing) {
  DeleteFileW(Wide(folder_ + "\\config\\morvantis.Default.pub").c_str());
  EXPECT_EQ(RunUninstaller(), 2u);  // no code at all
  EXPECT_EQ(RunUninstaller(L" 99051"), 2u);
  EXPECT_EQ(RunUninstaller(L" ..\\990517"), 2u);
  EXPECT_EQ(RunUninstaller(L" 990517 990518"), 5u);
  WriteSetting(folder_ + "\\config\\morvantis.Default.pub", "package", "9905x7");
  EXPECT_EQ(RunUninstaller(), 2u);
  EXPECT_TRUE(RegistrationsPresent());
  EXPECT_TRUE(FileExists(shortcut_));
  EXPECT_TRUE(FileExists(folder_ + "\\update.ini"));
  EXPECT_TRUE(FileExists(folder_ + "\\morvantislog\\120000000install.log"));
}

TEST_F(StandinUninstall, LeavesAFolderWithoutTheTerminalAlone) {
  DeleteFileW(Wide(folder_ + "\\morvantis v9.5.exe").c_str());
  EXPECT_EQ(RunUninstaller(), 3u);
  EXPECT_TRUE(RegistrationsPresent());
  EXPECT_TRUE(FileExists(folder_ + "\\Server\\config\\BaseData\\HK\\StockList.dat"));
}

TEST_F(StandinUninstall, DeletesOnlyALinkFileNamedByTheEntry) {
  const std::string document = root_ + "\\notes.txt";
  WriteFileBytes(document, "keep me");
  SetValue(HKEY_LOCAL_MACHINE, kUninstallWow + EntryName(), L"Shortcut", Wide(document));
  EXPECT_EQ(RunUninstaller(), 0u);
  EXPECT_TRUE(FileExists(document));
  EXPECT_FALSE(FileExists(shortcut_));  // still named by the other entry
  EXPECT_TRUE(WaitForUninstalledFolder(folder_));
}

TEST_F(StandinUninstall, FinishingStageRemovesNothingButALeftUninstaller) {
  // Started by hand on folders that are not what an uninstaller left behind.
  const std::string copy = root_ + "\\finisher.exe";
  CopyFileW(Wide(folder_ + "\\uninstall.exe").c_str(), Wide(copy).c_str(), FALSE);
  EXPECT_EQ(RunProcess(L"\"" + Wide(copy) + L"\" --finish 0 \"" + Wide(root_) + L"\"").exitCode, 5u);
  EXPECT_EQ(RunProcess(L"\"" + Wide(copy) + L"\" --finish 0").exitCode, 5u);
  EXPECT_EQ(RunProcess(L"\"" + Wide(copy) + L"\" --finish 0 \"" + Wide(folder_) + L"\"").exitCode, 4u);
  EXPECT_FALSE(FileExists(folder_ + "\\uninstall.exe"));
  EXPECT_TRUE(FileExists(folder_ + "\\morvantis v9.5.exe"));
  EXPECT_TRUE(FileExists(folder_ + "\\update.ini"));
  EXPECT_TRUE(RegistrationsPresent());
}

}  // namespace
