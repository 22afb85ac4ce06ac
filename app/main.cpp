// Entry point of MorvantisSetup.exe: no command line, always exit code 0.
#include <windows.h>

#include "app/context.h"
#include "app/modal_loop.h"
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
  FixProcessSearchPath();
  InitLocaleAndFonts();
  {
    TMorvantisDlg dialog;
    if (dialog.Create(L"TModalWnd", nullptr, WS_POPUP | WS_CLIPCHILDREN, WS_EX_TOPMOST) != nullptr) {
      dialog.OnCreate();
      dialog.running = true;
      ShowWindow(dialog.hwnd, SW_SHOWNA);
      dialog.PlaceWindow();
      RunModalLoop(dialog);
    }
    // A window gone some other way mid-installation: the worker still uses the client
    // part and the log, so let it finish before anything is released.
    dialog.WaitForWorker();
    ReleaseSharedDrawingObjects();
    dialog.progressBar.reset();
    InstallLog::Close();
    if (dialog.page == PageFailed) ShellDeletePath(InstallerContext::Instance().tempDir.c_str());
  }
  return 0;
}
