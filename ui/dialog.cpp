#include "ui/dialog.h"

#include <objbase.h>
#include <process.h>
#include <shlobj.h>

#include <cwchar>

#include "base/context.h"
#include "install/paths.h"
#include "ui/drawing_objects.h"
#include "install/folder_swap.h"
#include "install/messages.h"
#include "install/worker.h"
#include "system/failure_log.h"
#include "system/install_log.h"
#include "system/message_box.h"
#include "base/scoped.h"
#include "system/session.h"
#include "system/terminate.h"
#include "base/text.h"
#include "system/url_protocol.h"
#include "ui/ui_text.h"

namespace {
constexpr COLORREF kButtonFill = RGB(165, 21, 16);
constexpr COLORREF kButtonHoverFill = RGB(125, 13, 7);
constexpr COLORREF kButtonOutline = RGB(217, 64, 65);
constexpr COLORREF kLightText = RGB(231, 231, 231);
constexpr COLORREF kLinkText = RGB(168, 168, 173);
constexpr COLORREF kCloseNormal = RGB(231, 231, 231);
constexpr COLORREF kCloseHover = RGB(150, 150, 150);
constexpr int kFailWordIndex = 6;
constexpr int kHeadingIndex = 10;

void DrawRoundedBox(HDC dc, const RECT& box, int corner, COLORREF fill, COLORREF outline) {
  ScopedGdiObject brush(CreateSolidBrush(fill));
  ScopedGdiObject pen(CreatePen(PS_SOLID, 1, outline));
  ScopedSelectObject selectBrush(dc, brush.Get());
  ScopedSelectObject selectPen(dc, pen.Get());
  RoundRect(dc, box.left, box.top, box.right, box.bottom, corner, corner);
}

void DrawTextIn(HDC dc, const std::wstring& text, RECT box, UINT flags) {
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, flags);
}

// A step name from the worker's index; an index the table does not hold names nothing.
std::wstring StepText(LPARAM index) {
  if (index < 0 || index >= UiText::kStepNameCount) return std::wstring();
  return UiText::StepName(static_cast<int>(index));
}

void WriteLogHeader() {
  InstallLog::Write("Version: IE_9.5.9.1");
  InstallLog::Write("用户点击安装，安装开始...");
}

bool InRect(const RECT& rect, POINT point) { return PtInRect(&rect, point) != FALSE; }
}  // namespace

TMorvantisDlg::TMorvantisDlg() = default;

TMorvantisDlg::~TMorvantisDlg() = default;

void TMorvantisDlg::OnCreate() {
  if (hwnd == nullptr) return;
  SetWindowTextW(hwnd, UiText::WindowTitle());
  progressBar = std::make_unique<TProcess>();
  progressBar->CreateIn(hwnd);
  dialogWindow = hwnd;
  InitPaths();
  HINSTANCE module = GetModuleHandleW(nullptr);
  HANDLE bigIcon = LoadImageW(module, MAKEINTRESOURCEW(kIconGroupId), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                              GetSystemMetrics(SM_CYICON), LR_SHARED);
  HANDLE smallIcon = LoadImageW(module, MAKEINTRESOURCEW(kIconGroupId), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                GetSystemMetrics(SM_CYSMICON), LR_SHARED);
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  SetupAccess();
  ConnectStore();
}

void TMorvantisDlg::PlaceWindow() {
  POINT cursor{};
  GetCursorPos(&cursor);
  std::vector<DisplayMode> displays;
  DISPLAY_DEVICEW device{};
  device.cb = sizeof(device);
  for (DWORD index = 0; EnumDisplayDevicesW(nullptr, index, &device, 0); ++index, device.cb = sizeof(device)) {
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    if (!EnumDisplaySettingsExW(device.DeviceName, ENUM_CURRENT_SETTINGS, &mode, 0)) continue;
    displays.push_back(DisplayMode{static_cast<int>(mode.dmPosition.x), static_cast<int>(mode.dmPosition.y),
                                   static_cast<int>(mode.dmPelsWidth), static_cast<int>(mode.dmPelsHeight),
                                   static_cast<int>(mode.dmLogPixels)});
  }
  POINT corner = CentredPosition(cursor, displays, GetSystemMetrics(SM_CYSCREEN));
  MoveWindow(hwnd, corner.x, corner.y, kDialogWidth, kDialogHeight, TRUE);
}

void TMorvantisDlg::Close() {
  Sleep(500);
  TModalWnd::Close();
}

