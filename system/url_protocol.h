// The terminal's URL protocol and its display-scaling setting.
#pragma once

void RegisterUrlProtocol();
// Writes "awaredpi" into the terminal's private settings; 0 when SHCore.dll is missing.
int WriteDpiAwareSetting();
// The whole-multiple rule: 1 for 192, 288, 384 ... dpi, else 0.
int DpiAwareFlag(unsigned horizontalDpi);
