#include "system/install_log.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "system/session.h"
#include "system/text.h"

namespace {
std::mutex sinkLock;
FILE* sink = nullptr;
}  // namespace

void InstallLog::Open(const char* logDir) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::string path = std::string(logDir ? logDir : "") + "\\" +
                     FormatBounded(101, "%02d%02d%02d%03d", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds) +
                     "install.log";
  // A failure has already been shown to the user in a box; the open is tried anyway.
  CreatePathFolders(path.c_str());
  FILE* file = _wfopen(GbkToWide(path, 2048).c_str(), L"wb");
  std::lock_guard<std::mutex> hold(sinkLock);
  if (sink != nullptr) fclose(sink);
  sink = file;
}

void InstallLog::Write(const char* message) {
  if (message == nullptr) return;
  std::lock_guard<std::mutex> hold(sinkLock);
  if (sink == nullptr) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::string line = FormatBounded(260, "[%02d:%02d:%02d %03d]\t\t", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  line += message;
  line += "\r\n";
  fwrite(line.data(), 1, line.size(), sink);
  fflush(sink);
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
