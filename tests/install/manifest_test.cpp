#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/context.h"
#include "install/manifest.h"
#include "support/shell_support.h"
#include "support/test_support.h"
#include "system/install_log.h"
#include "base/text.h"

using testing_support::ReadFileBytes;
using testing_support::ReadLogMessages;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;

namespace {
constexpr char kCode[] = "602731";

ReleaseManifest ReadFrom(const ScratchFolder& folder, const std::string& content) {
  WriteFileBytes(folder / "summary.ini", content);
  ReleaseManifest manifest{};
  // The staging folder and file are joined by a forward slash, as the client does.
  std::string path = folder.Path() + "/summary.ini";
  ReadReleaseManifest(manifest, path.c_str(), kCode);
  return manifest;
}

std::string Profile(const std::string& path, const char* section, const char* key) {
  char value[256] = {};
  GetPrivateProfileStringA(section, key, "<absent>", value, sizeof(value), path.c_str());
  return value;
}
}  // namespace

TEST(ReleaseManifest, ReadsTheBuildsLinesAndDerivesTheFlags) {
  ScratchFolder folder("manifest");
  ReleaseManifest manifest = ReadFrom(folder,
                                      "[cfgstamp]\r\ntime=1733700000\r\n"
                                      "[fixstamp]\r\n111111=other\r\n602731=9.5.9.1_20261201\r\n"
                                      "[QUANT]\r\n602731=quant_2026\r\n"
                                      "[stock]\r\n602731=1\r\n");
  EXPECT_EQ(manifest.cfgTime, 1733700000);
  EXPECT_STREQ(manifest.fixVersion, "9.5.9.1_20261201");
  EXPECT_STREQ(manifest.quantName, "quant_2026");  // section names match without case
  EXPECT_STREQ(manifest.stockName, "1");
  EXPECT_TRUE(manifest.hasQuant);
  EXPECT_TRUE(manifest.hasStock);
}

TEST(ReleaseManifest, MissingSectionsAndKeysGiveEmptyValuesAndNoOptionalPackages) {
  ScratchFolder folder("manifest");
  ReleaseManifest manifest = ReadFrom(folder,
                                      "[fixstamp]\r\n602731=9.5.9.1\r\n"
                                      "[quant]\r\n999999=someone_elses\r\n");
  EXPECT_EQ(manifest.cfgTime, 0);
  EXPECT_STREQ(manifest.quantName, "");
  EXPECT_STREQ(manifest.stockName, "");
  EXPECT_FALSE(manifest.hasQuant);
  EXPECT_FALSE(manifest.hasStock);

  ReleaseManifest missingFile{};
  ReadReleaseManifest(missingFile, (folder.Path() + "/absent.ini").c_str(), kCode);
  EXPECT_STREQ(missingFile.fixVersion, "");
  EXPECT_EQ(missingFile.cfgTime, 0);
}

TEST(ReleaseManifest, StampIsReadAsASignedDecimalPrefix) {
  struct Case {
    const char* text;
    int64_t expected;
  } cases[] = {{"  -12abc", -12}, {"+0042", 42}, {"abc", 0}, {"", 0}, {"9223372036854775807", INT64_MAX}};
  for (const Case& c : cases) {
    ScratchFolder folder("stamp");
    ReleaseManifest manifest = ReadFrom(folder, std::string("[cfgstamp]\r\ntime=") + c.text + "\r\n");
    EXPECT_EQ(manifest.cfgTime, c.expected) << "stamp text '" << c.text << "'";
  }
}

TEST(VersionRecord, RuntimeVersionIsCutTo20BytesEverywhere) {
  ScratchFolder folder("record");
  ReleaseManifest manifest = ReadFrom(folder,
                                      "[cfgstamp]\r\ntime=  -12abc\r\n"
                                      "[fixstamp]\r\n602731=1234567890123456789012345\r\n");
  EXPECT_STREQ(manifest.fixVersion, "12345678901234567890");

  InstallerContext& context = InstallerContext::Instance();
  context.tempDir = folder.Path();
  SaveVersionRecord(manifest);
  const std::string record = folder / "update.ini";
  EXPECT_EQ(Profile(record, "version", "cur"), "12345678901234567890");
  EXPECT_EQ(Profile(record, "cfgstamp", "time"), "-12");
  EXPECT_EQ(context.version, "12345678901234567890");
}

