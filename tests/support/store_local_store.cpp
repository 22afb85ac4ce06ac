#include "support/store_local_store.h"

#include <atomic>
#include <sstream>

#include "install/messages.h"
#include "support/test_support.h"
#include "base/text.h"

namespace testing_support {
namespace {
std::atomic<int> storeCounter{0};

// Values of a flat JSON object as text (strings unescaped, numbers and null as written).
std::map<std::string, std::string> ParseFlatJson(const std::string& line) {
  std::map<std::string, std::string> out;
  size_t i = line.find('{');
  if (i == std::string::npos) return out;
  auto readString = [&](size_t& p) {
    std::string text;
    for (++p; p < line.size() && line[p] != '"'; ++p) {
      if (line[p] == '\\' && p + 1 < line.size()) {
        char next = line[++p];
        if (next == 'n') text += '\n';
        else if (next == 't') text += '\t';
        else if (next == 'u') { text += '?'; p += 4; }
        else text += next;
      } else {
        text += line[p];
      }
    }
    ++p;
    return text;
  };
  ++i;
  while (i < line.size()) {
    i = line.find('"', i);
    if (i == std::string::npos) break;
    std::string name = readString(i);
    i = line.find(':', i) + 1;
    while (i < line.size() && line[i] == ' ') ++i;
    std::string value;
    if (line[i] == '"') {
      value = readString(i);
    } else {
      size_t end = line.find_first_of(",}", i);
      value = line.substr(i, end - i);
      i = end;
    }
    out[name] = value;
    i = line.find_first_of(",}", i);
    if (i == std::string::npos || line[i] == '}') break;
    ++i;
  }
  return out;
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }
}  // namespace

LocalStore::LocalStore() : LocalStore(Options()) {}

LocalStore::LocalStore(const Options& options) : options_(options) {
  folderUnix_ = "/tmp/mvt-store-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(storeCounter++);
  RemoveTree(UnixToWindowsPath(folderUnix_));
  CreateDirectoryW(GbkToWide(UnixToWindowsPath(folderUnix_)).c_str(), nullptr);
  CreateDirectoryW(GbkToWide(RootWindows()).c_str(), nullptr);
}

LocalStore::~LocalStore() {
  Stop();
  RemoveTree(UnixToWindowsPath(folderUnix_));
}

std::string LocalStore::Windows(const std::string& name) const { return UnixToWindowsPath(folderUnix_ + "/" + name); }
std::string LocalStore::RootWindows() const { return Windows("bucket"); }

bool LocalStore::Start() {
  std::string command = "/usr/bin/python3 " + Quote(std::string(MORVANTIS_SOURCE_DIR) + "/tools/oss_store.py") +
                        " --root " + Quote(folderUnix_ + "/bucket") + " --port 0 --port-file " +
                        Quote(folderUnix_ + "/port") + " --faults " + Quote(folderUnix_ + "/faults.json") +
                        " --access-log " + Quote(folderUnix_ + "/access.log") + " --stop-file " +
                        Quote(folderUnix_ + "/stop") + " --idle-exit 600 --key-id " + Quote(options_.keyId) +
                        " --key-secret " + Quote(options_.keySecret);
  if (!options_.httpsCertUnixPath.empty())
    command += " --https-cert " + Quote(options_.httpsCertUnixPath) + " --https-key " + Quote(options_.httpsKeyUnixPath);
  if (options_.throttle > 0) command += " --throttle " + std::to_string(options_.throttle);
  if (options_.publicRead) command += " --public-read";
  std::wstring wide = GbkToWide(command, 8192);
  std::vector<wchar_t> mutableCommand(wide.begin(), wide.end());
  mutableCommand.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, mutableCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  process_ = process.hProcess;
  for (int waited = 0; waited < 600; ++waited) {  // up to a minute: large objects are checksummed first
    std::string port = ReadFileBytes(Windows("port"));
    if (!port.empty()) {
      port_ = atoi(port.c_str());
      return port_ > 0;
    }
    Sleep(100);
  }
  return false;
}

void LocalStore::Stop() {
  if (process_ == nullptr) return;
  WriteFileBytes(Windows("stop"), "stop");
  WaitForSingleObject(process_, 10000);
  CloseHandle(process_);
  process_ = nullptr;
}

void LocalStore::PutObject(const std::string& key, const std::string& bytes) const {
  std::string path = RootWindows() + "\\" + key;
  for (char& c : path) if (c == '/') c = '\\';
  WriteFileBytes(path, bytes);
}

void LocalStore::SetFaults(const std::string& json) const { WriteFileBytes(Windows("faults.json"), json.empty() ? "{}" : json); }

std::vector<std::map<std::string, std::string>> LocalStore::AccessLog() const {
  std::vector<std::map<std::string, std::string>> entries;
  // The store writes a request's line just after its last byte: the client may be
  // quicker. Read until the log has stayed the same for a moment.
  std::string text = ReadFileBytes(Windows("access.log"));
  for (int i = 0; i < 20; ++i) {
    Sleep(150);
    std::string again = ReadFileBytes(Windows("access.log"));
    if (again == text) break;
    text = again;
  }
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) entries.push_back(ParseFlatJson(line));
  }
  return entries;
}

std::vector<std::map<std::string, std::string>> LocalStore::Requests(const std::string& method, const std::string& key) const {
  std::vector<std::map<std::string, std::string>> chosen;
  for (auto& entry : AccessLog()) {
    if (entry["method"] == method && entry["key"] == key) chosen.push_back(entry);
  }
  return chosen;
}

InstallMessageRecorder::InstallMessageRecorder() {
  window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  previous_ = dialogWindow;
  dialogWindow = window_;
}

InstallMessageRecorder::~InstallMessageRecorder() {
  dialogWindow = previous_;
  Drain();
  DestroyWindow(window_);
}

std::vector<std::pair<UINT, LPARAM>> InstallMessageRecorder::Drain() {
  std::vector<std::pair<UINT, LPARAM>> messages;
  MSG message;
  while (PeekMessageW(&message, window_, WM_USER, WM_USER + 200, PM_REMOVE)) messages.emplace_back(message.message, message.lParam);
  return messages;
}

std::vector<LPARAM> InstallMessageRecorder::Values(const std::vector<std::pair<UINT, LPARAM>>& messages, UINT kind) {
  std::vector<LPARAM> values;
  for (const auto& message : messages) {
    if (message.first == kind) values.push_back(message.second);
  }
  return values;
}

std::vector<std::string> InstallLogLines(const std::string& logDir) {
  std::vector<std::string> lines;
  for (const std::string& name : ListFilesRecursive(logDir)) {
    if (name.size() < 11 || name.compare(name.size() - 11, 11, "install.log") != 0) continue;
    std::istringstream text(ReadFileBytes(logDir + "\\" + name));
    std::string line;
    while (std::getline(text, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t tabs = line.find("\t\t");
      lines.push_back(tabs == std::string::npos ? line : line.substr(tabs + 2));
    }
  }
  return lines;
}

}  // namespace testing_support
