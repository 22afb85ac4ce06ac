#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/release_signature.h"
#include "oss/crc64.h"
#include "oss/oss_client.h"
#include "support/store_local_store.h"
#include "support/test_support.h"
#include "base/text.h"

using testing_support::LocalStore;

namespace {
const char kBucket[] = "zqpublish";
const char kKey[] = "9.5MOrvantisIE/base.zip";

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 12345;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

std::string Sha256Of(const std::string& bytes) {
  Sha256Stream digest;
  digest.Update(bytes.data(), bytes.size());
  return digest.HexDigest();
}

struct Download {
  std::shared_ptr<oss::MemoryStream> stream;
  int streamsMade = 0;
  std::vector<int64_t> transferred;
  int64_t total = -2;
};

void Record(size_t increment, int64_t transferred, int64_t total, void* userData) {
  auto* download = static_cast<Download*>(userData);
  EXPECT_GT(increment, 0u);
  download->transferred.push_back(transferred);
  download->total = total;
}

class OssClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oss::InitializeSdk();
    ASSERT_TRUE(store.Start());
    store.SetFaults("");
  }
  void TearDown() override { oss::ShutdownSdk(); }

  std::unique_ptr<oss::OssClient> Client(const std::string& secret = "DemoSecretForTheLocalStore2026",
                                         const std::string& id = "DemoAccessKeyIdMorvant01") {
    return std::make_unique<oss::OssClient>(store.Endpoint(), id, secret, configuration);
  }

  oss::GetObjectOutcome Get(const oss::OssClient& client, Download& download, const std::string& key = kKey,
                            oss::BodyObserver* observer = nullptr) {
    oss::GetObjectRequest request(kBucket, key);
    request.setBodyObserver(observer);
    request.setResponseStreamFactory([&download]() {
      ++download.streamsMade;
      download.stream = std::make_shared<oss::MemoryStream>();
      return download.stream;
    });
    request.setTransferProgress({&Record, &download});
    return client.GetObject(request);
  }

  LocalStore store;
  oss::ClientConfiguration configuration;
};

TEST_F(OssClientTest, DownloadsStreamsReportsProgressAndReadsMetadata) {
  const std::string body = Pattern(3 * 1024 * 1024 + 17);
  store.PutObject(kKey, body);
  auto client = Client();

  EXPECT_TRUE(client->DoesObjectExist(kBucket, kKey));
  EXPECT_FALSE(client->DoesObjectExist(kBucket, "9.5MOrvantisIE/absent.zip"));

  Download download;
  oss::GetObjectOutcome outcome = Get(*client, download);
  ASSERT_TRUE(outcome.isSuccess()) << outcome.error().Code() << " " << outcome.error().Message();
  EXPECT_EQ(download.stream->str(), body);
  EXPECT_EQ(download.streamsMade, 1);
  ASSERT_FALSE(download.transferred.empty());
  EXPECT_EQ(download.transferred.back(), static_cast<int64_t>(body.size()));
  EXPECT_EQ(download.total, static_cast<int64_t>(body.size()));
  for (size_t i = 1; i < download.transferred.size(); ++i) EXPECT_GT(download.transferred[i], download.transferred[i - 1]);

  oss::HeadObjectOutcome head = client->HeadObject(kBucket, kKey);
  ASSERT_TRUE(head.isSuccess());
  EXPECT_EQ(head.result().ETag().size(), 32u);  // the quotes are gone
  EXPECT_EQ(head.result().ETag(), outcome.result().Metadata().ETag());
  EXPECT_EQ(head.result().ContentLength(), static_cast<int64_t>(body.size()));
  EXPECT_EQ(outcome.result().Metadata().Crc64(), std::to_string(oss::Crc64Update(0, body.data(), body.size())));

  // Existence tests are HEADs of the metadata sub-resource; the metadata read is a plain HEAD.
  auto heads = store.Requests("HEAD", kKey);
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(heads[0]["sub"], "objectMeta");
  EXPECT_EQ(heads[1]["sub"], "");
  EXPECT_EQ(heads[0]["path"], std::string("/zqpublish/") + kKey + "?objectMeta");
  EXPECT_EQ(store.Requests("GET", kKey).size(), 1u);
}

