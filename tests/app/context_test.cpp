#include <gtest/gtest.h>

#include "app/context.h"

TEST(LanguageRule, EnglishTraditionalOtherwiseSimplified) {
  EXPECT_EQ(LanguageOf(0x0409), UiLanguage::Enu);
  EXPECT_EQ(LanguageOf(0x0404), UiLanguage::Cht);
  EXPECT_EQ(LanguageOf(0x0804), UiLanguage::Chs);
  EXPECT_EQ(LanguageOf(0x0809), UiLanguage::Chs);
  EXPECT_EQ(MapUiLanguage(0x0C04), 0x0404);
  EXPECT_EQ(MapUiLanguage(0x0809), 0x0809);
}
