#include <gtest/gtest.h>

#include "base/context.h"
#include "install/messages.h"
#include "ui/dialog_layout.h"

namespace {
void ExpectRect(const RECT& rect, LONG left, LONG top, LONG right, LONG bottom, const char* name) {
  EXPECT_EQ(rect.left, left) << name;
  EXPECT_EQ(rect.top, top) << name;
  EXPECT_EQ(rect.right, right) << name;
  EXPECT_EQ(rect.bottom, bottom) << name;
}
}  // namespace

TEST(DialogLayout, RectanglesOfA500By310Client) {
  DialogLayout layout = ComputeDialogLayout(RECT{0, 0, 500, 310}, 25);
  ExpectRect(layout.caption, 0, 0, 500, 30, "caption");
  ExpectRect(layout.action, 200, 202, 300, 238, "action");
  ExpectRect(layout.code, 200, 142, 300, 178, "code");
  ExpectRect(layout.customLink, 400, 290, 495, 310, "custom link");
  ExpectRect(layout.browse, 420, 155, 470, 180, "browse");
  ExpectRect(layout.status, 32, 234, 466, 254, "status");
  ExpectRect(layout.heading, 181, 96, 461, 123, "heading");
  ExpectRect(layout.pathLabel, 40, 155, 160, 180, "path label");
  ExpectRect(layout.pathField, 110, 155, 420, 180, "path field");
  ExpectRect(layout.pathText, 112, 155, 418, 180, "path text");
  ExpectRect(layout.closeBox, 484, 8, 492, 16, "close box");
  ExpectRect(layout.closeHit, 483, 7, 493, 17, "close hit area");
}

TEST(DialogLayout, RelativeRectanglesFollowTheClientAndFixedOnesStay) {
  DialogLayout layout = ComputeDialogLayout(RECT{0, 0, 0, 0}, 25);  // before placement
  ExpectRect(layout.action, 200, -108, 300, -72, "action");
  ExpectRect(layout.browse, 420, 155, 470, 180, "browse");
  DialogLayout wide = ComputeDialogLayout(RECT{0, 0, 600, 400}, 31);
  ExpectRect(wide.customLink, 500, 380, 595, 400, "custom link");
  ExpectRect(wide.closeBox, 600 - 20, 10, 600 - 20 + 10, 20, "close box from unit 31");
}

TEST(DialogPages, WhatEachPageShows) {
  struct Row {
    InstallPage page;
    bool defaultView;
    PageView expected;
  };
  // bitmap, close box, action button, caption, package code, link, path field, progress, failure
  const Row rows[] = {
      {PageStart, true, {101, true, true, 0, true, true, false, false, false}},
      {PageStart, false, {101, true, true, 0, false, true, true, false, false}},
      {PageInstalling, true, {104, false, false, -1, false, false, false, true, false}},
      {PageFailed, true, {104, true, false, -1, false, false, false, false, true}},
      {PageFinished, true, {101, true, true, 7, true, false, false, false, false}},
      {PageFinished, false, {101, true, true, 7, true, false, false, false, false}},
  };
  for (const Row& row : rows) {
    PageView view = ViewOf(row.page, row.defaultView);
    const PageView& want = row.expected;
    SCOPED_TRACE(testing::Message() << "page " << row.page << " default view " << row.defaultView);
    EXPECT_EQ(view.bitmapId, want.bitmapId);
    EXPECT_EQ(view.closeBox, want.closeBox);
    EXPECT_EQ(view.actionButton, want.actionButton);
    EXPECT_EQ(view.actionCaption, want.actionCaption);
    EXPECT_EQ(view.packageCode, want.packageCode);
    EXPECT_EQ(view.customLink, want.customLink);
    EXPECT_EQ(view.pathField, want.pathField);
    EXPECT_EQ(view.progressText, want.progressText);
    EXPECT_EQ(view.failureText, want.failureText);
  }
}

TEST(DialogPages, WorkerMessagesOnlyMoveARunningInstallationForward) {
  EXPECT_EQ(PageAfterMessage(PageInstalling, WM_INSTALL_DONE), PageFinished);
  EXPECT_EQ(PageAfterMessage(PageInstalling, WM_INSTALL_FAILED), PageFailed);
  EXPECT_EQ(PageAfterMessage(PageInstalling, WM_INSTALL_PROGRESS), PageInstalling);
  EXPECT_EQ(PageAfterMessage(PageInstalling, WM_INSTALL_STEP), PageInstalling);
  // A late progress message never reopens a failed run, nor moves any other page.
  const UINT messages[] = {WM_INSTALL_PROGRESS, WM_INSTALL_DONE, WM_INSTALL_FAILED, WM_INSTALL_STEP};
  for (InstallPage page : {PageStart, PageFailed, PageFinished}) {
    for (UINT message : messages) EXPECT_EQ(PageAfterMessage(page, message), page) << page << " " << message;
  }
}

TEST(DialogPlacement, CentredOnThePrimaryDisplay) {
  std::vector<DisplayMode> displays{{0, 0, 1920, 1080, 96}};
  POINT corner = CentredPosition(POINT{700, 500}, displays, 1080);
  EXPECT_EQ(corner.x, 710);
  EXPECT_EQ(corner.y, 385);
}

TEST(DialogPlacement, SecondaryDisplayLeftOfThePrimaryTakesTheCursor) {
  std::vector<DisplayMode> displays{{0, 0, 1920, 1080, 96}, {-1280, 0, 1280, 1024, 96}};
  POINT corner = CentredPosition(POINT{-300, 900}, displays, 1080);
  EXPECT_EQ(corner.x, -1280 + (1280 - 500) / 2);
  EXPECT_EQ(corner.y, (1080 - 310) / 2);  // vertically by the primary screen's height
}

TEST(DialogPlacement, ScaledModesAndACursorOnNoDisplay) {
  std::vector<DisplayMode> scaled{{0, 0, 3840, 2160, 192}};
  EXPECT_EQ(CentredPosition(POINT{100, 100}, scaled, 1080).x, (1920 - 500) / 2);
  std::vector<DisplayMode> primaryOnly{{0, 0, 1024, 768, 96}};
  EXPECT_EQ(CentredPosition(POINT{5000, 100}, primaryOnly, 768).x, (1024 - 500) / 2);
  EXPECT_EQ(CentredPosition(POINT{5000, 100}, {}, 768).x, 5000 - 250);
}

TEST(ChosenFolder, TakenWhenGbkCanHoldItAndRefusedOtherwise) {
  InstallerContext& context = InstallerContext::Instance();
  context.productFolderName = "MOrvantis602731v9.5";
  context.installDir = "C:\\before";
  context.logDir = "C:\\before\\morvantislog";
  context.tempDir = "C:\\beforetemp";
  EXPECT_FALSE(AcceptChosenFolder(L""));
  EXPECT_FALSE(AcceptChosenFolder(L"D:\\\x0E01\x0E02"));  // Thai: not in GBK
  EXPECT_FALSE(AcceptChosenFolder(L"D:\\" + std::wstring(300, L'a')));
  EXPECT_EQ(context.installDir, "C:\\before");
  EXPECT_TRUE(AcceptChosenFolder(L"D:\\软件"));
  EXPECT_EQ(context.installDir, "D:\\软件\\MOrvantis602731v9.5");
  EXPECT_EQ(context.logDir, "D:\\软件\\MOrvantis602731v9.5\\morvantislog");
  EXPECT_EQ(context.tempDir, "C:\\beforetemp");
}
