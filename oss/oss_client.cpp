#include "oss/oss_client.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <vector>

#include "oss/crc64.h"
#include "oss/signing.h"
#include "base/scoped.h"
#include "base/text.h"

namespace oss {
namespace {
std::atomic<int> sdkUsers{0};

// Read buffer of a body: fixed, so memory does not grow with the object. Wine fills the
// whole buffer before it returns, so a larger one would lose more of a stalled transfer.
constexpr size_t kChunkBytes = 64 * 1024;
// An error document is small; anything beyond this is not read.
constexpr size_t kMaxErrorBody = 64 * 1024;
// The transport's low-speed rule: a body that moves fewer than this many bytes in any
// window of this length ends its attempt, so a store cannot hold a transfer by dripping.
constexpr size_t kLowSpeedBytes = 10;
constexpr ULONGLONG kLowSpeedWindowMs = 10000;
constexpr char kLowSpeedPhase[] = "reading the body: fewer than 10 bytes in 10 seconds";

// Keeps the arrival times of the last kLowSpeedBytes bytes of a body: once the oldest
// of them is a whole window old, the window behind it held fewer than that many.
class LowSpeedRule {
 public:
  LowSpeedRule() : start_(GetTickCount64()) {}
  void Arrived(size_t bytes) {
    const ULONGLONG now = GetTickCount64();
    for (size_t i = 0; i < std::min(bytes, kLowSpeedBytes); ++i) {
      arrivals_[next_] = now;
      next_ = (next_ + 1) % kLowSpeedBytes;
    }
    seen_ = std::min(seen_ + bytes, kLowSpeedBytes);
  }
  // The moment the attempt ends unless more bytes arrive first.
  ULONGLONG Deadline() const { return (seen_ < kLowSpeedBytes ? start_ : arrivals_[next_]) + kLowSpeedWindowMs; }

 private:
  ULONGLONG start_;
  ULONGLONG arrivals_[kLowSpeedBytes] = {};
  size_t next_ = 0;
  size_t seen_ = 0;
};

struct InternetTraits {
  using Value = HINTERNET;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value v) { return v != nullptr; }
  static void Close(Value v) { WinHttpCloseHandle(v); }
};
using ScopedInternet = Scoped<InternetTraits>;

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(std::max(size, 0)), '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
  return bytes;
}

const char* WinHttpErrorName(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT: return "ERROR_WINHTTP_TIMEOUT";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "ERROR_WINHTTP_NAME_NOT_RESOLVED";
    case ERROR_WINHTTP_CANNOT_CONNECT: return "ERROR_WINHTTP_CANNOT_CONNECT";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "ERROR_WINHTTP_CONNECTION_ERROR";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "ERROR_WINHTTP_INVALID_SERVER_RESPONSE";
    case ERROR_WINHTTP_INVALID_URL: return "ERROR_WINHTTP_INVALID_URL";
    case ERROR_WINHTTP_SECURE_FAILURE: return "ERROR_WINHTTP_SECURE_FAILURE";
    case ERROR_WINHTTP_SECURE_INVALID_CA: return "ERROR_WINHTTP_SECURE_INVALID_CA";
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID: return "ERROR_WINHTTP_SECURE_CERT_CN_INVALID";
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID: return "ERROR_WINHTTP_SECURE_CERT_DATE_INVALID";
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED: return "ERROR_WINHTTP_SECURE_CERT_REV_FAILED";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: return "ERROR_WINHTTP_SECURE_CHANNEL_ERROR";
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED: return "ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED";
    case ERROR_WINHTTP_OPERATION_CANCELLED: return "ERROR_WINHTTP_OPERATION_CANCELLED";
    case ERROR_WINHTTP_RESEND_REQUEST: return "ERROR_WINHTTP_RESEND_REQUEST";
    default: return "ERROR_WINHTTP";
  }
}

// Certificate and TLS failures do not go away by asking again.
bool IsTransientTransportError(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return false;
    default:
      return true;
  }
}

OssError TransportError(DWORD error, const char* phase) {
  return OssError(WinHttpErrorName(error),
                  std::string("WinHTTP error ") + std::to_string(error) + " (" + WinHttpErrorName(error) + ") " + phase)
      .WithSystemError(error);
}

std::string XmlUnescape(const std::string& text) {
  static const std::pair<const char*, char> kEntities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& entity : kEntities) {
        size_t length = strlen(entity.first);
        if (text.compare(i, length, entity.first) == 0) {
          out.push_back(entity.second);
          i += length;
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out.push_back(text[i++]);
  }
  return out;
}

