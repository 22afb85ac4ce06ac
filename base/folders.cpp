#include "base/folders.h"

#include <windows.h>

bool CreateFolders(const std::wstring& path, size_t from, FolderFailure* failure) {
  for (size_t at = path.find(L'\\', from); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    const std::wstring folder = path.substr(0, at + 1);
    if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (CreateDirectoryW(folder.c_str(), nullptr)) continue;
    const DWORD error = GetLastError();
    // Made by someone else meanwhile: it is there now.
    if (error == ERROR_ALREADY_EXISTS && GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (failure != nullptr) {
      failure->folder = folder;
      failure->code = error;
    }
    return false;
  }
  return true;
}
