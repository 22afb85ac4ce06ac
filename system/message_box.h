// The one way the installer shows a message box. The product shows the real box, except
// in an unattended run, where nobody is there to answer; tests put a responder in its
// place so that no modal box can hang a test run.
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

// Unattended runs: from now on no box is shown. Each is answered at once, the way that
// stops rather than goes on (Abort, else Cancel or No, else OK), and its caption and text
// are written to the install log instead.
void AnswerBoxesUnattended();
// Whether boxes are answered unattended; shell operations then suppress their own dialogs.
bool BoxesAnsweredUnattended();