TEST(VersionRecord, EmptyFieldsAreWrittenAsPresentKeysInOrder) {
  ScratchFolder folder("record");
  ReleaseManifest manifest{};
  strcpy(manifest.fixVersion, "9.5.9.1");
  InstallerContext::Instance().tempDir = folder.Path();
  SaveVersionRecord(manifest);
  const std::string record = folder / "update.ini";
  EXPECT_EQ(Profile(record, "cfgstamp", "time"), "0");
  EXPECT_EQ(Profile(record, "version", "quant"), "");
  EXPECT_EQ(Profile(record, "version", "stock"), "");
  EXPECT_EQ(Profile(record, "ETag", "ETagStock"), "");
  std::string bytes = ReadFileBytes(record);
  size_t time = bytes.find("time=0");
  size_t cur = bytes.find("cur=9.5.9.1");
  size_t quant = bytes.find("quant=");
  size_t stock = bytes.find("stock=");
  size_t etag = bytes.find("ETagStock=");
  ASSERT_NE(etag, std::string::npos) << bytes;
  EXPECT_LT(time, cur);
  EXPECT_LT(cur, quant);
  EXPECT_LT(quant, stock);
  EXPECT_LT(stock, etag);
}

TEST(VersionRecord, ExistingRecordKeepsItsOtherKeys) {
  ScratchFolder folder("record");
  WriteFileBytes(folder / "update.ini",
                 "[version]\r\ncur=old\r\nchannel=beta\r\n[extra]\r\nkeep=yes\r\n[ETag]\r\nETagStock=\"stale\"\r\n");
  ReleaseManifest manifest{};
  strcpy(manifest.fixVersion, "9.5.9.2");
  strcpy(manifest.quantName, "q1");
  strcpy(manifest.stockName, "s1");
  strcpy(manifest.stockETag, "5B3C1A2E0F3D4C5B6A7980A1B2C3D4E5-3");
  manifest.cfgTime = 77;
  InstallerContext::Instance().tempDir = folder.Path();
  SaveVersionRecord(manifest);
  const std::string record = folder / "update.ini";
  EXPECT_EQ(Profile(record, "version", "cur"), "9.5.9.2");
  EXPECT_EQ(Profile(record, "version", "channel"), "beta");
  EXPECT_EQ(Profile(record, "extra", "keep"), "yes");
  EXPECT_EQ(Profile(record, "version", "quant"), "q1");
  EXPECT_EQ(Profile(record, "version", "stock"), "s1");
  EXPECT_EQ(Profile(record, "ETag", "ETagStock"), "5B3C1A2E0F3D4C5B6A7980A1B2C3D4E5-3");
  EXPECT_EQ(Profile(record, "cfgstamp", "time"), "77");
}

TEST(VersionRecord, RecordThatCannotBeWrittenIsLoggedOnceWithItsCode) {
  ScratchFolder folder("record");
  // A folder where the file should be.
  ASSERT_TRUE(CreateDirectoryW(GbkToWide(folder / "update.ini").c_str(), nullptr));
  InstallerContext::Instance().tempDir = folder.Path();
  InstallLog::Open((folder / "logs").c_str());
  ReleaseManifest manifest{};
  strcpy(manifest.fixVersion, "9.5.9.3");
  SaveVersionRecord(manifest);
  InstallLog::Close();
  const std::vector<std::string> messages = ReadLogMessages(folder / "logs");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(0u, messages[0].find("无法写入版本记录：" + (folder / "update.ini") + " (错误码 ")) << messages[0];
  EXPECT_EQ(InstallerContext::Instance().version, "9.5.9.3") << "the run goes on as before";
}
