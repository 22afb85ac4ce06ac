// The local OSS-compatible store (tools/oss_store.py) run for one test: started on a
// free port of 127.0.0.1 with its own bucket folder, faults and access log, stopped
// when the object ends. Also a window that records the install messages.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace testing_support {

class LocalStore {
 public:
  struct Options {
    std::string keyId = "DemoAccessKeyIdMorvant01";
    std::string keySecret = "DemoSecretForTheLocalStore2026";
    std::string httpsCertUnixPath;  // PEM certificate and key: serve HTTPS
    std::string httpsKeyUnixPath;
    long throttle = 0;  // bytes per second, 0: unlimited
    bool publicRead = false;  // also answer unsigned requests
  };
  LocalStore();
  explicit LocalStore(const Options& options);
  ~LocalStore();
  LocalStore(const LocalStore&) = delete;
  LocalStore& operator=(const LocalStore&) = delete;

  bool Start();  // false when the server did not report its port in time
  void Stop();
  int Port() const { return port_; }
  std::string Endpoint() const { return "127.0.0.1:" + std::to_string(port_); }

  // Writes an object of the bucket: the file <root>/<key> (GBK key, "/" separated).
  void PutObject(const std::string& key, const std::string& bytes) const;
  // The JSON fault table (see tools/oss_store.py --help); "" removes every fault.
  void SetFaults(const std::string& json) const;
  // One map per request, in order: method, key, sub, range, status, code, bytes, fault, host, path.
  std::vector<std::map<std::string, std::string>> AccessLog() const;
  // The requests of the log with this method and key.
  std::vector<std::map<std::string, std::string>> Requests(const std::string& method, const std::string& key) const;

  const std::string& FolderUnix() const { return folderUnix_; }
  std::string RootWindows() const;

 private:
  std::string Windows(const std::string& name) const;
  Options options_;
  std::string folderUnix_;
  int port_ = 0;
  HANDLE process_ = nullptr;
};

// A message-only window that keeps every WM_INSTALL_* message posted to it; it becomes
// dialogWindow while it lives.
class InstallMessageRecorder {
 public:
  InstallMessageRecorder();
  ~InstallMessageRecorder();
  InstallMessageRecorder(const InstallMessageRecorder&) = delete;
  InstallMessageRecorder& operator=(const InstallMessageRecorder&) = delete;

  // Takes the messages waiting in the queue; returns (message, lParam) in order.
  std::vector<std::pair<UINT, LPARAM>> Drain();
  // The lParams of one kind of message among those drained.
  static std::vector<LPARAM> Values(const std::vector<std::pair<UINT, LPARAM>>& messages, UINT message);

 private:
  HWND window_ = nullptr;
  HWND previous_ = nullptr;
};

// The lines of the one install.log in a log folder, without their time stamps.
std::vector<std::string> InstallLogLines(const std::string& logDir);

}  // namespace testing_support
