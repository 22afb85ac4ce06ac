// The installer's command line: unattended installation (/S), the parent folder (/D=),
// a copy of the log (/LOG=) and the usage (/? or /H). Without arguments the installer
// shows its window as it always has.
#pragma once
#include <string>

enum class LaunchMode { Window, Unattended, Help, Invalid };

struct CommandLine {
  LaunchMode mode = LaunchMode::Window;
  std::string folder;   // /D=: the chosen parent folder (GBK, full path), empty for the default
  std::wstring logCopy; // /LOG=: the log copy's full path, empty for none
  std::wstring refused; // Invalid: the argument that was refused
};

// Exit codes of an unattended run. A window run ends with 0 once its command line is accepted.
constexpr int kExitInstalled = 0;
constexpr int kExitFailedBeforeWorker = 1;
constexpr int kExitBadCommandLine = 87;          // ERROR_INVALID_PARAMETER
constexpr int kExitStepFailedBase = 100;         // + the failed step's index
constexpr int kExitAnotherInstallation = 1618;   // ERROR_INSTALL_ALREADY_RUNNING

// Parses the arguments that follow the program name. Switches are case-insensitive;
// /D= takes the rest of the line as it stands, spaces included.
CommandLine ParseCommandLine(const std::wstring& arguments);
// The arguments of a whole command line, the program name (quoted or not) skipped.
std::wstring ArgumentsOf(const std::wstring& commandLine);

// The entry point's first step: reads this process's command line, prints the usage
// (and what was refused) for /?, /H or a bad line, and opens the log copy. False when
// the installer is to end at once with *exitCode.
bool HandleCommandLine(CommandLine* parsed, int* exitCode);
// Writes text to the inherited standard output, else to the parent's console; false
// when there is neither.
bool WriteToParentConsole(const std::wstring& text);
