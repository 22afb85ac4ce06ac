#include <gtest/gtest.h>

#include <map>
#include <string>

#include "install/release_signature.h"
#include "support/sample_release.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {
std::string Hex64(char digit) { return std::string(64, digit); }
}  // namespace

TEST(ReleaseList, TakesSha256sumLinesWithEitherLineEnd) {
  std::map<std::string, std::string> entries;
  std::string problem;
  ASSERT_TRUE(ParseReleaseList(Hex64('a') + "  9.5MOrvantisIE/summary.ini\r\n" + Hex64('0') + "  9.5MOrvantisIE/fix/9.5.9.1.zip\n",
                               &entries, &problem))
      << problem;
  EXPECT_EQ(entries, (std::map<std::string, std::string>{{"9.5MOrvantisIE/summary.ini", Hex64('a')},
                                                          {"9.5MOrvantisIE/fix/9.5.9.1.zip", Hex64('0')}}));
}

TEST(ReleaseList, RefusesAnythingElseWithTheLineNumber) {
  const std::string good = Hex64('b') + "  9.5MOrvantisIE/summary.ini\n";
  const std::map<std::string, std::string> bad = {
      {"", "the list is empty"},
      {good + Hex64('B') + "  9.5MOrvantisIE/base.zip\n", "line 2 is not"},        // uppercase digits
      {good + Hex64('b') + " *9.5MOrvantisIE/base.zip\n", "line 2 is not"},        // binary-mode mark
      {good + Hex64('b').substr(1) + "  9.5MOrvantisIE/base.zip\n", "line 2 is not"},  // 63 digits
      {good + Hex64('b') + "  \n", "line 2 is not"},                               // no key
      {good + "\n", "line 2 is not"},                                              // blank line
      {good + good, "line 2 lists 9.5MOrvantisIE/summary.ini a second time"},
  };
  for (const auto& text : bad) {
    std::map<std::string, std::string> entries = {{"kept", "as it was"}};
    std::string problem;
    EXPECT_FALSE(ParseReleaseList(text.first, &entries, &problem)) << text.first;
    EXPECT_EQ(problem.rfind(text.second, 0), 0u) << problem;
    EXPECT_EQ(entries.size(), 1u);
  }
}

TEST(ReleaseSignature, ChecksWhatOpensslSignedAndRefusesBadSignatures) {
  ScratchFolder folder("signature");
  const std::string message = "a list of objects\n";
  WriteFileBytes(folder / "list", message);
  const std::string list = WindowsToUnixPath(folder / "list");
  ASSERT_EQ(RunShellScript("openssl dgst -sha256 -sign '" + DemoReleasePrivateKey() + "' -out '" + list + ".sig' '" + list + "'")
                .exitCode,
            0);
  const std::string signature = ReadFileBytes(folder / "list.sig");
  const std::string key = DemoReleasePublicKey();
  EXPECT_EQ(VerifyReleaseSignature(key, message, signature), SignatureCheck::kValid);
  EXPECT_EQ(VerifyReleaseSignature(key, message + " ", signature), SignatureCheck::kMismatch);
  std::string otherKey = key;
  otherKey[63] ^= 1;  // not on the curve: the import refuses it
  EXPECT_NE(VerifyReleaseSignature(otherKey, message, signature), SignatureCheck::kValid);
  EXPECT_EQ(VerifyReleaseSignature(key, message, signature.substr(0, signature.size() - 1)), SignatureCheck::kMalformed);
  EXPECT_EQ(VerifyReleaseSignature(key, message, signature + '\0'), SignatureCheck::kMalformed);
  EXPECT_EQ(VerifyReleaseSignature(key, message, ""), SignatureCheck::kMalformed);
  EXPECT_EQ(VerifyReleaseSignature("", message, signature), SignatureCheck::kMalformed);

  std::string raw;
  ASSERT_TRUE(DerSignatureToRaw(signature, &raw));
  EXPECT_EQ(raw.size(), 64u);
  // A negative INTEGER and one with a superfluous leading zero are not DER.
  std::string negative = "\x30\x06\x02\x01\x80\x02\x01\x01";
  std::string padded = std::string("\x30\x07\x02\x02\x00\x01\x02\x01\x01", 9);
  EXPECT_FALSE(DerSignatureToRaw(negative, &raw));
  EXPECT_FALSE(DerSignatureToRaw(padded, &raw));
}
