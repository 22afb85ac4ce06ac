#include "base/context.h"

InstallerContext& InstallerContext::Instance() {
  static InstallerContext context;  // construction is thread-safe in C++11 and later
  return context;
}

UiLanguage LanguageOf(int32_t languageId) {
  if (languageId == 0x0409) return UiLanguage::Enu;
  if (languageId == 0x0404) return UiLanguage::Cht;
  return UiLanguage::Chs;
}

UiLanguage CurrentUiLanguage() { return LanguageOf(InstallerContext::Instance().languageId); }
