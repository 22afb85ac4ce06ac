// The messages the install pipeline posts to the installer window. The worker and the
// window meet only through these (and the log and the context).
#pragma once
#include <windows.h>

constexpr UINT WM_INSTALL_PROGRESS = WM_USER + 107;  // lParam: overall percentage 0..100
constexpr UINT WM_INSTALL_DONE = WM_USER + 108;      // lParam: 0; last message of a good run
constexpr UINT WM_INSTALL_FAILED = WM_USER + 111;    // lParam: index of the failed step
constexpr UINT WM_INSTALL_STEP = WM_USER + 114;      // lParam: index of the step that starts

// The installer window, set when it is created; every install message goes to it.
extern HWND dialogWindow;

// PostMessageW(dialogWindow, message, 0, lParam).
void PostInstallMessage(UINT message, LPARAM lParam);