std::string XmlElement(const std::string& xml, const std::string& name) {
  size_t open = xml.find("<" + name + ">");
  if (open == std::string::npos) return "";
  open += name.size() + 2;
  size_t close = xml.find("</" + name + ">", open);
  if (close == std::string::npos) return "";
  return XmlUnescape(xml.substr(open, close - open));
}

int64_t ParseInt64(const std::string& text, int64_t fallback) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), ::isdigit) || text.size() > 18) return fallback;
  return std::stoll(text);
}

// "bytes first-last/total" of a 206 answer; false when it is not that shape.
bool ParseContentRange(const std::string& text, int64_t& first, int64_t& total) {
  if (text.compare(0, 6, "bytes ") != 0) return false;
  size_t dash = text.find('-', 6), slash = text.find('/', 6);
  if (dash == std::string::npos || slash == std::string::npos || dash > slash) return false;
  first = ParseInt64(text.substr(6, dash - 6), -1);
  total = ParseInt64(text.substr(slash + 1), -1);
  return first >= 0;
}

HeaderMap ParseRawHeaders(const std::string& raw) {
  HeaderMap headers;
  size_t start = raw.find("\r\n");  // the status line comes first
  while (start != std::string::npos && start + 2 < raw.size()) {
    start += 2;
    size_t end = raw.find("\r\n", start);
    std::string line = raw.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      size_t first = value.find_first_not_of(" \t");
      value = first == std::string::npos ? "" : value.substr(first);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
      headers[line.substr(0, colon)] = value;
    }
    start = end;
  }
  return headers;
}

std::string HeaderValue(const HeaderMap& headers, const char* name) {
  auto found = headers.find(name);
  return found == headers.end() ? "" : found->second;
}

// One request and its response headers; the body is read by the caller.
struct Exchange {
  ScopedInternet connect;
  ScopedInternet request;
  DWORD transportError = 0;  // 0: a response arrived
  const char* failedPhase = "";
  int status = 0;
  HeaderMap headers;
  int receiveTimeoutMs = 0;  // as last set on the request

  OssError Error() const { return TransportError(transportError, failedPhase); }
  void Fail(const char* phase) {
    transportError = GetLastError();
    if (transportError == 0) transportError = ERROR_WINHTTP_CONNECTION_ERROR;
    failedPhase = phase;
  }
  // Waits for the next part of the body no longer than the low-speed rule and the
  // transfer timeout allow; available 0 is the body's end. False: the attempt failed.
  bool WaitForBody(const LowSpeedRule& rule, const ClientConfiguration& configuration, DWORD* available) {
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG deadline = rule.Deadline();
    if (now >= deadline) {
      transportError = ERROR_WINHTTP_TIMEOUT;
      failedPhase = kLowSpeedPhase;
      return false;
    }
    const int connectMs = static_cast<int>(configuration.connectTimeoutMs);
    const int transferMs = static_cast<int>(configuration.requestTimeoutMs);
    const int waitMs = static_cast<int>(std::min<ULONGLONG>(deadline - now, static_cast<ULONGLONG>(transferMs)));
    // While bytes flow the deadline stays about a window ahead: the socket is only told
    // again when the wait must be shorter, or is much longer, than it was told. Through
    // the timeouts call: it also applies to the open connection.
    if (waitMs + 100 < receiveTimeoutMs || waitMs > receiveTimeoutMs + 1000) {
      if (!WinHttpSetTimeouts(request.Get(), connectMs, connectMs, transferMs, waitMs)) {
        Fail("setting the receive timeout");
        return false;
      }
      receiveTimeoutMs = waitMs;
    }
    if (WinHttpQueryDataAvailable(request.Get(), available)) return true;
    Fail("reading the body");
    // A wait that ran to the deadline is the rule's end (Wine reports it as a socket
    // timeout); the tick count is coarse, so a little early still counts.
    if (GetTickCount64() + 100 >= deadline) {
      transportError = ERROR_WINHTTP_TIMEOUT;
      failedPhase = kLowSpeedPhase;
    }
    return false;
  }
  // Reads what is left of the body, up to limit bytes, under the low-speed rule.
  std::string ReadRest(size_t limit, const ClientConfiguration& configuration) {
    std::string body;
    char buffer[8192];
    LowSpeedRule lowSpeed;
    DWORD available = 0, got = 0;
    while (body.size() < limit && WaitForBody(lowSpeed, configuration, &available) && available > 0 &&
           WinHttpReadData(request.Get(), buffer, std::min<DWORD>(available, sizeof(buffer)), &got) && got > 0) {
      lowSpeed.Arrived(got);
      body.append(buffer, got);
    }
    return body;
  }
  // The error the store answered; the document of a GET is read for its code.
  OssError ServerError(const ClientConfiguration* configuration) {
    std::string requestId = HeaderValue(headers, "x-oss-request-id");
    if (configuration) {
      std::string body = ReadRest(kMaxErrorBody, *configuration);
      std::string code = XmlElement(body, "Code");
      if (!code.empty()) {
        std::string id = XmlElement(body, "RequestId");
        return OssError(code, XmlElement(body, "Message"), id.empty() ? requestId : id, status);
      }
    }
    return OssError(std::to_string(status), "HTTP status " + std::to_string(status), requestId, status);
  }
};

