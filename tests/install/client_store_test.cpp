#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/context.h"
#include "build_settings.h"
#include "base/text.h"
#include "install/client.h"
#include "install/messages.h"
#include "system/install_log.h"
#include "support/file_system_fixtures.h"
#include "support/sample_release.h"
#include "support/shell_support.h"
#include "support/store_local_store.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {
const std::string kPrefix = "9.5MOrvantisIE";

class ClientStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.Start());
    store.SetFaults("");
    InstallerContext& context = InstallerContext::Instance();
    context.packageCode = "602731";
    context.tempDir = staging.Path();
    InstallLog::Open(logs.Path().c_str());
    client.SetupAccess();
    client.endpoint = store.Endpoint();
    client.ConnectStore();
  }
  void TearDown() override { InstallLog::Close(); }

  std::vector<std::string> Log() {
    InstallLog::Close();  // flushes; later lines would be dropped, which no test needs
    return ReadLogMessages(logs.Path());
  }
  // The store's transport as an unsigned build sees it: no list to check objects against.
  void Unsigned() { client.release = ReleaseVerifier(); }
  std::vector<LPARAM> Progress() { return InstallMessageRecorder::Values(messages.Drain(), WM_INSTALL_PROGRESS); }
  std::string Runtime() const { return std::string(client.manifest.fixVersion) + ".zip"; }
  std::string Quant() const { return std::string(client.manifest.quantName) + ".zip"; }

  // Checks that the percentages of one download stay in its slice and end on its top.
  void ExpectSlice(const std::vector<LPARAM>& values, LPARAM from, LPARAM to) {
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), to);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_GE(values.front(), from);
  }

  LocalStore store;
  ScratchFolder staging{"staging"};
  ScratchFolder logs{"logs"};
  InstallMessageRecorder messages;
  IClient client;
};

TEST(ClientAccess, SetupAccessUsesTheBuildsCredentialsAndResetsCounters) {
  IClient client;
  client.plannedTransfers = 9, client.transfersDone = 3, client.unpackShare = 7.0;
  client.SetupAccess();
  EXPECT_EQ(client.accessKeyId, "DemoAccessKeyIdMorvant01");
  EXPECT_EQ(client.accessKeySecret, "DemoSecretForTheLocalStore2026");
  EXPECT_EQ(client.endpoint, MORVANTIS_STORE_ENDPOINT);
  EXPECT_EQ(client.bucket, "zqpublish");
  EXPECT_EQ(client.keyPrefix, kPrefix);
  EXPECT_EQ(client.plannedTransfers, 4);
  EXPECT_EQ(client.transfersDone, 0);
  EXPECT_EQ(client.unpackShare, 0.0);
}

TEST(ClientProgress, EmptyOrUnknownTotalsNeverDivideByZero) {
  InstallMessageRecorder messages;
  IClient client;
  client.plannedTransfers = 4;
  client.transfersDone = 1;
  IClient::OnTransferProgress(0, 0, 0, &client);  // an empty object: its slice is done
  EXPECT_EQ(client.overallPercent, 40);
  IClient::OnTransferProgress(0, 10, -1, &client);  // no total: nothing earned yet
  EXPECT_EQ(client.overallPercent, 20);
  IClient::OnTransferProgress(0, 500, 100, &client);  // more than announced: capped
  EXPECT_EQ(client.overallPercent, 40);
  client.plannedTransfers = 0;
  IClient::OnTransferProgress(0, 1, 1, &client);
  EXPECT_GE(client.overallPercent, 0);
  EXPECT_LE(client.overallPercent, 100);
  EXPECT_EQ(InstallMessageRecorder::Values(messages.Drain(), WM_INSTALL_PROGRESS), (std::vector<LPARAM>{40, 20, 40, 100}));
}

