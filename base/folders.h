// Creating the folders above a path, for every part of the installer that writes below
// a folder that may not be there yet. Wide: the callers decide how their paths are spelled.
#pragma once
#include <cstddef>
#include <string>

// The folder that could not be created (with its final backslash) and the Win32 error.
struct FolderFailure {
  std::wstring folder;
  unsigned long code = 0;
};

// Creates, top down, the folder named by path up to each backslash at or after from,
// with that backslash: "C:\a\b\f.txt" makes "C:\a\" and "C:\a\b\"; what follows the last
// backslash is not a folder. A prefix the system finds already is left as it is; a file
// named like a folder is not found with the backslash and so fails. False at the first
// folder that cannot be created, which failure (when given) receives.
bool CreateFolders(const std::wstring& path, size_t from, FolderFailure* failure);
