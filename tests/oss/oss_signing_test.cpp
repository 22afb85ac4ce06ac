#include <gtest/gtest.h>

#include <string>

#include "oss/crc64.h"
#include "oss/signing.h"

namespace {

TEST(Crc64, CheckValueAndContinuation) {
  EXPECT_EQ(oss::Crc64Update(0, "123456789", 9), 0x995DC9BBDF1939FAULL);
  // Split at every point, including inside the 8-byte steps.
  for (size_t split = 0; split <= 9; ++split) {
    uint64_t crc = oss::Crc64Update(0, "123456789", split);
    EXPECT_EQ(oss::Crc64Update(crc, "123456789" + split, 9 - split), 0x995DC9BBDF1939FAULL) << split;
  }
  EXPECT_EQ(oss::Crc64Update(0, "", 0), 0u);
}

TEST(Signing, HmacSha1AndStringToSign) {
  // HMAC-SHA1 test vector: key "key", the quick brown fox.
  EXPECT_EQ(oss::Base64HmacSha1("key", "The quick brown fox jumps over the lazy dog"), "3nybhbi3iqa8ino29wqQcBydtNk=");

  oss::HeaderMap headers;
  headers["X-OSS-Meta-B"] = "2";
  headers["x-oss-meta-a"] = "1";
  headers["Range"] = "bytes=0-";  // not an x-oss- header: not signed
  std::string resource = oss::CanonicalResource("zqpublish", "9.5MOrvantisIE/fix/a b.zip", "objectMeta");
  EXPECT_EQ(resource, "/zqpublish/9.5MOrvantisIE/fix/a b.zip?objectMeta");
  EXPECT_EQ(oss::StringToSign("HEAD", "", "", "Thu, 01 Jan 2026 00:00:00 GMT", headers, resource),
            "HEAD\n\n\nThu, 01 Jan 2026 00:00:00 GMT\nx-oss-meta-a:1\nx-oss-meta-b:2\n"
            "/zqpublish/9.5MOrvantisIE/fix/a b.zip?objectMeta");
  std::string auth = oss::AuthorizationHeader("id", "secret", "text");
  EXPECT_EQ(auth, "OSS id:" + oss::Base64HmacSha1("secret", "text"));

  SYSTEMTIME time = {};
  time.wYear = 1994, time.wMonth = 11, time.wDay = 6, time.wDayOfWeek = 0;
  time.wHour = 8, time.wMinute = 49, time.wSecond = 37;
  EXPECT_EQ(oss::HttpDate(time), "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(Addressing, EndpointsKeysAndStyles) {
  oss::Endpoint plain = oss::ParseEndpoint("127.0.0.1:18093");
  EXPECT_TRUE(plain.valid && plain.ipv4 && !plain.https);
  EXPECT_EQ(plain.port, 18093);
  EXPECT_EQ(oss::RequestHost(plain, "zqpublish"), "127.0.0.1");
  EXPECT_EQ(oss::RequestPath(plain, "zqpublish", "9.5MOrvantisIE/a b+c.zip"), "/zqpublish/9.5MOrvantisIE/a%20b%2Bc.zip");

  oss::Endpoint named = oss::ParseEndpoint("HTTPS://Oss-Accelerate.Example.com/");
  EXPECT_TRUE(named.valid && named.https && !named.ipv4);
  EXPECT_EQ(named.port, 443);
  EXPECT_EQ(oss::RequestHost(named, "zqpublish"), "zqpublish.oss-accelerate.example.com");
  EXPECT_EQ(oss::RequestPath(named, "zqpublish", "k/summary.ini"), "/k/summary.ini");

  EXPECT_EQ(oss::ParseEndpoint("http://host").port, 80);
  EXPECT_FALSE(oss::ParseEndpoint("").valid);
  EXPECT_FALSE(oss::ParseEndpoint("host:0").valid);
  EXPECT_FALSE(oss::ParseEndpoint("host:99999").valid);
  EXPECT_FALSE(oss::ParseEndpoint("host/path").valid);
  EXPECT_FALSE(oss::ParseEndpoint("user@host").valid);
  EXPECT_FALSE(oss::ParseEndpoint("1.2.3.999").ipv4);
  // Non-ASCII keys travel as UTF-8, percent-encoded byte by byte.
  EXPECT_EQ(oss::UrlEncodePath("\xE4\xB8\xAD/~x"), "%E4%B8%AD/~x");
}

}  // namespace
