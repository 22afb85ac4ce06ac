// Extraction of whole packages into folders on the Wine drive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/client.h"
#include "install/unpack_queue.h"
#include "support/shell_support.h"
#include "support/test_support.h"
#include "system/free_space.h"
#include "system/session.h"
#include "system/install_log.h"
#include "base/text.h"
#include "unzip/tunzip.h"
#include "unzip_fixtures.h"

using namespace testing_support;
using unzip_testing::ArchivePath;
using unzip_testing::ExpectedPrompt;
using unzip_testing::PromptRecorder;
using unzip_testing::ReadWideFile;
using unzip_testing::TreePath;
using unzip_testing::WideFileExists;

namespace {

std::wstring Wide(const std::string& gbk) { return GbkToWide(gbk, 4096); }

class Extraction : public ::testing::Test {
 protected:
  ScratchFolder scratch{"unzip"};
  PromptRecorder prompts;  // answers Abort, so that no box can wait for a user
  std::string Target() const { return scratch / "target"; }
  bool Extract(const std::string& archive) { return TUnzip::ExtractArchive(ArchivePath(archive).c_str(), Target().c_str()); }
};

}  // namespace

TEST_F(Extraction, UnpacksArchivesOfEveryToolIntoTheSameTree) {
  const std::vector<std::string> expected = ListFilesRecursive(TreePath());
  ASSERT_EQ(expected.size(), 5u);
  for (const char* archive : {"tree_infozip.zip", "tree_7z.zip", "tree_bsdtar.zip", "tree_python.zip",
                              "pipe_infozip.zip", "zip64_infozip.zip", "zip64_bsdtar.zip", "prefixed.zip"}) {
    SCOPED_TRACE(archive);
    ScratchFolder target("unzip-tree");
    ASSERT_TRUE(TUnzip::ExtractArchive(ArchivePath(archive).c_str(), target.Path().c_str()));
    EXPECT_EQ(ListFilesRecursive(target.Path()), expected);
    for (const std::string& file : expected) EXPECT_EQ(ReadFileBytes(target / file), ReadFileBytes(TreePath(file))) << file;
    EXPECT_TRUE(FolderExists(target / "sub\\deep"));
  }
  EXPECT_TRUE(prompts.Requests().empty());
}

TEST_F(Extraction, OverwritesExistingFilesAndCreatesTheTargetFolderPath) {
  ASSERT_TRUE(WriteFileBytes(Target() + "\\old\\readme.txt", std::string(3000, 'o')));
  ASSERT_TRUE(TUnzip::ExtractArchive(ArchivePath("tree_python.zip").c_str(), (Target() + "\\old").c_str()));
  EXPECT_EQ(ReadFileBytes(Target() + "\\old\\readme.txt"), ReadFileBytes(TreePath("readme.txt")));

  std::string deepTarget = Target() + "\\one/two//three";
  ASSERT_TRUE(TUnzip::ExtractArchive(ArchivePath("dated.zip").c_str(), deepTarget.c_str()));
  EXPECT_EQ(ReadFileBytes(Target() + "\\one\\two\\three\\dated.txt"), "dated\n");
}

TEST_F(Extraction, FolderEntriesByAttributeOrFinalSlashWriteNoFile) {
  ASSERT_TRUE(Extract("folders.zip"));
  // A final slash without the 0x10 bit, the bit with a final slash, the bit alone.
  EXPECT_TRUE(FolderExists(Target() + "\\plain-dir"));
  EXPECT_TRUE(FolderExists(Target() + "\\attr-dir\\a\\b"));
  EXPECT_TRUE(FolderExists(Target() + "\\attr-only"));
  // Parents of a nested file are created without folder entries.
  EXPECT_EQ(ReadFileBytes(Target() + "\\a\\b\\file.txt"), "nested\n");
  EXPECT_EQ(ListFilesRecursive(Target()), std::vector<std::string>{"a\\b\\file.txt"});
  EXPECT_TRUE(prompts.Requests().empty());
}

