#include "ui/dialog_layout.h"

#include "install/paths.h"
#include "install/messages.h"
#include "base/text.h"
#include "ui/frame.h"

namespace {
constexpr int kOpenCaptionIndex = 7;
constexpr int kInstallCaptionIndex = 0;
}  // namespace

DialogLayout ComputeDialogLayout(const RECT& r, int32_t unit) {
  DialogLayout layout;
  layout.caption = CaptionStripRect(r);
  layout.action = RECT{200, r.bottom - 108, 300, r.bottom - 72};
  layout.code = layout.action;
  OffsetRect(&layout.code, 0, -60);
  layout.customLink = RECT{r.right - 100, r.bottom - 20, r.right - 5, r.bottom};
  layout.browse = RECT{420, 155, 470, 180};
  layout.status = RECT{r.right - 468, r.bottom - 76, r.right - 34, r.bottom - 56};
  layout.heading = RECT{181, 96, 461, 123};
  layout.pathLabel = RECT{40, 155, 160, 180};
  layout.pathField = RECT{110, 155, 420, 180};
  layout.pathText = RECT{112, 155, 418, 180};
  LONG left = r.right - (2 * unit) / 3;
  layout.closeBox = RECT{left, unit / 3, left + unit / 3, 2 * (unit / 3)};
  layout.closeHit = CloseHitArea(layout.closeBox);
  return layout;
}

PageView ViewOf(InstallPage page, bool defaultView) {
  switch (page) {
    case PageStart:
      return PageView{kStartBitmapId, true, true, kInstallCaptionIndex, defaultView, true, !defaultView, false, false};
    case PageInstalling:
      return PageView{kProgressBitmapId, false, false, -1, false, false, false, true, false};
    case PageFailed:
      return PageView{kProgressBitmapId, true, false, -1, false, false, false, false, true};
    case PageFinished:
      return PageView{kStartBitmapId, true, true, kOpenCaptionIndex, true, false, false, false, false};
  }
  return ViewOf(PageStart, defaultView);
}

InstallPage PageAfterMessage(InstallPage page, UINT message) {
  if (page != PageInstalling) return page;  // late messages never reopen or move a finished run
  if (message == WM_INSTALL_DONE) return PageFinished;
  if (message == WM_INSTALL_FAILED) return PageFailed;
  return page;
}

POINT CentredPosition(POINT cursor, const std::vector<DisplayMode>& displays, int primaryScreenHeight) {
  LONG left = cursor.x;
  LONG right = cursor.x;
  for (DisplayMode mode : displays) {
    if (mode.logPixels > 96) {
      mode.x = mode.x * 96 / mode.logPixels;
      mode.y = mode.y * 96 / mode.logPixels;
      mode.width = mode.width * 96 / mode.logPixels;
      mode.height = mode.height * 96 / mode.logPixels;
    }
    if (mode.x == 0 && mode.y == 0) {
      left = 0;
      right = mode.width;
    }
    if (mode.x <= cursor.x && cursor.x < mode.x + mode.width && mode.y <= cursor.y && cursor.y < mode.y + mode.height) {
      left = mode.x;
      right = mode.x + mode.width;
      break;
    }
  }
  return POINT{left + (right - left - kDialogWidth) / 2, (primaryScreenHeight - kDialogHeight) / 2};
}

bool AcceptChosenFolder(const std::wstring& folder) {
  // A folder GBK cannot spell (or too long for the path buffers) would install elsewhere.
  std::string bytes = ExactGbk(folder, 260);
  if (bytes.empty()) return false;
  ChangeInstallRoot(bytes.c_str());
  return true;
}

