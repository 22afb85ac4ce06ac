#include "app/context.h"

#include "res/resource.h"
#include "system/session.h"
#include "system/text.h"

HBRUSH whiteBrush = nullptr;
HFONT fontLabel = nullptr;
HFONT fontStatus = nullptr;
HFONT fontButton = nullptr;
HFONT fontTitle = nullptr;

namespace {
constexpr char kDefaultFolderPrefix[] = "MOrvantis";
constexpr char kProductVersionSuffix[] = "v9.5";
constexpr char kLogFolderName[] = "\\morvantislog";
constexpr char kDependBaseFolderName[] = "MOrvantisDependBaseV9.5";

HFONT CreateSharedFont(int height) {
  return CreateFontW(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH, L"Microsoft Yahei");
}
}  // namespace

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

std::string LoadResourceStringGbk(UINT id) {
  // Loaded as UTF-16 and converted to GBK, so that the byte strings are GBK whatever
  // the system's ANSI code page is.
  const wchar_t* text = nullptr;
  int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return std::string();
  return WideToGbk(std::wstring(text, static_cast<size_t>(length)), 260);
}

int32_t MapUiLanguage(LANGID uiLanguage) { return uiLanguage == 0x0C04 ? 0x0404 : uiLanguage; }

void InitLocaleAndFonts() {
  whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
  fontLabel = CreateSharedFont(18);
  fontStatus = CreateSharedFont(20);
  fontButton = CreateSharedFont(22);
  fontTitle = CreateSharedFont(27);

  InstallerContext& context = InstallerContext::Instance();
  context.packageCode = LoadResourceStringGbk(IDS_PACKAGE_CODE);
  context.languageId = MapUiLanguage(GetUserDefaultUILanguage());
  switch (LanguageOf(context.languageId)) {
    case UiLanguage::Cht: context.distributorName = LoadResourceStringGbk(IDS_DISTRIBUTOR_CHT); break;
    case UiLanguage::Enu: context.distributorName = LoadResourceStringGbk(IDS_DISTRIBUTOR_ENU); break;
    case UiLanguage::Chs: context.distributorName = LoadResourceStringGbk(IDS_DISTRIBUTOR_CHS); break;
  }
}

void ReleaseSharedDrawingObjects() {
  for (HGDIOBJ* object : {reinterpret_cast<HGDIOBJ*>(&whiteBrush), reinterpret_cast<HGDIOBJ*>(&fontLabel),
                          reinterpret_cast<HGDIOBJ*>(&fontStatus), reinterpret_cast<HGDIOBJ*>(&fontButton),
                          reinterpret_cast<HGDIOBJ*>(&fontTitle)}) {
    if (*object != nullptr) DeleteObject(*object);
    *object = nullptr;
  }
}

void InitPaths() {
  InstallerContext& context = InstallerContext::Instance();
  std::string base;
  AppendInteractiveUserAppDataPath(base);
  context.dependBaseDir = base + "\\" + kDependBaseFolderName;
  std::string prefix = LoadResourceStringGbk(IDS_FOLDER_PREFIX);
  context.productFolderName =
      (prefix.empty() ? std::string(kDefaultFolderPrefix) : prefix) + LoadResourceStringGbk(IDS_PACKAGE_CODE) + kProductVersionSuffix;
  context.installDir = base + "\\" + context.productFolderName;
  context.logDir = context.installDir + kLogFolderName;
  context.tempDir = context.installDir + "temp";
}

void ChangeInstallRoot(const char* chosenFolder) {
  InstallerContext& context = InstallerContext::Instance();
  std::string folder = chosenFolder ? chosenFolder : "";
  // A drive root such as D:\ already ends in a separator; a doubled one would defeat the
  // exact path comparison that finds a running terminal. A folder such as D:\營運 ends in
  // the byte of a backslash too, as the second half of its last character.
  if (!EndsWithGbkSeparator(folder)) folder += "\\";
  context.installDir = folder + context.productFolderName;
  context.logDir = context.installDir + kLogFolderName;
}
