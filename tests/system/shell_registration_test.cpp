#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/context.h"
#include "support/shell_support.h"
#include "support/test_support.h"
#include "system/install_log.h"
#include "base/scoped.h"
#include "system/session.h"
#include "system/shell_registration.h"
#include "base/text.h"

using namespace testing_support;

namespace {

const char kPackageCode[] = "990101";
const char kEntryName[] = "Morvantis_990101v9.5";

std::string CommonDesktop() {
  std::string desktop;
  AppendCommonDesktopPath(desktop);
  return desktop;
}

// COM is initialised per thread: each shortcut is made on a thread of its own, as the
// install worker makes it.
void RunOnFreshThread(const std::function<void()>& work) { std::thread(work).join(); }

struct LoadedLink {
  bool loaded = false;
  std::wstring target;
  std::wstring folder;
  std::wstring icon;
  int iconIndex = -1;
};

LoadedLink LoadLink(const std::wstring& path) {
  LoadedLink link;
  RunOnFreshThread([&] {
    if (FAILED(CoInitialize(nullptr))) return;
    {
      ScopedComPtr<IShellLinkW> shellLink;
      ScopedComPtr<IPersistFile> file;
      if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shellLink.ReceiveVoid())) &&
          SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, file.ReceiveVoid())) &&
          SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        wchar_t buffer[MAX_PATH] = {};
        LPITEMIDLIST items = nullptr;
        if (SUCCEEDED(shellLink->GetIDList(&items)) && items != nullptr) {
          SHGetPathFromIDListW(items, buffer);
          CoTaskMemFree(items);
        }
        link.target = buffer;
        buffer[0] = L'\0';
        shellLink->GetWorkingDirectory(buffer, MAX_PATH);
        link.folder = buffer;
        buffer[0] = L'\0';
        shellLink->GetIconLocation(buffer, MAX_PATH, &link.iconIndex);
        link.icon = buffer;
        link.loaded = true;
      }
    }
    CoUninitialize();
  });
  return link;
}

class ShellRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureUninstallParentKeys();
    InstallerContext& context = InstallerContext::Instance();
    context.packageCode = kPackageCode;
    context.installDir = scratch_ / "摩凡 终端";
    context.version = "9.5.3.1";
    context.distributorName = "摩凡证券";
    ASSERT_TRUE(WriteFileBytes(context.installDir + "\\" + kTerminalExeName, "MZ"));
    InstallLog::Open(LogDir().c_str());
  }
  void TearDown() override {
    InstallLog::Close();
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, EntryKey());
    for (const std::string& shortcut : shortcuts_) DeleteFileW(GbkToWide(shortcut, 2048).c_str());
  }

  std::string LogDir() const { return scratch_ / "logs"; }
  static std::vector<std::wstring> SortedValueNames() {
    std::vector<std::wstring> names = RegistryValueNames(HKEY_LOCAL_MACHINE, EntryKey());
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string EntryKey() { return std::string(kUninstallParent64) + "\\" + kEntryName; }
  // The shortcut file for the context's distributor; removed when the test ends.
  std::string ShortcutFile() {
    std::string path = CommonDesktop() + "\\" + InstallerContext::Instance().distributorName + "v9.5.lnk";
    shortcuts_.push_back(path);
    return path;
  }
  std::string IconFile() const {
    return InstallerContext::Instance().installDir + "\\Server\\config\\shortcut\\shortcut" + kPackageCode + ".ico";
  }

  ScratchFolder scratch_{"shell"};
  std::vector<std::string> shortcuts_;
};

}  // namespace

TEST_F(ShellRegistrationTest, CommonDesktopFolderIsAppendedWithoutTrailingBackslash) {
  std::string path = "prefix:";
  AppendCommonDesktopPath(path);
  ASSERT_GT(path.size(), 7u);
  EXPECT_EQ(0u, path.find("prefix:"));
  EXPECT_NE('\\', path.back());
  EXPECT_TRUE(FolderExists(path.substr(7)));
}

