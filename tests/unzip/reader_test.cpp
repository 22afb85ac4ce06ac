// The zip reader on archives made by real tools, and on damaged copies of them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <string>

#include "support/test_support.h"
#include "unzip/unzip.h"
#include "unzip_fixtures.h"

using namespace testing_support;
using unzip_testing::ArchivePath;
using unzip_testing::TreePath;

namespace {

struct EntryRead {
  int open = UNZ_OK;
  int lastRead = 0;
  int close = UNZ_OK;
  std::string data;
};

EntryRead ReadCurrent(unzFile archive, unsigned chunk = 2048) {
  EntryRead result;
  result.open = unzOpenCurrentFile(archive);
  if (result.open != UNZ_OK) return result;
  std::string buffer(chunk, '\0');
  while ((result.lastRead = unzReadCurrentFile(archive, &buffer[0], chunk)) > 0)
    result.data.append(buffer, 0, static_cast<size_t>(result.lastRead));
  result.close = unzCloseCurrentFile(archive);
  return result;
}

std::string CurrentName(unzFile archive, unz_file_info* info = nullptr) {
  char name[1024] = {};
  unz_file_info local;
  EXPECT_EQ(unzGetCurrentFileInfo(archive, info ? info : &local, name, sizeof(name) - 1, nullptr, 0, nullptr, 0), UNZ_OK);
  return name;
}

// Every file entry (name without a leading "./", contents), and the final status of the walk.
std::map<std::string, std::string> ReadAll(unzFile archive, int* endStatus) {
  std::map<std::string, std::string> files;
  int status;
  for (status = unzGoToFirstFile(archive); status == UNZ_OK; status = unzGoToNextFile(archive)) {
    std::string name = CurrentName(archive);
    EntryRead read = ReadCurrent(archive);
    EXPECT_EQ(read.open, UNZ_OK) << name;
    EXPECT_EQ(read.lastRead, 0) << name;
    EXPECT_EQ(read.close, UNZ_OK) << name;
    if (name.compare(0, 2, "./") == 0) name = name.substr(2);
    if (!name.empty() && name.back() != '/') files[name] = read.data;
  }
  *endStatus = status;
  return files;
}

void ExpectGlobalInfo(unzFile archive, uint64_t entries, uint32_t commentSize) {
  unz_global_info global{};
  ASSERT_EQ(unzGetGlobalInfo(archive, &global), UNZ_OK);
  EXPECT_EQ(global.number_entry, entries);
  EXPECT_EQ(global.size_comment, commentSize);
}

const char* const kTreeFiles[] = {"readme.txt", "data/blob.bin", "data/quotes.csv", "sub/deep/empty.txt",
                                  "sub/deep/note.txt"};

}  // namespace

TEST(ZipReader, ReadsArchivesOfEveryToolLikeTheirSourceFiles) {
  // Stored and deflated data, folder entries with and without the attribute bit, data
  // descriptors, Zip64 records and extra fields, a stub in front of the archive.
  for (const char* archiveName : {"tree_infozip.zip", "tree_7z.zip", "tree_bsdtar.zip", "tree_python.zip",
                                  "pipe_infozip.zip", "zip64_infozip.zip", "zip64_bsdtar.zip", "prefixed.zip"}) {
    SCOPED_TRACE(archiveName);
    unzFile archive = unzOpen(ArchivePath(archiveName).c_str());
    ASSERT_NE(archive, nullptr);
    int end = 0;
    std::map<std::string, std::string> files = ReadAll(archive, &end);
    EXPECT_EQ(end, UNZ_END_OF_LIST_OF_FILE);
    EXPECT_EQ(files.size(), std::size(kTreeFiles));
    for (const char* name : kTreeFiles) {
      std::string windowsName = name;
      for (char& c : windowsName) c = c == '/' ? '\\' : c;
      EXPECT_EQ(files[name], ReadFileBytes(TreePath(windowsName))) << name;
    }
    EXPECT_EQ(unzClose(archive), UNZ_OK);
  }
}

