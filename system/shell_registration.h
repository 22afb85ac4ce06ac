// Registers the installed terminal with the shell: uninstall entry and desktop shortcut.
#pragma once
#include <string>

// Appends the all-users desktop folder (no trailing backslash), or nothing (and the
// shell's HRESULT in *failure when given).
void AppendCommonDesktopPath(std::string& path, long* failure = nullptr);
// 0 when every value was written, -1 at the first failure.
int RegisterUninstallEntry();
// false only when one of its paths converts to an empty wide string.
bool CreateDesktopShortcut();
