#include "system/message_box.h"

#include <atomic>
#include <mutex>

#include "system/failure_log.h"
#include "system/install_log.h"
#include "base/text.h"

namespace {
std::mutex responderLock;
MessageBoxResponder responder;
std::atomic<bool> unattended{false};

int UnattendedAnswer(const MessageBoxRequest& request) {
  InstallLog::Write(WideToGbk(request.caption + L"\uff1a" + request.text, 4096).c_str());
  switch (request.type & MB_TYPEMASK) {
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
    case MB_YESNOCANCEL:
    case MB_CANCELTRYCONTINUE: return IDCANCEL;
    case MB_YESNO: return IDNO;
    default: return IDOK;
  }
}

// A box that cannot be shown answers no button (0; Wine says -1): what went unasked is
// logged with the reason.
int ShowBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type, const MessageBoxRequest& request) {
  const int answer = MessageBoxW(owner, text, caption, type);
  if (answer <= 0) LogLastErrorCause("无法显示提示框", request.caption + L"\uff1a" + request.text);
  return answer;
}

bool Respond(const MessageBoxRequest& request, int* answer) {
  MessageBoxResponder current;
  {
    std::lock_guard<std::mutex> hold(responderLock);
    current = responder;
  }
  if (!current) return false;
  *answer = current(request);
  return true;
}
}  // namespace

int ShowMessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  MessageBoxRequest request;
  request.owner = owner;
  request.textBytes = text ? text : "";
  request.text = GbkToWide(request.textBytes, 4096);
  request.caption = GbkToWide(caption ? caption : "", 4096);
  request.type = type;
  int answer = 0;
  if (Respond(request, &answer)) return answer;
  // Shown through the wide call so that GBK texts read right whatever the system code page.
  return ShowBox(owner, request.text.c_str(), request.caption.c_str(), type, request);
}

int ShowMessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  MessageBoxRequest request;
  request.owner = owner;
  request.text = text ? text : L"";
  request.caption = caption ? caption : L"";
  request.type = type;
  int answer = 0;
  if (Respond(request, &answer)) return answer;
  return ShowBox(owner, text, caption, type, request);
}

void SetMessageBoxResponderForTesting(MessageBoxResponder newResponder) {
  std::lock_guard<std::mutex> hold(responderLock);
  responder = std::move(newResponder);
}

void AnswerBoxesUnattended() {
  unattended = true;
  std::lock_guard<std::mutex> hold(responderLock);
  responder = &UnattendedAnswer;
}

bool BoxesAnsweredUnattended() { return unattended; }