TEST(ZipReader, DescribesEntriesWithTheClassicFields) {
  unzFile archive = unzOpen(ArchivePath("tree_infozip.zip").c_str());
  ASSERT_NE(archive, nullptr);
  ExpectGlobalInfo(archive, 8, 0);
  // Positioned on the first entry right after opening.
  EXPECT_EQ(CurrentName(archive), "readme.txt");
  std::map<std::string, unz_file_info> infos;
  for (int status = unzGoToFirstFile(archive); status == UNZ_OK; status = unzGoToNextFile(archive)) {
    unz_file_info info{};
    std::string name = CurrentName(archive, &info);
    infos[name] = info;
  }
  EXPECT_EQ(infos["data/blob.bin"].compression_method, 0u);
  EXPECT_EQ(infos["data/blob.bin"].uncompressed_size, 100000u);
  EXPECT_EQ(infos["data/blob.bin"].compressed_size, 100000u);
  EXPECT_EQ(infos["data/quotes.csv"].compression_method, 8u);
  EXPECT_LT(infos["data/quotes.csv"].compressed_size, infos["data/quotes.csv"].uncompressed_size);
  EXPECT_EQ(infos["data/"].external_fa & 0x10, 0x10u);
  EXPECT_EQ(infos["sub/deep/note.txt"].size_filename, 17u);
  unzClose(archive);

  archive = unzOpen(ArchivePath("dated.zip").c_str());
  ASSERT_NE(archive, nullptr);
  unz_file_info info{};
  EXPECT_EQ(CurrentName(archive, &info), "dated.txt");
  EXPECT_EQ(info.dosDate >> 16, static_cast<uint32_t>(((2005 - 1980) << 9) | (6 << 5) | 7));
  EXPECT_EQ(info.dosDate & 0xFFFF, static_cast<uint32_t>((12 << 11) | (34 << 5) | (56 / 2)));
  EXPECT_EQ(info.tmu_date.tm_year, 2005u);
  EXPECT_EQ(info.tmu_date.tm_mon, 5u);
  EXPECT_EQ(info.tmu_date.tm_mday, 7u);
  EXPECT_EQ(info.tmu_date.tm_hour, 12u);
  EXPECT_EQ(info.tmu_date.tm_min, 34u);
  EXPECT_EQ(info.tmu_date.tm_sec, 56u);
  unzClose(archive);

  archive = unzOpen(ArchivePath("utf8_names.zip").c_str());
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(CurrentName(archive, &info), u8"中文目录/行情数据.txt");
  EXPECT_EQ(info.flag & UNZ_FLAG_UTF8, UNZ_FLAG_UTF8);
  unzClose(archive);
}

TEST(ZipReader, CopiesNamesUpToTheBufferAndTerminatesOnlyWhenTheyFit) {
  unzFile archive = unzOpen(ArchivePath("long_name.zip").c_str());
  ASSERT_NE(archive, nullptr);
  ASSERT_EQ(unzGoToNextFile(archive), UNZ_OK);
  char name[262];
  memset(name, '#', sizeof(name));
  unz_file_info info{};
  ASSERT_EQ(unzGetCurrentFileInfo(archive, &info, name, 260, nullptr, 0, nullptr, 0), UNZ_OK);
  EXPECT_EQ(info.size_filename, 300u);
  EXPECT_EQ(std::string(name, 260), std::string(260, 'n'));
  EXPECT_EQ(name[260], '#');
  unzClose(archive);
}

TEST(ZipReader, FindsTheEndRecordBehindTheLongestComment) {
  unzFile archive = unzOpen(ArchivePath("long_comment.zip").c_str());
  ASSERT_NE(archive, nullptr);
  ExpectGlobalInfo(archive, 1, 65535);
  EXPECT_EQ(ReadCurrent(archive).data, "behind a long comment\n");
  unzClose(archive);
}

