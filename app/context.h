// The process-wide record of the names and folders an installation works with, the
// choice of the user-interface language, and the shared drawing objects.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

struct InstallerContext {
  std::string packageCode;        // string 103: six digits
  std::string distributorName;    // string 104, 105 or 106 by language, GBK
  std::string installDir;         // no trailing backslash
  std::string logDir;             // installDir + "\morvantislog"
  std::string tempDir;            // staging folder: the first installDir + "temp"
  std::string dependBaseDir;      // base folder + "\MOrvantisDependBaseV9.5"
  std::string productFolderName;  // "MOrvantis" (or string 107) + package code + "v9.5"
  int32_t languageId = 0;         // LANGID after mapping 0x0C04 to 0x0404
  std::string version;            // set when the version record is written

  // Thread-safe on first use; lives until the process ends.
  static InstallerContext& Instance();
};

enum class UiLanguage { Chs, Cht, Enu };
// 0x0409 selects English, otherwise 0x0404 Traditional Chinese, otherwise Simplified.
UiLanguage LanguageOf(int32_t languageId);
UiLanguage CurrentUiLanguage();

// Shared drawing objects, created by InitLocaleAndFonts, released by ReleaseSharedDrawingObjects.
extern HBRUSH whiteBrush;
extern HFONT fontLabel;   // height 18
extern HFONT fontStatus;  // height 20
extern HFONT fontButton;  // height 22
extern HFONT fontTitle;   // height 27

void InitLocaleAndFonts();
void ReleaseSharedDrawingObjects();
void InitPaths();
void ChangeInstallRoot(const char* chosenFolder);

// Loads a string resource of the executable as GBK (empty when missing); cut to 259 bytes.
std::string LoadResourceStringGbk(UINT id);
// Tests only: choose the language as InitLocaleAndFonts does, from a given UI language.
int32_t MapUiLanguage(LANGID uiLanguage);