TEST_F(ShellRegistrationTest, UninstallEntryHoldsSixValuesInTheThirtyTwoBitViewAndIsOverwritten) {
  const InstallerContext& context = InstallerContext::Instance();
  ASSERT_EQ(0, RegisterUninstallEntry());

  // The registry lists values by name, not in the order they were written.
  const std::vector<std::wstring> expectedNames = {L"DisplayIcon", L"DisplayName", L"DisplayVersion",
                                                   L"Publisher", L"Shortcut", L"UninstallString"};
  EXPECT_EQ(expectedNames, SortedValueNames());
  const std::wstring folder = GbkToWide(context.installDir);
  EXPECT_EQ(L"摩凡证券v9.5", ReadRegistryText(HKEY_LOCAL_MACHINE, EntryKey(), L"DisplayName").text);
  // The path in quotation marks; the icon stays bare.
  EXPECT_EQ(L"\"" + folder + L"\\uninstall.exe\"", ReadRegistryText(HKEY_LOCAL_MACHINE, EntryKey(), L"UninstallString").text);
  EXPECT_EQ(folder + L"\\morvantis v9.5.exe", ReadRegistryText(HKEY_LOCAL_MACHINE, EntryKey(), L"DisplayIcon").text);
  EXPECT_EQ(L"9.5.3.1", ReadRegistryText(HKEY_LOCAL_MACHINE, EntryKey(), L"DisplayVersion").text);
  EXPECT_EQ(L"Harkel Information", ReadRegistryText(HKEY_LOCAL_MACHINE, EntryKey(), L"Publisher").text);
  EXPECT_EQ(GbkToWide(CommonDesktop()) + L"\\摩凡证券v9.5.lnk",
            ReadRegistryText(HKEY_LOCAL_MACHINE, EntryKey(), L"Shortcut").text);
  // The 64-bit view's list stays untouched.
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE,
                                 std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kEntryName));

  // Installing again opens the same entry and replaces its values.
  InstallerContext::Instance().version = "9.5.4.0";
  InstallerContext::Instance().installDir = scratch_ / "Other Folder";
  ASSERT_EQ(0, RegisterUninstallEntry());
  EXPECT_EQ(expectedNames, SortedValueNames());
  EXPECT_EQ(L"9.5.4.0", ReadRegistryText(HKEY_LOCAL_MACHINE, EntryKey(), L"DisplayVersion").text);
  EXPECT_EQ(L"\"" + GbkToWide(scratch_ / "Other Folder\\uninstall.exe") + L"\"",
            ReadRegistryText(HKEY_LOCAL_MACHINE, EntryKey(), L"UninstallString").text);
}

TEST_F(ShellRegistrationTest, ShortcutIsNamedAfterTheDistributorInEachLanguage) {
  struct Distributor {
    int32_t language;
    const char* name;  // GBK, as the string resources give it
    const wchar_t* fileName;
  };
  const Distributor distributors[] = {
      {0x0804, "摩凡证券", L"摩凡证券v9.5.lnk"},
      {0x0404, "摩凡證券", L"摩凡證券v9.5.lnk"},
      {0x0409, "Morvan Securities", L"Morvan Securitiesv9.5.lnk"},
  };
  ASSERT_TRUE(WriteFileBytes(IconFile(), "icon"));
  const std::wstring folder = GbkToWide(InstallerContext::Instance().installDir);
  for (const Distributor& distributor : distributors) {
    SCOPED_TRACE(distributor.language);
    InstallerContext::Instance().languageId = distributor.language;
    InstallerContext::Instance().distributorName = distributor.name;
    const std::string shortcut = ShortcutFile();
    EXPECT_EQ(GbkToWide(CommonDesktop()) + L"\\" + distributor.fileName, GbkToWide(shortcut));

    bool created = false;
    RunOnFreshThread([&] { created = CreateDesktopShortcut(); });
    EXPECT_TRUE(created);
    ASSERT_TRUE(FileExists(shortcut));

    LoadedLink link = LoadLink(GbkToWide(shortcut));
    ASSERT_TRUE(link.loaded);
    EXPECT_EQ(folder + L"\\morvantis v9.5.exe", link.target);
    EXPECT_EQ(folder, link.folder);
    EXPECT_EQ(GbkToWide(IconFile()), link.icon);
    EXPECT_EQ(0, link.iconIndex);

    // The uninstall entry names the same file.
    ASSERT_EQ(0, RegisterUninstallEntry());
    EXPECT_EQ(GbkToWide(shortcut), ReadRegistryText(HKEY_LOCAL_MACHINE, EntryKey(), L"Shortcut").text);
  }
}

TEST_F(ShellRegistrationTest, ShortcutWithoutIconFileIsSavedAndEveryComStepIsLogged) {
  const InstallerContext& context = InstallerContext::Instance();
  const std::string shortcut = ShortcutFile();
  ASSERT_TRUE(WriteFileBytes(shortcut, "an older shortcut"));

  bool created = false;
  RunOnFreshThread([&] { created = CreateDesktopShortcut(); });
  EXPECT_TRUE(created);
  InstallLog::Close();

  const std::vector<std::string> expected = {
      shortcut,
      context.installDir + "\\morvantis v9.5.exe",
      context.installDir,
      "CoInitialize : 0",
      "CoCreateInstance : 0",
      "IShellLink::SetPath : 0",
      "IShellLink::SetWorkingDirectory : 0",
      "IShellLink::QueryInterface : 0",
      "IPersistFile::Save : 0",
  };
  EXPECT_EQ(expected, ReadLogMessages(LogDir()));

  LoadedLink link = LoadLink(GbkToWide(shortcut));
  ASSERT_TRUE(link.loaded) << "the older file is replaced by a real link";
  EXPECT_EQ(GbkToWide(context.installDir + "\\morvantis v9.5.exe"), link.target);
  EXPECT_EQ(L"", link.icon);
}