void TMorvantisDlg::OnKeyboardClose() {
  if (page == PageInstalling) return;
  Close();
}

void TMorvantisDlg::WaitForWorker() {
  if (page == PageInstalling && workerThread) WaitForSingleObject(workerThread.Get(), INFINITE);
}

void TMorvantisDlg::OpenTerminal() {
  ShowWindow(hwnd, SW_HIDE);
  WriteDpiAwareSetting();
  LaunchTerminal();
  Close();
}

LRESULT TMorvantisDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  // The dialog's state belongs to the thread that made its window; the worker reaches it
  // only through posted messages. A call from elsewhere is a bug, kept out in every build.
  if (hwnd != nullptr && GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId()) {
    InstallLog::Write(FormatBounded(101, "message 0x%04X off the UI thread: ignored", message).c_str());
    return 0;
  }
  switch (message) {
    case WM_SIZE: {
      RECT client{};
      GetClientRect(hwnd, &client);
      DialogLayout layout = ComputeDialogLayout(client, captionUnit);
      captionRect = layout.caption;
      actionRect = layout.action;
      codeRect = layout.code;
      customLinkRect = layout.customLink;
      browseRect = layout.browse;
      statusRect = layout.status;
      headingRect = layout.heading;
      // Known before the first paint, so that a press there never starts a drag.
      closeRect = layout.closeHit;
      return 0;
    }
    case WM_PAINT:
      PaintPage();
      return 0;
    case WM_MOUSEMOVE: {
      actionHover = false;
      browseHover = false;
      TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, hwnd, 0};
      TrackMouseEvent(&track);
      POINT cursor = CursorInClient();
      actionHover = InRect(actionRect, cursor);
      browseHover = InRect(browseRect, cursor);
      closeHover = InRect(closeRect, cursor);
      Invalidate();
      return 0;
    }
    case WM_LBUTTONDOWN:
      OnLeftButtonDown(wParam, lParam);
      return 0;
    case WM_LBUTTONUP:
      OnLeftButtonUp();
      return 0;
    case WM_MOUSELEAVE:
      actionHover = false;
      browseHover = false;
      closeHover = false;
      Invalidate();
      return 0;
    case WM_CLOSE:
      OnKeyboardClose();
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != SC_CLOSE) return kNotHandled;
      OnKeyboardClose();
      return 0;
    case WM_INSTALL_PROGRESS:
    case WM_INSTALL_DONE:
    case WM_INSTALL_FAILED:
    case WM_INSTALL_STEP:
      OnInstallMessage(message, lParam);
      return 0;
    default:
      return TModalWnd::HandleMessage(message, wParam, lParam);
  }
}

void TMorvantisDlg::OnInstallMessage(UINT message, LPARAM lParam) {
  // Only a running installation listens; messages queued during the manifest download
  // may arrive after the run already failed.
  if (page != PageInstalling) return;
  switch (message) {
    case WM_INSTALL_PROGRESS:
      if (progressBar) {
        progressBar->percent = static_cast<int32_t>(lParam);
        if (progressBar->hwnd != nullptr) InvalidateRect(progressBar->hwnd, nullptr, FALSE);
      }
      break;
    case WM_INSTALL_STEP:
      statusText = StepText(lParam);
      break;
    case WM_INSTALL_DONE:
      page = PageAfterMessage(page, message);
      if (progressBar && progressBar->hwnd != nullptr) ShowWindow(progressBar->hwnd, SW_HIDE);
      Invalidate();
      UpdateWindow(hwnd);
      return;
    case WM_INSTALL_FAILED:
      ShowFailure(lParam);
      return;
  }
  Invalidate();
}

void TMorvantisDlg::ShowFailure(LPARAM step) {
  InstallLog::Close();
  page = PageFailed;
  statusText = StepText(step) + UiText::MainText(kFailWordIndex);
  Invalidate();
}

void TMorvantisDlg::OnLeftButtonUp() {
  POINT cursor = CursorInClient();
  if (!InRect(closeRect, cursor) || page == PageInstalling) return;
  ShowWindow(hwnd, SW_HIDE);
  if (page == PageFinished) WriteDpiAwareSetting();
  Close();
}

