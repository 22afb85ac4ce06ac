// Runs a whole installation without the window, as the dialog would drive it: ends a
// running terminal, makes the staging folder anew, opens the log with its header, fetches
// the manifest, then runs the install worker on its own thread and prints every message
// it posts. Exit code 0 after WM_INSTALL_DONE, 1 after WM_INSTALL_FAILED or a refused
// installation folder, 2 when the manifest could not be fetched.
//   install_driver.exe [--root CHOSEN_PARENT_FOLDER] [--endpoint HOST:PORT]
#include <windows.h>
#include <process.h>

#include <cstdio>
#include <string>

#include "base/context.h"
#include "install/paths.h"
#include "app/startup.h"
#include "install/client.h"
#include "install/folder_swap.h"
#include "install/messages.h"
#include "install/worker.h"
#include "system/install_log.h"
#include "system/session.h"
#include "system/terminate.h"
#include "base/text.h"
#include "ui/ui_text.h"

int wmain(int argc, wchar_t** argv) {
  std::string chosenRoot;
  std::string endpoint;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::wstring option = argv[i];
    if (option == L"--root") chosenRoot = WideToGbk(argv[i + 1], 1024);
    if (option == L"--endpoint") endpoint = WideToGbk(argv[i + 1], 1024);
  }
  InitLocaleAndFonts();
  InitPaths();
  if (!chosenRoot.empty()) ChangeInstallRoot(chosenRoot.c_str());
  InstallerContext& context = InstallerContext::Instance();
  printf("installation folder: %s\n", context.installDir.c_str());

  // A message-only window stands in for the dialog.
  dialogWindow = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);

  IClient client;
  client.SetupAccess();
  if (!endpoint.empty()) client.endpoint = endpoint;
  client.ConnectStore();

  TerminateRunningInstance(GbkToWide(kTerminalExeName, 101).c_str());
  const SwapFolders folders = CurrentSwapFolders();
  const std::string refusal = PrepareInstallFolders(folders);
  if (!refusal.empty()) {
    if (LogFolderIsSafe(folders)) {
      InstallLog::Open(context.logDir.c_str());
      InstallLog::Write(refusal.c_str());
      InstallLog::Write(kSwapFailureLine);
      InstallLog::Close();
    }
    printf("failed: %s%s\n", WideToGbk(UiText::StepName(kStepFilesHeld)).c_str(), WideToGbk(UiText::MainText(6)).c_str());
    return 1;
  }
  ShellDeletePath(context.tempDir.c_str());
  CreatePathFolders((context.tempDir + "\\").c_str());
  InstallLog::Open(context.logDir.c_str());
  InstallLog::Write("Version: IE_9.5.9.1");
  InstallLog::Write("用户点击安装，安装开始...");
  if (!client.FetchManifest()) {
    InstallLog::Close();
    printf("failed: %s%s\n", WideToGbk(UiText::StepName(kStepFetchManifest)).c_str(), WideToGbk(UiText::MainText(6)).c_str());
    ShellDeletePath(context.tempDir.c_str());
    return 2;
  }
  _beginthreadex(nullptr, 0, InstallWorker, &client, 0, nullptr);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    switch (message.message) {
      case WM_INSTALL_STEP:
        printf("step %2d  %s\n", static_cast<int>(message.lParam), WideToGbk(UiText::StepName(static_cast<int>(message.lParam))).c_str());
        break;
      case WM_INSTALL_PROGRESS:
        printf("         %d%%\n", static_cast<int>(message.lParam));
        break;
      case WM_INSTALL_DONE:
        printf("done: %s\n", WideToGbk(UiText::MainText(3)).c_str());
        return 0;
      case WM_INSTALL_FAILED:
        InstallLog::Close();
        printf("failed: %s%s\n", WideToGbk(UiText::StepName(static_cast<int>(message.lParam))).c_str(),
               WideToGbk(UiText::MainText(6)).c_str());
        ShellDeletePath(context.tempDir.c_str());
        return 1;
      default:
        DispatchMessageW(&message);
    }
    fflush(stdout);
  }
  return 3;
}
