// The installer's custom-drawn progress bar: a white rounded track with a coral-red
// fill proportional to a percentage. It draws no text.
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/scoped.h"
#include "ui/frame.h"

// Where the fill goes for a percentage in a bar of the given client rectangle. False
// (nothing filled) outside 1..100. squareEnd: the right end is squared off because the
// fill stops short of the inner right edge.
struct ProgressFill {
  RECT rounded{};  // the fill drawn with rounded corners
  RECT square{};   // covers the rounded right end while the bar is partly filled
  bool squareEnd = false;
};
bool ComputeProgressFill(const RECT& client, int32_t percent, ProgressFill* fill);

class TProcess : public TIxFrm {
 public:
  TProcess();
  ~TProcess() override;

  // A zero-sized child of parent; shows nothing until it is moved into place.
  HWND CreateIn(HWND parentWindow);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  int32_t percent = 0;
  ScopedGdiObject fillPen;
  ScopedGdiObject fillBrush;

 private:
  void Paint();
};

// Where the dialog puts the bar when an installation starts.
constexpr RECT kProgressBarPlace{34, 260, 468, 275};