void TMorvantisDlg::OnLeftButtonDown(WPARAM wParam, LPARAM lParam) {
  POINT cursor = CursorInClient();
  if (InRect(actionRect, cursor)) {
    if (page == PageStart) StartInstall();
    else if (page == PageFinished) OpenTerminal();
    return;
  }
  if (InRect(browseRect, cursor) && page == PageStart && !defaultView) {
    if (ChooseFolder()) Invalidate();
    return;
  }
  if (InRect(customLinkRect, cursor) && page == PageStart) {
    defaultView = !defaultView;
    Invalidate();
    return;
  }
  // A press on the close-box spot never drags, not even while the box is hidden.
  BeginDrag(wParam, lParam);
}

bool TMorvantisDlg::ChooseFolder() {
  ScopedComPtr<IMalloc> allocator;
  if (FAILED(SHGetMalloc(allocator.Receive())) || !allocator) return false;
  // The wide picker, so that the chosen path reads right whatever the ANSI code page.
  std::wstring title = GbkToWide(UiText::FolderPickerTitle(), 1024);
  wchar_t displayName[2046] = {};
  BROWSEINFOW info{};
  info.hwndOwner = hwnd;
  info.pszDisplayName = displayName;
  info.lpszTitle = title.c_str();
  // Outside an apartment-threaded UI thread the new style fails: the old one still picks.
  info.ulFlags = BIF_RETURNONLYFSDIRS | (comApartment.Initialized() ? BIF_NEWDIALOGSTYLE : 0);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (chosen == nullptr) return false;
  wchar_t path[MAX_PATH] = {};
  BOOL gotPath = SHGetPathFromIDListW(chosen, path);
  allocator->Free(chosen);
  return gotPath && AcceptChosenFolder(path);
}

InstallStart BeginInstallation(IClient& client, InstallLock& lock, const InstallStartOptions& options,
                               ScopedHandle* worker) {
  InstallerContext& context = InstallerContext::Instance();
  if (!lock.Acquire(context.tempDir)) {
    InstallLog::Write("另一个安装程序正在运行，请稍后再试。");
    return InstallStart::Busy;
  }
  TerminateRunningInstance(GbkToWide(kTerminalExeName, 101).c_str());
  if (GetFileAttributesW(GbkToWide(context.installDir, 1024).c_str()) != INVALID_FILE_ATTRIBUTES &&
      !(options.confirmReinstall && options.confirmReinstall())) {
    lock.Release();
    return InstallStart::Declined;
  }
  // Links, a file in the folder's place and an interrupted swap are settled before
  // anything is created; a link stops the installation with nothing touched.
  const SwapFolders folders = CurrentSwapFolders();
  const std::string refusal = PrepareInstallFolders(folders);
  if (!refusal.empty()) {
    if (LogFolderIsSafe(folders)) {
      InstallLog::Open(context.logDir.c_str());
      WriteLogHeader();
      InstallLog::Write(refusal.c_str());
      InstallLog::Write(kSwapFailureLine);
    }
    return InstallStart::Refused;
  }
  ShellDeletePath(context.tempDir.c_str());
  if (!CreatePathFolders((context.tempDir + "\\").c_str()) && options.stopWhenFolderFails) return InstallStart::Failed;
  if (!InstallLog::Open(context.logDir.c_str()) && options.stopWhenFolderFails) return InstallStart::Failed;
  if (options.beforeManifest) options.beforeManifest();
  WriteLogHeader();

  if (!client.FetchManifest()) {
    InstallLog::Close();
    return InstallStart::Failed;
  }
  uintptr_t thread = _beginthreadex(nullptr, 0, &InstallWorker, &client, 0, nullptr);
  if (thread == 0) {
    // Without a worker nothing would ever end the run.
    LogLastErrorCause("无法启动安装线程", std::string("InstallWorker"));
    InstallLog::Close();
    return InstallStart::Failed;
  }
  worker->Reset(reinterpret_cast<HANDLE>(thread));
  return InstallStart::Started;
}

void TMorvantisDlg::StartInstall() {
  InstallStartOptions options;
  options.confirmReinstall = [this] {
    return ShowMessageBoxW(hwnd, UiText::ReinstallWarning(), UiText::WarningTitle(), MB_OKCANCEL) == IDOK;
  };
  options.beforeManifest = [this] { UpdateWindow(hwnd); };
  switch (BeginInstallation(*this, installLock, options, &workerThread)) {
    case InstallStart::Busy:
      ShowMessageBoxW(hwnd, UiText::AnotherInstallation(), UiText::WarningTitle(), MB_OK);
      return;
    case InstallStart::Declined:
      return;
    case InstallStart::Failed:
      ShowFailure(kStepFetchManifest);
      return;
    case InstallStart::Refused:
      ShowFailure(kStepFilesHeld);
      return;
    case InstallStart::Started:
      break;
  }
  page = PageInstalling;
  if (progressBar && progressBar->hwnd != nullptr && IsWindow(progressBar->hwnd)) {
    MoveWindow(progressBar->hwnd, kProgressBarPlace.left, kProgressBarPlace.top,
               kProgressBarPlace.right - kProgressBarPlace.left, kProgressBarPlace.bottom - kProgressBarPlace.top, FALSE);
  }
  Invalidate();
}

