#include "system/install_log.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "system/failure_log.h"
#include "system/session.h"
#include "base/text.h"

namespace {
std::mutex sinkLock;
FILE* sink = nullptr;
FILE* copySink = nullptr;  // UTF-8
thread_local std::vector<std::string>* heldLines = nullptr;
}  // namespace

bool InstallLog::Open(const char* logDir) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::string path = std::string(logDir ? logDir : "") + "\\" +
                     FormatBounded(101, "%02d%02d%02d%03d", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds) +
                     "install.log";
  // A failure has already been shown to the user in a box; the open is tried anyway.
  CreatePathFolders(path.c_str());
  FILE* file = _wfopen(GbkToWide(path, 2048).c_str(), L"wb");
  // Only a copy (/LOG=) can take this line; written before the lock, which it takes.
  if (file == nullptr) LogLastErrorCause("无法创建日志文件", path);
  std::lock_guard<std::mutex> hold(sinkLock);
  if (sink != nullptr) fclose(sink);
  sink = file;
  return file != nullptr;
}

void InstallLog::Write(const char* message) {
  if (message == nullptr) return;
  if (heldLines != nullptr) {
    heldLines->push_back(message);
    return;
  }
  std::lock_guard<std::mutex> hold(sinkLock);
  if (sink == nullptr && copySink == nullptr) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::string stamp =
      FormatBounded(260, "[%02d:%02d:%02d %03d]\t\t", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  const std::string line = stamp + message + "\r\n";
  if (sink != nullptr) {
    fwrite(line.data(), 1, line.size(), sink);
    fflush(sink);
  }
  if (copySink != nullptr) {
    const std::string utf8 = WideToGbk(GbkToWide(line, line.size() + 1), line.size() * 3 + 1, CP_UTF8);
    fwrite(utf8.data(), 1, utf8.size(), copySink);
    fflush(copySink);
  }
}

void InstallLog::Close() {
  std::lock_guard<std::mutex> hold(sinkLock);
  if (sink != nullptr) fclose(sink);
  sink = nullptr;
}

bool InstallLog::IsOpen() {
  std::lock_guard<std::mutex> hold(sinkLock);
  return sink != nullptr;
}

bool InstallLog::OpenCopy(const wchar_t* path) {
  FILE* file = path != nullptr ? _wfopen(path, L"wb") : nullptr;
  std::lock_guard<std::mutex> hold(sinkLock);
  if (copySink != nullptr) fclose(copySink);
  copySink = file;
  return file != nullptr;
}

void InstallLog::CloseCopy() {
  std::lock_guard<std::mutex> hold(sinkLock);
  if (copySink != nullptr) fclose(copySink);
  copySink = nullptr;
}

void InstallLog::HoldThisThread(std::vector<std::string>* held) { heldLines = held; }
