// The stand-in uninstaller against what the installer's own registration code wrote:
// uninstall entry, URL protocol and desktop shortcut, then the installation folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base/context.h"
#include "support/sample_release.h"
#include "support/shell_support.h"
#include "support/test_support.h"
#include "system/shell_registration.h"
#include "base/text.h"
#include "system/url_protocol.h"

using namespace testing_support;

namespace {

TEST(StandinUninstallAfterInstall, RemovesEveryRegistrationTheInstallerMade) {
  EnsureUninstallParentKeys();
  ScratchFolder scratch("registered");
  InstallerContext& context = InstallerContext::Instance();
  const InstallerContext saved = context;
  context.packageCode = "990519";
  context.distributorName = "测试商号";
  context.installDir = scratch / "MOrvantis990519v9.5";
  context.version = "9.5.26.0302";
  const std::string folder = context.installDir;
  PlaceStandinTerminal(folder);
  CopyFileW(GbkToWide(BinaryPath("standin\\uninstall.exe")).c_str(), GbkToWide(folder + "\\uninstall.exe").c_str(), FALSE);
  CreateDirectoryA((folder + "\\config").c_str(), nullptr);
  WritePrivateProfileStringA("morvantis", "package", "990519", (folder + "\\config\\morvantis.Default.pub").c_str());

  const std::string entry = std::string(kUninstallParent64) + "\\Morvantis_990519v9.5";
  ASSERT_EQ(RegisterUninstallEntry(), 0);
  RegisterUrlProtocol();
  // COM belongs to the thread, as on the install worker.
  std::thread([] { CreateDesktopShortcut(); }).join();
  const RegistryText shortcut = ReadRegistryText(HKEY_LOCAL_MACHINE, entry, L"Shortcut");
  ASSERT_TRUE(shortcut.found);
  ASSERT_TRUE(FileExists(WideToGbk(shortcut.text)));
  ASSERT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "MOrvantis990519\\shell\\open\\command"));

  // Started as the uninstall entry names it.
  ProcessResult result = RunProcess(ReadRegistryText(HKEY_LOCAL_MACHINE, entry, L"UninstallString").text);
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, entry));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "MOrvantis990519"));
  EXPECT_FALSE(FileExists(WideToGbk(shortcut.text)));
  EXPECT_TRUE(WaitForUninstalledFolder(folder));
  context = saved;
}

}  // namespace