TEST_F(OssClientTest, BodyToAFileAndAFileThatCannotBeMade) {
  const std::string body = Pattern(200 * 1024 + 3);
  store.PutObject(kKey, body);
  auto client = Client();
  testing_support::ScratchFolder folder("oss-file-stream");
  const std::wstring path = GbkToWide(folder / "base.zip");
  oss::GetObjectRequest request(kBucket, kKey);
  request.setResponseStreamFactory([&path]() { return std::make_shared<oss::FileStream>(path.c_str()); });
  oss::GetObjectOutcome outcome = client->GetObject(request);
  ASSERT_TRUE(outcome.isSuccess()) << outcome.error().Message();
  EXPECT_EQ(testing_support::ReadFileBytes(folder / "base.zip"), body);

  // A folder that does not exist: the system's error code is in the message.
  const std::wstring missing = GbkToWide(folder / "no-such-folder\\base.zip");
  request.setResponseStreamFactory([&missing]() { return std::make_shared<oss::FileStream>(missing.c_str()); });
  outcome = client->GetObject(request);
  ASSERT_FALSE(outcome.isSuccess());
  EXPECT_EQ(outcome.error().Code(), "OpenStreamFailed");
  EXPECT_NE(outcome.error().Message().find("(error 3)"), std::string::npos) << outcome.error().Message();
}

TEST_F(OssClientTest, EmptyObjectAndEncodedKeys) {
  const std::string key = "9.5MOrvantisIE/fix/v 1+\xE4\xB8\xAD.zip";  // space, plus and UTF-8
  store.PutObject("9.5MOrvantisIE/fix/v 1+\xD6\xD0.zip", "");  // the same name as the Wine side writes it
  auto client = Client();
  Download download;
  oss::GetObjectOutcome outcome = Get(*client, download, key);
  ASSERT_TRUE(outcome.isSuccess()) << outcome.error().Code() << " " << outcome.error().Message();
  EXPECT_EQ(download.stream->str(), "");
  EXPECT_EQ(outcome.result().Metadata().ContentLength(), 0);
}

TEST_F(OssClientTest, RejectedCredentialsAndMissingKeysAreNotRetried) {
  store.PutObject(kKey, "body");
  auto wrongSecret = Client("NotTheSecret");
  EXPECT_FALSE(wrongSecret->DoesObjectExist(kBucket, kKey));
  Download download;
  oss::GetObjectOutcome outcome = Get(*wrongSecret, download);
  ASSERT_FALSE(outcome.isSuccess());
  EXPECT_EQ(outcome.error().Code(), "SignatureDoesNotMatch");
  EXPECT_EQ(outcome.error().Status(), 403);
  EXPECT_FALSE(outcome.error().Message().empty());
  auto gets = store.Requests("GET", kKey);
  ASSERT_EQ(gets.size(), 1u);
  EXPECT_EQ(outcome.error().RequestId(), gets[0]["request_id"]);
  EXPECT_EQ(download.streamsMade, 0);  // nothing is written for an error

  oss::HeadObjectOutcome head = Client("x", "UnknownKeyId")->HeadObject(kBucket, kKey);
  ASSERT_FALSE(head.isSuccess());
  EXPECT_EQ(head.error().Code(), "403");  // a HEAD answer has no body to name the error
  EXPECT_EQ(head.error().RequestId(), store.Requests("HEAD", kKey).back()["request_id"]);

  Download missing;
  outcome = Get(*Client(), missing, "9.5MOrvantisIE/none.zip");
  EXPECT_EQ(outcome.error().Code(), "NoSuchKey");
  EXPECT_EQ(store.Requests("GET", "9.5MOrvantisIE/none.zip").size(), 1u);
  EXPECT_EQ(store.Requests("HEAD", kKey).size(), 2u);  // 4xx: one request each
}

TEST_F(OssClientTest, TwoServerErrorsThenSuccess) {
  store.PutObject(kKey, Pattern(1000));
  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "fail", "status": 503, "code": "ServiceUnavailable", "count": 2}]})");
  auto client = Client();
  EXPECT_TRUE(client->DoesObjectExist(kBucket, kKey));  // the HEAD takes both errors and retries
  EXPECT_EQ(store.Requests("HEAD", kKey).size(), 3u);

  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "fail", "status": 500, "code": "InternalError", "count": 2, "method": "GET"}]})");
  Download download;
  ASSERT_TRUE(Get(*client, download).isSuccess());
  EXPECT_EQ(download.stream->str(), Pattern(1000));
  auto gets = store.Requests("GET", kKey);
  ASSERT_EQ(gets.size(), 3u);
  EXPECT_EQ(gets[0]["status"], "500");
  EXPECT_EQ(gets[2]["status"], "200");
}

TEST_F(OssClientTest, PersistentFailureEndsAfterThreeRetries) {
  store.PutObject(kKey, "x");
  store.SetFaults(R"({"*": [{"action": "fail", "status": 503, "code": "ServiceUnavailable", "message": "Busy"}]})");
  Download download;
  oss::GetObjectOutcome outcome = Get(*Client(), download);
  ASSERT_FALSE(outcome.isSuccess());
  EXPECT_EQ(outcome.error().Code(), "ServiceUnavailable");
  EXPECT_EQ(outcome.error().Message(), "Busy");
  auto gets = store.Requests("GET", kKey);
  ASSERT_EQ(gets.size(), 4u);
  EXPECT_EQ(outcome.error().RequestId(), gets.back()["request_id"]);
}

