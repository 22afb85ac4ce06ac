// Reading back what the shell registration leaves behind: registry values and the
// messages of an install log.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// A REG_SZ value read through the wide interface; found is false when the key or the
// value is missing or is not a string.
struct RegistryText {
  bool found = false;
  std::wstring text;
};
RegistryText ReadRegistryText(HKEY root, const std::string& key, const wchar_t* valueName);
// Value names of a key in the order the registry enumerates them.
std::vector<std::wstring> RegistryValueNames(HKEY root, const std::string& key);
bool RegistryKeyExists(HKEY root, const std::string& key);
void DeleteRegistryTree(HKEY root, const std::string& key);

// Refuses everyone the access `denied` to a key (created when missing) until the object
// ends, when the key's own security comes back: a registry call can be made to fail for
// real. Wine checks key access against the key's DACL as Windows does.
class RegistryAccessDenied {
 public:
  RegistryAccessDenied(HKEY root, const std::string& key, REGSAM denied);
  ~RegistryAccessDenied();
  RegistryAccessDenied(const RegistryAccessDenied&) = delete;
  RegistryAccessDenied& operator=(const RegistryAccessDenied&) = delete;
  bool Applied() const { return applied_; }

 private:
  HKEY root_;
  std::string key_;
  std::vector<unsigned char> saved_;
  bool applied_ = false;
};

// Points one of the shell's folders (valueName under root's "User Shell Folders") at path
// until the object ends; a path on a drive that does not exist makes the shell fail to
// name it. The shell records what it resolved under "Shell Folders": both values come back.
class ShellFolderRedirected {
 public:
  ShellFolderRedirected(HKEY root, const wchar_t* valueName, const wchar_t* path);
  ~ShellFolderRedirected();
  ShellFolderRedirected(const ShellFolderRedirected&) = delete;
  ShellFolderRedirected& operator=(const ShellFolderRedirected&) = delete;

 private:
  struct Saved {
    const wchar_t* key;
    bool found = false;
    DWORD type = 0;
    wchar_t data[1024] = {};
    DWORD size = sizeof(data);
  };
  HKEY root_;
  const wchar_t* valueName_;
  Saved saved_[2] = {{L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"},
                     {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"}};
};

// x64 Windows always has the 32-bit view's uninstall list; a 64-bit-only Wine prefix
// does not, so tests that register the product create it first.
void EnsureUninstallParentKeys();
constexpr char kUninstallParent64[] = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The messages of the single install.log in logDir, time stamps and line ends removed.
std::vector<std::string> ReadLogMessages(const std::string& logDir);

}  // namespace testing_support
