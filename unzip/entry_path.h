// Where a zip entry goes: the checks of its (decoded) name and the path it is written
// to under the target folder. Portable C++ (the Windows case folding aside) so that it
// is fuzzed natively together with the reader.
#pragma once
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

enum class EntryVerdict {
  kFile,            // write the entry's data to the path
  kFolder,          // create the path as a folder
  kUnsafeName,      // outside the target folder, a device, or not decodable
  kTooLong,         // the path does not fit the 260-place buffers
  kFolderWithData,  // marked as a folder but has data, which would be dropped
};

struct ZipEntryName {
  std::wstring name;       // decoded from UTF-8 or the code page; empty when it cannot be
  size_t codePageBytes;    // bytes of a code-page name; 0 for a UTF-8 name
  uint32_t externalAttributes;
  uint64_t uncompressedSize;
};

// True for a name Windows maps to a device in every folder, with any extension.
bool IsDeviceName(const std::wstring& component);
// A name (backslashes only) that stays inside the target folder.
bool IsSafeEntryName(const std::wstring& name);

// Decides where the entry goes under folder (wide; folderBytes: its code-page length).
// path receives the full path for kFile and kFolder.
EntryVerdict PlanEntryPath(const std::wstring& folder, size_t folderBytes, const ZipEntryName& entry,
                           std::wstring* path);

// The names already unpacked from one archive, compared as Windows compares file
// names: without letter case, "." components, doubled separators or the trailing dots
// and spaces it drops.
class EntryNameSet {
 public:
  // False when the name is already there.
  bool Add(const std::wstring& name);
  void Clear() { names_.clear(); }

 private:
  std::set<std::wstring> names_;
};