TEST_F(ClientStoreTest, FourPlannedTransfersSliceTheRangeAndUnpackTo90) {
  SampleReleaseOptions options;
  options.quant = options.stock = false;
  ASSERT_TRUE(BuildSampleRelease(store.RootWindows(), options));

  ASSERT_TRUE(client.FetchManifest());
  EXPECT_EQ(client.plannedTransfers, 4);
  ExpectSlice(Progress(), 0, 20);
  ASSERT_TRUE(client.DownloadObject((kPrefix + "/base.zip").c_str(), (staging.Path() + "/base.zip").c_str()));
  ExpectSlice(Progress(), 20, 40);
  ASSERT_TRUE(client.DownloadObject((kPrefix + "/config.zip").c_str(), (staging.Path() + "/config.zip").c_str()));
  ExpectSlice(Progress(), 40, 60);
  ASSERT_TRUE(client.DownloadRuntime(Runtime().c_str()));
  auto runtime = messages.Drain();
  EXPECT_EQ(runtime.front(), std::make_pair(WM_INSTALL_STEP, static_cast<LPARAM>(kStepDownloadRuntime)));
  ExpectSlice(InstallMessageRecorder::Values(runtime, WM_INSTALL_PROGRESS), 60, 80);
  EXPECT_EQ(client.transfersDone, 4);

  client.BeginUnpacking();
  for (const std::string& name : {std::string("base.zip"), Runtime(), std::string("config.zip")})
    ASSERT_TRUE(client.UnpackPackage((staging.Path() + "/" + name).c_str(), staging.Path().c_str())) << name;
  EXPECT_EQ(Progress(), (std::vector<LPARAM>{83, 86, 90}));
  EXPECT_TRUE(FileExists(staging / "morvantis v9.5.exe"));
  EXPECT_TRUE(FileExists(staging / "uninstall.exe"));
  EXPECT_TRUE(FolderExists(staging / "config"));
  // Two requests per package: the existence test and the download; a signed build adds
  // the list and its signature.
  EXPECT_EQ(store.AccessLog().size(), BuildReleaseKey().empty() ? 8u : 10u);
}

TEST_F(ClientStoreTest, SixPlannedTransfersWithQuantAndSecuritiesInformation) {
  ASSERT_TRUE(BuildSampleRelease(store.RootWindows()));
  ASSERT_TRUE(client.FetchManifest());
  EXPECT_TRUE(client.manifest.hasQuant && client.manifest.hasStock);
  EXPECT_EQ(client.plannedTransfers, 6);
  // The manifest is fetched while four transfers are planned: its slice ends at 20, and
  // the next one, counted in sixths, starts back at 13.
  ExpectSlice(Progress(), 0, 20);
  ASSERT_TRUE(client.DownloadObject((kPrefix + "/base.zip").c_str(), (staging.Path() + "/base.zip").c_str()));
  ExpectSlice(Progress(), 13, 26);
  ASSERT_TRUE(client.DownloadObject((kPrefix + "/config.zip").c_str(), (staging.Path() + "/config.zip").c_str()));
  ExpectSlice(Progress(), 26, 40);
  ASSERT_TRUE(client.DownloadRuntime(Runtime().c_str()));
  ExpectSlice(Progress(), 40, 53);
  ASSERT_TRUE(client.DownloadQuant(Quant().c_str()));
  auto quant = messages.Drain();
  EXPECT_EQ(quant.front(), std::make_pair(WM_INSTALL_STEP, static_cast<LPARAM>(kStepDownloadQuant)));
  ExpectSlice(InstallMessageRecorder::Values(quant, WM_INSTALL_PROGRESS), 53, 66);
  ASSERT_TRUE(client.DownloadStockInfo());
  auto stock = messages.Drain();
  EXPECT_EQ(stock.front(), std::make_pair(WM_INSTALL_STEP, static_cast<LPARAM>(kStepDownloadStock)));
  ExpectSlice(InstallMessageRecorder::Values(stock, WM_INSTALL_PROGRESS), 66, 80);
  // Three requests for the securities-information package: metadata, existence, download.
  const std::string stockKey = kPrefix + "/CspAccessApi.StockInfo.pub.zip";
  auto heads = store.Requests("HEAD", stockKey);
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(heads[0]["sub"], "");
  EXPECT_EQ(heads[1]["sub"], "objectMeta");
  EXPECT_EQ(store.Requests("GET", stockKey).size(), 1u);
  EXPECT_EQ(strlen(client.manifest.stockETag), 32u);

  client.BeginUnpacking();
  for (const std::string& name : {std::string("base.zip"), Runtime(), std::string("config.zip"), Quant()})
    ASSERT_TRUE(client.UnpackPackage((staging.Path() + "/" + name).c_str(), staging.Path().c_str())) << name;
  ASSERT_TRUE(client.UnpackStockInfo());
  auto unpacking = messages.Drain();
  EXPECT_EQ(InstallMessageRecorder::Values(unpacking, WM_INSTALL_PROGRESS), (std::vector<LPARAM>{82, 84, 86, 88, 90}));
  EXPECT_EQ(InstallMessageRecorder::Values(unpacking, WM_INSTALL_STEP), (std::vector<LPARAM>{kStepUnpackStock}));
  EXPECT_TRUE(FolderExists(staging / "Server\\config\\BaseData"));
  EXPECT_FALSE(ListFilesRecursive(staging / "Server\\config\\BaseData").empty());
}

