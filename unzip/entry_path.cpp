#include "unzip/entry_path.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cwctype>
#endif

namespace {
constexpr size_t kPathBufferSize = 260;  // with the terminator
constexpr uint32_t kFolderAttribute = 0x10;  // the MS-DOS directory bit

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring Upper(std::wstring text) {
#ifdef _WIN32
  if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
#else
  for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(static_cast<wint_t>(c)));
#endif
  return text;
}

bool IsDeviceDigit(wchar_t c) {
  // Windows also takes the superscript digits one to three as port numbers.
  return (c >= L'1' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3';
}
}  // namespace

bool IsDeviceName(const std::wstring& component) {
  std::wstring base = component.substr(0, component.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  if (base.size() < 3 || base.size() > 7) return false;
  base = Upper(base);
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
      base == L"CONOUT$")
    return true;
  return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
         IsDeviceDigit(base[3]);
}

// Not rooted, no drive or stream colon, no parent component (Windows also treats ".. "
// and "..." as one, since it drops trailing dots and spaces), no device name.
bool IsSafeEntryName(const std::wstring& name) {
  if (name.empty() || name[0] == L'\\' || name.find(L':') != std::wstring::npos) return false;
  size_t start = 0;
  while (start < name.size()) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) end = name.size();
    std::wstring component = name.substr(start, end - start);
    if (!component.empty() && component != L"." && component.find_first_not_of(L". ") == std::wstring::npos)
      return false;
    if (IsDeviceName(component)) return false;
    start = end + 1;
  }
  return true;
}

EntryVerdict PlanEntryPath(const std::wstring& folder, size_t folderBytes, const ZipEntryName& entry,
                           std::wstring* path) {
  std::wstring name = entry.name;
  for (wchar_t& c : name) {
    if (c == L'/') c = L'\\';
  }
  if (!IsSafeEntryName(name)) return EntryVerdict::kUnsafeName;
  // Many tools mark folders only by the final slash, without the attribute bit. The
  // slash is looked for in the decoded name: a code-page character may end in 0x5C.
  const bool folderEntry = (entry.externalAttributes & kFolderAttribute) != 0 || name.back() == L'\\';
  if (folderEntry && entry.uncompressedSize > 0) return EntryVerdict::kFolderWithData;

  const bool separated = !folder.empty() && IsSeparator(folder.back());
  // Both the code-page path and its wide form must fit their 260-place buffers.
  if (entry.codePageBytes > 0 && folderBytes + (separated ? 0 : 1) + entry.codePageBytes >= kPathBufferSize)
    return EntryVerdict::kTooLong;
  std::wstring full = folder + (separated ? L"" : L"\\") + name;
  if (full.size() >= kPathBufferSize) return EntryVerdict::kTooLong;
  *path = full;
  return folderEntry ? EntryVerdict::kFolder : EntryVerdict::kFile;
}

bool EntryNameSet::Add(const std::wstring& name) {
  std::wstring key;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    std::wstring component = name.substr(start, end - start);
    while (!component.empty() && (component.back() == L'.' || component.back() == L' ')) component.pop_back();
    if (!component.empty()) key += (key.empty() ? L"" : L"\\") + component;
    start = end + 1;
  }
  return names_.insert(Upper(key)).second;
}
