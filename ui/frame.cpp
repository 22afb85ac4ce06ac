#include "ui/frame.h"

#include "ui/drawing_objects.h"
#include "base/scoped.h"

// ---- TMemDC ----

TMemDC::TMemDC(HWND target) : window(target) {
  paintDC = BeginPaint(window, &paintStruct);
  if (paintDC == nullptr) return;
  SetBkMode(paintDC, TRANSPARENT);
  GetClientRect(window, &client);
  memDC = CreateCompatibleDC(paintDC);
  // A zero-sized window still gets a 1 x 1 bitmap, so the painter never draws into nothing.
  bitmap.Reset(CreateCompatibleBitmap(paintDC, client.right > 0 ? client.right : 1, client.bottom > 0 ? client.bottom : 1));
  if (memDC != nullptr && bitmap) previousBitmap_ = SelectObject(memDC, bitmap.Get());
  blitOnDestroy = true;
}

TMemDC::~TMemDC() {
  if (paintDC == nullptr) return;
  if (blitOnDestroy && memDC != nullptr) {
    RECT client{};
    GetClientRect(window, &client);
    BitBlt(paintDC, 0, 0, client.right, client.bottom, memDC, 0, 0, SRCCOPY);
  }
  if (memDC != nullptr) {
    if (previousBitmap_ != nullptr) SelectObject(memDC, previousBitmap_);
    DeleteDC(memDC);
  }
  bitmap.Reset();
  EndPaint(window, &paintStruct);
}

// ---- TIxFrm ----

TIxFrm::~TIxFrm() {
  // A window that outlives its object must not reach a freed object.
  if (hwnd != nullptr && IsWindow(hwnd)) SetWindowLongPtrW(hwnd, 0, 0);
}

HWND TIxFrm::Create(const wchar_t* className, HWND parentWindow, DWORD style, DWORD exStyle) {
  HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = &TIxFrm::WindowProc;
  windowClass.cbWndExtra = sizeof(LONG_PTR);
  windowClass.hInstance = module;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.lpszClassName = className;
  RegisterClassExW(&windowClass);
  return CreateWindowExW(exStyle, className, nullptr, style, 0, 0, 0, 0, parentWindow, nullptr, module, this);
}

LRESULT CALLBACK TIxFrm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TIxFrm* object = nullptr;
  if (message == WM_NCCREATE) {
    object = static_cast<TIxFrm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    if (object != nullptr) {
      object->hwnd = window;
      SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(object));
    }
  } else {
    object = reinterpret_cast<TIxFrm*>(GetWindowLongPtrW(window, 0));
  }
  if (object != nullptr) {
    LRESULT result = object->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      // The window is gone: unbind, so nothing reaches the object through a stale handle.
      SetWindowLongPtrW(window, 0, 0);
      object->hwnd = nullptr;
    }
    if (result != kNotHandled) return result;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TIxFrm::HandleMessage(UINT, WPARAM, LPARAM) { return kNotHandled; }

// ---- drawing pieces ----

RECT CaptionStripRect(const RECT& client) { return RECT{client.left, client.top, client.right, 30}; }

RECT DefaultCloseBox(const RECT& client) { return RECT{client.right - 20, 10, client.right - 10, 20}; }

RECT CloseHitArea(const RECT& closeBox) {
  return RECT{closeBox.left - 1, closeBox.top - 1, closeBox.right + 1, closeBox.bottom + 1};
}

bool StartsDrag(WPARAM keyFlags, POINT cursor, const RECT& closeHit) {
  return keyFlags == MK_LBUTTON && !PtInRect(&closeHit, cursor);
}

void DrawCloseCross(HDC dc, const RECT& box, COLORREF colour) {
  ScopedGdiObject pen(CreatePen(PS_SOLID, 1, colour));
  ScopedSelectObject select(dc, pen.Get());
  MoveToEx(dc, box.left, box.top, nullptr);
  LineTo(dc, box.right + 1, box.bottom + 1);
  MoveToEx(dc, box.left, box.bottom, nullptr);
  LineTo(dc, box.right + 1, box.top - 1);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
  ScopedGdiObject brush(CreateSolidBrush(colour));
  FillRect(dc, &rect, static_cast<HBRUSH>(brush.Get()));
}

