// Small owners for Win32 handles, registry keys, GDI objects and COM pointers, so that
// nothing leaks on an early return. None of them can be copied; all can be moved.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <utility>

template <typename Traits>
class Scoped {
 public:
  using Value = typename Traits::Value;
  Scoped() = default;
  explicit Scoped(Value value) : value_(value) {}
  ~Scoped() { Reset(); }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  Scoped(Scoped&& other) noexcept : value_(other.Release()) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Value Get() const { return value_; }
  bool Valid() const { return Traits::IsValid(value_); }
  explicit operator bool() const { return Valid(); }
  // For functions that return the value through a pointer argument.
  Value* Receive() {
    Reset();
    return &value_;
  }
  Value Release() { return std::exchange(value_, Traits::Invalid()); }
  // Keeps the last error: an early return's scoped handles close after the failing call
  // and before its caller reads GetLastError.
  void Reset(Value value = Traits::Invalid()) {
    if (Traits::IsValid(value_)) {
      DWORD error = GetLastError();
      Traits::Close(value_);
      SetLastError(error);
    }
    value_ = value;
  }

 private:
  Value value_ = Traits::Invalid();
};

struct HandleTraits {  // kernel handles where 0 means none (processes, threads, tokens)
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value v) { return v != nullptr && v != INVALID_HANDLE_VALUE; }
  static void Close(Value v) { CloseHandle(v); }
};
struct FileHandleTraits : HandleTraits {  // CreateFile and snapshots return INVALID_HANDLE_VALUE
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
};
struct RegKeyTraits {
  using Value = HKEY;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value v) { return v != nullptr; }
  static void Close(Value v) { RegCloseKey(v); }
};
struct GdiObjectTraits {
  using Value = HGDIOBJ;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value v) { return v != nullptr; }
  static void Close(Value v) { DeleteObject(v); }
};
struct MemoryDcTraits {
  using Value = HDC;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value v) { return v != nullptr; }
  static void Close(Value v) { DeleteDC(v); }
};
struct ModuleTraits {
  using Value = HMODULE;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value v) { return v != nullptr; }
  static void Close(Value v) { FreeLibrary(v); }
};

using ScopedHandle = Scoped<HandleTraits>;
using ScopedFileHandle = Scoped<FileHandleTraits>;
using ScopedRegKey = Scoped<RegKeyTraits>;
using ScopedGdiObject = Scoped<GdiObjectTraits>;
using ScopedMemoryDc = Scoped<MemoryDcTraits>;
using ScopedModule = Scoped<ModuleTraits>;

// Selects a GDI object into a device context and puts the previous one back.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~ScopedSelectObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A COM interface pointer released when it goes out of scope.
template <typename Interface>
class ScopedComPtr {
 public:
  ScopedComPtr() = default;
  ~ScopedComPtr() { Reset(); }
  ScopedComPtr(const ScopedComPtr&) = delete;
  ScopedComPtr& operator=(const ScopedComPtr&) = delete;
  Interface* Get() const { return ptr_; }
  Interface* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  Interface** Receive() {
    Reset();
    return &ptr_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  void Reset() {
    if (ptr_ != nullptr) {
      DWORD error = GetLastError();
      ptr_->Release();
      SetLastError(error);
    }
    ptr_ = nullptr;
  }

 private:
  Interface* ptr_ = nullptr;
};

// COM initialised apartment-threaded on the constructing thread for the object's life;
// balanced only when it succeeded (a thread already in another apartment keeps it).
class ScopedComApartment {
 public:
  ScopedComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ScopedComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ScopedComApartment(const ScopedComApartment&) = delete;
  ScopedComApartment& operator=(const ScopedComApartment&) = delete;
  bool Initialized() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};