TEST_F(ClientStoreTest, MissingKeyIsLoggedWithoutAGetOrACountedTransfer) {
  Unsigned();
  const std::string key = kPrefix + "/fix/none.zip";
  EXPECT_FALSE(client.DownloadRuntime("none.zip"));
  EXPECT_EQ(client.transfersDone, 0);
  EXPECT_TRUE(store.Requests("GET", key).empty());
  EXPECT_EQ(store.Requests("HEAD", key).size(), 1u);
  EXPECT_FALSE(FileExists(staging / "none.zip"));
  EXPECT_EQ(Log(), (std::vector<std::string>{key + ",文件不存在", "无法读取对象信息：" + key + "：404 HTTP status 404 (错误码 404)"}));
}

TEST_F(ClientStoreTest, DownloadTheStagingVolumeCannotHoldIsRefusedBeforeAnyByte) {
  Unsigned();
  SecondVolume small(128 * 1024);
  if (!small.Ready()) GTEST_SKIP() << small.WhyNot();
  const std::string key = kPrefix + "/base.zip";
  store.PutObject(key, std::string(512 * 1024, 'z'));
  const std::string target = small / "staging\\base.zip";
  EXPECT_FALSE(client.DownloadObject(key.c_str(), target.c_str()));
  EXPECT_TRUE(store.Requests("GET", key).empty());
  EXPECT_FALSE(FileExists(target));
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("磁盘空间不足：需要 524288 字节，可用 ", 0), 0u) << log[0];
  EXPECT_NE(log[0].find(target), std::string::npos) << log[0];
}

TEST_F(ClientStoreTest, FailedDownloadIsCountedAndLoggedWithTheStoresRequestId) {
  Unsigned();
  const std::string key = kPrefix + "/base.zip";
  store.PutObject(key, "zip bytes");
  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "fail", "status": 403, "code": "AccessDenied", "message": "Denied here", "method": "GET"}]})");
  EXPECT_FALSE(client.DownloadObject(key.c_str(), (staging.Path() + "/base.zip").c_str()));
  EXPECT_EQ(client.transfersDone, 1);
  auto gets = store.Requests("GET", key);
  ASSERT_EQ(gets.size(), 1u);  // a 4xx is not retried
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "Downfile Fail,code:AccessDenied,message:Denied here,requestId:" + gets[0]["request_id"],
                       "下载失败：" + key + "：AccessDenied Denied here (错误码 403)"}));
}

// The fixed line reads the same for a wrong key and for no store at all; the line after
// it tells them apart (a missing object: see above).
TEST_F(ClientStoreTest, WrongSecretOrNoStoreAtAllReadsAsAMissingObjectWithItsOwnCause) {
  const std::string key = kPrefix + "/summary.ini";
  store.PutObject(key, "[fixstamp]\r\n");
  client.accessKeySecret = "NotTheSecret";
  client.ConnectStore();
  EXPECT_FALSE(client.FetchManifest());
  EXPECT_EQ(store.Requests("HEAD", key).front()["code"], "SignatureDoesNotMatch");
  EXPECT_EQ(Log(), (std::vector<std::string>{key + ",文件不存在", "无法读取对象信息：" + key + "：403 HTTP status 403 (错误码 403)"}));

  // Nothing listens on port 1: WinHTTP cannot connect (12029), retried and given up.
  for (const std::string& file : ListFilesRecursive(logs.Path())) DeleteFileW(GbkToWide(logs / file).c_str());
  InstallLog::Open(logs.Path().c_str());
  client.endpoint = "http://127.0.0.1:1";
  client.ConnectStore();
  EXPECT_FALSE(client.FetchManifest());
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], key + ",文件不存在");
  EXPECT_EQ(log[1].rfind("无法读取对象信息：" + key + "：ERROR_WINHTTP_CANNOT_CONNECT WinHTTP error 12029", 0), 0u) << log[1];
  EXPECT_EQ(log[1].substr(log[1].size() - 14), "(错误码 12029)") << log[1];
}

