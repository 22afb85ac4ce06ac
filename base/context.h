// The process-wide record of the names and folders an installation works with, and the
// rule that turns its language into the interface language. The lowest layer: it
// includes nothing of the project, so every other folder may read it.
//
// Who writes what: the UI thread (or the unattended run) fills every field before the
// worker starts; the worker then writes only `version`, and the UI thread reads it only
// after the worker's end was posted.
#pragma once
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
  std::string version;            // set by the worker when the version record is written

  // Thread-safe on first use; lives until the process ends.
  static InstallerContext& Instance();
};

enum class UiLanguage { Chs, Cht, Enu };
// 0x0409 selects English, otherwise 0x0404 Traditional Chinese, otherwise Simplified.
UiLanguage LanguageOf(int32_t languageId);
UiLanguage CurrentUiLanguage();
