#include "app/unattended.h"

#include <windows.h>

#include "base/context.h"
#include "install/paths.h"
#include "install/client.h"
#include "install/folder_swap.h"
#include "install/messages.h"
#include "system/install_lock.h"
#include "system/install_log.h"
#include "system/message_box.h"
#include "base/scoped.h"
#include "system/session.h"
#include "base/text.h"
#include "system/url_protocol.h"
#include "ui/dialog.h"

namespace {
// Waits for the worker's last message; the exit code it stands for.
int FollowWorker(HWND listener) {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.hwnd == listener && message.message == WM_INSTALL_DONE) return kExitInstalled;
    if (message.hwnd == listener && message.message == WM_INSTALL_FAILED) {
      return kExitStepFailedBase + static_cast<int>(message.lParam);
    }
    DispatchMessageW(&message);
  }
  return kExitFailedBeforeWorker;
}
}  // namespace

int RunUnattended(const CommandLine& commandLine) {
  AnswerBoxesUnattended();
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  InitPaths();
  if (!commandLine.folder.empty()) ChangeInstallRoot(commandLine.folder.c_str());

  // The worker reports to an invisible message-only window, as it would to the dialog.
  HWND listener = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (listener == nullptr) {
    InstallLog::Write(FormatBounded(101, "CreateWindowEx : %lu", GetLastError()).c_str());
    return kExitFailedBeforeWorker;
  }
  dialogWindow = listener;

  InstallLock lock;
  int exitCode = kExitFailedBeforeWorker;
  {
    IClient client;
    client.SetupAccess();
    client.ConnectStore();
    InstallStartOptions options;
    options.confirmReinstall = [] { return true; };
    options.stopWhenFolderFails = true;
    ScopedHandle worker;
    switch (BeginInstallation(client, lock, options, &worker)) {
      case InstallStart::Started:
        exitCode = FollowWorker(listener);
        // The worker posts its last message just before it returns; the client must outlive it.
        WaitForSingleObject(worker.Get(), INFINITE);
        break;
      case InstallStart::Busy:
        exitCode = kExitAnotherInstallation;
        break;
      case InstallStart::Declined:
      case InstallStart::Refused:
      case InstallStart::Failed:
        break;
    }
  }
  InstallLog::Close();
  if (exitCode == kExitInstalled) {
    // What the finished page's close box does; the terminal is not started.
    WriteDpiAwareSetting();
  } else if (lock.Held()) {
    // As the window's exit after its failure page; the staging folder is only ours to
    // remove while the lock is.
    // Never through a link: the shell's removal would empty what it points to.
    const std::string& staging = InstallerContext::Instance().tempDir;
    if (FindLinkInTree(staging).empty()) ShellDeletePath(staging.c_str());
  }
  dialogWindow = nullptr;
  DestroyWindow(listener);
  return exitCode;
}