bool IsRetryableStatus(int status) { return status >= 500 && status <= 599; }

OssError StreamFailure(const char* code, const BodyStream* stream) {
  std::string text = "the response stream cannot be written";
  const unsigned long error = stream ? stream->error() : 0;
  if (error != 0) text += " (error " + std::to_string(error) + ")";
  return OssError(code, text).WithSystemError(error);
}
}  // namespace

FileStream::FileStream(const wchar_t* path)
    : file_(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
  if (!file_) error_ = GetLastError();
}

bool FileStream::write(const char* data, size_t size) {
  while (good() && size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), done = 0;
    if (!WriteFile(file_.Get(), data, chunk, &done, nullptr)) {
      error_ = GetLastError();
      break;
    }
    data += done;
    size -= done;
  }
  return good();
}

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) < std::tolower(y);
  });
}

std::string ObjectMetaData::ETag() const {
  std::string tag = HeaderValue(headers_, "ETag");
  if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"') tag = tag.substr(1, tag.size() - 2);
  return tag;
}
int64_t ObjectMetaData::ContentLength() const { return ParseInt64(HeaderValue(headers_, "Content-Length"), -1); }
std::string ObjectMetaData::LastModified() const { return HeaderValue(headers_, "Last-Modified"); }
std::string ObjectMetaData::Crc64() const { return HeaderValue(headers_, "x-oss-hash-crc64ecma"); }

void InitializeSdk() { ++sdkUsers; }
void ShutdownSdk() {
  if (sdkUsers > 0) --sdkUsers;
}
bool IsSdkInitialized() { return sdkUsers > 0; }

ClientConfiguration::ClientConfiguration() : userAgent("MorvantisSetup/9.5 (Windows; network installer)") {}

struct OssClient::Impl {
  Endpoint endpoint;
  std::string accessKeyId;
  std::string accessKeySecret;
  ClientConfiguration configuration;
  ScopedInternet session;

  // Sends one request, signed when there is a key, and receives the response headers.
  void Send(Exchange& exchange, const wchar_t* verb, const std::string& bucket, const std::string& key,
            const std::string& subResource, int64_t rangeStart) const {
    if (!session.Get() || !endpoint.valid) {
      SetLastError(session.Get() ? ERROR_WINHTTP_INVALID_URL : GetLastError());
      exchange.Fail("opening the session");
      return;
    }
    std::wstring host = Utf8ToWide(RequestHost(endpoint, bucket));
    exchange.connect.Reset(WinHttpConnect(session.Get(), host.c_str(), endpoint.port, 0));
    if (!exchange.connect.Get()) return exchange.Fail("connecting");
    std::string path = RequestPath(endpoint, bucket, key);
    if (!subResource.empty()) path += "?" + subResource;
    exchange.request.Reset(WinHttpOpenRequest(exchange.connect.Get(), verb, Utf8ToWide(path).c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              endpoint.https ? WINHTTP_FLAG_SECURE : 0));
    HINTERNET request = exchange.request.Get();
    if (!request) return exchange.Fail("opening the request");
    int connectMs = static_cast<int>(configuration.connectTimeoutMs);
    int transferMs = static_cast<int>(configuration.requestTimeoutMs);
    WinHttpSetTimeouts(request, connectMs, connectMs, transferMs, transferMs);
    exchange.receiveTimeoutMs = transferMs;
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof(noRedirects));