TEST(ZipReader, RefusesFilesThatAreNotWholeArchives) {
  EXPECT_EQ(unzOpen(ArchivePath("not_a_zip.zip").c_str()), nullptr);
  EXPECT_EQ(unzOpen(ArchivePath("truncated.zip").c_str()), nullptr);
  EXPECT_EQ(unzOpen(ArchivePath("no-such-archive.zip").c_str()), nullptr);
  EXPECT_EQ(unzOpen(""), nullptr);
  EXPECT_EQ(unzOpen(nullptr), nullptr);

  unzFile empty = unzOpen(ArchivePath("empty.zip").c_str());
  ASSERT_NE(empty, nullptr);
  ExpectGlobalInfo(empty, 0, 0);
  EXPECT_EQ(unzGoToFirstFile(empty), UNZ_END_OF_LIST_OF_FILE);
  EXPECT_EQ(unzOpenCurrentFile(empty), UNZ_PARAMERROR);
  unzClose(empty);
}

TEST(ZipReader, ReportsDamagedEntriesAndRefusesEncryptedOrUnknownOnes) {
  unzFile archive = unzOpen(ArchivePath("bad_crc.zip").c_str());
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(ReadCurrent(archive).close, UNZ_OK);
  ASSERT_EQ(unzGoToNextFile(archive), UNZ_OK);
  EntryRead bad = ReadCurrent(archive);
  EXPECT_EQ(bad.lastRead, 0);
  EXPECT_EQ(bad.close, UNZ_CRCERROR);
  unzClose(archive);

  // The third central header is damaged: two entries, then an error, not the end.
  archive = unzOpen(ArchivePath("damaged_cd.zip").c_str());
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(CurrentName(archive), "one.txt");
  ASSERT_EQ(unzGoToNextFile(archive), UNZ_OK);
  EXPECT_EQ(unzGoToNextFile(archive), UNZ_BADZIPFILE);
  EXPECT_EQ(unzGetCurrentFileInfo(archive, nullptr, nullptr, 0, nullptr, 0, nullptr, 0), UNZ_PARAMERROR);
  unzClose(archive);

  archive = unzOpen(ArchivePath("encrypted.zip").c_str());
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(ReadCurrent(archive).data, "plain\n");
  ASSERT_EQ(unzGoToNextFile(archive), UNZ_OK);
  EXPECT_EQ(CurrentName(archive), "secret.txt");
  EXPECT_EQ(unzOpenCurrentFile(archive), UNZ_BADZIPFILE);
  unzClose(archive);

  archive = unzOpen(ArchivePath("bzip2.zip").c_str());
  ASSERT_NE(archive, nullptr);
  ASSERT_EQ(unzGoToNextFile(archive), UNZ_OK);
  EXPECT_EQ(unzOpenCurrentFile(archive), UNZ_BADZIPFILE);
  unzClose(archive);
}

