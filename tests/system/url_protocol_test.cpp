#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/context.h"
#include "support/shell_support.h"
#include "support/test_support.h"
#include "system/install_log.h"
#include "base/scoped.h"
#include "system/url_protocol.h"
#include "base/text.h"

using namespace testing_support;

namespace {

const char kProtocolKey[] = "MOrvantis990201";

class UrlProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallerContext& context = InstallerContext::Instance();
    context.packageCode = "990201";
    context.installDir = scratch_ / "Program Files\\摩凡";
    DeleteRegistryTree(HKEY_CLASSES_ROOT, kProtocolKey);
    InstallLog::Open(LogDir().c_str());
  }
  void TearDown() override {
    InstallLog::Close();
    DeleteRegistryTree(HKEY_CLASSES_ROOT, kProtocolKey);
  }

  std::string LogDir() const { return scratch_ / "logs"; }
  std::vector<std::string> LogMessages() {
    InstallLog::Close();
    return ReadLogMessages(LogDir());
  }
  static std::wstring Value(const std::string& subkey, const wchar_t* name) {
    std::string key = subkey.empty() ? kProtocolKey : std::string(kProtocolKey) + "\\" + subkey;
    RegistryText value = ReadRegistryText(HKEY_CLASSES_ROOT, key, name);
    return value.found ? value.text : L"<missing>";
  }

  ScratchFolder scratch_{"url"};
};

}  // namespace

TEST_F(UrlProtocolTest, RegistersTheOpenCommandAsTheBareTerminalPath) {
  RegisterUrlProtocol();

  const std::wstring terminal = GbkToWide(InstallerContext::Instance().installDir) + L"\\morvantis v9.5.exe";
  EXPECT_EQ(terminal, Value("", L"URL Protocol"));
  EXPECT_EQ(L"MorvantisProtocol", Value("", nullptr));
  EXPECT_EQ(terminal + L",1", Value("DefaultIcon", nullptr));
  EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, std::string(kProtocolKey) + "\\shell\\open"));
  // In quotation marks, as the path holds a blank, and no URL placeholder.
  EXPECT_EQ(L"\"" + terminal + L"\"", Value("shell\\open\\command", nullptr));
  EXPECT_EQ(std::vector<std::string>({"URL Schemes: Start", "URL Schemes: Finish"}), LogMessages());
}

TEST_F(UrlProtocolTest, ExistingKeyIsOpenedAndItsValuesOverwritten) {
  {
    ScopedRegKey command;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CLASSES_ROOT, (std::string(kProtocolKey) + "\\shell\\open\\command").c_str(),
                                           command.Receive()));
    RegSetValueExA(command.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("old.exe"), 8);
    ScopedRegKey protocol;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, kProtocolKey, 0, KEY_SET_VALUE, protocol.Receive()));
    RegSetValueExA(protocol.Get(), "URL Protocol", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
    RegSetValueExA(protocol.Get(), "Extra", 0, REG_SZ, reinterpret_cast<const BYTE*>("kept"), 5);
  }

  RegisterUrlProtocol();

  const std::wstring terminal = GbkToWide(InstallerContext::Instance().installDir) + L"\\morvantis v9.5.exe";
  EXPECT_EQ(terminal, Value("", L"URL Protocol"));
  EXPECT_EQ(L"\"" + terminal + L"\"", Value("shell\\open\\command", nullptr));
  EXPECT_EQ(L"kept", Value("", L"Extra")) << "nothing is deleted first";
  EXPECT_EQ(std::vector<std::string>({"URL Schemes: Start", "URL Schemes: Finish"}), LogMessages());
}

TEST_F(UrlProtocolTest, KeyThatCannotBeCreatedIsLoggedAndNothingIsWritten) {
  // Key names end at 255 characters; a damaged package code must not reach further.
  InstallerContext::Instance().packageCode = std::string(300, '9');
  RegisterUrlProtocol();
  const std::vector<std::string> messages = LogMessages();
  ASSERT_EQ(3u, messages.size());
  EXPECT_EQ(std::vector<std::string>({"URL Schemes: Start", "URL Schemes: Create url key Failed"}),
            std::vector<std::string>(messages.begin(), messages.begin() + 2));
  // Then what the registry said.
  EXPECT_EQ(0u, messages[2].find("无法创建注册表项：HKEY_CLASSES_ROOT\\MOrvantis" + std::string(300, '9') + " (错误码 "))
      << messages[2];
  EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "MOrvantis" + std::string(300, '9')));
}