TEST_F(ShellRegistrationTest, ComAlreadyInitialisedOnTheThreadCountsAsSuccess) {
  const std::string shortcut = ShortcutFile();
  bool created = false;
  RunOnFreshThread([&] {
    HRESULT outer = CoInitialize(nullptr);
    created = CreateDesktopShortcut();
    if (SUCCEEDED(outer)) CoUninitialize();
  });
  EXPECT_TRUE(created);
  InstallLog::Close();

  std::vector<std::string> messages = ReadLogMessages(LogDir());
  ASSERT_GE(messages.size(), 4u);
  EXPECT_EQ("CoInitialize : 1", messages[3]);
  EXPECT_EQ("IPersistFile::Save : 0", messages.back());
  EXPECT_TRUE(FileExists(shortcut));
}

TEST_F(ShellRegistrationTest, EntryThatCannotBeWrittenGivesMinusOneAndLogsTheKeyOrValueWithItsCode) {
  const std::string parent = std::string("HKEY_LOCAL_MACHINE\\") + kUninstallParent64 + "\\";
  {
    // Every value refused: the first one names the cause, and nothing is written.
    RegistryAccessDenied denied(HKEY_LOCAL_MACHINE, EntryKey(), KEY_SET_VALUE);
    ASSERT_TRUE(denied.Applied());
    EXPECT_EQ(-1, RegisterUninstallEntry());
    EXPECT_TRUE(SortedValueNames().empty());
  }
  // Key names end at 255 characters.
  const std::string longCode(300, '9');
  InstallerContext::Instance().packageCode = longCode;
  EXPECT_EQ(-1, RegisterUninstallEntry());
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, std::string(kUninstallParent64) + "\\Morvantis_" + longCode + "v9.5"));
  InstallLog::Close();

  const std::vector<std::string> messages = ReadLogMessages(LogDir());
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ("无法写入注册表值：" + parent + kEntryName + "\\DisplayName (错误码 5)", messages[0]);
  EXPECT_EQ(0u, messages[1].find("无法创建注册表项：" + parent + "Morvantis_" + longCode + "v9.5 (错误码 ")) << messages[1];
}

TEST_F(ShellRegistrationTest, FailedSaveIsLoggedWithItsCodeAndTheStepStillSucceeds) {
  // A name that points into a folder the desktop does not have.
  InstallerContext::Instance().distributorName = "No Such Folder\\摩凡";
  const std::string shortcut = ShortcutFile();
  bool created = false;
  RunOnFreshThread([&] { created = CreateDesktopShortcut(); });
  EXPECT_TRUE(created);
  InstallLog::Close();

  std::vector<std::string> messages = ReadLogMessages(LogDir());
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ("IShellLink::QueryInterface : 0", messages[messages.size() - 2]);
  EXPECT_EQ(0u, messages.back().find("IPersistFile::Save : -")) << messages.back();
  EXPECT_FALSE(FileExists(shortcut));
}

TEST_F(ShellRegistrationTest, WithoutTheAllUsersDesktopTheShellsCodeFollowsTheShortcutLine) {
  // A folder of its own in the name, so that nothing is saved in a drive's root.
  InstallerContext::Instance().distributorName = "No Such Folder\\摩凡";
  bool created = false;
  {
    ShellFolderRedirected missing(HKEY_LOCAL_MACHINE, L"Common Desktop", L"Q:\\nowhere\\Desktop");
    RunOnFreshThread([&] { created = CreateDesktopShortcut(); });
  }
  EXPECT_TRUE(created);
  InstallLog::Close();
  EXPECT_NE(CommonDesktop(), "") << "the desktop is back";

  const std::vector<std::string> messages = ReadLogMessages(LogDir());
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ("\\No Such Folder\\摩凡v9.5.lnk", messages[0]);
  EXPECT_EQ("无法取得所有用户的桌面文件夹：\\No Such Folder\\摩凡v9.5.lnk (错误码 -2147467259)", messages[1]);
  EXPECT_EQ(0u, messages.back().find("IPersistFile::Save : -")) << messages.back();
}
