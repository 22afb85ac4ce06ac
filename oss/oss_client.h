// A small client of an OSS-compatible object store: signed GET and HEAD of objects over
// WinHTTP, with retries, stall detection, resumed downloads and a CRC-64 check of every
// body the store vouches for. Keys and texts are UTF-8 byte strings.
#pragma once
#include <windows.h>
// The GDI macro would rename the store operation; code here calls GetObjectW for GDI.
#undef GetObject

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/scoped.h"
#include "oss/header_map.h"

namespace oss {

// Process-wide set-up of the layer; every OssClient must be made in between.
void InitializeSdk();
void ShutdownSdk();
bool IsSdkInitialized();

struct ClientConfiguration {
  ClientConfiguration();
  std::string userAgent;
  long connectTimeoutMs = 5000;
  // The longest wait for the answer's headers. A body that moves fewer than 10 bytes in
  // any 10 seconds ends its attempt (which may be retried); there is no overall limit,
  // so a large object on a slow line still arrives.
  long requestTimeoutMs = 10000;
  int maxRetries = 3;
  long retryBaseDelayMs = 300;  // doubles with each retry: 300, 600, 1200
  // Empty: the system's proxy settings. Otherwise "host:port" of a proxy for every request.
  std::string proxy;
};

class ObjectMetaData {
 public:
  ObjectMetaData() = default;
  explicit ObjectMetaData(HeaderMap headers) : headers_(std::move(headers)) {}
  std::string ETag() const;  // without the surrounding quotes
  int64_t ContentLength() const;
  std::string LastModified() const;
  std::string Crc64() const;  // "" when the store sent none
  const HeaderMap& HttpMetaData() const { return headers_; }

 private:
  HeaderMap headers_;
};

class OssError {
 public:
  OssError() = default;
  OssError(std::string code, std::string message, std::string requestId = "", int status = 0)
      : code_(std::move(code)), message_(std::move(message)), requestId_(std::move(requestId)), status_(status) {}
  const std::string& Code() const { return code_; }
  const std::string& Message() const { return message_; }
  const std::string& RequestId() const { return requestId_; }
  int Status() const { return status_; }  // HTTP status, 0 for a transport failure
  // The system's error number behind a transport or local-file failure (a WinHTTP or
  // Win32 code), 0 when the store answered or none is known.
  unsigned long SystemError() const { return systemError_; }
  OssError& WithSystemError(unsigned long error) {
    systemError_ = error;
    return *this;
  }

 private:
  std::string code_, message_, requestId_;
  int status_ = 0;
  unsigned long systemError_ = 0;
};

// Where a body is written as it arrives. No iostreams: their locale machinery would
// double the size of the executable.
class BodyStream {
 public:
  virtual ~BodyStream() = default;
  virtual bool write(const char* data, size_t size) = 0;
  virtual bool flush() { return true; }
  // False once an open or a write failed; error() then tells the system error code.
  virtual bool good() const = 0;
  virtual unsigned long error() const { return 0; }
};

// A body kept in memory (small objects, tests).
class MemoryStream : public BodyStream {
 public:
  bool write(const char* data, size_t size) override {
    bytes_.append(data, size);
    return true;
  }
  bool good() const override { return true; }
  const std::string& str() const { return bytes_; }

 private:
  std::string bytes_;
};

// A body written to a file, created or truncated when the stream is made.
class FileStream : public BodyStream {
 public:
  explicit FileStream(const wchar_t* path);
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  // Unbuffered: every write reaches the system at once, so there is nothing to flush.
  bool write(const char* data, size_t size) override;
  bool good() const override { return error_ == 0; }
  unsigned long error() const override { return error_; }

 private:
  ScopedFileHandle file_;
  unsigned long error_ = 0;
};

template <typename Result>
class Outcome {
 public:
  Outcome(Result result) : success_(true), result_(std::move(result)) {}  // NOLINT: implicit by design
  Outcome(OssError error) : success_(false), error_(std::move(error)) {}  // NOLINT
  bool isSuccess() const { return success_; }
  const OssError& error() const { return error_; }
  const Result& result() const { return result_; }

