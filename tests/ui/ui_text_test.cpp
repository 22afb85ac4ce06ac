#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "base/context.h"
#include "base/text.h"
#include "ui/ui_text.h"

namespace {

// Sets the context's language for one test and puts the previous one back.
class LanguageScope {
 public:
  explicit LanguageScope(int32_t languageId) : saved_(InstallerContext::Instance().languageId) {
    InstallerContext::Instance().languageId = languageId;
  }
  ~LanguageScope() { InstallerContext::Instance().languageId = saved_; }

 private:
  int32_t saved_;
};

std::wstring FailureLine(int step) { return std::wstring(UiText::StepName(step)) + UiText::MainText(6); }

const int32_t kLanguages[] = {0x0804, 0x0404, 0x0409};

}  // namespace

TEST(UiText, EveryEntryFillsAZeroPaddedSlotOfOneHundredUnits) {
  for (int32_t language : kLanguages) {
    LanguageScope scope(language);
    for (int i = 0; i + 1 < UiText::kMainTextCount; ++i) {
      ASSERT_EQ(100, UiText::MainText(i + 1) - UiText::MainText(i));
    }
    for (int i = 0; i + 1 < UiText::kStepNameCount; ++i) {
      ASSERT_EQ(100, UiText::StepName(i + 1) - UiText::StepName(i));
    }
    auto checkSlot = [](const wchar_t* slot) {
      size_t length = wcslen(slot);
      ASSERT_GT(length, 0u);
      ASSERT_LT(length, 100u);
      for (size_t unit = length; unit < 100; ++unit) ASSERT_EQ(L'\0', slot[unit]) << "unit " << unit;
    };
    for (int i = 0; i < UiText::kMainTextCount; ++i) checkSlot(UiText::MainText(i));
    for (int i = 0; i < UiText::kStepNameCount; ++i) checkSlot(UiText::StepName(i));
  }
}

TEST(UiText, LanguageRuleChoosesEnglishTraditionalOrSimplified) {
  struct Case {
    int32_t language;
    const wchar_t* install;
    const wchar_t* step3;
    const wchar_t* path;
  };
  const Case cases[] = {
      {0x0804, L"安装", L"下载配置文件", L"安装目录:"},
      {0x0809, L"安装", L"下载配置文件", L"安装目录:"},  // British English is not English here
      {0x0000, L"安装", L"下载配置文件", L"安装目录:"},
      {0x0404, L"安裝", L"下載配置文件", L"安裝目錄:"},
      {0x0409, L"Install", L"Download configuration file", L"Path:"},
  };
  for (const Case& c : cases) {
    LanguageScope scope(c.language);
    SCOPED_TRACE(c.language);
    EXPECT_STREQ(c.install, UiText::MainText(0));
    EXPECT_STREQ(c.step3, UiText::StepName(3));
    EXPECT_STREQ(c.path, UiText::PathLabel());
    EXPECT_STREQ(L"Morvantis", UiText::WindowTitle());
    EXPECT_STREQ(L"Morvantis", UiText::MainText(4));
  }
}

TEST(UiText, FailureLinesJoinTheStepNameAndTheFailWord) {
  {
    LanguageScope scope(0x0804);
    EXPECT_EQ(L"下载配置文件失败", FailureLine(3));
    EXPECT_EQ(L"文件夹或文件被另一程序占用,安装失败", FailureLine(11));
  }
  {
    LanguageScope scope(0x0404);
    EXPECT_EQ(L"下載配置文件失敗", FailureLine(3));
    EXPECT_EQ(L"文件夾或文件被另一程序占用,安裝失敗", FailureLine(11));
  }
  {
    LanguageScope scope(0x0409);
    EXPECT_EQ(L"Download configuration file Fail", FailureLine(3));
    EXPECT_EQ(L"The folder or file is occupied by another program,install  Fail", FailureLine(11));
  }
  for (int32_t language : kLanguages) {
    LanguageScope scope(language);
    EXPECT_NE(nullptr, wcschr(UiText::StepName(11), L',')) << "an ASCII comma in every language";
    EXPECT_EQ(nullptr, wcschr(UiText::StepName(11), L'\xFF0C'));
  }
}

TEST(UiText, SingleLabels) {
  {
    LanguageScope scope(0x0409);
    EXPECT_STREQ(L"Browse", UiText::BrowseCaption());
    EXPECT_STREQ(L"Custom >", UiText::CustomLink());
    EXPECT_STREQ(L"Warn", UiText::WarningTitle());
    EXPECT_EQ(0, wcsncmp(L"Please note that reinstalling", UiText::ReinstallWarning(), 29));
    EXPECT_STREQ("Browse Folder", UiText::FolderPickerTitle());
  }
  {
    LanguageScope scope(0x0404);
    EXPECT_STREQ(L"瀏覽", UiText::BrowseCaption());
    EXPECT_STREQ(L"自定義安裝 >", UiText::CustomLink());
    EXPECT_STREQ(L"警告", UiText::WarningTitle());
    // The ANSI folder picker gets code page 936 bytes whatever the system's code page is.
    EXPECT_EQ(std::string("\x9e\x67\xd3\x5b\xd9\x59\xc1\xcf\x8a\x41"), UiText::FolderPickerTitle());
  }
  {
    LanguageScope scope(0x0804);
    EXPECT_STREQ(L"浏览", UiText::BrowseCaption());
    EXPECT_STREQ(L"自定义安装 >", UiText::CustomLink());
    EXPECT_EQ(std::string("\xe4\xaf\xc0\xc0\xce\xc4\xbc\xfe\xbc\xd0"), UiText::FolderPickerTitle());
  }
  EXPECT_EQ("42%", FormatBounded(16, UiText::PercentFormat(), 42));
}
