// The installer's only window: a 500 x 310 borderless popup with four pages (start,
// installing, failed, finished). The dialog object is also the store client that the
// install worker receives as its argument.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "install/client.h"
#include "system/scoped.h"
#include "ui/dialog_layout.h"
#include "ui/frame.h"
#include "ui/progress.h"

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
