#include "ui/drawing_objects.h"

#include <initializer_list>

HBRUSH whiteBrush = nullptr;
HFONT fontLabel = nullptr;
HFONT fontStatus = nullptr;
HFONT fontButton = nullptr;
HFONT fontTitle = nullptr;

namespace {
HFONT CreateSharedFont(int height) {
  return CreateFontW(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH, L"Microsoft Yahei");
}
}  // namespace

void CreateSharedDrawingObjects() {
  whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
  fontLabel = CreateSharedFont(18);
  fontStatus = CreateSharedFont(20);
  fontButton = CreateSharedFont(22);
  fontTitle = CreateSharedFont(27);
}

void ReleaseSharedDrawingObjects() {
  for (HGDIOBJ* object : {reinterpret_cast<HGDIOBJ*>(&whiteBrush), reinterpret_cast<HGDIOBJ*>(&fontLabel),
                          reinterpret_cast<HGDIOBJ*>(&fontStatus), reinterpret_cast<HGDIOBJ*>(&fontButton),
                          reinterpret_cast<HGDIOBJ*>(&fontTitle)}) {
    if (*object != nullptr) DeleteObject(*object);
    *object = nullptr;
  }
}
