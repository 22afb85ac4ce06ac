// The one way the installer shows a message box. The product always shows the real
// box; tests put a responder in its place so that no modal box can hang a test run.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

struct MessageBoxRequest {
  HWND owner = nullptr;
  std::wstring text;     // as shown (GBK texts converted from code page 936)
  std::wstring caption;
  std::string textBytes; // the bytes given to the ANSI variant, empty for the wide one
  UINT type = 0;
};

int ShowMessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
int ShowMessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

using MessageBoxResponder = std::function<int(const MessageBoxRequest&)>;
// Tests only: answer boxes with the responder instead of showing them (empty: show again).
void SetMessageBoxResponderForTesting(MessageBoxResponder responder);
