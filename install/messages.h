// The messages the install pipeline posts to the installer window. The worker and the
// window meet only through these (and the log and the context).
#pragma once
#include <windows.h>

constexpr UINT WM_INSTALL_PROGRESS = WM_USER + 107;  // lParam: overall percentage 0..100
constexpr UINT WM_INSTALL_DONE = WM_USER + 108;      // lParam: 0; last message of a good run
constexpr UINT WM_INSTALL_FAILED = WM_USER + 111;    // lParam: index of the failed step
constexpr UINT WM_INSTALL_STEP = WM_USER + 114;      // lParam: index of the step that starts

// The steps of an installation. Each index is also the row of the step-name table the
// window shows, and the lParam of WM_INSTALL_STEP and WM_INSTALL_FAILED.
enum InstallStep : int {
  kStepFetchManifest = 0,  // never posted: the window names it when the manifest fails
  kStepDownloadDepend = 1,  // reserved for the front-end package, never selected
  kStepDownloadBase = 2,
  kStepDownloadConfig = 3,
  kStepDownloadRuntime = 4,
  kStepDownloadQuant = 5,
  kStepUnpackDepend = 6,  // reserved, as step 1
  kStepUnpackBase = 7,
  kStepUnpackConfig = 8,
  kStepUnpackRuntime = 9,
  kStepUnpackQuant = 10,
  kStepFilesHeld = 11,  // the release could not be put in place; never posted as a start
  kStepCleanStaging = 12,
  kStepSaveVersion = 13,
  kStepRemoveOld = 14,
  kStepDownloadStock = 15,
  kStepUnpackStock = 16,
  kInstallStepCount = 17,
};

// The installer window, set when it is created; every install message goes to it.
extern HWND dialogWindow;

// PostMessageW(dialogWindow, message, 0, lParam).
void PostInstallMessage(UINT message, LPARAM lParam);
