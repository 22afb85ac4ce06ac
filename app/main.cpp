// Entry point of MorvantisSetup.exe.
#include <windows.h>

#include "app/context.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  InitLocaleAndFonts();
  ReleaseSharedDrawingObjects();
  return 0;
}
