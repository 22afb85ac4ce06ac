#include "ui/progress.h"

#include "ui/drawing_objects.h"
#include "base/scoped.h"

namespace {
constexpr COLORREF kFillColour = RGB(252, 115, 115);
constexpr COLORREF kTrackOutline = RGB(226, 226, 226);
}  // namespace

bool ComputeProgressFill(const RECT& client, int32_t percent, ProgressFill* fill) {
  if (percent < 1 || percent > 100) return false;
  RECT inner{client.left + 3, client.top + 3, client.right - 3, client.bottom - 3};
  RECT rounded = inner;
  rounded.right = inner.left + static_cast<LONG>(static_cast<double>(inner.right - inner.left) * percent / 100.0);
  fill->rounded = rounded;
  fill->squareEnd = rounded.right < inner.right;
  fill->square = RECT{rounded.right - 4, rounded.top, rounded.right, rounded.bottom};
  return true;
}

TProcess::TProcess() : fillPen(CreatePen(PS_SOLID, 1, kFillColour)), fillBrush(CreateSolidBrush(kFillColour)) {}

TProcess::~TProcess() = default;

HWND TProcess::CreateIn(HWND parentWindow) {
  return Create(L"TProcess", parentWindow, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0);
}

LRESULT TProcess::HandleMessage(UINT message, WPARAM, LPARAM) {
  if (message != WM_PAINT) return kNotHandled;
  Paint();
  return 0;
}

void TProcess::Paint() {
  TMemDC dc(hwnd);
  if (dc.memDC == nullptr) return;
  const RECT& client = dc.client;
  FillRect(dc.memDC, &client, whiteBrush);
  {
    ScopedGdiObject trackPen(CreatePen(PS_SOLID, 1, kTrackOutline));
    ScopedSelectObject selectBrush(dc.memDC, whiteBrush);
    ScopedSelectObject selectPen(dc.memDC, trackPen.Get());
    RoundRect(dc.memDC, client.left, client.top, client.right, client.bottom, 12, 12);
  }
  ProgressFill fill;
  if (ComputeProgressFill(client, percent, &fill)) {
    ScopedSelectObject selectBrush(dc.memDC, fillBrush.Get());
    ScopedSelectObject selectPen(dc.memDC, fillPen.Get());
    RoundRect(dc.memDC, fill.rounded.left, fill.rounded.top, fill.rounded.right, fill.rounded.bottom, 5, 5);
    if (fill.squareEnd) FillRect(dc.memDC, &fill.square, static_cast<HBRUSH>(fillBrush.Get()));
  }
}