    SYSTEMTIME now;
    GetSystemTime(&now);
    std::string date = HttpDate(now);
    std::string verbText = WideToUtf8(verb);
    std::string headers = "Date: " + date + "\r\n";
    // A build without a key reads a public-read bucket: its requests go unsigned.
    if (!accessKeyId.empty() || !accessKeySecret.empty()) {
      std::string toSign = StringToSign(verbText, "", "", date, HeaderMap(), CanonicalResource(bucket, key, subResource));
      headers += "Authorization: " + AuthorizationHeader(accessKeyId, accessKeySecret, toSign) + "\r\n";
    }
    if (rangeStart > 0) headers += "Range: bytes=" + std::to_string(rangeStart) + "-\r\n";
    std::wstring wideHeaders = Utf8ToWide(headers);
    if (!WinHttpSendRequest(request, wideHeaders.c_str(), static_cast<DWORD>(wideHeaders.size()), WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0))
      return exchange.Fail("sending the request");
    if (!WinHttpReceiveResponse(request, nullptr)) return exchange.Fail("receiving the response");

    DWORD status = 0, size = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    exchange.status = static_cast<int>(status);
    size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (size > 0) {
      std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
      if (WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, &raw[0], &size,
                              WINHTTP_NO_HEADER_INDEX)) {
        raw.resize(size / sizeof(wchar_t));
        exchange.headers = ParseRawHeaders(WideToUtf8(raw));
      }
    }
  }

  void WaitBeforeRetry(int retry) const { Sleep(static_cast<DWORD>(configuration.retryBaseDelayMs << retry)); }

  // A HEAD with retries for transport failures and 5xx answers.
  HeadObjectOutcome Head(const std::string& bucket, const std::string& key, const std::string& subResource) const {
    for (int retry = 0;; ++retry) {
      Exchange exchange;
      Send(exchange, L"HEAD", bucket, key, subResource, 0);
      bool transient = false;
      OssError error;
      if (exchange.transportError != 0) {
        error = exchange.Error();
        transient = IsTransientTransportError(exchange.transportError);
      } else if (exchange.status >= 200 && exchange.status < 300) {
        return ObjectMetaData(exchange.headers);
      } else {
        error = exchange.ServerError(nullptr);
        transient = IsRetryableStatus(exchange.status);
      }
      if (!transient || retry >= configuration.maxRetries) return error;
      WaitBeforeRetry(retry);
    }
  }

  GetObjectOutcome Get(const GetObjectRequest& request) const;
};