TEST_F(OssClientTest, CutConnectionResumesWithRange) {
  const std::string body = Pattern(2 * 1024 * 1024);
  store.PutObject(kKey, body);
  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "cut", "after": 700000, "count": 1, "method": "GET"}]})");
  Download download;
  Sha256Stream digest;  // sees the resumed body as one
  oss::GetObjectOutcome outcome = Get(*Client(), download, kKey, &digest);
  ASSERT_TRUE(outcome.isSuccess()) << outcome.error().Code() << " " << outcome.error().Message();
  EXPECT_EQ(download.stream->str(), body);
  EXPECT_EQ(digest.HexDigest(), Sha256Of(body));
  EXPECT_EQ(download.streamsMade, 1);
  auto gets = store.Requests("GET", kKey);
  ASSERT_EQ(gets.size(), 2u);
  EXPECT_EQ(gets[0]["bytes"], "700000");
  EXPECT_EQ(gets[1]["range"], "bytes=700000-");
  EXPECT_EQ(gets[1]["status"], "206");
  EXPECT_EQ(download.transferred.back(), static_cast<int64_t>(body.size()));
  EXPECT_EQ(download.total, static_cast<int64_t>(body.size()));
}

TEST_F(OssClientTest, StoreIgnoringTheRangeStartsOver) {
  const std::string body = Pattern(1024 * 1024);
  store.PutObject(kKey, body);
  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "cut", "after": 300000, "count": 1, "method": "GET"},
                                                  {"action": "ignore_range"}]})");
  Download download;
  Sha256Stream digest;  // starts over with the body
  ASSERT_TRUE(Get(*Client(), download, kKey, &digest).isSuccess());
  EXPECT_EQ(download.stream->str(), body);
  EXPECT_EQ(digest.HexDigest(), Sha256Of(body));
  EXPECT_EQ(download.streamsMade, 2);  // a fresh, empty stream for the second whole body
  auto gets = store.Requests("GET", kKey);
  ASSERT_EQ(gets.size(), 2u);
  EXPECT_EQ(gets[1]["status"], "200");
}

TEST_F(OssClientTest, WrongLengthIsCompletedAndWrongCrcFailsWithoutRetry) {
  const std::string body = Pattern(500000);
  store.PutObject(kKey, body);
  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "bad_length", "delta": 1000, "count": 1, "method": "GET"}]})");
  Download download;
  ASSERT_TRUE(Get(*Client(), download).isSuccess());
  EXPECT_EQ(download.stream->str(), body);
  // The body fell short of the announced length; the resumed range lies past the
  // object's real end (416), so the download starts over.
  auto gets = store.Requests("GET", kKey);
  ASSERT_EQ(gets.size(), 3u);
  EXPECT_EQ(gets[1]["status"], "416");
  EXPECT_EQ(gets[2]["range"], "null");
  EXPECT_EQ(download.streamsMade, 2);

  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "bad_crc", "method": "GET"}]})");
  Download corrupt;
  oss::GetObjectOutcome outcome = Get(*Client(), corrupt);
  ASSERT_FALSE(outcome.isSuccess());
  EXPECT_EQ(outcome.error().Code(), oss::kCrcMismatchCode);
  EXPECT_EQ(store.Requests("GET", kKey).size(), 4u);  // one more request, no retry
}

TEST_F(OssClientTest, StallEndedByTheTenSecondRuleAndRetried) {
  const std::string body = Pattern(400000);
  store.PutObject(kKey, body);
  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "stall", "after": 100000, "seconds": 40, "count": 1, "method": "GET"}]})");
  Download download;
  oss::GetObjectOutcome outcome = Get(*Client(), download);
  ASSERT_TRUE(outcome.isSuccess()) << outcome.error().Code() << " " << outcome.error().Message();
  EXPECT_EQ(download.stream->str(), body);
  auto gets = store.Requests("GET", kKey);
  ASSERT_EQ(gets.size(), 1u);  // the stalled request is logged only when the store gives up on it
  // The retry resumes after what had arrived before the store fell silent.
  EXPECT_EQ(gets[0]["range"].compare(0, 6, "bytes="), 0) << gets[0]["range"];
  EXPECT_EQ(gets[0]["status"], "206");
}

