#include "system/message_box.h"

#include <mutex>

#include "system/text.h"

namespace {
std::mutex responderLock;
MessageBoxResponder responder;

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
  return MessageBoxW(owner, request.text.c_str(), request.caption.c_str(), type);
}

int ShowMessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  MessageBoxRequest request;
  request.owner = owner;
  request.text = text ? text : L"";
  request.caption = caption ? caption : L"";
  request.type = type;
  int answer = 0;
  if (Respond(request, &answer)) return answer;
  return MessageBoxW(owner, text, caption, type);
}

void SetMessageBoxResponderForTesting(MessageBoxResponder newResponder) {
  std::lock_guard<std::mutex> hold(responderLock);
  responder = std::move(newResponder);
}
