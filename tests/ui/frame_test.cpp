#include <gtest/gtest.h>

#include "app/startup.h"
#include "ui/frame.h"
#include "window_fixture.h"

using namespace ui_testing;

namespace {
class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override { InitLocaleAndFonts(); }
  void TearDown() override {
    if (popup.hwnd != nullptr) DestroyWindow(popup.hwnd);
    Pump();
    ReleaseSharedDrawingObjects();
  }
  CursorLock cursorLock;
  RecordingPopup popup;
};

bool Posted(HWND window, UINT message) {
  MSG found;
  return PeekMessageW(&found, window, message, message, PM_REMOVE) != FALSE;
}
}  // namespace

TEST(CloseBoxGeometry, TenPixelBoxWithOnePixelHitMargin) {
  RECT box = DefaultCloseBox(RECT{0, 0, 300, 200});
  EXPECT_EQ(box.left, 280);
  EXPECT_EQ(box.top, 10);
  EXPECT_EQ(box.right, 290);
  EXPECT_EQ(box.bottom, 20);
  RECT hit = CloseHitArea(box);
  EXPECT_EQ(hit.left, 279);
  EXPECT_EQ(hit.top, 9);
  EXPECT_EQ(hit.right, 291);
  EXPECT_EQ(hit.bottom, 21);
  RECT strip = CaptionStripRect(RECT{0, 0, 500, 310});
  EXPECT_EQ(strip.bottom, 30);
  EXPECT_EQ(strip.right, 500);
}

TEST(DragRule, OnlyAPlainLeftPressOutsideTheCloseBox) {
  RECT hit{279, 9, 291, 21};
  EXPECT_TRUE(StartsDrag(MK_LBUTTON, POINT{50, 50}, hit));
  EXPECT_FALSE(StartsDrag(MK_LBUTTON | MK_CONTROL, POINT{50, 50}, hit));
  EXPECT_FALSE(StartsDrag(MK_LBUTTON | MK_SHIFT, POINT{50, 50}, hit));
  EXPECT_FALSE(StartsDrag(MK_LBUTTON | MK_RBUTTON, POINT{50, 50}, hit));
  EXPECT_FALSE(StartsDrag(MK_LBUTTON, POINT{285, 15}, hit));
  EXPECT_FALSE(StartsDrag(MK_LBUTTON, POINT{279, 9}, hit));
  EXPECT_TRUE(StartsDrag(MK_LBUTTON, POINT{291, 21}, hit));  // right and bottom are outside
}

TEST_F(FrameTest, ObjectIsBoundAtNcCreateAndEarlierMessagesGoToTheSystem) {
  // An overlapped window gets WM_GETMINMAXINFO before WM_NCCREATE.
  ASSERT_TRUE(OpenPopup(popup, WS_OVERLAPPEDWINDOW));
  ASSERT_FALSE(popup.seen.empty());
  EXPECT_EQ(popup.seen.front(), static_cast<UINT>(WM_NCCREATE));
  EXPECT_EQ(reinterpret_cast<TIxFrm*>(GetWindowLongPtrW(popup.hwnd, 0)), &popup);
  EXPECT_EQ(popup.parent, nullptr);
}

TEST_F(FrameTest, MinusOneMeansUnhandledAndAnyOtherValueIsTheResult) {
  ASSERT_TRUE(OpenPopup(popup));
  popup.answer = 42;
  EXPECT_EQ(SendMessageW(popup.hwnd, RecordingPopup::kAnswerMessage, 0, 0), 42);
  popup.answer = kNotHandled;  // DefWindowProcW answers 0 for an application message
  EXPECT_EQ(SendMessageW(popup.hwnd, RecordingPopup::kAnswerMessage, 0, 0), 0);
  // WM_GETTEXT is the system's: the default handling copies the window text.
  SetWindowTextW(popup.hwnd, L"Morvantis");
  wchar_t text[32] = {};
  EXPECT_EQ(GetWindowTextW(popup.hwnd, text, 32), 9);
}

TEST_F(FrameTest, CloseEndsTheLoopFlagAndTheWindow) {
  ASSERT_TRUE(OpenPopup(popup));
  HWND window = popup.hwnd;
  popup.Close();
  EXPECT_FALSE(popup.running);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(popup.hwnd, nullptr);
}

TEST_F(FrameTest, AWindowDestroyedAnyOtherWayStillEndsTheLoopAndWakesIt) {
  ASSERT_TRUE(OpenPopup(popup));
  Pump();
  DestroyWindow(popup.hwnd);
  EXPECT_FALSE(popup.running);
  MSG wake;
  EXPECT_TRUE(PeekMessageW(&wake, reinterpret_cast<HWND>(-1), WM_NULL, WM_NULL, PM_REMOVE));
}

