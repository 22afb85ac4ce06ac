// The box TUnzip asks with when a file cannot be written (Abort, Retry, Ignore). unzip/
// only declares it: the installer defines it over its message-box seam
// (install/unzip_box.cpp), so unattended runs and tests answer it like every other box
// and the zip reader needs nothing of the rest.
#pragma once
#include <windows.h>

int ShowUnzipBoxA(const char* text, const char* caption, UINT type);
int ShowUnzipBoxW(const wchar_t* text, const wchar_t* caption, UINT type);
