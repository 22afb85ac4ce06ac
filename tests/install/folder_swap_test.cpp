// Putting a staged release in place: the old installation survives every failure byte
// for byte, another volume gets an exact copy or a refusal before anything moves, links
// are refused with nothing touched, and a swap cut short is settled by the next run.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "install/folder_swap.h"
#include "support/file_holder.h"
#include "support/file_system_fixtures.h"
#include "support/store_local_store.h"
#include "support/test_support.h"
#include "system/install_log.h"
#include "system/session.h"
#include "base/text.h"

using namespace testing_support;

namespace {
using Tree = std::map<std::string, std::string>;
constexpr DWORD kComparedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY;

void SnapshotInto(const std::wstring& root, const std::wstring& relative, Tree& out) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((root + (relative.empty() ? L"" : L"\\" + relative) + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L".." || (relative.empty() && name == L"morvantislog")) continue;
    const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
    std::string entry = std::to_string(data.dwFileAttributes & kComparedAttributes);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      SnapshotInto(root, child, out);
    } else {
      entry += ":" + ReadFileBytes(WideToGbk(root + L"\\" + child, 4096));
    }
    out[WideToGbk(child, 4096)] = entry;
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

// Every file and folder below root with its attributes, and every file's bytes; the log
// folder aside.
Tree Snapshot(const std::string& root) {
  Tree tree;
  SnapshotInto(GbkToWide(root, 4096), L"", tree);
  return tree;
}

void SetAttributes(const std::string& path, DWORD attributes) {
  SetFileAttributesW(GbkToWide(path, 4096).c_str(), attributes);
}

bool AnyLineHas(const std::vector<std::string>& lines, const std::string& fragment) {
  for (const std::string& line : lines) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

class FolderSwapTest : public ::testing::Test {
 protected:
  void SetUp() override { Use(root.Path()); }
  void TearDown() override { InstallLog::Close(); }

  // The installation folder below parent, its log open inside it; staging in the scratch root.
  void Use(const std::string& parent) {
    InstallLog::Close();
    folders.installDir = parent + "\\MOrvantis602731v9.5";
    folders.logDir = folders.installDir + "\\morvantislog";
    folders.stagingDir = root / "MOrvantis602731v9.5temp";
    InstallLog::Open(folders.logDir.c_str());
  }
  bool UseSecondVolume(uint64_t sizeBytes) {
    volume = std::make_unique<SecondVolume>(sizeBytes);
    if (!volume->Ready()) return false;
    Use(volume->Root());
    return true;
  }
  std::string Installed(const std::string& relative) const { return folders.installDir + "\\" + relative; }
  std::string Staged(const std::string& relative) const { return folders.stagingDir + "\\" + relative; }
  std::string Aside() const { return AsideFolder(folders.installDir); }

  // An earlier installation with a user's own file, hidden and read-only files, an empty folder.
  void MakeOld() {
    WriteFileBytes(Installed("update.ini"), "[version]\r\ncur=9.5.8.0\r\n");
    WriteFileBytes(Installed("morvantis v9.5.exe"), "old terminal");
    WriteFileBytes(Installed("我的笔记 & notes.txt"), "the user's own file");
    WriteFileBytes(Installed("plugins\\old.dll"), std::string(5000, 'o'));
    WriteFileBytes(Installed("hidden.dat"), "hidden");
    SetAttributes(Installed("hidden.dat"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    WriteFileBytes(Installed("plugins\\locked.cfg"), "read-only");
    SetAttributes(Installed("plugins\\locked.cfg"), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW(GbkToWide(Installed("empty old folder")).c_str(), nullptr);
  }
  // A new release: folder names a shell would read, an empty folder, hidden and system files.
  void MakeStaged(size_t bigBytes = 0) {
    WriteFileBytes(Staged("update.ini"), "[version]\r\ncur=9.5.9.1\r\n");
    WriteFileBytes(Staged("morvantis v9.5.exe"), "new terminal");
    WriteFileBytes(Staged("bin\\new.dll"), std::string(7000, 'n'));
    WriteFileBytes(Staged("a %USERNAME% & b ^ c's\\x.txt"), "odd folder name");
    WriteFileBytes(Staged("sys.dat"), "system");
    SetAttributes(Staged("sys.dat"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW(GbkToWide(Staged("cache")).c_str(), nullptr);
    if (bigBytes > 0) WriteFileBytes(Staged("big.bin"), std::string(bigBytes, 'b'));
  }
  std::vector<std::string> Log() { return InstallLogLines(folders.logDir); }

  // A swap that fails on `held`, which another process holds open (while the old entries
  // move aside, or while the staged ones are placed): the old installation and the staged
  // release are as they were, and the log names the entry.
  void ExpectHeldFileUndoesTheSwap(const std::string& held, bool whilePlacing, const std::string& failureLine) {
    MakeOld();
    MakeStaged();
    const Tree old = Snapshot(folders.installDir);
    const Tree staged = Snapshot(folders.stagingDir);
    FileHolder holder(held);
    ASSERT_TRUE(holder.Holding());
    FolderSwap swap(folders);
    if (whilePlacing) {
      ASSERT_TRUE(swap.MoveOldAside());
      EXPECT_FALSE(swap.PlaceStaged());
    } else {
      EXPECT_FALSE(swap.MoveOldAside());
    }
    holder.Release();
    EXPECT_EQ(Snapshot(folders.installDir), old);
    EXPECT_EQ(Snapshot(folders.stagingDir), staged);
    EXPECT_FALSE(FolderExists(Aside()));
    const std::vector<std::string> log = Log();
    EXPECT_TRUE(AnyLineHas(log, failureLine));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "原安装目录已恢复");
  }

  ScratchFolder root{"swap"};
  SwapFolders folders;
  std::unique_ptr<SecondVolume> volume;  // ends after TearDown has closed the log on it
};
}  // namespace

TEST_F(FolderSwapTest, SameVolumeSwapLeavesExactlyTheStagedTreeBesideTheLog) {
  MakeOld();
  MakeStaged();
  const Tree staged = Snapshot(folders.stagingDir);
  FolderSwap swap(folders);
  ASSERT_TRUE(swap.MoveOldAside());
  EXPECT_TRUE(Snapshot(folders.installDir).empty());
  EXPECT_EQ(ReadFileBytes(Aside() + "\\我的笔记 & notes.txt"), "the user's own file");
  ASSERT_TRUE(swap.PlaceStaged());
  EXPECT_EQ(Snapshot(folders.installDir), staged);
  EXPECT_FALSE(FolderExists(Aside()));
  EXPECT_TRUE(Snapshot(folders.stagingDir).empty());  // moved, not copied
  EXPECT_EQ(ListFilesRecursive(folders.logDir).size(), 1u);
  EXPECT_TRUE(Log().empty()) << "a success writes no line of its own";
}

TEST_F(FolderSwapTest, FileHeldInTheOldInstallationStopsTheSwapWithEverythingBack) {
  ExpectHeldFileUndoesTheSwap(Installed("morvantis v9.5.exe"), false,
                              "移动失败：" + Installed("morvantis v9.5.exe") + " (错误码 32)");
}

TEST_F(FolderSwapTest, FailureAfterEntriesWerePlacedTakesThemOutAndPutsTheOldOnesBack) {
  // The version record is placed last: everything else is in place when it fails.
  ExpectHeldFileUndoesTheSwap(Staged("update.ini"), true, "移动失败：" + Staged("update.ini") + " (错误码 32)");
}

TEST_F(FolderSwapTest, AnotherVolumeThatCannotHoldTheReleaseIsRefusedBeforeAnythingMoves) {
  if (!UseSecondVolume(512 * 1024)) GTEST_SKIP() << volume->WhyNot();
  MakeOld();
  MakeStaged(1024 * 1024);
  const Tree old = Snapshot(folders.installDir);
  FolderSwap swap(folders);
  EXPECT_FALSE(swap.MoveOldAside());
  EXPECT_EQ(Snapshot(folders.installDir), old);
  EXPECT_FALSE(FolderExists(Aside()));
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("磁盘空间不足：需要 ", 0), 0u) << log[0];
}

TEST_F(FolderSwapTest, AnotherVolumeGetsAnExactCopyAndTheOldTreeGoes) {
  if (!UseSecondVolume(0)) GTEST_SKIP() << volume->WhyNot();
  MakeOld();
  MakeStaged(300 * 1024);
  const Tree staged = Snapshot(folders.stagingDir);
  FolderSwap swap(folders);
  ASSERT_TRUE(swap.MoveOldAside());
  ASSERT_TRUE(swap.PlaceStaged());
  EXPECT_EQ(Snapshot(folders.installDir), staged);
  EXPECT_TRUE(FolderExists(Installed("cache")));
  EXPECT_FALSE(FolderExists(Aside()));
  EXPECT_TRUE(Log().empty());
}

TEST_F(FolderSwapTest, FailedCopyToAnotherVolumeRemovesWhatItCopiedAndPutsTheOldBack) {
  if (!UseSecondVolume(0)) GTEST_SKIP() << volume->WhyNot();
  ExpectHeldFileUndoesTheSwap(Staged("bin\\new.dll"), true, "复制失败：" + Staged("bin\\new.dll") + " (错误码 32)");
}

TEST_F(FolderSwapTest, SwapCutShortIsSettledBeforeAnythingElse) {
  // Cut while placing: the old entries wait aside, two new ones are in, no version record.
  WriteFileBytes(Aside() + "\\update.ini", "old record");
  WriteFileBytes(Aside() + "\\morvantis v9.5.exe", "old terminal");
  WriteFileBytes(Aside() + "\\plugins\\old.dll", "old plugin");
  WriteFileBytes(Installed("morvantis v9.5.exe"), "new terminal, half placed");
  WriteFileBytes(Installed("bin\\new.dll"), "new");
  EXPECT_EQ(PrepareInstallFolders(folders), "");
  EXPECT_FALSE(FolderExists(Aside()));
  EXPECT_EQ(ReadFileBytes(Installed("update.ini")), "old record");
  EXPECT_EQ(ReadFileBytes(Installed("morvantis v9.5.exe")), "old terminal");
  EXPECT_EQ(ReadFileBytes(Installed("plugins\\old.dll")), "old plugin");
  EXPECT_TRUE(FileExists(Installed("bin\\new.dll")));  // not known to be new: kept

  // Cut after the new release was complete: what waits aside is only removed.
  WriteFileBytes(Aside() + "\\morvantis v9.5.exe", "older terminal");
  const Tree current = Snapshot(folders.installDir);
  EXPECT_EQ(PrepareInstallFolders(folders), "");
  EXPECT_FALSE(FolderExists(Aside()));
  EXPECT_EQ(Snapshot(folders.installDir), current);

  // One the swap itself meets is settled the same way before it moves anything.
  WriteFileBytes(Aside() + "\\stale.dll", "older");
  MakeStaged();
  FolderSwap swap(folders);
  ASSERT_TRUE(swap.MoveOldAside());
  ASSERT_TRUE(swap.PlaceStaged());
  EXPECT_FALSE(FolderExists(Aside()));
  EXPECT_EQ(ReadFileBytes(Installed("morvantis v9.5.exe")), "new terminal");
}

TEST_F(FolderSwapTest, PlainFileWhereTheFolderBelongsIsRemoved) {
  InstallLog::Close();
  folders.logDir = root / "logs";
  ShellDeletePath(folders.installDir.c_str());
  WriteFileBytes(folders.installDir, "a stray file");
  SetAttributes(folders.installDir, FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(LogFolderIsSafe(folders));
  SwapFolders logInside = folders;
  logInside.logDir = folders.installDir + "\\morvantislog";
  EXPECT_FALSE(LogFolderIsSafe(logInside));
  EXPECT_EQ(PrepareInstallFolders(folders), "");
  EXPECT_FALSE(FileExists(folders.installDir));
  EXPECT_TRUE(LogFolderIsSafe(logInside));
}

TEST_F(FolderSwapTest, LinksOnTheWayAreRefusedWithNothingTouched) {
  InstallLog::Close();
  folders.logDir = root / "logs";
  ScratchFolder elsewhere("link-target");
  WriteFileBytes(elsewhere / "precious.txt", "not the installer's");
  WriteFileBytes(elsewhere / "deeper\\more.txt", "nor this");
  const Tree target = Snapshot(elsewhere.Path());
  struct Case {
    std::string link;
    std::string tree;  // the tree that holds it
    bool logSafe;      // with the log folder inside the installation folder
  };
  const std::vector<Case> cases = {
      {folders.installDir, folders.installDir, false},
      {Installed("plugins\\linked"), folders.installDir, true},
      {folders.stagingDir, folders.stagingDir, true},
      {Aside(), Aside(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    ShellDeletePath(folders.installDir.c_str());
    ShellDeletePath(folders.stagingDir.c_str());
    if (c.link != folders.installDir) MakeOld();
    if (c.link != folders.stagingDir) MakeStaged();
    ASSERT_TRUE(MakeSymbolicLink(elsewhere.Path(), c.link));
    EXPECT_TRUE(IsLink(c.link));
    EXPECT_EQ(FindLinkOnInstallPaths(folders), c.link);
    EXPECT_EQ(PrepareInstallFolders(folders), "发现链接，安装未做任何改动：" + c.link);
    SwapFolders logInside = folders;
    logInside.logDir = folders.installDir + "\\morvantislog";
    EXPECT_EQ(LogFolderIsSafe(logInside), c.logSafe);
    // Nothing removes through it either.
    std::string failure;
    EXPECT_FALSE(RemoveTreeWithoutLinks(GbkToWide(c.tree), &failure));
    EXPECT_EQ(failure, "链接不予删除：" + c.link + " (错误码 1920)");
    EXPECT_EQ(Snapshot(elsewhere.Path()), target);
    RemoveSymbolicLink(c.link);
  }
  EXPECT_EQ(FindLinkInTree(folders.stagingDir), "");
}
