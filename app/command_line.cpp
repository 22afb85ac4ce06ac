#include "app/command_line.h"

#include <windows.h>

#include <cwctype>
#include <vector>

#include "base/context.h"
#include "app/startup.h"
#include "system/install_log.h"
#include "base/scoped.h"
#include "base/text.h"
#include "ui/ui_text.h"

namespace {
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool StartsWithNoCase(const std::wstring& text, size_t at, const wchar_t* prefix) {
  for (size_t i = 0; prefix[i] != L'\0'; ++i) {
    if (at + i >= text.size() || towupper(text[at + i]) != towupper(prefix[i])) return false;
  }
  return true;
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
  return text;
}

// One argument from at, quotes grouping blanks and removed, as Windows programs read them.
std::wstring NextArgument(const std::wstring& line, size_t* at) {
  std::wstring argument;
  bool quoted = false;
  size_t i = *at;
  for (; i < line.size() && (quoted || !IsBlank(line[i])); ++i) {
    if (line[i] == L'"') quoted = !quoted;
    else argument += line[i];
  }
  *at = i;
  return argument;
}

std::wstring FullPath(const std::wstring& path) {
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::wstring();
  std::vector<wchar_t> buffer(needed + 1, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return std::wstring();
  return std::wstring(buffer.data(), length);
}

// An absolute folder (X:\... or \\server\share\...) without characters Windows refuses,
// as a full GBK path; "" when it cannot be one.
std::string ParentFolder(const std::wstring& value) {
  bool drive = value.size() >= 3 && iswalpha(value[0]) && value[1] == L':' && (value[2] == L'\\' || value[2] == L'/');
  bool share = value.size() >= 3 && value[0] == L'\\' && value[1] == L'\\';
  if (!drive && !share) return std::string();
  for (size_t i = 2; i < value.size(); ++i) {
    if (value[i] < 32 || wcschr(L"<>:\"|?*", value[i]) != nullptr) return std::string();
  }
  std::wstring full = FullPath(value);
  // The root keeps its separator; any other folder loses a trailing one.
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  return ExactGbk(full, 260);
}

CommandLine Refuse(const std::wstring& argument) {
  CommandLine result;
  result.mode = LaunchMode::Invalid;
  result.refused = argument;
  return result;
}
}  // namespace

std::wstring ArgumentsOf(const std::wstring& commandLine) {
  size_t i = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    size_t close = commandLine.find(L'"', 1);
    i = close == std::wstring::npos ? commandLine.size() : close + 1;
  }
  while (i < commandLine.size() && !IsBlank(commandLine[i])) ++i;
  while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
  return commandLine.substr(i);
}

CommandLine ParseCommandLine(const std::wstring& arguments) {
  CommandLine result;
  bool unattended = false;
  bool help = false;
  size_t at = 0;
  for (;;) {
    while (at < arguments.size() && IsBlank(arguments[at])) ++at;
    if (at >= arguments.size()) break;
    if (StartsWithNoCase(arguments, at, L"/D=")) {
      // The rest of the line, spaces included, as other installers take it.
      std::wstring value = arguments.substr(at + 3);
      while (!value.empty() && IsBlank(value.back())) value.pop_back();
      if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') value = value.substr(1, value.size() - 2);
      result.folder = ParentFolder(value);
      if (result.folder.empty()) return Refuse(arguments.substr(at));
      break;
    }
    const std::wstring argument = NextArgument(arguments, &at);
    const std::wstring upper = Upper(argument);
    if (upper.compare(0, 3, L"/D=") == 0) {
      // Quoted as a whole ("/D=C:\a b"), as a program that quotes its arguments passes it;
      // still the last argument.
      while (at < arguments.size() && IsBlank(arguments[at])) ++at;
      result.folder = at == arguments.size() ? ParentFolder(argument.substr(3)) : std::string();
      if (result.folder.empty()) return Refuse(argument);
    } else if (upper == L"/S") {
      unattended = true;
    } else if (upper == L"/?" || upper == L"/H") {
      help = true;
    } else if (upper.compare(0, 5, L"/LOG=") == 0 && result.logCopy.empty()) {
      result.logCopy = argument.size() > 5 ? FullPath(argument.substr(5)) : std::wstring();
      if (result.logCopy.empty()) return Refuse(argument);
    } else {
      return Refuse(argument);
    }
  }
  result.mode = help ? LaunchMode::Help : unattended ? LaunchMode::Unattended : LaunchMode::Window;
  return result;
}

bool WriteToParentConsole(const std::wstring& text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  ScopedFileHandle console;
  if (output == nullptr || output == INVALID_HANDLE_VALUE || GetFileType(output) == FILE_TYPE_UNKNOWN) {
    // A window program has no output of its own: borrow the console it was started from.
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
    console.Reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    if (!console) return false;
    output = console.Get();
  }
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(output, &mode)) {
    return WriteConsoleW(output, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
  }
  // A file or a pipe: UTF-8, as the log copy.
  const std::string bytes = WideToGbk(text, text.size() * 3 + 1, CP_UTF8);
  return WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
}

bool HandleCommandLine(CommandLine* parsed, int* exitCode) {
  // The usage speaks the interface language, chosen before the rest of the set-up.
  InstallerContext::Instance().languageId = MapUiLanguage(GetUserDefaultUILanguage());
  *parsed = ParseCommandLine(ArgumentsOf(GetCommandLineW()));
  switch (parsed->mode) {
    case LaunchMode::Help:
      WriteToParentConsole(UiText::Usage());
      *exitCode = 0;
      return false;
    case LaunchMode::Invalid:
      WriteToParentConsole(std::wstring(UiText::BadArgument()) + parsed->refused + L"\r\n" + UiText::Usage());
      *exitCode = kExitBadCommandLine;
      return false;
    case LaunchMode::Window:
    case LaunchMode::Unattended:
      break;
  }
  if (!parsed->logCopy.empty() && !InstallLog::OpenCopy(parsed->logCopy.c_str())) {
    std::wstring code = GbkToWide(FormatBounded(32, " (%lu)\r\n", GetLastError()));
    WriteToParentConsole(std::wstring(UiText::BadArgument()) + L"/LOG=" + parsed->logCopy + code);
    *exitCode = kExitBadCommandLine;
    return false;
  }
  return true;
}
