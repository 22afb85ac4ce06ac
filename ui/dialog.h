// The installer's only window: a 500 x 310 borderless popup with four pages (start,
// installing, failed, finished). The dialog object is also the store client that the
// install worker receives as its argument.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "install/client.h"
#include "system/install_lock.h"
#include "base/scoped.h"
#include "ui/dialog_layout.h"
#include "ui/frame.h"
#include "ui/progress.h"

// How the Install sequence went up to the point where the worker takes over.
enum class InstallStart {
  Started,   // the worker runs; its messages tell the rest
  Busy,      // another copy of the installer is installing: nothing was done
  Declined,  // the reinstall warning was not confirmed: only the running terminal was ended
  Refused,   // a link on the installation's paths: nothing was touched; the log (when safe) names it
  Failed,    // the manifest, the worker's start or (when asked to stop there) a folder failed; the log is closed
};

struct InstallStartOptions {
  // Asked when the installation folder exists; false ends the sequence (Declined).
  std::function<bool()> confirmReinstall;
  // Called once the log is open, before the manifest download holds the thread.
  std::function<void()> beforeManifest;
  // Unattended runs: a staging folder or log that cannot be created ends the run.
  bool stopWhenFolderFails = false;
};

// What Install does, without the window, for the dialog and the unattended run alike:
// takes the installation lock, ends the running terminal, asks before a reinstallation,
// makes the staging folder anew, opens the log with its header, fetches the manifest and
// starts the worker on client (its thread in *worker). The lock stays held except after
// Busy and Declined, so that the staging folder can be removed before it is let go.
InstallStart BeginInstallation(IClient& client, InstallLock& lock, const InstallStartOptions& options,
                               ScopedHandle* worker);

class TMorvantisDlg : public TModalWnd, public IClient {
 public:
  TMorvantisDlg();
  ~TMorvantisDlg() override;

  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnCreate() override;
  void PlaceWindow() override;
  void PaintContent(TMemDC& dc) override;
  void Close() override;

  // The action button on the start page.
  void StartInstall();
  void OnLeftButtonDown(WPARAM wParam, LPARAM lParam);
  // The system close command: closes, except while an installation runs (the worker
  // still uses this object and the log).
  void OnKeyboardClose();
  // Shows the folder picker and takes the chosen folder; false when nothing changed.
  bool ChooseFolder();
  // Shutdown only: lets a worker that is still running finish with this object and the log.
  void WaitForWorker();

  std::unique_ptr<TProcess> progressBar;
  std::wstring statusText;
  RECT statusRect{};
  RECT actionRect{};
  RECT codeRect{};
  RECT headingRect{};
  RECT customLinkRect{};
  RECT browseRect{};
  InstallPage page = PageStart;
  bool actionHover = false;
  bool browseHover = false;
  bool defaultView = true;

 private:
  // Held from Install until the dialog is destroyed, after the exit clean-up.
  InstallLock installLock;
  // The folder picker's new style needs an apartment-threaded UI thread.
  ScopedComApartment comApartment;
  ScopedHandle workerThread;
  void PaintPage();
  void PaintStartControls(HDC dc);
  void OnInstallMessage(UINT message, LPARAM lParam);
  void OnLeftButtonUp();
  void OpenTerminal();
  // The failure page for a step; the run is over, so the log closes.
  void ShowFailure(LPARAM step);
};