GetObjectOutcome OssClient::Impl::Get(const GetObjectRequest& request) const {
  const IOStreamFactory& factory = request.ResponseStreamFactory();
  const TransferProgress& progress = request.Progress();
  std::shared_ptr<BodyStream> stream;
  ObjectMetaData metaData;
  int64_t written = 0;  // bytes of the body already in the stream
  int64_t total = -1;
  uint64_t crc = 0;
  std::vector<char> buffer(kChunkBytes);

  auto startOver = [&]() -> bool {
    stream.reset();  // a fresh stream is an empty one: the factory truncates
    stream = factory ? factory() : std::make_shared<MemoryStream>();
    written = 0;
    crc = 0;
    if (request.Observer()) request.Observer()->Restart();
    return stream && stream->good();
  };

  for (int retry = 0;; ++retry) {
    Exchange exchange;
    const bool resuming = stream && written > 0;
    Send(exchange, L"GET", request.Bucket(), request.Key(), "", resuming ? written : 0);
    OssError error;
    bool transient = false;
    if (exchange.transportError != 0) {
      error = exchange.Error();
      transient = IsTransientTransportError(exchange.transportError);
    } else if (exchange.status < 200 || exchange.status >= 300) {
      error = exchange.ServerError(&configuration);
      transient = IsRetryableStatus(exchange.status);
      if (resuming && exchange.status == 416) {
        // The part already written lies past the object's end: its announced length was
        // wrong, or the object changed. Ask for the whole object again.
        written = 0;
        transient = true;
      }
    } else {
      ObjectMetaData answer(exchange.headers);
      int64_t rangeFirst = -1, rangeTotal = -1;
      bool continues = resuming && exchange.status == 206 &&
                       ParseContentRange(HeaderValue(exchange.headers, "Content-Range"), rangeFirst, rangeTotal) &&
                       rangeFirst == written && answer.ETag() == metaData.ETag();
      if (!continues) {
        // A first answer, or a store that sent the whole object again (or another one).
        if (exchange.status != 200) {
          return OssError("InvalidResponse", "unexpected HTTP status " + std::to_string(exchange.status),
                          HeaderValue(exchange.headers, "x-oss-request-id"), exchange.status);
        }
        if (!startOver()) return StreamFailure("OpenStreamFailed", stream.get());
        metaData = answer;
        total = answer.ContentLength();
      } else if (rangeTotal >= 0) {
        total = rangeTotal;
      }
      // Nothing is written past the length agreed before the transfer.
      const int64_t agreed = request.MaxLength();
      if (agreed >= 0 && total > agreed) {
        return OssError(kBodyTooLongCode, "the store announced " + std::to_string(total) + " bytes, " +
                                              std::to_string(agreed) + " were agreed",
                        HeaderValue(exchange.headers, "x-oss-request-id"), exchange.status);
      }
      const int64_t limit = total >= 0 ? total : agreed;

      bool readFailed = false;
      bool ended = false;
      bool tooLong = false;
      LowSpeedRule lowSpeed;
      while (!readFailed && !ended && !tooLong) {
        // Small reads of what has arrived (Wine hands out 8 KiB at a time), gathered so
        // that the stream and the progress see whole buffers.
        DWORD got = 0;
        while (got < buffer.size()) {
          DWORD available = 0, part = 0;
          if (!exchange.WaitForBody(lowSpeed, configuration, &available)) {
            readFailed = true;
            break;
          }
          DWORD want = static_cast<DWORD>(std::min<size_t>(available, buffer.size() - got));
          if (want > 0 && !WinHttpReadData(exchange.request.Get(), buffer.data() + got, want, &part)) {
            exchange.Fail("reading the body");
            readFailed = true;
            break;
          }
          if (part == 0) {
            ended = true;
            break;
          }
          lowSpeed.Arrived(part);
          got += part;
        }
        if (limit >= 0 && static_cast<int64_t>(got) > limit - written) {
          got = static_cast<DWORD>(limit - written);  // cut off at the agreed length
          tooLong = true;
        }
        if (got == 0) continue;
        if (!stream->write(buffer.data(), got)) return StreamFailure("WriteStreamFailed", stream.get());
        crc = Crc64Update(crc, buffer.data(), got);
        if (request.Observer()) request.Observer()->Update(buffer.data(), got);
        written += got;
        if (progress.handler) progress.handler(got, written, total, progress.userData);
      }
      if (tooLong) {
        stream->flush();
        return OssError(kBodyTooLongCode, "the body went past the " + std::to_string(limit) + " bytes agreed",
                        HeaderValue(exchange.headers, "x-oss-request-id"), exchange.status);
      }
      if (readFailed) {
        error = exchange.Error();
        transient = true;
      } else if (total >= 0 && written != total) {
        error = OssError("IncompleteBody", "the body ended after " + std::to_string(written) + " of " +
                                               std::to_string(total) + " bytes",
                         HeaderValue(exchange.headers, "x-oss-request-id"), exchange.status);
        transient = written < total;
        if (!transient) written = 0;  // more than announced: nothing in the stream can be trusted
      } else {
        if (!stream->flush()) return StreamFailure("WriteStreamFailed", stream.get());
        std::string expected = metaData.Crc64();
        if (!expected.empty() && std::to_string(crc) != expected) {
          return OssError(kCrcMismatchCode,
                          "CRC-64 of the body is " + std::to_string(crc) + ", the store sent " + expected,
                          HeaderValue(metaData.HttpMetaData(), "x-oss-request-id"), exchange.status);
        }
        return GetObjectResult(metaData, stream);
      }
    }
    if (!transient || retry >= configuration.maxRetries) return error;
    WaitBeforeRetry(retry);
  }
}

OssClient::OssClient(const std::string& endpoint, const std::string& accessKeyId, const std::string& accessKeySecret,
                     const ClientConfiguration& configuration)
    : impl_(new Impl) {
  impl_->endpoint = ParseEndpoint(endpoint);
  impl_->accessKeyId = accessKeyId;
  impl_->accessKeySecret = accessKeySecret;
  impl_->configuration = configuration;
  std::wstring agent = Utf8ToWide(configuration.userAgent);
  if (!configuration.proxy.empty()) {
    impl_->session.Reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                     Utf8ToWide(configuration.proxy).c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
  } else {
    // The system's proxy settings; older systems know only the registry's default proxy.
    impl_->session.Reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
    if (!impl_->session.Get())
      impl_->session.Reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
  }
}

OssClient::~OssClient() = default;

bool OssClient::DoesObjectExist(const std::string& bucket, const std::string& key) const {
  return GetObjectMeta(bucket, key).isSuccess();
}

HeadObjectOutcome OssClient::GetObjectMeta(const std::string& bucket, const std::string& key) const {
  return impl_->Head(bucket, key, "objectMeta");
}

HeadObjectOutcome OssClient::HeadObject(const std::string& bucket, const std::string& key) const {
  return impl_->Head(bucket, key, "");
}

GetObjectOutcome OssClient::GetObject(const GetObjectRequest& request) const { return impl_->Get(request); }

}  // namespace oss
