// The installer dialog's pages, layout and placement as plain arithmetic, apart from any
// window, so that each rule can be checked on its own.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

enum InstallPage : int32_t { PageStart = 0, PageInstalling = 1, PageFailed = 2, PageFinished = 3 };

constexpr int kDialogWidth = 500;
constexpr int kDialogHeight = 310;
constexpr int kStartBitmapId = 101;     // start and finish pages
constexpr int kProgressBitmapId = 104;  // installing and failed pages
constexpr int kIconGroupId = 102;

// Every rectangle of the dialog, from its client rectangle.
struct DialogLayout {
  RECT caption{};
  RECT action{};
  RECT code{};
  RECT customLink{};
  RECT browse{};
  RECT status{};
  RECT heading{};
  RECT pathLabel{};
  RECT pathField{};
  RECT pathText{};  // the field with its text inset
  RECT closeBox{};  // as drawn
  RECT closeHit{};  // one pixel larger on every side
};
DialogLayout ComputeDialogLayout(const RECT& client, int32_t captionUnit);

// What each page shows.
struct PageView {
  int bitmapId;
  bool closeBox;      // drawn and active
  bool actionButton;  // Install on the start page, Open on the finish page
  int actionCaption;  // main-text index of the action button's caption, -1 for none
  bool packageCode;   // drawn when the view is the default one (always on the finish page)
  bool customLink;
  bool pathField;     // in the custom view only
  bool progressText;  // status line, percentage and heading
  bool failureText;
};
PageView ViewOf(InstallPage page, bool defaultView);

// Page moves driven by the worker's messages; the page only ever moves forward, and a
// message that does not fit the page leaves it as it is.
InstallPage PageAfterMessage(InstallPage page, UINT message);

// One display's current mode, as the placement reads it.
struct DisplayMode {
  int x = 0, y = 0, width = 0, height = 0;
  int logPixels = 96;
};
// The dialog's top-left corner: centred horizontally on the display holding the cursor
// (the primary one when none holds it) and vertically on the primary screen's height.
POINT CentredPosition(POINT cursor, const std::vector<DisplayMode>& displays, int primaryScreenHeight);

// Takes a folder the user picked (UTF-16) as the new installation root; false, and
// nothing changed, for an empty folder or one the logic side's GBK cannot hold.
bool AcceptChosenFolder(const std::wstring& folder);