TEST_F(UrlProtocolTest, RefusedKeyOrValueFollowsItsFixedLineWithTheRegistrysCode) {
  {
    // The key exists but may not be written: opening it for writing fails after it is made.
    RegistryAccessDenied denied(HKEY_CLASSES_ROOT, kProtocolKey, KEY_SET_VALUE);
    ASSERT_TRUE(denied.Applied());
    RegisterUrlProtocol();
  }
  {
    RegistryAccessDenied denied(HKEY_CLASSES_ROOT, std::string(kProtocolKey) + "\\DefaultIcon", KEY_SET_VALUE);
    ASSERT_TRUE(denied.Applied());
    RegisterUrlProtocol();
  }
  const std::vector<std::string> expected = {
      "URL Schemes: Start",
      "URL Schemes: Open url key Failed",
      "无法打开注册表项：HKEY_CLASSES_ROOT\\MOrvantis990201 (错误码 5)",
      "URL Schemes: Start",
      "URL Schemes: DefaultIcon Setvalue Failed",
      "无法写入注册表值：HKEY_CLASSES_ROOT\\MOrvantis990201\\DefaultIcon\\(默认) (错误码 5)",
  };
  EXPECT_EQ(expected, LogMessages());
  // The values before the refused one stay, as a partial tree may.
  EXPECT_EQ(L"MorvantisProtocol", Value("", nullptr));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, std::string(kProtocolKey) + "\\shell"));
}

TEST(DpiAwareFlag, OnlyWholeMultiplesOfTwoHundredPercentAndMore) {
  EXPECT_EQ(0, DpiAwareFlag(96));
  EXPECT_EQ(0, DpiAwareFlag(120));
  EXPECT_EQ(0, DpiAwareFlag(144));
  EXPECT_EQ(1, DpiAwareFlag(192));
  EXPECT_EQ(0, DpiAwareFlag(240));
  EXPECT_EQ(1, DpiAwareFlag(288));
  EXPECT_EQ(1, DpiAwareFlag(384));
  EXPECT_EQ(0, DpiAwareFlag(0));
  EXPECT_EQ(0, DpiAwareFlag(48));
}

TEST(DpiAwareSetting, WrittenBesideTheTerminalsOtherSettings) {
  ScratchFolder scratch("dpi");
  InstallerContext::Instance().installDir = scratch / "摩凡 终端";
  const std::string settings = scratch / "摩凡 终端\\config\\morvantis.Default.pri";
  ASSERT_TRUE(WriteFileBytes(settings, "[morvantis]\r\nlanguage=0x0804\r\nawaredpi=7\r\n"));

  EXPECT_NE(0, WriteDpiAwareSetting());

  const std::wstring file = GbkToWide(settings);
  wchar_t value[32] = {};
  GetPrivateProfileStringW(L"morvantis", L"awaredpi", L"", value, 32, file.c_str());
  // The test display runs at 100 %.
  EXPECT_STREQ(L"0", value);
  GetPrivateProfileStringW(L"morvantis", L"language", L"", value, 32, file.c_str());
  EXPECT_STREQ(L"0x0804", value);
}

TEST(DpiAwareSetting, NoConfigurationFolderNoWriteAndNoFolderMadeButTheCauseIsLogged) {
  ScratchFolder scratch("dpi");
  InstallerContext::Instance().installDir = scratch.Path();
  InstallLog::Open((scratch / "logs").c_str());
  EXPECT_EQ(0, WriteDpiAwareSetting());
  InstallLog::Close();
  EXPECT_FALSE(FolderExists(scratch / "config"));
  EXPECT_EQ(std::vector<std::string>({"无法写入设置：" + scratch.Path() + "/config/morvantis.Default.pri (错误码 3)"}),
            ReadLogMessages(scratch / "logs"));
}
