#include "install/folder_swap.h"

#include <windows.h>

#include <algorithm>
#include <unordered_map>

#include "base/context.h"
#include "system/failure_log.h"
#include "system/free_space.h"
#include "system/install_log.h"
#include "base/scoped.h"
#include "base/text.h"

namespace {
constexpr wchar_t kVersionRecord[] = L"update.ini";

struct FindHandleTraits : FileHandleTraits {
  static void Close(Value v) { FindClose(v); }
};
using ScopedFind = Scoped<FindHandleTraits>;

std::wstring Wide(const std::string& gbk) { return GbkToWide(gbk, 4096); }
std::string Gbk(const std::wstring& wide) { return WideToGbk(wide, 4096); }
std::wstring Join(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }
bool SameName(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

bool IsLinkAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
bool IsFolderAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
bool IsAbsent(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// "C:\a\b" -> "C:\a"; a drive's root keeps its backslash ("C:" alone names a current folder).
std::wstring ParentOf(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return std::wstring();
  std::wstring parent = path.substr(0, cut);
  if (parent.size() == 2 && parent[1] == L':') parent.push_back(L'\\');
  return parent;
}

struct Listed {
  std::wstring name;
  DWORD attributes;
  uint64_t size;
};
// A folder's entries, "." and ".." aside. False with *error when it cannot be listed.
bool ListFolder(const std::wstring& folder, std::vector<Listed>* entries, DWORD* error) {
  entries->clear();
  WIN32_FIND_DATAW data;
  ScopedFind find(FindFirstFileExW(Join(folder, L"*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH));
  if (!find) {
    *error = GetLastError();
    return *error == ERROR_FILE_NOT_FOUND;  // a folder with no entries at all
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    entries->push_back({name, data.dwFileAttributes, (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow});
  } while (FindNextFileW(find.Get(), &data));
  *error = GetLastError();
  return *error == ERROR_NO_MORE_FILES;
}

// The version record goes aside first and is placed last: its presence in the
// installation folder then tells a later run that the new release is complete.
void OrderVersionRecord(std::vector<std::wstring>* names, bool first) {
  auto record = std::find_if(names->begin(), names->end(), [](const std::wstring& n) { return SameName(n, kVersionRecord); });
  if (record == names->end()) return;
  std::wstring name = *record;
  names->erase(record);
  if (first) names->insert(names->begin(), name);
  else names->push_back(name);
}

std::vector<std::wstring> NamesIn(const std::vector<Listed>& entries, const std::wstring& skip) {
  std::vector<std::wstring> names;
  for (const Listed& entry : entries) {
    if (skip.empty() || !SameName(entry.name, skip)) names.push_back(entry.name);
  }
  return names;
}

std::wstring FindLinkIn(const std::wstring& path, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::wstring();
  if (IsLinkAttributes(attributes)) return path;
  if (!IsFolderAttributes(attributes)) return std::wstring();
  std::vector<Listed> entries;
  DWORD error = 0;
  ListFolder(path, &entries, &error);
  for (const Listed& entry : entries) {
    std::wstring found = FindLinkIn(Join(path, entry.name), entry.attributes);
    if (!found.empty()) return found;
  }
  return std::wstring();
}

bool RemoveEntry(const std::wstring& path, DWORD attributes, std::string* failure) {
  if (IsLinkAttributes(attributes)) {
    // Removing a link on Wine removes what it points to; it is never ours to remove.
    *failure = FailureCause("链接不予删除", path, ERROR_CANT_ACCESS_FILE);
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (IsFolderAttributes(attributes)) {
    std::vector<Listed> entries;
    DWORD error = 0;
    if (!ListFolder(path, &entries, &error)) {
      *failure = FailureCause("无法列出文件夹", path, error);
      return false;
    }
    for (const Listed& entry : entries) {
      if (!RemoveEntry(Join(path, entry.name), entry.attributes, failure)) return false;
    }
    if (RemoveDirectoryW(path.c_str())) return true;
  } else if (DeleteFileW(path.c_str())) {
    return true;
  }
  const DWORD error = GetLastError();
  *failure = FailureCause("删除失败", path, error);
  return false;
}

// fresh: the target folder was just created, so nothing below it exists yet.
bool CopyEntry(const std::wstring& from, const std::wstring& to, DWORD attributes, bool fresh,
               std::vector<std::wstring>* created, std::string* failure) {
  if (IsLinkAttributes(attributes)) {
    *failure = FailureCause("链接不予复制", from, ERROR_CANT_ACCESS_FILE);
    return false;
  }
  const DWORD target = fresh ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(to.c_str());
  if (IsFolderAttributes(attributes)) {
    bool made = false;
    if (target == INVALID_FILE_ATTRIBUTES) {
      if (!CreateDirectoryW(to.c_str(), nullptr)) {
        *failure = FailureCause("创建文件夹失败", to, GetLastError());
        return false;
      }
      created->push_back(to);
      made = true;
    } else if (!IsFolderAttributes(target) || IsLinkAttributes(target)) {
      *failure = FailureCause("复制失败", to, ERROR_ALREADY_EXISTS);
      return false;
    }
    std::vector<Listed> entries;
    DWORD error = 0;
    if (!ListFolder(from, &entries, &error)) {
      *failure = FailureCause("无法列出文件夹", from, error);
      return false;
    }
    for (const Listed& entry : entries) {
      if (!CopyEntry(Join(from, entry.name), Join(to, entry.name), entry.attributes, made, created, failure)) return false;
    }
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (kept != 0) SetFileAttributesW(to.c_str(), kept);
    return true;
  }
  if (target == INVALID_FILE_ATTRIBUTES) {
    created->push_back(to);  // also when the copy fails half way
  } else if (target & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
    SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);  // else overwriting is refused
  }
  if (CopyFileW(from.c_str(), to.c_str(), FALSE)) return true;
  *failure = FailureCause("复制失败", from, GetLastError());
  return false;
}

bool ListTree(const std::wstring& root, const std::wstring& relative, std::vector<TreeItem>* items, std::string* failure) {
  const std::wstring folder = relative.empty() ? root : Join(root, relative);
  std::vector<Listed> entries;
  DWORD error = 0;
  if (!ListFolder(folder, &entries, &error)) {
    *failure = FailureCause("无法列出文件夹", folder, error);
    return false;
  }
  for (const Listed& entry : entries) {
    const std::wstring child = relative.empty() ? entry.name : Join(relative, entry.name);
    if (IsLinkAttributes(entry.attributes)) {
      *failure = FailureCause("发现链接", Join(root, child), ERROR_CANT_ACCESS_FILE);
      return false;
    }
    const bool folderEntry = IsFolderAttributes(entry.attributes);
    items->push_back({child, folderEntry, folderEntry ? 0 : entry.size});
    if (folderEntry && !ListTree(root, child, items, failure)) return false;
  }
  return true;
}

std::wstring VolumeOf(const std::wstring& path) {
  wchar_t volume[MAX_PATH] = {};
  if (!GetVolumePathNameW(path.c_str(), volume, MAX_PATH)) return std::wstring();
  return volume;
}

// The staged tree's files as the target volume allocates them.
uint64_t BytesNeeded(const std::vector<TreeItem>& items, const std::wstring& targetVolume) {
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  uint64_t unit = 1;
  if (GetDiskFreeSpaceW(targetVolume.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) &&
      sectorsPerCluster * bytesPerSector > 0) {
    unit = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
  }
  uint64_t total = 0;
  for (const TreeItem& item : items) total += (item.size + unit - 1) / unit * unit;
  return total;
}

// The log folder's name when it lies directly inside the installation folder, else "".
std::wstring KeptName(const SwapFolders& folders) {
  const std::string prefix = folders.installDir + "\\";
  if (folders.logDir.size() <= prefix.size() || _strnicmp(folders.logDir.c_str(), prefix.c_str(), prefix.size()) != 0) {
    return std::wstring();
  }
  const std::string rest = folders.logDir.substr(prefix.size());
  return rest.find('\\') == std::string::npos ? Wide(rest) : std::wstring();
}

void Log(const std::string& line) { InstallLog::Write(line.c_str()); }
}  // namespace

SwapFolders CurrentSwapFolders() {
  const InstallerContext& context = InstallerContext::Instance();
  return SwapFolders{context.installDir, context.tempDir, context.logDir};
}

std::string AsideFolder(const std::string& installDir) { return installDir + "old"; }

bool IsLink(const std::string& path) { return IsLinkAttributes(GetFileAttributesW(Wide(path).c_str())); }

std::string FindLinkInTree(const std::string& path) {
  const std::wstring wide = Wide(path);
  return Gbk(FindLinkIn(wide, GetFileAttributesW(wide.c_str())));
}

std::string FindLinkOnInstallPaths(const SwapFolders& folders) {
  // The chosen parent folder is the user's to choose, link or not (Wine's own desktop
  // and documents folders are links); what the installer creates below it is checked.
  for (const std::string& tree : {folders.installDir, folders.stagingDir, AsideFolder(folders.installDir)}) {
    std::string found = FindLinkInTree(tree);
    if (!found.empty()) return found;
  }
  return std::string();
}

bool LogFolderIsSafe(const SwapFolders& folders) {
  const std::wstring top = ParentOf(Wide(folders.installDir));
  const bool inside = !top.empty() && folders.logDir.size() > folders.installDir.size() &&
                      _strnicmp(folders.logDir.c_str(), folders.installDir.c_str(), folders.installDir.size()) == 0;
  std::wstring path = Wide(folders.logDir);
  // From the log folder up to the installation folder (or just one level up for a log
  // folder elsewhere): what exists must be a plain folder.
  for (int level = 0; !path.empty(); ++level) {
    if (inside && SameName(path, top)) break;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (IsLinkAttributes(attributes) || !IsFolderAttributes(attributes))) {
      return false;
    }
    if (inside ? SameName(path, top) : level >= 1) break;
    path = ParentOf(path);
  }
  return true;
}

bool RemoveTreeWithoutLinks(const std::wstring& path, std::string* failure) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (IsAbsent(error)) return true;
    *failure = FailureCause("删除失败", path, error);
    return false;
  }
  return RemoveEntry(path, attributes, failure);
}

bool CopyTree(const std::wstring& from, const std::wstring& to, std::vector<std::wstring>* created, std::string* failure) {
  const DWORD attributes = GetFileAttributesW(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *failure = FailureCause("复制失败", from, GetLastError());
    return false;
  }
  return CopyEntry(from, to, attributes, false, created, failure);
}

bool RecoverInterruptedSwap(const SwapFolders& folders, std::string* failure) {
  const std::wstring install = Wide(folders.installDir);
  const std::wstring aside = Wide(AsideFolder(folders.installDir));
  const DWORD asideAttributes = GetFileAttributesW(aside.c_str());
  if (asideAttributes == INVALID_FILE_ATTRIBUTES) return true;
  if (IsLinkAttributes(asideAttributes) || !IsFolderAttributes(asideAttributes)) {
    *failure = FailureCause("无法恢复上次中断的安装", aside, ERROR_DIRECTORY);
    return false;
  }
  const DWORD record = GetFileAttributesW(Join(install, kVersionRecord).c_str());
  if (record != INVALID_FILE_ATTRIBUTES && !IsFolderAttributes(record)) {
    // The new release was complete: what waited aside is the old one.
    return RemoveTreeWithoutLinks(aside, failure);
  }
  const DWORD installAttributes = GetFileAttributesW(install.c_str());
  if (installAttributes == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(install.c_str(), nullptr)) {
    *failure = FailureCause("创建文件夹失败", install, GetLastError());
    return false;
  }
  std::vector<Listed> entries;
  DWORD error = 0;
  if (!ListFolder(aside, &entries, &error)) {
    *failure = FailureCause("无法列出文件夹", aside, error);
    return false;
  }
  const std::wstring keep = KeptName(folders);
  std::vector<std::wstring> names = NamesIn(entries, std::wstring());
  OrderVersionRecord(&names, false);
  for (const std::wstring& name : names) {
    const std::wstring target = Join(install, name);
    // A same-named entry in the installation folder is a part of the new release placed
    // before the interruption: everything old had gone aside before anything was placed.
    if (!keep.empty() && SameName(name, keep)) {
      *failure = FailureCause("无法恢复上次中断的安装", target, ERROR_ALREADY_EXISTS);
      return false;
    }
    if (!RemoveTreeWithoutLinks(target, failure)) return false;
    if (!MoveFileExW(Join(aside, name).c_str(), target.c_str(), 0)) {
      *failure = FailureCause("无法恢复上次中断的安装", Join(aside, name), GetLastError());
      return false;
    }
  }
  if (!RemoveDirectoryW(aside.c_str())) {
    *failure = FailureCause("删除失败", aside, GetLastError());
    return false;
  }
  return true;
}

std::string PrepareInstallFolders(const SwapFolders& folders) {
  const std::string link = FindLinkOnInstallPaths(folders);
  if (!link.empty()) return "发现链接，安装未做任何改动：" + link;
  const std::wstring install = Wide(folders.installDir);
  const DWORD attributes = GetFileAttributesW(install.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !IsFolderAttributes(attributes)) {
    // A plain file where the folder belongs would fail every later run.
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(install.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(install.c_str())) return FailureCause("无法删除安装目录位置上的文件", install, GetLastError());
  }
  std::string failure;
  if (!RecoverInterruptedSwap(folders, &failure)) return failure;
  return std::string();
}

FolderSwap::FolderSwap(const SwapFolders& folders)
    : folders_(folders),
      install_(Wide(folders.installDir)),
      staging_(Wide(folders.stagingDir)),
      aside_(Wide(AsideFolder(folders.installDir))),
      keep_(KeptName(folders)) {}

bool FolderSwap::MoveOldAside() {
  std::string failure;
  if (!RecoverInterruptedSwap(folders_, &failure)) {
    Log(failure);
    return false;
  }
  staged_.clear();
  if (!ListTree(staging_, std::wstring(), &staged_, &failure)) {
    Log(failure);
    return false;
  }
  // A staged release always holds its version record.
  if (staged_.empty()) {
    Log(FailureCause("暂存文件夹为空", staging_, ERROR_NO_MORE_FILES));
    return false;
  }
  const DWORD attributes = GetFileAttributesW(install_.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (!CreateDirectoryW(install_.c_str(), nullptr)) {
      Log(FailureCause("创建文件夹失败", install_, GetLastError()));
      return false;
    }
  } else if (!IsFolderAttributes(attributes) || IsLinkAttributes(attributes)) {
    Log(FailureCause("安装目录不是文件夹", install_, ERROR_DIRECTORY));
    return false;
  }
  // Across volumes the release is copied while the old one still waits aside on the
  // installation volume: refuse now if both cannot fit, before anything is moved.
  const std::wstring targetVolume = VolumeOf(install_);
  const std::wstring stagingVolume = VolumeOf(staging_);
  if ((targetVolume.empty() || !SameName(targetVolume, stagingVolume)) &&
      !EnsureFreeSpace(folders_.installDir, BytesNeeded(staged_, targetVolume))) {
    return false;
  }
  std::vector<Listed> entries;
  DWORD error = 0;
  if (!ListFolder(install_, &entries, &error)) {
    Log(FailureCause("无法列出文件夹", install_, error));
    return false;
  }
  if (!CreateDirectoryW(aside_.c_str(), nullptr)) {
    Log(FailureCause("创建文件夹失败", aside_, GetLastError()));
    return false;
  }
  std::vector<std::wstring> names = NamesIn(entries, keep_);
  OrderVersionRecord(&names, true);
  for (const std::wstring& name : names) {
    if (!MoveFileExW(Join(install_, name).c_str(), Join(aside_, name).c_str(), 0)) {
      Log(FailureCause("移动失败", Join(install_, name), GetLastError()));
      RollBack();
      return false;
    }
    movedAside_.push_back(name);
  }
  return true;
}

bool FolderSwap::PlaceStaged() {
  std::vector<std::wstring> names;
  for (const TreeItem& item : staged_) {
    if (item.relative.find(L'\\') == std::wstring::npos) names.push_back(item.relative);
  }
  OrderVersionRecord(&names, false);
  for (const std::wstring& name : names) {
    const std::wstring from = Join(staging_, name);
    const std::wstring to = Join(install_, name);
    const DWORD target = GetFileAttributesW(to.c_str());
    if (target == INVALID_FILE_ATTRIBUTES && MoveFileExW(from.c_str(), to.c_str(), 0)) {
      placed_.push_back({name, true, {}});
      continue;
    }
    const DWORD error = target == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_ALREADY_EXISTS;
    // Another volume, or a package's own log folder meeting the open one: copy, merging
    // into the log folder.
    const bool intoLogFolder = !keep_.empty() && SameName(name, keep_) && IsFolderAttributes(target) && !IsLinkAttributes(target);
    if (error != ERROR_NOT_SAME_DEVICE && !intoLogFolder) {
      Log(FailureCause("移动失败", from, error));
      RollBack();
      return false;
    }
    placed_.push_back({name, false, {}});
    std::string failure;
    if (!CopyTree(from, to, &placed_.back().created, &failure)) {
      Log(failure);
      RollBack();
      return false;
    }
  }
  if (!CheckPlacedTree()) {
    RollBack();
    return false;
  }
  movedAside_.clear();
  placed_.clear();
  // The new release is in place and checked; an aside folder left over here is removed by
  // the next run.
  std::string failure;
  if (!RemoveTreeWithoutLinks(aside_, &failure)) Log(failure);
  return true;
}

bool FolderSwap::CheckPlacedTree() {
  std::vector<TreeItem> placedItems;
  std::string failure;
  if (!ListTree(install_, std::wstring(), &placedItems, &failure)) {
    Log(failure);
    return false;
  }
  std::unordered_map<std::wstring, const TreeItem*> byPath;
  for (const TreeItem& item : placedItems) byPath[item.relative] = &item;
  for (const TreeItem& item : staged_) {
    auto found = byPath.find(item.relative);
    if (found == byPath.end() || found->second->folder != item.folder || found->second->size != item.size) {
      Log(FormatBounded(2048, "文件校验失败：%s (应为 %llu 字节)", Gbk(Join(install_, item.relative)).c_str(),
                        static_cast<unsigned long long>(item.size)));
      return false;
    }
  }
  return true;
}

void FolderSwap::RollBack() {
  bool whole = true;
  std::string failure;
  for (auto placed = placed_.rbegin(); placed != placed_.rend(); ++placed) {
    const std::wstring path = Join(install_, placed->name);
    if (placed->moved) {
      if (MoveFileExW(path.c_str(), Join(staging_, placed->name).c_str(), 0)) continue;
      Log(FailureCause("移动失败", path, GetLastError()));
      if (!RemoveTreeWithoutLinks(path, &failure)) {
        Log(failure);
        whole = false;
      }
      continue;
    }
    for (auto created = placed->created.rbegin(); created != placed->created.rend(); ++created) {
      const DWORD attributes = GetFileAttributesW(created->c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) continue;
      if (!RemoveEntry(*created, attributes, &failure)) {
        Log(failure);
        whole = false;
      }
    }
  }
  placed_.clear();
  for (auto name = movedAside_.rbegin(); name != movedAside_.rend(); ++name) {
    if (!MoveFileExW(Join(aside_, *name).c_str(), Join(install_, *name).c_str(), 0)) {
      Log(FailureCause("恢复失败", Join(aside_, *name), GetLastError()));
      whole = false;
    }
  }
  movedAside_.clear();
  if (whole && !RemoveDirectoryW(aside_.c_str())) {
    Log(FailureCause("删除失败", aside_, GetLastError()));
    whole = false;
  }
  if (whole) {
    Log("原安装目录已恢复");
  } else {
    // What is still aside is moved back by the next run.
    Log(FormatBounded(2048, "原安装目录未能完全恢复，其余文件在：%s", Gbk(aside_).c_str()));
  }
}
