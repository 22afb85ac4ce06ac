#include "install/messages.h"

HWND dialogWindow = nullptr;

void PostInstallMessage(UINT message, LPARAM lParam) { PostMessageW(dialogWindow, message, 0, lParam); }
