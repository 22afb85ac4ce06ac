#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "base/context.h"
#include "support/shell_support.h"
#include "support/test_support.h"
#include "system/install_log.h"
#include "system/message_box.h"
#include "base/scoped.h"
#include "system/session.h"
#include "base/text.h"

using namespace testing_support;

namespace {
// Records every box instead of showing it.
class BoxRecorder {
 public:
  BoxRecorder() {
    SetMessageBoxResponderForTesting([this](const MessageBoxRequest& request) {
      boxes.push_back(request);
      return IDOK;
    });
  }
  ~BoxRecorder() { SetMessageBoxResponderForTesting(nullptr); }
  std::vector<MessageBoxRequest> boxes;
};

std::string RunningUserName() {
  char name[256] = {};
  DWORD size = sizeof(name);
  GetUserNameA(name, &size);
  return name;
}
}  // namespace

TEST(ConsoleUserFolder, NameIsSplicedBetweenSecondAndThirdBackslash) {
  EXPECT_EQ(SpliceUserName("C:\\Users\\admin\\AppData\\Local", "alice"), "C:\\Users\\alice\\AppData\\Local");
  EXPECT_EQ(SpliceUserName("C:\\Users\\alice\\AppData\\Local", "alice"), "C:\\Users\\alice\\AppData\\Local");
  // A profile folder named unlike its account gets the account name.
  EXPECT_EQ(SpliceUserName("C:\\Users\\alice.CORP\\AppData\\Local", "alice"), "C:\\Users\\alice\\AppData\\Local");
  EXPECT_EQ(SpliceUserName("C:\\Users", "alice"), "C:\\Users");
  EXPECT_EQ(SpliceUserName("", "alice"), "");
  // No name found anywhere: the running account's folder stays usable.
  EXPECT_EQ(SpliceUserName("C:\\Users\\admin\\AppData\\Local", ""), "C:\\Users\\admin\\AppData\\Local");
  // 誠 ends in the byte of a backslash: the name is not cut there.
  EXPECT_EQ(SpliceUserName("C:\\Users\\誠一\\AppData\\Local", "誠一"), "C:\\Users\\誠一\\AppData\\Local");
  EXPECT_EQ(SpliceUserName("C:\\Users\\admin\\AppData\\Local", "誠一"), "C:\\Users\\誠一\\AppData\\Local");
  EXPECT_EQ(SpliceUserName("C:\\Users\\誠一\\AppData\\Local", "alice"), "C:\\Users\\alice\\AppData\\Local");
}

TEST(ConsoleUserFolder, ThePathOfTheUserAtTheConsoleEndsWithoutSeparator) {
  const std::string user = RunningUserName();
  ASSERT_FALSE(user.empty());
  // Wine's session query names no user, so the name comes from the shell's process (or,
  // without a shell window, stays the running account's, which is the same user here).
  const std::string sessionUser = ConsoleSessionUserName();
  EXPECT_TRUE(sessionUser.empty() || sessionUser == user) << sessionUser;
  std::string path;
  AppendInteractiveUserAppDataPath(path);
  EXPECT_EQ(path, RunningAccountLocalAppDataPath());
  EXPECT_NE(path.find("\\" + user + "\\"), std::string::npos) << path;
  EXPECT_NE(path.back(), '\\');
  std::string extended = "prefix:";
  AppendInteractiveUserAppDataPath(extended);
  EXPECT_EQ(extended.rfind("prefix:", 0), 0u);
}

TEST(ConsoleUserFolder, AFolderTheShellCannotNameIsLoggedWithItsCode) {
  ScratchFolder root("appdata");
  InstallLog::Open((root / "logs").c_str());
  std::string path;
  {
    ShellFolderRedirected missing(HKEY_CURRENT_USER, L"Local AppData", L"Q:\\nowhere\\Local");
    AppendInteractiveUserAppDataPath(path);
  }
  InstallLog::Close();
  EXPECT_EQ(path, "");
  EXPECT_EQ(ReadLogMessages(root / "logs"),
            std::vector<std::string>({"无法取得本地应用数据文件夹：CSIDL_LOCAL_APPDATA (错误码 -2147467259)"}));
  EXPECT_NE(RunningAccountLocalAppDataPath(), "") << "the folder is back";
}

TEST(ConsoleUserFolder, ShellProcessTokenNamesTheUserWhenTheSessionCannot) {
  // Wine's desktop registers a shell window only some of the time; when it has none, this
  // process tries to take the part so the token chain runs on a real shell window.
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  using SetShellWindowFunction = BOOL(WINAPI*)(HWND);
  auto setShellWindow = reinterpret_cast<SetShellWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), "SetShellWindow")));
  if (GetShellWindow() == nullptr && setShellWindow != nullptr) setShellWindow(window);
  if (GetShellWindow() == nullptr) {
    DestroyWindow(window);
    GTEST_SKIP() << "no shell window in this Wine desktop";
  }
  EXPECT_EQ(ShellProcessUserName(), RunningUserName());
  if (GetShellWindow() == window) setShellWindow(nullptr);
  DestroyWindow(window);
}