TEST_F(ClientStoreTest, UnsignedRequestsAreRefusedByABucketThatIsNotPublic) {
  const std::string key = kPrefix + "/summary.ini";
  store.PutObject(key, "[fixstamp]\r\n");
  client.accessKeyId.clear();
  client.accessKeySecret.clear();
  client.ConnectStore();
  EXPECT_FALSE(client.FetchManifest());
  auto heads = store.Requests("HEAD", key);
  ASSERT_EQ(heads.size(), 1u);
  EXPECT_EQ(heads[0]["auth"], "none");
  EXPECT_EQ(heads[0]["code"], "AccessDenied");
  EXPECT_EQ(Log(), (std::vector<std::string>{key + ",文件不存在", "无法读取对象信息：" + key + "：403 HTTP status 403 (错误码 403)"}));
}

TEST_F(ClientStoreTest, FailedMetadataReadStillDownloadsAndLongTagsAreKeptWhole) {
  Unsigned();
  const std::string key = kPrefix + "/CspAccessApi.StockInfo.pub.zip";
  store.PutObject(key, "stock");
  store.SetFaults(R"({"9.5MOrvantisIE/CspAccessApi.StockInfo.pub.zip": [{"action": "fail", "status": 404, "code": "NoSuchKey", "method": "HEAD", "sub": "", "count": 1}]})");
  EXPECT_TRUE(client.DownloadStockInfo());
  EXPECT_STREQ(client.manifest.stockETag, "");
  EXPECT_EQ(ReadFileBytes(staging.Path() + "/CspAccessApi.StockInfo.pub.zip"), "stock");

  // An entity tag of an object uploaded in parts is longer than an MD5's.
  const std::string multipart = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF-12";
  store.SetFaults(R"({"*": [{"action": "etag", "value": ")" + multipart + R"("}]})");
  EXPECT_TRUE(client.DownloadStockInfo());
  EXPECT_EQ(std::string(client.manifest.stockETag), multipart);
  EXPECT_EQ(Log().front(), "ETag获取失败");
}

TEST_F(ClientStoreTest, FailureLineIsCutToItsBuffer) {
  Unsigned();
  const std::string key = kPrefix + "/base.zip";
  store.PutObject(key, "x");
  store.SetFaults(R"({"*": [{"action": "fail", "status": 404, "code": "NoSuchKey", "method": "GET", "message": ")" +
                  std::string(5000, 'm') + R"("}]})");
  EXPECT_FALSE(client.DownloadObject(key.c_str(), (staging.Path() + "/base.zip").c_str()));
  auto log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].size(), 2045u);
  EXPECT_EQ(log[1].size(), 2047u);  // the cause line, cut to the log's line buffer
  EXPECT_EQ(log[0].compare(0, 37, "Downfile Fail,code:NoSuchKey,message:"), 0);
}

// Manifest values become file names and object keys: anything that could leave the
// staging folder, name a device or carry other bytes fails the manifest step, before
// any package is requested.
TEST_F(ClientStoreTest, HostileNamesInTheManifestAreRefusedBeforeAnyPackageRequest) {
  Unsigned();
  const std::string key = kPrefix + "/summary.ini";
  const std::vector<std::string> hostile = {"..\\..\\..\\victim\\x", "..", ".", "a/../../b", "C:x", "NUL", "nul.txt",
                                            "Com3", "LPT9.zip", "aux", "交易", "a b", "x\\y"};
  std::vector<std::string> expectedLog;
  for (const char* section : {"fixstamp", "quant"}) {
    for (const std::string& value : hostile) {
      // The other value is valid, so the refusal names the one under test.
      const std::string other = std::string(section) == "fixstamp" ? "[quant]\r\n602731=q1\r\n" : "[fixstamp]\r\n602731=f1\r\n";
      store.PutObject(key, other + "[" + section + "]\r\n602731=" + value + "\r\n");
      client.manifest = ReleaseManifest{};
      EXPECT_FALSE(client.FetchManifest()) << section << "=" << value;
      expectedLog.push_back(std::string("Manifest value refused,key:") + section + "/602731,value:" + value);
    }
  }
  EXPECT_EQ(Log(), expectedLog);
  for (const auto& request : store.AccessLog()) EXPECT_EQ(request.at("key"), key) << request.at("method");

  // Empty values keep their meaning; a value is checked after its cut to 20 bytes.
  for (const std::string& accepted : {std::string("9.5.1_rc-2"), std::string("COM10"), std::string("CONSOLE.x"),
                                      std::string("abcdefghijklmnopqrst/../x")}) {
    store.PutObject(key, "[fixstamp]\r\n602731=" + accepted + "\r\n[quant]\r\n602731=\r\n");
    client.manifest = ReleaseManifest{};
    EXPECT_TRUE(client.FetchManifest()) << accepted;
    EXPECT_FALSE(client.manifest.hasQuant);
  }
}