TEST_F(FrameTest, AWindowOutlivingItsObjectFallsBackToTheSystem) {
  HWND window = nullptr;
  {
    RecordingPopup shortLived;
    ASSERT_TRUE(OpenPopup(shortLived));
    window = shortLived.hwnd;
  }
  EXPECT_EQ(GetWindowLongPtrW(window, 0), 0);
  PaintedPixel(window, 5, 5);  // no crash: nothing reaches the freed object
  SendMessageW(window, WM_MOUSEMOVE, 0, 0);
  DestroyWindow(window);
}

TEST_F(FrameTest, PlainPressDragsButModifiersAndTheCloseBoxDoNot) {
  ASSERT_TRUE(OpenPopup(popup));
  PaintedPixel(popup.hwnd, 0, 0);  // the paint sets the close box's hit area
  Pump();
  PointAt(popup.hwnd, 100, 100);
  popup.BeginDrag(MK_LBUTTON | MK_CONTROL, 0);
  EXPECT_FALSE(Posted(popup.hwnd, WM_NCLBUTTONDOWN));
  popup.BeginDrag(MK_LBUTTON | MK_SHIFT, 0);
  EXPECT_FALSE(Posted(popup.hwnd, WM_NCLBUTTONDOWN));
  PointAt(popup.hwnd, 285, 15);
  popup.BeginDrag(MK_LBUTTON, 0);
  EXPECT_FALSE(Posted(popup.hwnd, WM_NCLBUTTONDOWN));
  PointAt(popup.hwnd, 100, 100);
  popup.BeginDrag(MK_LBUTTON, MAKELPARAM(100, 100));
  EXPECT_TRUE(Posted(popup.hwnd, WM_NCLBUTTONDOWN));
}

TEST_F(FrameTest, ReleaseInsideTheCloseBoxClosesAndOutsideDoesNot) {
  ASSERT_TRUE(OpenPopup(popup));
  PaintedPixel(popup.hwnd, 0, 0);
  PointAt(popup.hwnd, 150, 100);
  SendMessageW(popup.hwnd, WM_LBUTTONUP, 0, 0);
  EXPECT_TRUE(popup.running);
  PointAt(popup.hwnd, 285, 15);
  SendMessageW(popup.hwnd, WM_LBUTTONUP, 0, 0);
  EXPECT_FALSE(popup.running);
  EXPECT_EQ(popup.hwnd, nullptr);
}

TEST_F(FrameTest, DefaultPaintDrawsFrameCaptionAndHoverColours) {
  ASSERT_TRUE(OpenPopup(popup));
  EXPECT_EQ(PaintedPixel(popup.hwnd, 0, 100), RGB(70, 70, 70));       // frame
  EXPECT_EQ(PaintedPixel(popup.hwnd, 50, 15), RGB(218, 66, 45));      // caption strip
  EXPECT_EQ(PaintedPixel(popup.hwnd, 150, 100), RGB(255, 255, 255));  // body
  EXPECT_EQ(PaintedPixel(popup.hwnd, 280, 10), RGB(150, 150, 150));   // cross, not hovered
  PointAt(popup.hwnd, 285, 15);
  SendMessageW(popup.hwnd, WM_MOUSEMOVE, 0, 0);
  EXPECT_TRUE(popup.closeHover);
  EXPECT_EQ(PaintedPixel(popup.hwnd, 280, 10), RGB(231, 231, 231));
  SendMessageW(popup.hwnd, WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(popup.closeHover);
  EXPECT_EQ(PaintedPixel(popup.hwnd, 280, 10), RGB(150, 150, 150));
}

TEST_F(FrameTest, BackgroundBitmapCoversTheClientAndIsOwned) {
  ASSERT_TRUE(OpenPopup(popup));
  HDC screen = GetDC(nullptr);
  HBITMAP picture = CreateCompatibleBitmap(screen, 300, 200);
  ReleaseDC(nullptr, screen);
  {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, picture);
    RECT all{0, 0, 300, 200};
    FillSolid(dc, all, RGB(10, 200, 30));
    SelectObject(dc, old);
    DeleteDC(dc);
  }
  popup.background.Reset(picture);
  EXPECT_EQ(PaintedPixel(popup.hwnd, 150, 100), RGB(10, 200, 30));
  EXPECT_EQ(PaintedPixel(popup.hwnd, 0, 100), RGB(10, 200, 30));
}
