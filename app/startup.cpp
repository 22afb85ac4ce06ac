#include "app/startup.h"

#include "base/context.h"
#include "install/paths.h"
#include "res/resource.h"

int32_t MapUiLanguage(LANGID uiLanguage) { return uiLanguage == 0x0C04 ? 0x0404 : uiLanguage; }

void InitLocaleAndFonts() {
  CreateSharedDrawingObjects();

  InstallerContext& context = InstallerContext::Instance();
  context.packageCode = LoadResourceStringGbk(IDS_PACKAGE_CODE);
  context.languageId = MapUiLanguage(GetUserDefaultUILanguage());
  switch (LanguageOf(context.languageId)) {
    case UiLanguage::Cht: context.distributorName = LoadResourceStringGbk(IDS_DISTRIBUTOR_CHT); break;
    case UiLanguage::Enu: context.distributorName = LoadResourceStringGbk(IDS_DISTRIBUTOR_ENU); break;
    case UiLanguage::Chs: context.distributorName = LoadResourceStringGbk(IDS_DISTRIBUTOR_CHS); break;
  }
}
