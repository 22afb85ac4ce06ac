#include "system/url_protocol.h"

#include <windows.h>

#include <string>

#include "base/context.h"
#include "system/install_log.h"
#include "system/registry.h"
#include "base/scoped.h"
#include "system/session.h"
#include "base/text.h"

namespace {

constexpr size_t kPathBytes = 1024;
constexpr size_t kSettingsPathBytes = 2048;

bool SetText(HKEY key, const wchar_t* name, const std::string& data) {
  return SetRegistryText(key, name, GbkToWide(data, kPathBytes));
}

bool CreateSubkey(HKEY parent, const char* name, ScopedRegKey& key) {
  return RegCreateKeyA(parent, name, key.Receive()) == ERROR_SUCCESS;
}

// Opens the protocol key for writing, creating it first when it does not exist yet.
bool OpenProtocolKey(const std::string& name, ScopedRegKey& key) {
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS) return true;
  if (!CreateSubkey(HKEY_CLASSES_ROOT, name.c_str(), key)) {
    InstallLog::Write("URL Schemes: Create url key Failed");
    return false;
  }
  key.Reset();
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS) {
    InstallLog::Write("URL Schemes: Open url key Failed");
    return false;
  }
  return true;
}

// Every step ends the registration at its first failure, after naming it in the log.
bool WriteProtocolTree(HKEY protocol, const std::string& terminalPath) {
  auto fail = [](const char* line) {
    InstallLog::Write(line);
    return false;
  };
  if (!SetText(protocol, L"URL Protocol", terminalPath)) return fail("URL Schemes: URL Protocol Setvalue Failed");
  if (!SetText(protocol, nullptr, "MorvantisProtocol")) return fail("URL Schemes: MorvantisProtocol Setvalue Failed");
  {
    ScopedRegKey icon;
    if (!CreateSubkey(protocol, "DefaultIcon", icon)) return fail("URL Schemes: Create DefaultIcon key Failed");
    if (!SetText(icon.Get(), nullptr, terminalPath + ",1")) return fail("URL Schemes: DefaultIcon Setvalue Failed");
  }
  {
    ScopedRegKey shell;
    if (!CreateSubkey(protocol, "shell", shell)) return fail("URL Schemes: Create shell key Failed");
  }
  {
    ScopedRegKey open;
    if (!CreateSubkey(protocol, "shell\\open", open)) return fail("URL Schemes: Create shellopen key Failed");
  }
  ScopedRegKey command;
  if (!CreateSubkey(protocol, "shell\\open\\command", command)) return fail("URL Schemes: Create shellopencommand key Failed");
  // The path alone, in quotation marks (the terminal's name has a blank); no URL argument.
  if (!SetText(command.Get(), nullptr, "\"" + terminalPath + "\"")) return fail("URL Schemes: shellopencommand Setvalue Failed");
  return true;
}

}  // namespace

void RegisterUrlProtocol() {
  const InstallerContext& context = InstallerContext::Instance();
  InstallLog::Write("URL Schemes: Start");
  ScopedRegKey protocol;
  if (!OpenProtocolKey("MOrvantis" + context.packageCode, protocol)) return;
  const std::string terminalPath = CutGbk(context.installDir + "\\" + kTerminalExeName, kPathBytes - 1);
  if (!WriteProtocolTree(protocol.Get(), terminalPath)) return;
  protocol.Reset();
  InstallLog::Write("URL Schemes: Finish");
}

int DpiAwareFlag(unsigned horizontalDpi) { return horizontalDpi % 96 == 0 && horizontalDpi / 96 > 1 ? 1 : 0; }

int WriteDpiAwareSetting() {
  // Kept loaded until the process ends: the awareness it sets lasts as long.
  HMODULE shcore = LoadLibraryExW(L"SHCore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (shcore == nullptr) return 0;
  using SetAwarenessFn = HRESULT(WINAPI*)(int);
  using GetDpiFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  auto setAwareness = reinterpret_cast<SetAwarenessFn>(reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness")));
  auto getDpi = reinterpret_cast<GetDpiFn>(reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));

  int flag = 0;
  if (setAwareness != nullptr && getDpi != nullptr) {
    constexpr int kPerMonitorAware = 2;
    constexpr int kEffectiveDpi = 0;
    setAwareness(kPerMonitorAware);
    UINT horizontal = 96;
    UINT vertical = 96;
    // A failed query leaves 96, which counts as no whole-number scaling.
    getDpi(MonitorFromWindow(GetDesktopWindow(), MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &horizontal, &vertical);
    flag = DpiAwareFlag(horizontal);
  }
  const std::string settings =
      FormatBounded(kSettingsPathBytes, "%s/config/morvantis.Default.pri", InstallerContext::Instance().installDir.c_str());
  // Through the wide call for the same reason as the registry values.
  return WritePrivateProfileStringW(L"morvantis", L"awaredpi", flag ? L"1" : L"0",
                                    GbkToWide(settings, kSettingsPathBytes).c_str());
}