TEST_F(ClientStoreTest, StoreErrorTextCannotStartLogLinesOfItsOwn) {
  Unsigned();
  const std::string key = kPrefix + "/base.zip";
  store.PutObject(key, "x");
  store.SetFaults(R"({"*": [{"action": "fail", "status": 403, "code": "Access\nDenied", "method": "GET",
                             "message": "first\r\nDownfile Fail,code:Forged\tend\u007f"}]})");
  EXPECT_FALSE(client.DownloadObject(key.c_str(), (staging.Path() + "/base.zip").c_str()));
  auto gets = store.Requests("GET", key);
  ASSERT_EQ(gets.size(), 1u);
  EXPECT_EQ(Log(), (std::vector<std::string>{"Downfile Fail,code:Access Denied,message:first  Downfile Fail,code:Forged end ,requestId:" +
                                             gets[0]["request_id"],
                                             "下载失败：" + key + "：Access Denied first  Downfile Fail,code:Forged end  (错误码 403)"}));
}

TEST_F(ClientStoreTest, BodiesAreWrittenOnlyUpToTheAgreedLength) {
  Unsigned();
  // The existence test announces 1,000 bytes; a chunked answer goes on for 200 MiB.
  const std::string key = kPrefix + "/base.zip";
  store.PutObject(key, std::string(1000, 'b'));
  store.SetFaults(R"({"*": [{"action": "chunked_oversize", "bytes": 209715200}]})");
  EXPECT_FALSE(client.DownloadObject(key.c_str(), (staging.Path() + "/base.zip").c_str()));
  EXPECT_EQ(ReadFileBytes(staging / "base.zip"), std::string(1000, 'b'));
  EXPECT_EQ(store.Requests("GET", key).size(), 1u);

  // A manifest above 1 MiB is refused before a byte of it is written.
  const std::string manifest = kPrefix + "/summary.ini";
  store.SetFaults("");
  store.PutObject(manifest, "[fixstamp]\r\n" + std::string(2 * 1024 * 1024, ';'));
  EXPECT_FALSE(client.FetchManifest());
  EXPECT_EQ(ReadFileBytes(staging / "summary.ini"), "");
  auto log = Log();
  ASSERT_EQ(log.size(), 4u);  // each failure with its cause line
  EXPECT_EQ(log[0].compare(0, 30, "Downfile Fail,code:BodyTooLong"), 0) << log[0];
  EXPECT_EQ(log[2].compare(0, 59, "Downfile Fail,code:BodyTooLong,message:the store announced "), 0) << log[2];
}

TEST_F(ClientStoreTest, UnreadableArchiveFailsItsStepWithoutProgress) {
  client.plannedTransfers = 3;
  EXPECT_FALSE(client.UnpackPackage((staging.Path() + "/gone.zip").c_str(), staging.Path().c_str()));
  EXPECT_EQ(client.unpackShare, 0.0);
  EXPECT_TRUE(Progress().empty());

  // A file that is not a zip archive: the share is still taken, but no progress posted.
  WriteFileBytes(staging / "broken.zip", "not a zip archive");
  EXPECT_FALSE(client.UnpackPackage((staging.Path() + "/broken.zip").c_str(), staging.Path().c_str()));
  EXPECT_NEAR(client.unpackShare, 10.0 / 3, 1e-9);
  EXPECT_EQ(client.overallPercent, 83);
  EXPECT_TRUE(Progress().empty());
}

}  // namespace
