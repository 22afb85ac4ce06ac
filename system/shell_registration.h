// Registers the installed terminal with the shell: uninstall entry and desktop shortcut.
#pragma once
#include <string>

// Appends the all-users desktop folder (no trailing backslash), or nothing.
void AppendCommonDesktopPath(std::string& path);
// 0 when every value was written, -1 at the first failure.
int RegisterUninstallEntry();
// false only when one of its paths converts to an empty wide string.
bool CreateDesktopShortcut();
