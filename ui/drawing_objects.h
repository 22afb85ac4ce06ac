// The drawing objects every window of the installer shares, made once at start-up.
#pragma once
#include <windows.h>

extern HBRUSH whiteBrush;
extern HFONT fontLabel;   // height 18
extern HFONT fontStatus;  // height 20
extern HFONT fontButton;  // height 22
extern HFONT fontTitle;   // height 27

void CreateSharedDrawingObjects();
void ReleaseSharedDrawingObjects();
