// Entry point of MorvantisSetup.exe: the window, or with /S the unattended run. The
// window always ends with exit code 0; see app/command_line.h for the rest.
#include <windows.h>

#include "app/command_line.h"
#include "base/context.h"
#include "install/paths.h"
#include "app/startup.h"
#include "app/modal_loop.h"
#include "app/unattended.h"
#include "install/folder_swap.h"
#include "system/failure_log.h"
#include "system/install_log.h"
#include "system/session.h"
#include "ui/dialog.h"

namespace {
// Keeps the dialog modal while it is open; ends when it closes or its window is gone.
void RunModalLoop(TMorvantisDlg& dialog) {
  MSG message{};
  while (dialog.running && dialog.hwnd != nullptr && IsWindow(dialog.hwnd)) {
    BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    switch (ClassifyLoopMessage(message, dialog.hwnd)) {
      case LoopAction::KeyboardClose:
        dialog.OnKeyboardClose();
        break;
      case LoopAction::Dispatch:
        TranslateMessage(&message);
        DispatchMessageW(&message);
        break;
      case LoopAction::Drop:
        break;
    }
  }
}
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before any DLL outside the static import table loads: system DLLs from the system
  // folder only, never from the folder the installer was started from (Downloads).
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  CommandLine commandLine;
  int exitCode = 0;
  if (!HandleCommandLine(&commandLine, &exitCode)) return exitCode;
  FixProcessSearchPath();
  InitLocaleAndFonts();
  if (commandLine.mode == LaunchMode::Unattended) {
    exitCode = RunUnattended(commandLine);
    ReleaseSharedDrawingObjects();
    InstallLog::CloseCopy();
    return exitCode;
  }
  {
    TMorvantisDlg dialog;
    if (dialog.Create(L"TModalWnd", nullptr, WS_POPUP | WS_CLIPCHILDREN, WS_EX_TOPMOST) != nullptr) {
      dialog.OnCreate();
      if (!commandLine.folder.empty()) {
        // As if chosen in the folder picker, and shown where the picker shows it.
        ChangeInstallRoot(commandLine.folder.c_str());
        dialog.defaultView = false;
      }
      dialog.running = true;
      ShowWindow(dialog.hwnd, SW_SHOWNA);
      dialog.PlaceWindow();
      RunModalLoop(dialog);
    } else {
      // Nothing to show and no log file yet: the /LOG= copy is the only witness.
      LogLastErrorCause("无法创建窗口", "TModalWnd");
    }
    // A window gone some other way mid-installation: the worker still uses the client
    // part and the log, so let it finish before anything is released.
    dialog.WaitForWorker();
    ReleaseSharedDrawingObjects();
    dialog.progressBar.reset();
    InstallLog::Close();
    // Never through a link: the shell's removal would empty what it points to.
    const std::string& staging = InstallerContext::Instance().tempDir;
    if (dialog.page == PageFailed && FindLinkInTree(staging).empty()) ShellDeletePath(staging.c_str());
  }
  InstallLog::CloseCopy();
  return 0;
}
