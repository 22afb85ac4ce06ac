#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <string>
#include <vector>

#include "oss/oss_client.h"
#include "support/store_local_store.h"
#include "support/test_support.h"
#include "base/text.h"

using namespace testing_support;

namespace {

// A certificate made for this test and trusted in this build's own Wine prefix only,
// for as long as the object lives.
class TrustedTestCertificate {
 public:
  explicit TrustedTestCertificate(const std::string& folderUnix) : folderUnix_(folderUnix) {
    CreateDirectoryW(GbkToWide(UnixToWindowsPath(folderUnix)).c_str(), nullptr);
    ProcessResult made = RunUnixProgram(
        // The address is named in the subject: Wine matches an IP address against the
        // common name, not against an IP entry of the alternative names.
        "/usr/bin/openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
        "-addext keyUsage=critical,digitalSignature,keyEncipherment,keyCertSign "
        "-addext extendedKeyUsage=serverAuth -keyout " + KeyPath() + " -out " + CertPath());
    // Wine does not wait for a Linux program to end: wait for the certificate itself.
    for (int i = 0; made.started && i < 300 && !made_; ++i) {
      made_ = ReadFileBytes(UnixToWindowsPath(CertPath())).find("END CERTIFICATE") != std::string::npos;
      if (!made_) Sleep(100);
    }
  }
  ~TrustedTestCertificate() {
    if (added_) CertDeleteCertificateFromStore(added_);  // frees the context as well
    if (root_) {
      CertControlStore(root_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
      CertCloseStore(root_, 0);
    }
    RemoveTree(UnixToWindowsPath(folderUnix_));
  }
  bool Made() const { return made_; }
  std::string CertPath() const { return folderUnix_ + "/cert.pem"; }
  std::string KeyPath() const { return folderUnix_ + "/key.pem"; }

  bool Trust() {
    std::string pem = ReadFileBytes(UnixToWindowsPath(CertPath()));
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) return false;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) return false;
    root_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    // A registry store writes its changes when told to (or closed): commit, so that the
    // chain engine, which opens the store anew, sees the certificate.
    return root_ &&
           CertAddEncodedCertificateToStore(root_, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_REPLACE_EXISTING,
                                            &added_) &&
           CertControlStore(root_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  }

 private:
  std::string folderUnix_;
  bool made_ = false;
  HCERTSTORE root_ = nullptr;
  PCCERT_CONTEXT added_ = nullptr;
};

oss::GetObjectOutcome Fetch(const std::string& endpoint, std::shared_ptr<oss::MemoryStream>& body) {
  oss::ClientConfiguration configuration;
  oss::OssClient client(endpoint, "DemoAccessKeyIdMorvant01", "DemoSecretForTheLocalStore2026", configuration);
  oss::GetObjectRequest request("zqpublish", "9.5MOrvantisIE/summary.ini");
  request.setResponseStreamFactory([&body]() { return body = std::make_shared<oss::MemoryStream>(); });
  return client.GetObject(request);
}

// The process's certificate chain engine reads the trusted roots once, so the trusted
// certificate is added before the first HTTPS request; a second, never trusted one
// stands for a certificate the system does not know.
TEST(OssHttps, TrustedCertificateServesUntrustedOneIsRefused) {
  const std::string folder = "/tmp/mvt-cert-" + std::to_string(GetCurrentProcessId());
  TrustedTestCertificate trusted(folder + "-a"), unknown(folder + "-b");
  ASSERT_TRUE(trusted.Made() && unknown.Made());
  ASSERT_TRUE(trusted.Trust());
  LocalStore::Options options;
  options.httpsCertUnixPath = trusted.CertPath();
  options.httpsKeyUnixPath = trusted.KeyPath();
  LocalStore store(options);
  options.httpsCertUnixPath = unknown.CertPath();
  options.httpsKeyUnixPath = unknown.KeyPath();
  LocalStore impostor(options);
  ASSERT_TRUE(store.Start() && impostor.Start());
  store.PutObject("9.5MOrvantisIE/summary.ini", "[fixstamp]\r\n");
  impostor.PutObject("9.5MOrvantisIE/summary.ini", "[fixstamp]\r\n");
  oss::InitializeSdk();

  std::shared_ptr<oss::MemoryStream> body;
  oss::GetObjectOutcome served = Fetch("https://" + store.Endpoint(), body);
  ASSERT_TRUE(served.isSuccess()) << served.error().Code() << " " << served.error().Message();
  EXPECT_EQ(body->str(), "[fixstamp]\r\n");
  EXPECT_EQ(store.AccessLog().size(), 1u);

  body.reset();
  oss::GetObjectOutcome refused = Fetch("https://" + impostor.Endpoint(), body);
  ASSERT_FALSE(refused.isSuccess());
  EXPECT_EQ(refused.error().Code().compare(0, 20, "ERROR_WINHTTP_SECURE"), 0) << refused.error().Code();
  EXPECT_TRUE(impostor.AccessLog().empty());  // refused before any request was made, and not retried
  EXPECT_EQ(body, nullptr);
  oss::ShutdownSdk();
}

}  // namespace