TEST(CreatePathFolders, CreatesEveryFolderUpToTheLastBackslash) {
  ScratchFolder root("folders");
  BoxRecorder boxes;
  EXPECT_TRUE(CreatePathFolders((root / "a\\b\\").c_str()));
  EXPECT_TRUE(FolderExists(root / "a\\b"));

  EXPECT_TRUE(CreatePathFolders((root / "c\\d\\file.log").c_str()));
  EXPECT_TRUE(FolderExists(root / "c\\d"));
  EXPECT_FALSE(FileExists(root / "c\\d\\file.log"));
  EXPECT_FALSE(FolderExists(root / "c\\d\\file.log"));

  // Forward slashes are ordinary characters: the parts after the last backslash stay.
  EXPECT_TRUE(CreatePathFolders((root / "e\\f/g/h").c_str()));
  EXPECT_TRUE(FolderExists(root / "e"));
  EXPECT_FALSE(FolderExists(root / "e\\f"));

  // An existing path: nothing created, nothing shown.
  EXPECT_TRUE(CreatePathFolders((root / "a\\b\\").c_str()));
  EXPECT_TRUE(CreatePathFolders((root / "交易\\数据\\").c_str()));
  EXPECT_TRUE(FolderExists(root / "交易\\数据"));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST(CreatePathFolders, BackslashByteInsideACharacterMakesNoFolder) {
  ScratchFolder root("folders");
  BoxRecorder boxes;
  // 運 is 0xDF 0x5C in GBK.
  EXPECT_TRUE(CreatePathFolders((root / "運輸\\x\\").c_str()));
  EXPECT_TRUE(FolderExists(root / "運輸\\x"));
  int entries = 0;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(GbkToWide(root / "*").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    ++entries;
    EXPECT_EQ(name, L"運輸");
  } while (FindNextFileW(find, &found));
  FindClose(find);
  EXPECT_EQ(entries, 1);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST(CreatePathFolders, FolderThatCannotBeCreatedIsNamedInANoticeBox) {
  ScratchFolder root("folders");
  BoxRecorder boxes;
  WriteFileBytes(root / "blocker", "a file where a folder should go");
  InstallLog::Open((root / "log").c_str());
  EXPECT_FALSE(CreatePathFolders((root / "blocker\\inner\\deeper\\").c_str()));
  InstallLog::Close();
  // The cause goes to the log as well: the file is there under the folder's name.
  EXPECT_EQ(ReadLogMessages(root / "log"),
            std::vector<std::string>{"创建文件夹失败：" + (root / "blocker\\") + " (错误码 183)"});
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].textBytes, root / "blocker\\");
  EXPECT_EQ(boxes.boxes[0].caption, L"提示");
  EXPECT_EQ(boxes.boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(boxes.boxes[0].owner, nullptr);
  EXPECT_FALSE(FolderExists(root / "blocker\\inner"));
}

TEST(CreatePathFolders, PrefixLongerThanItsBufferFailsWithABoxInsteadOfOverrunning) {
  ScratchFolder root("folders");
  BoxRecorder boxes;
  std::string path = root.Path();
  while (path.size() < 250) path += "\\abcdefgh";
  path += "\\0123456789abcdef\\";  // the last prefix passes 259 bytes
  EXPECT_FALSE(CreatePathFolders(path.c_str()));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].textBytes, path);
  EXPECT_EQ(boxes.boxes[0].caption, L"提示");
}

TEST(ShellDeletePath, RemovesAFolderTreeOrAFileSilentlyAndLogsOnlyWhatItLeavesBehind) {
  ScratchFolder root("delete");
  InstallLog::Open((root / "logs").c_str());
  WriteFileBytes(root / "tree\\a\\b\\file.txt", "x");
  WriteFileBytes(root / "tree\\top.txt", "y");
  WriteFileBytes(root / "single.txt", "z");
  EXPECT_TRUE(ShellDeletePath((root / "tree").c_str()));
  EXPECT_FALSE(FolderExists(root / "tree"));
  EXPECT_TRUE(ShellDeletePath((root / "single.txt").c_str()));
  EXPECT_FALSE(FileExists(root / "single.txt"));
  EXPECT_FALSE(ShellDeletePath((root / "never-there").c_str()));

  // A file open without sharing keeps its folder: the shell's code names the cause.
  WriteFileBytes(root / "held\\in use.txt", "w");
  {
    ScopedFileHandle held(CreateFileW(GbkToWide(root / "held\\in use.txt").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(ShellDeletePath((root / "held").c_str()));
  }
  EXPECT_TRUE(FileExists(root / "held\\in use.txt"));
  InstallLog::Close();
  EXPECT_EQ(std::vector<std::string>({"删除失败：" + (root / "held") + " (错误码 32)"}), ReadLogMessages(root / "logs"));
}

TEST(MessageBoxSeam, ABoxThatCannotBeShownAnswersNoButtonAndLogsWhatWentUnasked) {
  ScratchFolder root("box");
  InstallLog::Open((root / "logs").c_str());
  // An owner that is no window: the box cannot be made.
  const HWND noWindow = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x7fff1234));
  EXPECT_LE(ShowMessageBoxA(noWindow, "D:\\摩凡\\", "提示", MB_OK), 0);
  InstallLog::Close();
  EXPECT_EQ(ReadLogMessages(root / "logs"), std::vector<std::string>({"无法显示提示框：提示：D:\\摩凡\\ (错误码 1400)"}));
}

