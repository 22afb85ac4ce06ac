// The console user's folders, folder creation and removal, and starting the terminal.
// Paths are GBK byte strings; they become UTF-16 only at the system's wide calls.
#pragma once
#include <string>

// Appends the local application-data folder of the user at the console (not of the
// elevated account the installer runs as), without a trailing backslash; appends
// nothing when the folder cannot be found.
void AppendInteractiveUserAppDataPath(std::string& path);

// A folder of the running account by its CSIDL_ number, GBK without a trailing
// backslash; "" when the shell cannot name it, with the shell's HRESULT in *failure
// when given.
std::string SpecialFolderPath(int folderId, long* failure = nullptr);

// The pieces of AppendInteractiveUserAppDataPath, exposed for tests.
std::string RunningAccountLocalAppDataPath(long* failure = nullptr);
std::string ConsoleSessionUserName();   // "" when the console session has no user
std::string ShellProcessUserName();     // "" when the shell's process gives no name
// Replaces what lies between the second and third backslash with userName; keeps the
// path as it is with fewer than three backslashes or an empty name.
std::string SpliceUserName(const std::string& path, const std::string& userName);

// Creates every folder up to the last backslash of path. On the first folder that
// cannot be created (or whose prefix does not fit 260 bytes) shows a "提示" box naming
// it and returns false.
bool CreatePathFolders(const char* path);

// Deletes a file or a folder tree silently and permanently; true when the shell
// operation returned 0.
bool ShellDeletePath(const char* path);

// Starts "<installDir>\morvantis v9.5.exe" end in a new console with the installation
// folder as current folder; returns the process-creation result. Started as a child of
// the console session's shell process (its user, unelevated, with that user's
// environment) when there is one, by the installer itself otherwise.
int LaunchTerminal();

// The terminal's file name, shared by every part that names it.
constexpr const char kTerminalExeName[] = "morvantis v9.5.exe";
