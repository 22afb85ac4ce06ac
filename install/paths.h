// The folders of an installation, derived from the console user's application-data
// folder and the build's resource strings, written into the installer context.
#pragma once
#include <windows.h>

#include <string>

void InitPaths();
void ChangeInstallRoot(const char* chosenFolder);

// Loads a string resource of the executable as GBK (empty when missing); cut to 259 bytes.
std::string LoadResourceStringGbk(UINT id);
