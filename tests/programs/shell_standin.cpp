// Test helper: a stand-in for the session's shell. Makes a window of its own the shell
// window (Wine's desktop names none) and keeps it until the window is sent WM_CLOSE;
// then gives the part up again.
#include <windows.h>

namespace {
using SetShellWindowFunction = BOOL(WINAPI*)(HWND);

SetShellWindowFunction SetShell() {
  return reinterpret_cast<SetShellWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), "SetShellWindow")));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    if (GetShellWindow() == window && SetShell() != nullptr) SetShell()(nullptr);
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}
}  // namespace

int wmain() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"MorvantisShellStandin";
  if (!RegisterClassW(&windowClass)) return 2;
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  if (window == nullptr || SetShell() == nullptr) return 3;
  // Another shell may hold the part already; the test then starts under that one.
  SetShell()(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