void TMorvantisDlg::PaintPage() {
  TMemDC dc(hwnd);
  if (dc.memDC == nullptr) return;
  HDC memDC = dc.memDC;
  const RECT& client = dc.client;
  PaintFrame(memDC, client);

  PageView view = ViewOf(page, defaultView);
  {
    ScopedGdiObject picture(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(view.bitmapId), IMAGE_BITMAP, 0, 0, 0));
    BlitBitmap(memDC, static_cast<HBITMAP>(picture.Get()), client.right, client.bottom);
  }
  if (view.closeBox) {
    DialogLayout layout = ComputeDialogLayout(client, captionUnit);
    DrawCloseCross(memDC, layout.closeBox, closeHover ? kCloseHover : kCloseNormal);
    closeRect = layout.closeHit;
  }
  if (view.packageCode) {
    ScopedSelectObject font(memDC, fontTitle);
    SetTextColor(memDC, kLightText);
    DrawTextIn(memDC, GbkToWide(InstallerContext::Instance().packageCode, 101), codeRect,
               DT_SINGLELINE | DT_CENTER | DT_BOTTOM | DT_NOPREFIX);
  }
  PaintContent(dc);
}

void TMorvantisDlg::PaintStartControls(HDC dc) {
  DialogLayout layout = ComputeDialogLayout(RECT{0, 0, kDialogWidth, kDialogHeight}, captionUnit);
  ScopedSelectObject font(dc, fontLabel);
  SetTextColor(dc, kLightText);
  DrawTextIn(dc, UiText::PathLabel(), layout.pathLabel, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  DrawRoundedBox(dc, layout.pathField, 5, kButtonFill, kButtonOutline);
  DrawTextIn(dc, GbkToWide(InstallerContext::Instance().installDir, 1024), layout.pathText,
             DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  DrawRoundedBox(dc, browseRect, 2, browseHover ? kButtonHoverFill : kButtonFill, kButtonOutline);
  DrawTextIn(dc, UiText::BrowseCaption(), browseRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void TMorvantisDlg::PaintContent(TMemDC& memory) {
  HDC dc = memory.memDC;
  PageView view = ViewOf(page, defaultView);
  SetBkMode(dc, TRANSPARENT);
  if (view.pathField) PaintStartControls(dc);
  if (view.actionButton) {
    DrawRoundedBox(dc, actionRect, 5, actionHover ? kButtonHoverFill : kButtonFill, kButtonOutline);
    ScopedSelectObject font(dc, fontButton);
    SetTextColor(dc, kLightText);
    RECT captionBox = actionRect;
    if (!actionHover) OffsetRect(&captionBox, 0, -1);  // a hovered button looks pressed
    DrawTextIn(dc, UiText::MainText(view.actionCaption), captionBox, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  if (view.customLink) {
    ScopedSelectObject font(dc, fontLabel);
    SetTextColor(dc, kLinkText);
    DrawTextIn(dc, UiText::CustomLink(), customLinkRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  if (view.failureText) {
    ScopedSelectObject font(dc, fontStatus);
    SetTextColor(dc, RGB(0, 0, 0));
    // Not single-line: the text sits at the top of the rectangle, right-aligned.
    DrawTextIn(dc, statusText, statusRect, DT_RIGHT | DT_BOTTOM);
  }
  if (view.progressText) {
    ScopedSelectObject font(dc, fontStatus);
    SetTextColor(dc, RGB(0, 0, 0));
    // Narrow formatting: a wide printf would link a second printf engine.
    std::wstring percentText = GbkToWide(FormatBounded(32, UiText::PercentFormat(), progressBar ? progressBar->percent : 0));
    DrawTextIn(dc, percentText, statusRect, DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    DrawTextIn(dc, statusText, statusRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ScopedSelectObject titleFont(dc, fontTitle);
    SetTextColor(dc, RGB(255, 255, 255));
    DrawTextIn(dc, UiText::MainText(kHeadingIndex), headingRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
}