TEST_F(OssClientTest, DripEndsEachAttemptByTheLowSpeedRule) {
  // One byte every 8 seconds never leaves the connection silent for 10 seconds, but
  // stays under 10 bytes in 10 seconds: each attempt ends at its first window.
  store.PutObject(kKey, Pattern(1000));
  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "drip", "interval": 8, "method": "GET"}]})");
  configuration.maxRetries = 1;
  Download download;
  oss::GetObjectOutcome outcome = Get(*Client(), download);
  ASSERT_FALSE(outcome.isSuccess());
  EXPECT_EQ(outcome.error().Code(), "ERROR_WINHTTP_TIMEOUT");
  EXPECT_NE(outcome.error().Message().find("fewer than 10 bytes in 10 seconds"), std::string::npos)
      << outcome.error().Message();
  auto gets = store.Requests("GET", kKey);
  ASSERT_EQ(gets.size(), 2u);  // retried as any transport failure
  for (auto& get : gets) {
    EXPECT_EQ(get["fault"], "drip");
    EXPECT_LE(std::stoi(get["bytes"]), 1) << "the attempt outlived its first window";
  }
  // The retry resumes after the byte that had arrived.
  EXPECT_EQ(gets[1]["range"], "bytes=" + gets[0]["bytes"] + "-");
}

TEST_F(OssClientTest, NothingIsWrittenPastTheAgreedLength) {
  const std::string body = Pattern(1000);
  store.PutObject(kKey, body);
  // A chunked answer has no length of its own: the agreed one cuts it off.
  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "chunked_oversize", "bytes": 209715200}]})");
  oss::GetObjectRequest request(kBucket, kKey);
  Download download;
  request.setResponseStreamFactory([&download]() { return download.stream = std::make_shared<oss::MemoryStream>(); });
  request.setTransferProgress({&Record, &download});
  request.setMaxLength(1000);
  std::unique_ptr<oss::OssClient> client = Client();
  oss::GetObjectOutcome outcome = client->GetObject(request);
  ASSERT_FALSE(outcome.isSuccess());
  EXPECT_EQ(outcome.error().Code(), oss::kBodyTooLongCode);
  EXPECT_EQ(download.stream->str(), body);
  EXPECT_EQ(download.transferred.back(), 1000);
  EXPECT_EQ(store.Requests("GET", kKey).size(), 1u);  // not retried

  // An answer that announces more than agreed is refused before a byte is written.
  store.SetFaults("");
  request.setMaxLength(999);
  Download announced;
  request.setResponseStreamFactory([&announced]() { return announced.stream = std::make_shared<oss::MemoryStream>(); });
  request.setTransferProgress({&Record, &announced});
  outcome = client->GetObject(request);
  ASSERT_FALSE(outcome.isSuccess());
  EXPECT_EQ(outcome.error().Code(), oss::kBodyTooLongCode);
  EXPECT_EQ(outcome.error().Message(), "the store announced 1000 bytes, 999 were agreed");
  EXPECT_EQ(announced.stream->str(), "");
  EXPECT_TRUE(announced.transferred.empty());
}

TEST_F(OssClientTest, UnreachableStoreNamesTheTransportError) {
  configuration.retryBaseDelayMs = 10;
  oss::OssClient client("127.0.0.1:1", "id", "secret", configuration);
  Download download;
  oss::GetObjectOutcome outcome = Get(client, download);
  ASSERT_FALSE(outcome.isSuccess());
  EXPECT_EQ(outcome.error().Code(), "ERROR_WINHTTP_CANNOT_CONNECT");
  EXPECT_NE(outcome.error().Message().find("12029"), std::string::npos);
  EXPECT_EQ(outcome.error().RequestId(), "");
  EXPECT_FALSE(client.DoesObjectExist(kBucket, kKey));
}

TEST_F(OssClientTest, VirtualHostedAddressingThroughAProxy) {
  store.PutObject(kKey, "virtual");
  // The store's name resolves only through the proxy, which is the store itself.
  configuration.proxy = store.Endpoint();
  oss::OssClient client("oss-test.example", "DemoAccessKeyIdMorvant01", "DemoSecretForTheLocalStore2026", configuration);
  EXPECT_TRUE(client.DoesObjectExist(kBucket, kKey));
  Download download;
  ASSERT_TRUE(Get(client, download).isSuccess());
  EXPECT_EQ(download.stream->str(), "virtual");
  auto gets = store.Requests("GET", kKey);
  ASSERT_EQ(gets.size(), 1u);
  EXPECT_EQ(gets[0]["host"], "zqpublish.oss-test.example");
  // The absolute form a proxy receives (WinHTTP names the port).
  EXPECT_EQ(gets[0]["path"].compare(0, 33, "http://zqpublish.oss-test.example"), 0) << gets[0]["path"];
  EXPECT_NE(gets[0]["path"].find(std::string("/") + kKey), std::string::npos);
}

}  // namespace
