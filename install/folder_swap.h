// Puts a staged release in place of the installation folder without losing the old one:
// the old entries wait in "<installDir>old" until every staged file is in place and
// checked, and any failure puts them back. Also the checks made before an installation
// touches anything: links on the way, a file where the folder belongs, and a swap that
// an interrupted run left half done. Paths are GBK byte strings without a trailing
// backslash; the file system is reached only through the wide calls.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The line an installation fails with (step kStepFilesHeld) when the release cannot be
// put in place; the cause is logged before it.
constexpr char kSwapFailureLine[] = "安装失败：文件被占用";

struct SwapFolders {
  std::string installDir;
  std::string stagingDir;
  std::string logDir;  // stays where it is when it lies inside installDir
};
// The folders of the installer context.
SwapFolders CurrentSwapFolders();
// "<installDir>old": a sibling of the installation folder, so on its volume.
std::string AsideFolder(const std::string& installDir);

// True when path is a reparse point: a junction, symbolic link or mount point.
bool IsLink(const std::string& path);
// path itself or the first link found below it (recursively); "" when none or absent.
std::string FindLinkInTree(const std::string& path);
// The first link among the installation folder and its parent, everything inside the
// old installation, the staging folder and the aside folder (with their contents);
// "" when none.
std::string FindLinkOnInstallPaths(const SwapFolders& folders);
// True when the log folder can be created or opened without passing a link or a file.
bool LogFolderIsSafe(const SwapFolders& folders);

// Puts back (no update.ini in the installation folder) or removes (update.ini there) an
// aside folder left by an interrupted run. False with *failure set when it could not.
bool RecoverInterruptedSwap(const SwapFolders& folders, std::string* failure);

// What an installation must do before the log opens, once the user has confirmed: refuse
// when a link is found (nothing touched), remove a plain file standing at the installation
// folder's path, recover an interrupted swap. Returns "" when the installation may go on,
// else the line to log before failing with kStepFilesHeld.
std::string PrepareInstallFolders(const SwapFolders& folders);

// Removes a tree with the wide calls, never entering or removing a link; stops at the
// first entry that cannot go. False with *failure (a log line) set.
bool RemoveTreeWithoutLinks(const std::wstring& path, std::string* failure);

// Copies a file or a folder tree: every file (hidden and system ones too) and every folder
// (empty ones too), overwriting; stops at the first error. Each file or folder it creates
// is appended to *created, in order. False with *failure (a log line) set.
bool CopyTree(const std::wstring& from, const std::wstring& to, std::vector<std::wstring>* created,
              std::string* failure);

// A file or folder of a tree, relative to its root.
struct TreeItem {
  std::wstring relative;
  bool folder;
  uint64_t size;
};

// One swap, in two steps the worker logs separately. Every failure writes its line (the
// failing entry and its Win32 error code) to the install log.
class FolderSwap {
 public:
  explicit FolderSwap(const SwapFolders& folders);
  // Lists the staged tree, refuses when the installation volume (if another one) cannot
  // hold it, then moves the old entries (all but the log folder) aside. On false the old
  // installation is as it was.
  bool MoveOldAside();
  // Places the staged entries (update.ini last), checks every staged file with its size,
  // then removes the aside folder. On false the new entries are taken out again and the
  // old ones moved back.
  bool PlaceStaged();

 private:
  struct Placed {
    std::wstring name;
    bool moved;                         // else copied: the paths below were created
    std::vector<std::wstring> created;  // in creation order
  };
  bool CheckPlacedTree();
  void RollBack();

  SwapFolders folders_;
  std::wstring install_;
  std::wstring staging_;
  std::wstring aside_;
  std::wstring keep_;  // the log folder's name inside the installation folder, or ""
  std::vector<TreeItem> staged_;
  std::vector<std::wstring> movedAside_;
  std::vector<Placed> placed_;
};