 private:
  bool success_;
  Result result_{};
  OssError error_;
};

class GetObjectResult {
 public:
  GetObjectResult() = default;
  GetObjectResult(ObjectMetaData metaData, std::shared_ptr<BodyStream> content)
      : metaData_(std::move(metaData)), content_(std::move(content)) {}
  const ObjectMetaData& Metadata() const { return metaData_; }
  const std::shared_ptr<BodyStream>& Content() const { return content_; }

 private:
  ObjectMetaData metaData_;
  std::shared_ptr<BodyStream> content_;
};

using HeadObjectOutcome = Outcome<ObjectMetaData>;
using GetObjectOutcome = Outcome<GetObjectResult>;

// Called after each chunk of a body: chunk size, bytes of the body so far, total size.
using TransferProgressHandler = void (*)(size_t increment, int64_t transferred, int64_t total, void* userData);
struct TransferProgress {
  TransferProgressHandler handler = nullptr;
  void* userData = nullptr;
};
// Makes the stream a body is written to; called again (for a fresh, empty stream) when a
// resumed download has to start over.
using IOStreamFactory = std::function<std::shared_ptr<BodyStream>()>;
// Sees every byte of a body as it is written, so a digest costs no second read of the file.
class BodyObserver {
 public:
  virtual ~BodyObserver() = default;
  virtual void Restart() = 0;  // the body starts over from its first byte
  virtual void Update(const char* data, size_t size) = 0;
};

class GetObjectRequest {
 public:
  GetObjectRequest(std::string bucket, std::string key) : bucket_(std::move(bucket)), key_(std::move(key)) {}
  void setResponseStreamFactory(IOStreamFactory factory) { factory_ = std::move(factory); }
  void setTransferProgress(const TransferProgress& progress) { progress_ = progress; }
  void setBodyObserver(BodyObserver* observer) { observer_ = observer; }  // not owned
  // The most bytes the body may have, agreed before the transfer (the length the
  // existence test announced, or a cap of the caller); -1: what the answer announces.
  void setMaxLength(int64_t bytes) { maxLength_ = bytes; }
  int64_t MaxLength() const { return maxLength_; }
  const std::string& Bucket() const { return bucket_; }
  const std::string& Key() const { return key_; }
  const IOStreamFactory& ResponseStreamFactory() const { return factory_; }
  const TransferProgress& Progress() const { return progress_; }
  BodyObserver* Observer() const { return observer_; }

 private:
  std::string bucket_, key_;
  IOStreamFactory factory_;
  TransferProgress progress_;
  BodyObserver* observer_ = nullptr;
  int64_t maxLength_ = -1;
};

class OssClient {
 public:
  // endpoint: "host[:port]" (plain HTTP) or with an "http://" or "https://" scheme.
  OssClient(const std::string& endpoint, const std::string& accessKeyId, const std::string& accessKeySecret,
            const ClientConfiguration& configuration);
  ~OssClient();
  OssClient(const OssClient&) = delete;
  OssClient& operator=(const OssClient&) = delete;

  // HEAD of the object's metadata; any failure reads as "does not exist".
  bool DoesObjectExist(const std::string& bucket, const std::string& key) const;
  // The HEAD ?objectMeta that DoesObjectExist asks, with the metadata it answers.
  HeadObjectOutcome GetObjectMeta(const std::string& bucket, const std::string& key) const;
  HeadObjectOutcome HeadObject(const std::string& bucket, const std::string& key) const;
  GetObjectOutcome GetObject(const GetObjectRequest& request) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Error code of a body whose CRC-64 differs from the one the store sent.
constexpr const char kCrcMismatchCode[] = "CrcCheckError";
// Error code of a body longer than the length agreed for it.
constexpr const char kBodyTooLongCode[] = "BodyTooLong";

}  // namespace oss
