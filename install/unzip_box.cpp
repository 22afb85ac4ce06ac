#include "unzip/unzip_box.h"

#include "system/message_box.h"

int ShowUnzipBoxA(const char* text, const char* caption, UINT type) {
  return ShowMessageBoxA(nullptr, text, caption, type);
}

int ShowUnzipBoxW(const wchar_t* text, const wchar_t* caption, UINT type) {
  return ShowMessageBoxW(nullptr, text, caption, type);
}
