#include "system/failure_log.h"

#include <windows.h>

#include "base/text.h"
#include "system/install_log.h"

namespace {
constexpr size_t kLineBytes = 2048;
}  // namespace

std::string FailureCause(const char* what, const std::string& subject, unsigned long code) {
  // Formatted whole, then cut on a character boundary.
  const std::string line = FormatBounded(kLineBytes + subject.size(), "%s：%s (错误码 %ld)", what ? what : "",
                                         OneLine(subject).c_str(), static_cast<long>(code));
  return CutGbk(line, kLineBytes - 1);
}

std::string FailureCause(const char* what, const std::wstring& subject, unsigned long code) {
  return FailureCause(what, WideToGbk(subject, kLineBytes), code);
}

void LogFailureCause(const char* what, const std::string& subject, unsigned long code) {
  InstallLog::Write(FailureCause(what, subject, code).c_str());
}

void LogFailureCause(const char* what, const std::wstring& subject, unsigned long code) {
  InstallLog::Write(FailureCause(what, subject, code).c_str());
}

unsigned long LogLastErrorCause(const char* what, const std::string& subject) {
  const DWORD error = GetLastError();
  LogFailureCause(what, subject, error);
  return error;
}

unsigned long LogLastErrorCause(const char* what, const std::wstring& subject) {
  const DWORD error = GetLastError();
  LogFailureCause(what, subject, error);
  return error;
}
