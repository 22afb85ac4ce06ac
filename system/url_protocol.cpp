#include "system/url_protocol.h"

#include <windows.h>

#include <string>

#include "base/context.h"
#include "system/failure_log.h"
#include "system/install_log.h"
#include "system/registry.h"
#include "base/scoped.h"
#include "system/session.h"
#include "base/text.h"

namespace {

constexpr size_t kPathBytes = 1024;
constexpr size_t kSettingsPathBytes = 2048;

// The key's path for cause lines; "" names the protocol key itself.
std::string KeyPath(const std::string& protocol, const char* subkey) {
  return "HKEY_CLASSES_ROOT\\" + protocol + (*subkey ? "\\" : "") + subkey;
}

// The step's fixed line, then what the registry said.
bool Fail(const char* line, const char* what, const std::string& subject, LSTATUS status) {
  InstallLog::Write(line);
  LogFailureCause(what, subject, status);
  return false;
}

// Opens the protocol key for writing, creating it first when it does not exist yet.
bool OpenProtocolKey(const std::string& name, ScopedRegKey& key) {
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS) return true;
  LSTATUS status = RegCreateKeyA(HKEY_CLASSES_ROOT, name.c_str(), key.Receive());
  if (status != ERROR_SUCCESS) {
    return Fail("URL Schemes: Create url key Failed", "无法创建注册表项", KeyPath(name, ""), status);
  }
  key.Reset();
  status = RegOpenKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_SET_VALUE, key.Receive());
  if (status != ERROR_SUCCESS) return Fail("URL Schemes: Open url key Failed", "无法打开注册表项", KeyPath(name, ""), status);
  return true;
}

// One step of the tree: a subkey created (createFailed set) and/or a value written
// (setFailed set), each with the fixed line logged when it fails.
struct TreeStep {
  const char* subkey;  // "": the protocol key itself
  const char* createFailed;
  const wchar_t* valueName;  // null: the default value
  const char* setFailed;
  std::string data;
};

// Every step ends the registration at its first failure, after naming it in the log.
bool WriteProtocolTree(const std::string& name, HKEY protocol, const std::string& terminalPath) {
  const TreeStep steps[] = {
      {"", nullptr, L"URL Protocol", "URL Schemes: URL Protocol Setvalue Failed", terminalPath},
      {"", nullptr, nullptr, "URL Schemes: MorvantisProtocol Setvalue Failed", "MorvantisProtocol"},
      {"DefaultIcon", "URL Schemes: Create DefaultIcon key Failed", nullptr, "URL Schemes: DefaultIcon Setvalue Failed",
       terminalPath + ",1"},
      {"shell", "URL Schemes: Create shell key Failed", nullptr, nullptr, ""},
      {"shell\\open", "URL Schemes: Create shellopen key Failed", nullptr, nullptr, ""},
      // The path alone, in quotation marks (the terminal's name has a blank); no URL argument.
      {"shell\\open\\command", "URL Schemes: Create shellopencommand key Failed", nullptr,
       "URL Schemes: shellopencommand Setvalue Failed", "\"" + terminalPath + "\""},
  };
  for (const TreeStep& step : steps) {
    ScopedRegKey created;
    HKEY key = protocol;
    if (step.createFailed != nullptr) {
      const LSTATUS status = RegCreateKeyA(protocol, step.subkey, created.Receive());
      if (status != ERROR_SUCCESS) return Fail(step.createFailed, "无法创建注册表项", KeyPath(name, step.subkey), status);
      key = created.Get();
    }
    if (step.setFailed == nullptr) continue;
    const LSTATUS status = SetRegistryText(key, step.valueName, GbkToWide(step.data, kPathBytes));
    if (status != ERROR_SUCCESS) {
      const std::string value = step.valueName ? WideToGbk(step.valueName, kPathBytes) : "(默认)";
      return Fail(step.setFailed, "无法写入注册表值", KeyPath(name, step.subkey) + "\\" + value, status);
    }
  }
  return true;
}

}  // namespace

void RegisterUrlProtocol() {
  const InstallerContext& context = InstallerContext::Instance();
  InstallLog::Write("URL Schemes: Start");
  const std::string name = "MOrvantis" + context.packageCode;
  ScopedRegKey protocol;
  if (!OpenProtocolKey(name, protocol)) return;
  const std::string terminalPath = CutGbk(context.installDir + "\\" + kTerminalExeName, kPathBytes - 1);
  if (!WriteProtocolTree(name, protocol.Get(), terminalPath)) return;
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
  const int written = WritePrivateProfileStringW(L"morvantis", L"awaredpi", flag ? L"1" : L"0",
                                                 GbkToWide(settings, kSettingsPathBytes).c_str());
  if (!written) LogLastErrorCause("无法写入设置", settings);
  return written;
}
