// Real windows for the window-layer tests: a plain popup that records what reaches it,
// and pixel reading from a painted window.
#pragma once
#include <windows.h>

#include <vector>

#include "ui/frame.h"

namespace ui_testing {

class RecordingPopup : public TModalWnd {
 public:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    seen.push_back(message);
    if (message == kAnswerMessage) return answer;
    return TModalWnd::HandleMessage(message, wParam, lParam);
  }
  void OnCreate() override {}
  void PlaceWindow() override { MoveWindow(hwnd, left, top, width, height, TRUE); }

  static constexpr UINT kAnswerMessage = WM_APP + 5;
  LRESULT answer = 0;
  std::vector<UINT> seen;
  int left = 120, top = 140, width = 300, height = 200;
};

// The cursor is shared by every test process on the display: tests that place it hold
// this lock (a named mutex of the Wine session) so parallel runs do not move it under them.
class CursorLock {
 public:
  CursorLock() : mutex_(CreateMutexW(nullptr, FALSE, L"Local\\MorvantisUiTestCursor")) {
    if (mutex_ != nullptr) WaitForSingleObject(mutex_, 60000);
  }
  ~CursorLock() {
    if (mutex_ == nullptr) return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
  CursorLock(const CursorLock&) = delete;
  CursorLock& operator=(const CursorLock&) = delete;

 private:
  HANDLE mutex_;
};

// Creates, shows and places a popup the way the entry point does.
inline bool OpenPopup(TModalWnd& window, DWORD style = WS_POPUP | WS_CLIPCHILDREN) {
  if (window.Create(L"TModalWnd", nullptr, style, WS_EX_TOPMOST) == nullptr) return false;
  window.OnCreate();
  window.running = true;
  ShowWindow(window.hwnd, SW_SHOWNA);
  window.PlaceWindow();
  return true;
}

// Lets queued messages (paints, posted messages) run.
inline void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Repaints the window now and reads one client pixel as the screen shows it.
inline COLORREF PaintedPixel(HWND window, int x, int y) {
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
  HDC dc = GetDC(window);
  COLORREF colour = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return colour;
}

// Puts the cursor on a client point of the window.
inline void PointAt(HWND window, int x, int y) {
  POINT point{x, y};
  ClientToScreen(window, &point);
  SetCursorPos(point.x, point.y);
}

}  // namespace ui_testing
