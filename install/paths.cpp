#include "install/paths.h"

#include "base/context.h"
#include "base/text.h"
#include "res/resource.h"
#include "system/session.h"

namespace {
constexpr char kDefaultFolderPrefix[] = "MOrvantis";
constexpr char kProductVersionSuffix[] = "v9.5";
constexpr char kLogFolderName[] = "\\morvantislog";
constexpr char kDependBaseFolderName[] = "MOrvantisDependBaseV9.5";
}  // namespace

std::string LoadResourceStringGbk(UINT id) {
  // Loaded as UTF-16 and converted to GBK, so that the byte strings are GBK whatever
  // the system's ANSI code page is.
  const wchar_t* text = nullptr;
  int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return std::string();
  return WideToGbk(std::wstring(text, static_cast<size_t>(length)), 260);
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
