// Test helper: sets up the installer context as the installer does at start-up and
// writes its fields ("name=value" lines, GBK bytes) to the file named by argument 1.
// With a second argument, ChangeInstallRoot is applied to it first.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/context.h"
#include "install/paths.h"
#include "app/startup.h"
#include "base/text.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  InitLocaleAndFonts();
  InitPaths();
  if (argc > 2) ChangeInstallRoot(WideToGbk(argv[2], 1024).c_str());
  const InstallerContext& context = InstallerContext::Instance();
  FILE* out = _wfopen(argv[1], L"wb");
  if (out == nullptr) return 3;
  fprintf(out, "packageCode=%s\n", context.packageCode.c_str());
  fprintf(out, "distributorName=%s\n", context.distributorName.c_str());
  fprintf(out, "installDir=%s\n", context.installDir.c_str());
  fprintf(out, "logDir=%s\n", context.logDir.c_str());
  fprintf(out, "tempDir=%s\n", context.tempDir.c_str());
  fprintf(out, "dependBaseDir=%s\n", context.dependBaseDir.c_str());
  fprintf(out, "productFolderName=%s\n", context.productFolderName.c_str());
  fprintf(out, "languageId=%04x\n", static_cast<unsigned>(context.languageId));
  fprintf(out, "fonts=%d\n", whiteBrush && fontLabel && fontStatus && fontButton && fontTitle ? 1 : 0);
  fclose(out);
  ReleaseSharedDrawingObjects();
  return 0;
}
