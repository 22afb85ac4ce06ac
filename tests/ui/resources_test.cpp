#include <gtest/gtest.h>

#include <windows.h>

#include "base/scoped.h"

namespace {
BITMAP BitmapInfo(int id) {
  BITMAP info{};
  ScopedGdiObject picture(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  EXPECT_TRUE(picture.Valid()) << id;
  GetObjectW(picture.Get(), sizeof(info), &info);
  return info;
}

COLORREF PixelOf(int id, int x, int y) {
  ScopedGdiObject picture(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0));
  ScopedMemoryDc dc(CreateCompatibleDC(nullptr));
  ScopedSelectObject select(dc.Get(), picture.Get());
  return GetPixel(dc.Get(), x, y);
}
}  // namespace

TEST(Resources, PageBackgroundsAre500By310With24BitsPerPixel) {
  for (int id : {101, 104}) {
    BITMAP info = BitmapInfo(id);
    EXPECT_EQ(info.bmWidth, 500) << id;
    EXPECT_EQ(info.bmHeight, 310) << id;
    EXPECT_EQ(info.bmBitsPixel, 24) << id;
  }
}

TEST(Resources, ProgressBackgroundHasItsBandAndFrame) {
  EXPECT_EQ(PixelOf(104, 0, 100), RGB(140, 94, 184));    // frame
  EXPECT_EQ(PixelOf(104, 250, 309), RGB(140, 94, 184));
  EXPECT_EQ(PixelOf(104, 250, 216), RGB(255, 255, 255));  // the white band
  EXPECT_EQ(PixelOf(104, 250, 300), RGB(255, 255, 255));
  COLORREF red = PixelOf(104, 400, 150);
  EXPECT_GT(GetRValue(red), 150);
  EXPECT_LT(GetGValue(red), 70);
  COLORREF top = PixelOf(101, 20, 1);
  COLORREF lower = PixelOf(101, 20, 200);
  EXPECT_GT(GetRValue(top), GetRValue(lower));  // the gradient darkens downwards
}

TEST(Resources, IconGroupHasEverySize) {
  HMODULE module = GetModuleHandleW(nullptr);
  for (int size : {16, 24, 32, 48, 64, 256}) {
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(102), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{};
    GetObjectW(info.hbmColor, sizeof(colour), &colour);
    EXPECT_EQ(colour.bmWidth, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}