namespace {
// The probe copied in as the terminal of a fresh installation folder with a blank in it.
std::string PlaceProbeTerminal(const ScratchFolder& root) {
  const std::string installDir = root / "Morvantis Install";
  CreatePathFolders((installDir + "\\").c_str());
  EXPECT_TRUE(CopyFileW(GbkToWide(BinaryPath("test-programs/launch_probe.exe")).c_str(),
                        GbkToWide(installDir + "\\" + kTerminalExeName).c_str(), FALSE));
  InstallerContext::Instance().installDir = installDir;
  return installDir;
}

// The probe's record fields: command line, current folder, process id, and what it saw
// of MORVANTIS_INSTALLER_ONLY.
std::vector<std::string> WaitForProbeRecord(const std::string& installDir) {
  const std::string record = installDir + "\\launches.txt";
  for (int i = 0; i < 200 && ReadFileBytes(record).find('\n') == std::string::npos; ++i) Sleep(50);
  std::string line = ReadFileBytes(record);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  std::vector<std::string> fields;
  size_t from = 0;
  for (size_t bar; (bar = line.find('|', from)) != std::string::npos; from = bar + 1) fields.push_back(line.substr(from, bar - from));
  fields.push_back(line.substr(from));
  return fields;
}

DWORD ParentProcessId(DWORD processId) {
  ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == processId) return entry.th32ParentProcessID;
  }
  return 0;
}
}  // namespace

TEST(LaunchTerminal, StartsTheTerminalQuotedWithEndInTheInstallationFolder) {
  ScratchFolder root("launch");
  const std::string installDir = PlaceProbeTerminal(root);
  EXPECT_NE(LaunchTerminal(), 0);
  const std::vector<std::string> fields = WaitForProbeRecord(installDir);
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0], "\"" + installDir + "\\morvantis v9.5.exe\" end");
  EXPECT_EQ(fields[1], installDir);

  // A missing terminal: the result, and a line for a log (or its copy) still open.
  InstallerContext::Instance().installDir = root / "empty";
  InstallLog::Open((root / "logs").c_str());
  EXPECT_EQ(LaunchTerminal(), 0);
  InstallLog::Close();
  const std::vector<std::string> messages = ReadLogMessages(root / "logs");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "无法启动终端：\"" + (root / "empty") + "\\morvantis v9.5.exe\" end (错误码 2)");
}

// Started as a child of the session's shell it runs with the shell's token and its
// user's environment, not with the elevated installer's.
TEST(LaunchTerminal, StartsAsAChildOfTheShellProcessWithItsUsersEnvironment) {
  StartedProcess shell = StartProcess(L"\"" + GbkToWide(BinaryPath("test-programs/shell_standin.exe")) + L"\"");
  ASSERT_TRUE(shell.started);
  for (int i = 0; i < 200 && GetShellWindow() == nullptr; ++i) Sleep(50);
  HWND shellWindow = GetShellWindow();
  ASSERT_NE(shellWindow, nullptr);
  DWORD shellProcessId = 0;
  GetWindowThreadProcessId(shellWindow, &shellProcessId);

  ScratchFolder root("launch");
  const std::string installDir = PlaceProbeTerminal(root);
  WriteFileBytes(installDir + "\\launches.txt.hold", "");
  SetEnvironmentVariableW(L"MORVANTIS_INSTALLER_ONLY", L"1");
  EXPECT_NE(LaunchTerminal(), 0);
  SetEnvironmentVariableW(L"MORVANTIS_INSTALLER_ONLY", nullptr);
  const std::vector<std::string> fields = WaitForProbeRecord(installDir);
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0], "\"" + installDir + "\\morvantis v9.5.exe\" end");
  EXPECT_EQ(fields[1], installDir);
  const DWORD parent = ParentProcessId(static_cast<DWORD>(atol(fields[2].c_str())));
  DeleteFileW(GbkToWide(installDir + "\\launches.txt.hold").c_str());
  EXPECT_EQ(parent, shellProcessId);
  EXPECT_NE(parent, GetCurrentProcessId());
  EXPECT_EQ(fields[3], "") << "the installer's own environment reached the terminal";

  if (shellProcessId == shell.id) PostMessageW(shellWindow, WM_CLOSE, 0, 0);
  else TerminateProcess(shell.process.Get(), 0);
  EXPECT_EQ(WaitForSingleObject(shell.process.Get(), 10000), WAIT_OBJECT_0);
}
