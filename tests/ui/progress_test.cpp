#include <gtest/gtest.h>

#include "app/startup.h"
#include "ui/progress.h"
#include "window_fixture.h"

using namespace ui_testing;

namespace {
const RECT kBar{0, 0, 434, 15};
constexpr COLORREF kFill = RGB(252, 115, 115);
constexpr COLORREF kWhite = RGB(255, 255, 255);

ProgressFill FillFor(int percent) {
  ProgressFill fill;
  EXPECT_TRUE(ComputeProgressFill(kBar, percent, &fill)) << percent;
  return fill;
}
}  // namespace

TEST(ProgressFillArithmetic, OneFiftyAndHundredPercentOfA434PixelBar) {
  ProgressFill one = FillFor(1);
  EXPECT_EQ(one.rounded.left, 3);
  EXPECT_EQ(one.rounded.right, 7);
  EXPECT_EQ(one.rounded.top, 3);
  EXPECT_EQ(one.rounded.bottom, 12);
  EXPECT_TRUE(one.squareEnd);
  EXPECT_EQ(one.square.left, 3);  // the squaring covers the whole small fill
  EXPECT_EQ(one.square.right, 7);

  ProgressFill half = FillFor(50);
  EXPECT_EQ(half.rounded.left, 3);
  EXPECT_EQ(half.rounded.right, 217);
  EXPECT_TRUE(half.squareEnd);
  EXPECT_EQ(half.square.left, 213);

  ProgressFill full = FillFor(100);
  EXPECT_EQ(full.rounded.right, 431);
  EXPECT_FALSE(full.squareEnd);  // both ends rounded
}

TEST(ProgressFillArithmetic, OutOfRangeShowsTheEmptyTrack) {
  ProgressFill fill;
  EXPECT_FALSE(ComputeProgressFill(kBar, 0, &fill));
  EXPECT_FALSE(ComputeProgressFill(kBar, -7, &fill));
  EXPECT_FALSE(ComputeProgressFill(kBar, 101, &fill));
}

namespace {
class ProgressBarWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    InitLocaleAndFonts();
    host.width = 500;
    ASSERT_TRUE(OpenPopup(host));
    ASSERT_NE(bar.CreateIn(host.hwnd), nullptr);
    MoveWindow(bar.hwnd, 20, 60, 434, 15, FALSE);
  }
  void TearDown() override {
    if (host.hwnd != nullptr) DestroyWindow(host.hwnd);
    Pump();
    ReleaseSharedDrawingObjects();
  }
  COLORREF At(int x) { return PaintedPixel(bar.hwnd, x, 7); }
  ui_testing::RecordingPopup host;
  TProcess bar;
};
}  // namespace

TEST_F(ProgressBarWindow, StartsEmptyAsAZeroSizedChild) {
  TProcess fresh;
  ASSERT_NE(fresh.CreateIn(host.hwnd), nullptr);
  RECT client{};
  GetClientRect(fresh.hwnd, &client);
  EXPECT_EQ(client.right, 0);
  EXPECT_EQ(GetParent(fresh.hwnd), host.hwnd);
  EXPECT_EQ(fresh.percent, 0);
  EXPECT_TRUE(fresh.fillPen);
  EXPECT_TRUE(fresh.fillBrush);
  EXPECT_EQ(GetWindowLongW(fresh.hwnd, GWL_STYLE) & (WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN),
            static_cast<LONG>(WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN));
}

TEST_F(ProgressBarWindow, FillFollowsThePercentage) {
  EXPECT_EQ(At(100), kWhite);
  bar.percent = 50;
  EXPECT_EQ(At(100), kFill);
  EXPECT_EQ(At(216), kFill);  // square right end
  EXPECT_EQ(At(300), kWhite);
  bar.percent = 100;
  EXPECT_EQ(At(300), kFill);
  EXPECT_EQ(At(430), kFill);
  bar.percent = 101;
  EXPECT_EQ(At(100), kWhite);
  bar.percent = 1;
  EXPECT_EQ(At(5), kFill);
  EXPECT_EQ(At(10), kWhite);
}
