#include "app/modal_loop.h"

#include <vector>

std::wstring ExtendedSearchPath(const std::wstring& path, const std::optional<std::wstring>& systemRoot) {
  if (!systemRoot) return path;
  std::wstring result = path;
  if (!result.empty() && result.back() != L';') result += L';';
  // The system folder takes at most 1023 units, like the fixed conversion buffer.
  std::wstring folder = (*systemRoot + L"\\system32;").substr(0, 1023);
  return result + folder;
}

void FixProcessSearchPath() {
  std::vector<wchar_t> buffer(65536, L'\0');
  DWORD length = GetEnvironmentVariableW(L"path", buffer.data(), static_cast<DWORD>(buffer.size()));
  std::wstring path = length < buffer.size() ? std::wstring(buffer.data(), length) : std::wstring();
  std::optional<std::wstring> systemRoot;
  std::vector<wchar_t> root(32768, L'\0');
  DWORD rootLength = GetEnvironmentVariableW(L"SystemRoot", root.data(), static_cast<DWORD>(root.size()));
  if (rootLength > 0 && rootLength < root.size()) systemRoot = std::wstring(root.data(), rootLength);
  if (!systemRoot) return;
  SetEnvironmentVariableW(L"Path", ExtendedSearchPath(path, systemRoot).c_str());
}

LoopAction ClassifyLoopMessage(const MSG& message, HWND dialog) {
  if (message.message == WM_SYSCOMMAND && message.wParam == SC_CLOSE && message.lParam == 0) {
    return LoopAction::KeyboardClose;
  }
  if (message.message >= WM_USER || message.message == WM_PAINT) return LoopAction::Dispatch;
  if (message.hwnd == nullptr || dialog == nullptr) return LoopAction::Drop;
  HWND window = message.hwnd;
  for (int level = 0; level <= 3 && window != nullptr; ++level) {
    if (window == dialog) return LoopAction::Dispatch;
    window = GetParent(window);
  }
  return LoopAction::Drop;
}
