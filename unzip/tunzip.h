// Unpacks one zip package into a folder, entry by entry, asking the user what to do
// with files that cannot be written.
#pragma once
#include "unzip/unzip.h"

class TUnzip {
 public:
  TUnzip();
  virtual ~TUnzip();
  TUnzip(const TUnzip&) = delete;
  TUnzip& operator=(const TUnzip&) = delete;

  // Opens archivePath, extracts every entry into targetFolder, closes it.
  static bool ExtractArchive(const char* archivePath, const char* targetFolder);
  bool OpenArchive(const char* archivePath);
  void CloseArchive();
  bool ExtractAll(const char* targetFolder);
  bool ExtractCurrentEntry(const char* targetFolder);

  unzFile archiveHandle = nullptr;
  char archiveFolder[261] = {};
};

// Creates the folders of path from its second component on.
bool EnsureDirectoryPath(const char* path);
