// The cause of a failure that ends or changes the run, logged once, where it happens, as
// a line of its own beside the run's fixed lines (which stay exactly as they are):
//   "<what>：<subject> (错误码 <code>)"
// code is a Win32 error or another numeric code the failing call gave, shown as a signed
// 32-bit number so that a library's negative code reads as itself. Failures that are
// expected and change nothing (a clean-up of what is not there) are not logged.
#pragma once
#include <string>

// The line, cut to the log's line buffer; control characters in subject become spaces,
// so a name taken from a package or the store cannot write lines of its own.
std::string FailureCause(const char* what, const std::string& subject, unsigned long code);
std::string FailureCause(const char* what, const std::wstring& subject, unsigned long code);
void LogFailureCause(const char* what, const std::string& subject, unsigned long code);
void LogFailureCause(const char* what, const std::wstring& subject, unsigned long code);
// Reads the calling thread's last error before anything can change it, logs it with
// what and subject, and returns it.
unsigned long LogLastErrorCause(const char* what, const std::string& subject);
unsigned long LogLastErrorCause(const char* what, const std::wstring& subject);
