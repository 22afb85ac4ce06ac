#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/test_support.h"
#include "base/text.h"

using namespace testing_support;

TEST(GbkSeparatorScan, TrailByteOfEveryDoubleByteCharacterIsNoSeparator) {
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    // "D:\<lead>\" then a real separator: only positions 2 and 5 separate.
    const std::string text = std::string("D:\\") + static_cast<char>(lead) + "\\\\x";
    EXPECT_EQ(FindGbkSeparator(text), 2u) << lead;
    EXPECT_EQ(FindGbkSeparator(text, 3), 5u) << lead;
    EXPECT_EQ(FindGbkSeparator(text, 6), std::string::npos) << lead;
    EXPECT_FALSE(EndsWithGbkSeparator(text.substr(0, 5))) << lead;
    EXPECT_TRUE(EndsWithGbkSeparator(text.substr(0, 6))) << lead;
  }
  // 0x80 and 0xFF stand alone; so does every ASCII byte.
  EXPECT_EQ(FindGbkSeparator("\x80\\"), 1u);
  EXPECT_EQ(FindGbkSeparator("\xFF\\"), 1u);
  EXPECT_TRUE(EndsWithGbkSeparator("D:\\"));
  EXPECT_FALSE(EndsWithGbkSeparator(""));
  EXPECT_FALSE(EndsWithGbkSeparator("D:\\營運"));
  EXPECT_TRUE(EndsWithGbkSeparator("D:\\營運\\"));
  // A lead byte at the very end takes nothing with it.
  EXPECT_FALSE(EndsWithGbkSeparator("D:\\\x81"));
  // Forward slashes only when asked for.
  EXPECT_EQ(FindGbkSeparator("a/b\\c"), 3u);
  EXPECT_EQ(FindGbkSeparator("a/b\\c", 0, "\\/"), 1u);
  EXPECT_EQ(FindGbkSeparator("乗/", 0, "\\/"), 2u);
}

TEST(GbkProfileStrings, SameBytesAsTheEightBitCallsOnCodePage936AndReadBackCut) {
  ASSERT_EQ(GetACP(), 936u) << "the test prefix runs with zh_CN.UTF-8";
  ScratchFolder root("profile");
  const std::string folder = root / "運輸誠一";
  ASSERT_TRUE(CreateDirectoryW(GbkToWide(folder).c_str(), nullptr));
  const std::string eightBit = folder + "\\a.ini";
  const std::string wide = folder + "\\b.ini";
  const char* lines[][3] = {{"cfgstamp", "time", "1700000000"}, {"version", "cur", "9.5.9.1"}, {"version", "quant", ""},
                            {"ETag", "ETagStock", "0123abcd"}, {"version", "cur", "9.5.9.2"}};
  for (const auto& line : lines) {
    EXPECT_TRUE(WritePrivateProfileStringA(line[0], line[1], line[2], eightBit.c_str()));
    EXPECT_TRUE(WriteProfileStringGbk(line[0], line[1], line[2], wide));
  }
  const std::string bytes = ReadFileBytes(wide);
  EXPECT_FALSE(bytes.empty());
  EXPECT_EQ(bytes, ReadFileBytes(eightBit));

  EXPECT_EQ(ReadProfileStringGbk("version", "cur", wide, 21), "9.5.9.2");
  EXPECT_EQ(ReadProfileStringGbk("version", "cur", wide, 4), "9.5");
  EXPECT_EQ(ReadProfileStringGbk("version", "absent", wide, 21), "");
  EXPECT_EQ(ReadProfileStringGbk("version", "cur", folder + "\\missing.ini", 21), "");
  // A GBK value is cut whole characters at a time.
  ASSERT_TRUE(WritePrivateProfileStringA("名", "值", "運輸", eightBit.c_str()));
  EXPECT_EQ(ReadProfileStringGbk("名", "值", eightBit, 21), "運輸");
  EXPECT_EQ(ReadProfileStringGbk("名", "值", eightBit, 4), "運");
}
