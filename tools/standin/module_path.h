// Where a stand-in program lies: both find their files next to themselves.
#pragma once
#include <windows.h>

#include <string>

inline std::wstring ModulePath() {
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path;
}

// The folder part of a path, without the final separator; "" when there is none.
inline std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}
