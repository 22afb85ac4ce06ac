// The process set-up and the message loop that keeps the installer dialog modal.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

// The search path with the system folder appended: one ";" after a non-empty path that
// lacks it, then systemRoot + "\system32;". Without systemRoot the path stays as it is.
std::wstring ExtendedSearchPath(const std::wstring& path, const std::optional<std::wstring>& systemRoot);
// Appends the system folder to this process's "Path" (inherited by what it starts).
void FixProcessSearchPath();

enum class LoopAction { Dispatch, Drop, KeyboardClose };
// The loop's filter: the keyboard close command is the dialog's; install messages
// (WM_USER and above) and paints always pass; anything else passes only for the dialog
// and its windows down to the third level; thread messages below WM_USER are dropped.
LoopAction ClassifyLoopMessage(const MSG& message, HWND dialog);