TEST_F(Extraction, RestoresTheStampAsLocalTimeAndKeepsLastAccess) {
  ASSERT_TRUE(Extract("dated.zip"));
  HANDLE file = CreateFileW(Wide(Target() + "\\dated.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME created, accessed, written;
  ASSERT_TRUE(GetFileTime(file, &created, &accessed, &written));
  CloseHandle(file);
  SYSTEMTIME stamp = {2005, 6, 0, 7, 12, 34, 56, 0};
  FILETIME local, expected;
  ASSERT_TRUE(SystemTimeToFileTime(&stamp, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &expected));
  EXPECT_EQ(CompareFileTime(&written, &expected), 0);
  EXPECT_EQ(CompareFileTime(&created, &expected), 0);
  // Last access stays at the extraction, not at the stamp.
  EXPECT_GT(CompareFileTime(&accessed, &expected), 0);
}

TEST_F(Extraction, FailsArchivesThatCannotBeOpenedOrListNothing) {
  EXPECT_FALSE(Extract("no-such-archive.zip"));
  EXPECT_FALSE(Extract("not_a_zip.zip"));
  EXPECT_FALSE(Extract("truncated.zip"));
  EXPECT_FALSE(Extract("empty.zip"));
  EXPECT_FALSE(TUnzip::ExtractArchive(nullptr, Target().c_str()));
  EXPECT_FALSE(TUnzip::ExtractArchive("", Target().c_str()));
  EXPECT_FALSE(TUnzip::ExtractArchive(ArchivePath("in_use.zip").c_str(), nullptr));
  EXPECT_FALSE(TUnzip::ExtractArchive(ArchivePath("in_use.zip").c_str(), ""));
  EXPECT_TRUE(ListFilesRecursive(scratch.Path()).empty());
}

TEST_F(Extraction, DamagedOrRefusedEntriesFailThePackageAndKeepEarlierOnes) {
  struct Case {
    const char* archive;
    const char* written;
    const char* notWritten;
  };
  for (const Case& c : {Case{"bad_crc.zip", "good.txt", "after.txt"}, Case{"damaged_cd.zip", "two.txt", "three.txt"},
                        Case{"encrypted.zip", "plain.txt", nullptr}, Case{"bzip2.zip", "first.txt", nullptr}}) {
    SCOPED_TRACE(c.archive);
    ScratchFolder target("unzip-damaged");
    EXPECT_FALSE(TUnzip::ExtractArchive(ArchivePath(c.archive).c_str(), target.Path().c_str()));
    EXPECT_TRUE(FileExists(target / c.written));
    if (c.notWritten) {
      EXPECT_FALSE(FileExists(target / c.notWritten));
    }
  }
  EXPECT_TRUE(prompts.Requests().empty());
}

TEST_F(Extraction, NamesLeadingOutsideTheTargetFailAndWriteNothingThere) {
  const std::string target = scratch / "a\\b\\target";
  for (const char* form : {"parent", "nested_parent", "backslash_parent", "drive", "drive_relative", "leading_slash",
                           "leading_backslash", "dots_and_spaces", "folder", "device", "device_com_superscript",
                           "device_lpt_superscript", "device_com2_superscript", "device_conin", "device_conout"}) {
    SCOPED_TRACE(form);
    std::string archive = ArchivePath(std::string("slip_") + form + ".zip");
    EXPECT_FALSE(TUnzip::ExtractArchive(archive.c_str(), target.c_str()));
    EXPECT_EQ(ReadFileBytes(target + "\\ok.txt"), "ok\n");
    EXPECT_FALSE(FileExists(target + "\\late.txt"));
    RemoveTree(target + "\\ok.txt");
  }
  // Nothing landed anywhere in the scratch tree, on the drive's root or on C:.
  EXPECT_TRUE(ListFilesRecursive(scratch.Path()).empty());
  EXPECT_FALSE(FolderExists(scratch / "a\\b\\evil"));
  EXPECT_FALSE(FileExists(scratch.Path().substr(0, 2) + "\\evil.txt"));
  EXPECT_FALSE(FileExists("C:\\evil.txt"));
  EXPECT_TRUE(prompts.Requests().empty());
}

TEST_F(Extraction, ArchivesThatWouldReadBytesTwiceOrDisagreeWithThemselvesWriteNothing) {
  // Ten entries on one stream; an entry inside another's data; a local header naming
  // another file than the directory.
  for (const char* archive : {"overlap_same_stream.zip", "overlap_nested.zip", "name_mismatch.zip"}) {
    SCOPED_TRACE(archive);
    EXPECT_FALSE(Extract(archive));
    EXPECT_TRUE(ListFilesRecursive(Target()).empty());
  }
  // The stream goes on past the declared size (whose CRC matches the part declared).
  EXPECT_FALSE(Extract("inflates_past_size.zip"));
  EXPECT_EQ(ReadFileBytes(Target() + "\\ok.txt"), "ok\n");
  EXPECT_TRUE(prompts.Requests().empty());
}

TEST_F(Extraction, EntriesThatWouldDropOrReplaceDataFailThePackage) {
  // Marked as a folder (by the attribute or a final slash) but carrying data.
  for (const char* archive : {"folder_with_data_attribute.zip", "folder_with_data_slash.zip"}) {
    SCOPED_TRACE(archive);
    ScratchFolder target("unzip-folder-data");
    EXPECT_FALSE(TUnzip::ExtractArchive(ArchivePath(archive).c_str(), target.Path().c_str()));
    EXPECT_EQ(ReadFileBytes(target / "ok.txt"), "ok\n");
    EXPECT_FALSE(FolderExists(target / "data-dir"));
    EXPECT_FALSE(FileExists(target / "late.txt"));
  }
  // A second entry of a name, in other letter case or with what Windows drops, does not
  // replace the first.
  EXPECT_FALSE(Extract("case_duplicates.zip"));
  EXPECT_EQ(ReadFileBytes(Target() + "\\Readme.txt"), "first\n");
  EXPECT_FALSE(FileExists(Target() + "\\late.txt"));
  EXPECT_FALSE(Extract("dot_duplicates.zip"));
  EXPECT_EQ(ReadFileBytes(Target() + "\\sub\\Note.txt"), "first\n");
  // The same archive again into the same folder is no duplicate.
  ASSERT_TRUE(Extract("dated.zip"));
  ASSERT_TRUE(Extract("dated.zip"));
  EXPECT_TRUE(prompts.Requests().empty());
}

TEST_F(Extraction, CodePageNamesEndingInTheByte5CAreFilesNotFolders) {
  // 乗 is 81 5C and 運 DF 5C in code page 936: the trail byte is a backslash.
  ASSERT_TRUE(Extract("gbk_5c_names.zip"));
  const std::wstring target = Wide(Target());
  EXPECT_EQ(ReadWideFile(target + L"\\行乗"), "not a folder\n");
  EXPECT_EQ(ReadWideFile(target + L"\\運\\数乗"), "nested\n");
  EXPECT_EQ(ListFilesRecursive(Target()).size(), 2u);
}

TEST(UnpackPackage, ArchiveDeclaringMoreThanTheFreeSpaceIsNotUnpacked) {
  // A sparse archive whose one entry declares 1,032 times its 4 GiB of data.
  const std::string archive = ArchivePath("declares_4tib.zip");
  ScratchFolder scratch("unzip-space");
  uint64_t freeBytes = 0;
  ASSERT_TRUE(QueryFreeBytes(scratch.Path(), &freeBytes));
  if (freeBytes >= 4432406249472ull) GTEST_SKIP() << "the volume has more room than the archive declares";
  InstallLog::Open((scratch / "log").c_str());
  IClient client;
  client.plannedTransfers = 4;
  EXPECT_FALSE(client.UnpackPackage(archive.c_str(), (scratch / "target").c_str()));
  InstallLog::Close();
  EXPECT_FALSE(FolderExists(scratch / "target"));
  std::vector<std::string> log = ReadLogMessages(scratch / "log");
  ASSERT_EQ(log.size(), 1u);
  const std::string expected = "磁盘空间不足：需要 4432406249472 字节";
  EXPECT_EQ(log[0].compare(0, expected.size(), expected), 0) << log[0];
}

TEST_F(Extraction, FailedPackageLogsOneLineNamingTheEntryAndItsCauseAndASuccessNone) {
  struct Case {
    const char* archive;
    const char* reason;
    const char* entryAndCode;
  };
  const Case cases[] = {
      {"slip_parent.zip", "文件名不安全", " 中的 ../evil.txt (错误码 2)"},
      {"utf8_invalid.zip", "文件名不安全", " 中的 bad-\xFF\xFE.txt (错误码 2)"},  // named by its bytes
      {"bad_crc.zip", "CRC 或大小校验不符", " 中的 bad.txt (错误码 -105)"},
      {"case_duplicates.zip", "压缩包中有重复的文件名", " 中的 README.TXT (错误码 183)"},
      {"no-such-archive.zip", "无法打开压缩包", " (错误码 2)"},
  };
  InstallLog::Open((scratch / "log").c_str());
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    EXPECT_FALSE(ExtractPackage(ArchivePath(c.archive), Target())) << c.archive;
    expected.push_back(std::string(c.reason) + "：" + ArchivePath(c.archive) + c.entryAndCode);
  }
  // A folder stands where dated.txt goes; the prompt is answered with Abort.
  ASSERT_TRUE(CreatePathFolders((scratch / "blocked\\dated.txt\\").c_str()));
  EXPECT_FALSE(ExtractPackage(ArchivePath("dated.zip"), scratch / "blocked"));
  expected.push_back("无法写入文件，已终止：" + ArchivePath("dated.zip") + " 中的 dated.txt，" + (scratch / "blocked\\dated.txt") +
                     " (错误码 5)");
  EXPECT_TRUE(ExtractPackage(ArchivePath("dated.zip"), scratch / "fresh"));
  InstallLog::Close();
  EXPECT_EQ(ReadLogMessages(scratch / "log"), expected);
  EXPECT_EQ(prompts.Requests().size(), 1u);
}

TEST_F(Extraction, PathsThatDoNotFitFailTheEntryCleanly) {
  EXPECT_FALSE(Extract("long_name.zip"));
  EXPECT_EQ(ListFilesRecursive(Target()), std::vector<std::string>{"short.txt"});
  // A target folder that alone fills the path buffer.
  std::string longTarget = scratch / std::string(250, 'd');
  EXPECT_FALSE(TUnzip::ExtractArchive(ArchivePath("in_use.zip").c_str(), longTarget.c_str()));
  EXPECT_TRUE(prompts.Requests().empty());
}

TEST_F(Extraction, Utf8NamesLandWithTheirRealNamesAndCodePageNamesAsGbk) {
  ASSERT_TRUE(Extract("utf8_names.zip"));
  const std::wstring target = Wide(Target());
  EXPECT_EQ(ReadWideFile(target + L"\\中文目录\\行情数据.txt"), u8"utf8 中文\n");
  EXPECT_EQ(ReadWideFile(target + L"\\\u0E44\u0E17\u0E22.txt"), "thai\n");
  EXPECT_EQ(ReadWideFile(target + L"\\emoji-\U0001F600.txt"), "emoji\n");

  ASSERT_TRUE(Extract("gbk_names.zip"));
  EXPECT_EQ(ReadWideFile(target + L"\\行情\\数据.txt"), "gbk\n");
  EXPECT_EQ(ReadFileBytes(Target() + "\\行情\\数据.txt"), "gbk\n");
}

TEST_F(Extraction, PromptNamesTheEntryAsItLandsOnDisk) {
  // A folder where the file should go cannot be replaced: the prompt comes, Ignore skips.
  PromptRecorder ignore([](const MessageBoxRequest&) { return IDIGNORE; });
  const std::wstring target = Wide(Target());
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
  for (const wchar_t* blocked : {L"\\sub", L"\\sub\\deep", L"\\sub\\deep\\note.txt", L"\\中文目录",
                                 L"\\中文目录\\行情数据.txt", L"\\emoji-\U0001F600.txt"})
    ASSERT_TRUE(CreateDirectoryW((target + blocked).c_str(), nullptr));
  ASSERT_TRUE(Extract("tree_python.zip"));
  ASSERT_TRUE(Extract("utf8_names.zip"));

  ASSERT_EQ(ignore.Requests().size(), 3u);
  const MessageBoxRequest& nested = ignore.Requests()[0];
  EXPECT_EQ(nested.text, ExpectedPrompt(L"sub\\deep\\note.txt"));
  EXPECT_EQ(nested.textBytes, std::string("无法覆盖文件\"sub\\deep\\note.txt\",该文件可能正被使用!\n是否终止升级?"));
  EXPECT_EQ(nested.caption, L"警告");
  EXPECT_EQ(nested.type, static_cast<UINT>(MB_ABORTRETRYIGNORE));
  EXPECT_EQ(nested.owner, nullptr);
  // A UTF-8 name that code page 936 can show goes through the code-page box...
  EXPECT_EQ(ignore.Requests()[1].text, ExpectedPrompt(L"中文目录\\行情数据.txt"));
  EXPECT_EQ(ignore.Requests()[1].textBytes, std::string("无法覆盖文件\"中文目录\\行情数据.txt\",该文件可能正被使用!\n是否终止升级?"));
  // ...one it cannot show is shown whole through the wide box.
  EXPECT_EQ(ignore.Requests()[2].text, ExpectedPrompt(L"emoji-\U0001F600.txt"));
  EXPECT_TRUE(ignore.Requests()[2].textBytes.empty());
  EXPECT_EQ(ignore.Requests()[2].caption, L"警告");
  // Everything else went on after Ignore.
  EXPECT_EQ(ReadWideFile(target + L"\\\u0E44\u0E17\u0E22.txt"), "thai\n");
  EXPECT_EQ(ReadFileBytes(Target() + "\\sub\\deep\\empty.txt"), "");
}

TEST(TUnzipObject, OpensRelativeAndForwardSlashPathsAndKeepsTheArchiveFolder) {
  TUnzip unzip;
  EXPECT_EQ(unzip.archiveHandle, nullptr);
  EXPECT_STREQ(unzip.archiveFolder, "");
  std::string folder = ArchivePath("");  // ends in a backslash
  std::string forward = folder.substr(0, folder.size() - 1) + "/in_use.zip";
  ASSERT_TRUE(unzip.OpenArchive(forward.c_str()));
  EXPECT_NE(unzip.archiveHandle, nullptr);
  EXPECT_EQ(std::string(unzip.archiveFolder), folder);

  // Relative to the current folder; opening closes the previous archive first.
  wchar_t saved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(Wide(folder).c_str()));
  bool opened = unzip.OpenArchive("dated.zip");
  SetCurrentDirectoryW(saved);
  ASSERT_TRUE(opened);
  EXPECT_EQ(std::string(unzip.archiveFolder), folder);

  EXPECT_FALSE(unzip.OpenArchive("no-such-archive.zip"));
  EXPECT_EQ(unzip.archiveHandle, nullptr);
  EXPECT_STREQ(unzip.archiveFolder, "");
  unzip.CloseArchive();
  unzip.CloseArchive();
  EXPECT_FALSE(unzip.ExtractAll("C:\\never"));
  EXPECT_FALSE(unzip.ExtractCurrentEntry(nullptr));
}