void FrameSolid(HDC dc, const RECT& rect, COLORREF colour) {
  ScopedGdiObject brush(CreateSolidBrush(colour));
  FrameRect(dc, &rect, static_cast<HBRUSH>(brush.Get()));
}

void BlitBitmap(HDC dc, HBITMAP bitmap, int width, int height) {
  if (bitmap == nullptr) return;
  ScopedMemoryDc source(CreateCompatibleDC(dc));
  if (!source) return;
  ScopedSelectObject select(source.Get(), bitmap);
  BitBlt(dc, 0, 0, width, height, source.Get(), 0, 0, SRCCOPY);
}

// ---- TModalWnd ----

POINT TModalWnd::CursorInClient() const {
  POINT cursor{};
  GetCursorPos(&cursor);
  ScreenToClient(hwnd, &cursor);
  return cursor;
}

void TModalWnd::Invalidate() const { InvalidateRect(hwnd, nullptr, FALSE); }

void TModalWnd::BeginDrag(WPARAM wParam, LPARAM lParam) {
  if (StartsDrag(wParam, CursorInClient(), closeRect)) PostMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
}

void TModalWnd::PaintContent(TMemDC&) {}

void TModalWnd::Close() {
  running = false;
  if (hwnd != nullptr) DestroyWindow(hwnd);
}

void TModalWnd::PaintFrame(HDC dc, const RECT& client) const {
  SetBkMode(dc, TRANSPARENT);
  FillSolid(dc, client, RGB(255, 255, 255));
  FrameSolid(dc, client, RGB(70, 70, 70));
  FillSolid(dc, captionRect, RGB(218, 66, 45));
}

void TModalWnd::PaintDefault() {
  TMemDC dc(hwnd);
  if (dc.memDC == nullptr) return;
  const RECT& client = dc.client;
  ScopedSelectObject font(dc.memDC, fontStatus);
  PaintFrame(dc.memDC, client);
  BlitBitmap(dc.memDC, static_cast<HBITMAP>(background.Get()), client.right, client.bottom);
  RECT box = DefaultCloseBox(client);
  DrawCloseCross(dc.memDC, box, closeHover ? RGB(231, 231, 231) : RGB(150, 150, 150));
  closeRect = CloseHitArea(box);
  SetTextColor(dc.memDC, RGB(231, 231, 231));
  DrawTextW(dc.memDC, caption.c_str(), -1, &captionRect, DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER | DT_CENTER);
  PaintContent(dc);
}

LRESULT TModalWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      parent = reinterpret_cast<CREATESTRUCTW*>(lParam)->hwndParent;
      return kNotHandled;
    case WM_NCDESTROY:
      // However the window goes, the owner's loop must not wait on it: clear the flag
      // and wake the loop with a message it drops.
      running = false;
      PostMessageW(nullptr, WM_NULL, 0, 0);
      return kNotHandled;
    case WM_SIZE: {
      RECT client{};
      GetClientRect(hwnd, &client);
      captionRect = CaptionStripRect(client);
      return 0;
    }
    case WM_PAINT:
      PaintDefault();
      return 0;
    case WM_MOUSEMOVE: {
      TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, hwnd, 0};
      TrackMouseEvent(&track);
      POINT cursor = CursorInClient();
      closeHover = PtInRect(&closeRect, cursor) != FALSE;
      Invalidate();
      return 0;
    }
    case WM_LBUTTONDOWN:
      BeginDrag(wParam, lParam);
      return 0;
    case WM_LBUTTONUP: {
      POINT cursor = CursorInClient();
      if (PtInRect(&closeRect, cursor)) Close();
      return 0;
    }
    case WM_MOUSELEAVE:
      closeHover = false;
      Invalidate();
      return 0;
    default:
      return kNotHandled;
  }
}
