// A small object-per-window layer: every window is a TIxFrm, one window procedure
// routes each message to the object's HandleMessage. TModalWnd is a borderless popup
// with a caption strip, a drawn close box and body dragging; TMemDC is the off-screen
// buffer every paint draws into.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/scoped.h"

// HandleMessage's answer for "not mine": the message goes on to DefWindowProcW.
constexpr LRESULT kNotHandled = -1;

// Double buffer of one paint call: BeginPaint on construction, one copy to the window
// and EndPaint on destruction.
class TMemDC {
 public:
  explicit TMemDC(HWND window);
  virtual ~TMemDC();
  TMemDC(const TMemDC&) = delete;
  TMemDC& operator=(const TMemDC&) = delete;

  HDC memDC = nullptr;
  HDC paintDC = nullptr;
  ScopedGdiObject bitmap;
  RECT client{};  // the window's client rectangle when the paint began
  HWND window = nullptr;
  bool blitOnDestroy = false;
  PAINTSTRUCT paintStruct{};

 private:
  HGDIOBJ previousBitmap_ = nullptr;
};

class TIxFrm {
 public:
  TIxFrm() = default;
  virtual ~TIxFrm();
  TIxFrm(const TIxFrm&) = delete;
  TIxFrm& operator=(const TIxFrm&) = delete;

  // Registers the class (again each time; a repeated registration fails harmlessly) and
  // creates a zero-sized window bound to this object. Returns the handle, or null.
  HWND Create(const wchar_t* className, HWND parent, DWORD style, DWORD exStyle);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd = nullptr;
};

class TModalWnd : public TIxFrm {
 public:
  TModalWnd() = default;

  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  virtual void OnCreate() = 0;
  virtual void PlaceWindow() = 0;
  virtual void PaintContent(TMemDC& dc);
  // What every page starts with: white body, dark outline, red caption strip.
  void PaintFrame(HDC dc, const RECT& client) const;
  // Ends the owner's modal loop and destroys the window.
  virtual void Close();

  // Lets the system move the window as if its caption were grabbed, for a plain
  // left press (no other button or key) outside the close box.
  void BeginDrag(WPARAM wParam, LPARAM lParam);
  // The cursor in client coordinates; handlers never trust lParam's coordinates.
  POINT CursorInClient() const;
  void Invalidate() const;

  std::wstring caption;
  HWND parent = nullptr;
  ScopedGdiObject background;  // a bitmap
  RECT captionRect{};
  RECT closeRect{};
  bool closeHover = false;
  bool running = false;
  int32_t captionUnit = 25;

 private:
  void PaintDefault();
};

// Layout and drawing pieces shared by the popup and the installer dialog.
RECT CaptionStripRect(const RECT& client);
// The plain popup's close box: 10 x 10, 10 pixels in from the top right corner.
RECT DefaultCloseBox(const RECT& client);
// The area that reacts to the cursor: the drawn box and one pixel around it.
RECT CloseHitArea(const RECT& closeBox);
// True when a left press with these key flags at this spot starts a window drag.
bool StartsDrag(WPARAM keyFlags, POINT cursor, const RECT& closeHit);
// Draws the close box's two diagonals with a 1-pixel pen of the given colour.
void DrawCloseCross(HDC dc, const RECT& box, COLORREF colour);
// Fills a rectangle with a solid colour through a brush that lives only for the call.
void FillSolid(HDC dc, const RECT& rect, COLORREF colour);
// Frames a rectangle with a 1-pixel solid colour.
void FrameSolid(HDC dc, const RECT& rect, COLORREF colour);
// Copies a bitmap over (0, 0) with the given size.
void BlitBitmap(HDC dc, HBITMAP bitmap, int width, int height);