TEST(TUnzipObject, ExtractsTheCurrentEntryNextToTheArchiveWhenNoFolderIsGiven) {
  ScratchFolder scratch("unzip-here");
  // A folder name in code page 936, whatever the system's own code page is.
  ASSERT_TRUE(WriteFileBytes(scratch / "行情包\\dated.zip", ReadFileBytes(ArchivePath("dated.zip"))));
  TUnzip unzip;
  ASSERT_TRUE(unzip.OpenArchive((scratch / "行情包\\dated.zip").c_str()));
  EXPECT_EQ(std::string(unzip.archiveFolder), scratch / "行情包\\");
  ASSERT_TRUE(unzip.ExtractCurrentEntry(nullptr));
  EXPECT_EQ(ReadFileBytes(scratch / "行情包\\dated.txt"), "dated\n");
  EXPECT_FALSE(unzip.ExtractAll(nullptr));
}

TEST(TUnzipObject, FoldersAndArchivesEndingInABackslashByteKeepTheirSeparators) {
  ScratchFolder scratch("unzip-gbk");
  // 運 and 乗 are 0xDF 0x5C and 0x81 0x5C in GBK.
  ASSERT_TRUE(TUnzip::ExtractArchive(ArchivePath("dated.zip").c_str(), (scratch / "營運").c_str()));
  EXPECT_EQ(ReadFileBytes(scratch / "營運\\dated.txt"), "dated\n");
  EXPECT_FALSE(FileExists(scratch / "營運dated.txt"));

  ASSERT_TRUE(WriteFileBytes(scratch / "行情包\\dated乗", ReadFileBytes(ArchivePath("dated.zip"))));
  TUnzip unzip;
  ASSERT_TRUE(unzip.OpenArchive((scratch / "行情包\\dated乗").c_str()));
  EXPECT_EQ(std::string(unzip.archiveFolder), scratch / "行情包\\");
}

