#include "support/shell_support.h"

#include <sddl.h>

#include <cwchar>

#include "support/test_support.h"
#include "base/scoped.h"
#include "base/text.h"

namespace testing_support {

RegistryText ReadRegistryText(HKEY root, const std::string& key, const wchar_t* valueName) {
  RegistryText result;
  ScopedRegKey handle;
  if (RegOpenKeyExW(root, GbkToWide(key, 2048).c_str(), 0, KEY_READ, handle.Receive()) != ERROR_SUCCESS) return result;
  DWORD type = 0;
  wchar_t buffer[4096] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  if (RegQueryValueExW(handle.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return result;
  }
  result.found = true;
  result.text = buffer;
  return result;
}

std::vector<std::wstring> RegistryValueNames(HKEY root, const std::string& key) {
  std::vector<std::wstring> names;
  ScopedRegKey handle;
  if (RegOpenKeyExW(root, GbkToWide(key, 2048).c_str(), 0, KEY_READ, handle.Receive()) != ERROR_SUCCESS) return names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[512];
    DWORD length = 512;
    if (RegEnumValueW(handle.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

bool RegistryKeyExists(HKEY root, const std::string& key) {
  ScopedRegKey handle;
  return RegOpenKeyExW(root, GbkToWide(key, 2048).c_str(), 0, KEY_READ, handle.Receive()) == ERROR_SUCCESS;
}

void DeleteRegistryTree(HKEY root, const std::string& key) { RegDeleteTreeW(root, GbkToWide(key, 2048).c_str()); }

RegistryAccessDenied::RegistryAccessDenied(HKEY root, const std::string& key, REGSAM denied) : root_(root), key_(key) {
  ScopedRegKey handle;
  if (RegCreateKeyExW(root, GbkToWide(key, 2048).c_str(), 0, nullptr, 0, READ_CONTROL | WRITE_DAC, nullptr,
                      handle.Receive(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  DWORD size = 0;
  RegGetKeySecurity(handle.Get(), DACL_SECURITY_INFORMATION, nullptr, &size);
  saved_.resize(size);
  if (size == 0 || RegGetKeySecurity(handle.Get(), DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS) {
    return;
  }
  wchar_t rules[64];
  swprintf(rules, 64, L"D:(D;;0x%lx;;;WD)(A;;KA;;;WD)", static_cast<unsigned long>(denied));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(rules, SDDL_REVISION_1, &descriptor, nullptr)) return;
  applied_ = RegSetKeySecurity(handle.Get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
  LocalFree(descriptor);
}

RegistryAccessDenied::~RegistryAccessDenied() {
  if (!applied_) return;
  ScopedRegKey handle;
  if (RegOpenKeyExW(root_, GbkToWide(key_, 2048).c_str(), 0, WRITE_DAC, handle.Receive()) == ERROR_SUCCESS) {
    RegSetKeySecurity(handle.Get(), DACL_SECURITY_INFORMATION, saved_.data());
  }
}

ShellFolderRedirected::ShellFolderRedirected(HKEY root, const wchar_t* valueName, const wchar_t* path)
    : root_(root), valueName_(valueName) {
  for (Saved& value : saved_) {
    value.found = RegGetValueW(root, value.key, valueName, RRF_RT_ANY | RRF_NOEXPAND, &value.type, value.data,
                               &value.size) == ERROR_SUCCESS;
  }
  RegSetKeyValueW(root, saved_[0].key, valueName, REG_EXPAND_SZ, path,
                  static_cast<DWORD>((wcslen(path) + 1) * sizeof(wchar_t)));
}

ShellFolderRedirected::~ShellFolderRedirected() {
  for (const Saved& value : saved_) {
    if (value.found) RegSetKeyValueW(root_, value.key, valueName_, value.type, value.data, value.size);
  }
}

void EnsureUninstallParentKeys() {
  ScopedRegKey handle;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallParent64, 0, nullptr, 0, KEY_READ, nullptr, handle.Receive(), nullptr);
}

std::vector<std::string> ReadLogMessages(const std::string& logDir) {
  std::vector<std::string> messages;
  std::vector<std::string> files = ListFilesRecursive(logDir);
  if (files.size() != 1) return messages;
  std::string content = ReadFileBytes(logDir + "\\" + files.front());
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find("\r\n", start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    size_t tabs = line.find("]\t\t");
    messages.push_back(tabs == std::string::npos ? line : line.substr(tabs + 3));
    start = end + 2;
  }
  return messages;
}

}  // namespace testing_support
