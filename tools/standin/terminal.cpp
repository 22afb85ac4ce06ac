// Stand-in for the trading terminal that the sample release carries as
// "morvantis v9.5.exe". It records how it was started and shows the settings the
// installer wrote, so tests and people can see both.
//
// Each start appends one UTF-8 line to %TEMP%\morvantis-standin-launches.txt:
//   pid=<id>\tcwd=<current folder>\tcmdline=<full command line>
// (the command line comes last; CR and LF in it become blanks). The window, titled with
// the program's own file name without ".exe", shows "package" from
// config\morvantis.Default.pub and "language" and "awaredpi" from
// config\morvantis.Default.pri (section "morvantis", next to the program) in the static
// control kInfoControlId, one "name: value" per line. MORVANTIS_STANDIN_EXIT_MS=<n>
// makes it close itself after n ms.
#include <windows.h>

#include <cwchar>
#include <string>

#include "module_path.h"

namespace {

constexpr int kInfoControlId = 100;
constexpr UINT_PTR kExitTimerId = 1;
constexpr wchar_t kWindowClass[] = L"MorvantisStandinTerminal";

std::wstring TitleFromPath(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".exe") == 0) name.resize(name.size() - 4);
  return name;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t buffer[32768];
  DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
  return length > 0 && length < 32768 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring CurrentFolder() {
  wchar_t buffer[32768];
  DWORD length = GetCurrentDirectoryW(32768, buffer);
  return length > 0 && length < 32768 ? std::wstring(buffer, length) : std::wstring();
}

// One write per line, in append mode, so starts that overlap do not mix their lines.
void RecordLaunch() {
  std::wstring folder = EnvironmentValue(L"TEMP");
  if (folder.empty()) {
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    folder.assign(buffer, length);
  }
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  std::wstring commandLine = GetCommandLineW();
  for (wchar_t& c : commandLine) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  std::string line = "pid=" + std::to_string(GetCurrentProcessId()) + "\tcwd=" + ToUtf8(CurrentFolder()) +
                     "\tcmdline=" + ToUtf8(commandLine) + "\n";
  HANDLE file = CreateFileW((folder + L"\\morvantis-standin-launches.txt").c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring Setting(const std::wstring& file, const wchar_t* key) {
  wchar_t value[1024] = {};
  GetPrivateProfileStringW(L"morvantis", key, L"", value, 1024, file.c_str());
  return value[0] ? std::wstring(value) : std::wstring(L"(not set)");
}

std::wstring DescribeSettings(const std::wstring& folder) {
  std::wstring pub = folder + L"\\config\\morvantis.Default.pub";
  std::wstring pri = folder + L"\\config\\morvantis.Default.pri";
  return L"package: " + Setting(pub, L"package") + L"\r\nlanguage: " + Setting(pri, L"language") +
         L"\r\nawaredpi: " + Setting(pri, L"awaredpi") + L"\r\nfolder: " + CurrentFolder() +
         L"\r\ncommand line: " + GetCommandLineW();
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kExitTimerId) DestroyWindow(window);
      return 0;
    case WM_CTLCOLORSTATIC:  // the text sits on the window's own background
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  RecordLaunch();
  std::wstring modulePath = ModulePath();

  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassW(&windowClass);

  HWND window = CreateWindowExW(0, kWindowClass, TitleFromPath(modulePath).c_str(), WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 560, 220, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  RECT client = {};
  GetClientRect(window, &client);
  HWND info = CreateWindowExW(0, L"STATIC", DescribeSettings(FolderOf(modulePath)).c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT,
                              12, 12, client.right - 24, client.bottom - 24, window,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kInfoControlId)), instance, nullptr);
  SendMessageW(info, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);

  // Anything but a plain number of milliseconds is ignored: the terminal then stays.
  std::wstring exitAfter = EnvironmentValue(L"MORVANTIS_STANDIN_EXIT_MS");
  if (!exitAfter.empty() && exitAfter.size() <= 9 && exitAfter.find_first_not_of(L"0123456789") == std::wstring::npos)
    SetTimer(window, kExitTimerId, static_cast<UINT>(wcstoul(exitAfter.c_str(), nullptr, 10)), nullptr);

  ShowWindow(window, showCommand);
  UpdateWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