TEST(ZipReader, RefusesEntriesSharingBytesAndDataPastTheDeclaredSize) {
  for (const char* name : {"overlap_same_stream.zip", "overlap_nested.zip", "name_mismatch.zip"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(unzOpen(ArchivePath(name).c_str()), nullptr);
  }
  unzFile archive = unzOpen(ArchivePath("inflates_past_size.zip").c_str());
  ASSERT_NE(archive, nullptr);
  uint64_t total = 0;
  ASSERT_EQ(unzGetDeclaredTotal(archive, &total), UNZ_OK);
  EXPECT_EQ(total, 503u);
  ASSERT_EQ(unzGoToNextFile(archive), UNZ_OK);
  EntryRead longer = ReadCurrent(archive);
  EXPECT_EQ(longer.data.size(), 500u);
  EXPECT_EQ(longer.lastRead, UNZ_BADZIPFILE);
  unzClose(archive);

  // The declared total of a tool-made archive is the size of its tree.
  archive = unzOpen(ArchivePath("tree_infozip.zip").c_str());
  ASSERT_NE(archive, nullptr);
  ASSERT_EQ(unzGetDeclaredTotal(archive, &total), UNZ_OK);
  uint64_t tree = 0;
  for (const std::string& file : ListFilesRecursive(TreePath())) tree += ReadFileBytes(TreePath(file)).size();
  EXPECT_EQ(total, tree);
  EXPECT_EQ(unzGetDeclaredTotal(archive, nullptr), UNZ_PARAMERROR);
  unzClose(archive);
}

TEST(ZipReader, AnswersMisuseWithParameterErrors) {
  char buffer[16];
  unz_global_info global;
  EXPECT_EQ(unzGetGlobalInfo(nullptr, &global), UNZ_PARAMERROR);
  EXPECT_EQ(unzGoToFirstFile(nullptr), UNZ_PARAMERROR);
  EXPECT_EQ(unzGoToNextFile(nullptr), UNZ_PARAMERROR);
  EXPECT_EQ(unzOpenCurrentFile(nullptr), UNZ_PARAMERROR);
  EXPECT_EQ(unzReadCurrentFile(nullptr, buffer, sizeof(buffer)), UNZ_PARAMERROR);
  EXPECT_EQ(unzCloseCurrentFile(nullptr), UNZ_PARAMERROR);
  EXPECT_EQ(unzClose(nullptr), UNZ_PARAMERROR);
  unzFile archive = unzOpen(ArchivePath("in_use.zip").c_str());
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(unzReadCurrentFile(archive, buffer, sizeof(buffer)), UNZ_PARAMERROR);
  EXPECT_EQ(unzCloseCurrentFile(archive), UNZ_PARAMERROR);
  ASSERT_EQ(unzOpenCurrentFile(archive), UNZ_OK);
  EXPECT_EQ(unzReadCurrentFile(archive, nullptr, 4), UNZ_PARAMERROR);
  // Reading in odd small pieces gives the same bytes.
  EXPECT_EQ(ReadCurrent(archive, 3).data, "new first\n");
  EXPECT_EQ(unzGoToNextFile(archive), UNZ_OK);
  EXPECT_EQ(unzGoToNextFile(archive), UNZ_OK);
  EXPECT_EQ(unzGoToNextFile(archive), UNZ_END_OF_LIST_OF_FILE);
  unzClose(archive);
}

namespace {
// A tool-made archive in memory, to be damaged in one field.
struct ArchiveBytes {
  std::string bytes = ReadFileBytes(ArchivePath("tree_python.zip"));
  size_t EndRecord() const { return bytes.rfind(std::string("PK\x05\x06", 4)); }
  size_t CentralHeader(size_t index) const {
    size_t at = 0;
    for (size_t i = 0; i <= index; ++i) at = bytes.find(std::string("PK\x01\x02", 4), i == 0 ? 0 : at + 4);
    return at;
  }
  void Put32(size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  void Put16(size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
  }
};

// Opens the bytes and reads every entry; the first error met, or UNZ_OK.
int FirstError(const std::string& bytes) {
  unzFile archive = unzOpenMemory(bytes.data(), bytes.size());
  if (!archive) return UNZ_BADZIPFILE;
  int status = unzGoToFirstFile(archive);
  int error = UNZ_OK;
  while (status == UNZ_OK && error == UNZ_OK) {
    EntryRead read = ReadCurrent(archive);
    error = read.open != UNZ_OK ? read.open : read.lastRead < 0 ? read.lastRead : read.close;
    if (error == UNZ_OK) status = unzGoToNextFile(archive);
  }
  unzClose(archive);
  return error != UNZ_OK ? error : (status == UNZ_END_OF_LIST_OF_FILE ? UNZ_OK : status);
}
}  // namespace

TEST(ZipReader, ChecksEverySizeAndOffsetAgainstTheFile) {
  ArchiveBytes intact;
  ASSERT_EQ(FirstError(intact.bytes), UNZ_OK);
  const size_t end = intact.EndRecord();
  const size_t quotes = intact.CentralHeader(2);  // data/quotes.csv, deflated
  const size_t blob = intact.CentralHeader(1);    // data/blob.bin, stored
  struct Damage {
    const char* what;
    std::function<void(ArchiveBytes&)> apply;
    bool opens;
  };
  const Damage damages[] = {
      {"entry count beyond the directory", [&](ArchiveBytes& a) { a.Put16(end + 8, 0xFFF0); a.Put16(end + 10, 0xFFF0); }, false},
      {"directory offset beyond the file", [&](ArchiveBytes& a) { a.Put32(end + 16, 0x7FFFFFF0); }, false},
      {"directory size beyond the file", [&](ArchiveBytes& a) { a.Put32(end + 12, 0x7FFFFFF0); }, false},
      {"split archive", [&](ArchiveBytes& a) { a.Put16(end + 4, 1); }, false},
      {"local header offset beyond the data", [&](ArchiveBytes& a) { a.Put32(quotes + 42, 0x7FFFFFF0); }, true},
      {"compressed size beyond the data", [&](ArchiveBytes& a) { a.Put32(quotes + 20, 0x7FFFFFF0); }, true},
      {"name length beyond the directory", [&](ArchiveBytes& a) { a.Put16(quotes + 28, 0xFFFF); }, true},
      // Sizes or a method that the local header contradicts refuse the whole archive.
      {"stored sizes that disagree", [&](ArchiveBytes& a) { a.Put32(blob + 24, 5); }, false},
      {"uncompressed size too small", [&](ArchiveBytes& a) { a.Put32(quotes + 24, 1000); }, false},
      {"uncompressed size too large", [&](ArchiveBytes& a) { a.Put32(quotes + 24, 0x7FFFFFF0); }, false},
      {"method that differs from the local header", [&](ArchiveBytes& a) { a.Put16(quotes + 10, 0); }, false},
      {"deflated data cut short", [&](ArchiveBytes& a) { a.Put32(quotes + 20, 1000); }, false},
      {"name that differs from the local header", [&](ArchiveBytes& a) { a.bytes[quotes + 46] = 'D'; }, false},
      {"zip64 extra without its values", [&](ArchiveBytes& a) { a.Put32(quotes + 24, 0xFFFFFFFF); }, false},
      // Both headers agree on sizes no deflate stream of that length can produce.
      {"more than 1,032 bytes per compressed byte",
       [&](ArchiveBytes& a) {
         uint32_t packed = static_cast<uint8_t>(a.bytes[quotes + 20]) | static_cast<uint8_t>(a.bytes[quotes + 21]) << 8 |
                           static_cast<uint8_t>(a.bytes[quotes + 22]) << 16;
         size_t local = a.bytes.find("data/quotes.csv") - 30;
         a.Put32(quotes + 24, packed * 1032 + 1);
         a.Put32(local + 22, packed * 1032 + 1);
       },
       true},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    ArchiveBytes copy = intact;
    damage.apply(copy);
    unzFile archive = unzOpenMemory(copy.bytes.data(), copy.bytes.size());
    EXPECT_EQ(archive != nullptr, damage.opens);
    if (archive) unzClose(archive);
    if (damage.opens) {
      EXPECT_NE(FirstError(copy.bytes), UNZ_OK);
    }
  }
  // Corrupted deflated data is a data error or a CRC error, never success.
  ArchiveBytes corrupted = intact;
  size_t data = corrupted.bytes.find("data/quotes.csv") + 15 + 200;
  for (size_t i = 0; i < 64; ++i) corrupted.bytes[data + i] = static_cast<char>(corrupted.bytes[data + i] ^ 0x5A);
  EXPECT_NE(FirstError(corrupted.bytes), UNZ_OK);
}