TEST(EnsureDirectoryPathTest, CreatesFromTheSecondComponentOn) {
  ScratchFolder scratch("unzip-dirs");
  EXPECT_TRUE(EnsureDirectoryPath("C:"));
  EXPECT_TRUE(EnsureDirectoryPath("C:\\"));
  EXPECT_TRUE(EnsureDirectoryPath(""));
  EXPECT_FALSE(EnsureDirectoryPath(nullptr));

  // Forward slashes, doubled and trailing separators.
  std::string mixed = scratch.Path() + "/a//b/";
  EXPECT_TRUE(EnsureDirectoryPath(mixed.c_str()));
  EXPECT_TRUE(FolderExists(scratch / "a\\b"));
  EXPECT_TRUE(EnsureDirectoryPath(mixed.c_str()));

  // Relative paths: a single bare name creates nothing; x\y needs x.
  wchar_t saved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(Wide(scratch.Path()).c_str()));
  bool bare = EnsureDirectoryPath("bare");
  bool missingParent = EnsureDirectoryPath("x\\y");
  CreateDirectoryW(L"x", nullptr);
  bool withParent = EnsureDirectoryPath("x\\y");
  SetCurrentDirectoryW(saved);
  EXPECT_TRUE(bare);
  EXPECT_FALSE(FolderExists(scratch / "bare"));
  EXPECT_FALSE(missingParent);
  EXPECT_TRUE(withParent);
  EXPECT_TRUE(FolderExists(scratch / "x\\y"));

  // A file in the way counts as present; a folder below it cannot be made.
  ASSERT_TRUE(WriteFileBytes(scratch / "file", "x"));
  EXPECT_TRUE(EnsureDirectoryPath((scratch / "file").c_str()));
  EXPECT_FALSE(EnsureDirectoryPath((scratch / "file\\below").c_str()));
  // Too long for the path buffer.
  EXPECT_FALSE(EnsureDirectoryPath((scratch / std::string(300, 'l')).c_str()));
}
