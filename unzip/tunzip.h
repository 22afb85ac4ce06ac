// Unpacks one zip package into a folder, entry by entry, asking the user what to do
// with files that cannot be written.
#pragma once
#include <cstdint>
#include <functional>

#include "unzip/entry_path.h"
#include "unzip/unzip.h"

class TUnzip {
 public:
  TUnzip();
  virtual ~TUnzip();
  TUnzip(const TUnzip&) = delete;
  TUnzip& operator=(const TUnzip&) = delete;

  // Opens archivePath, extracts every entry into targetFolder, closes it. roomFor, when
  // given, is asked with the archive's declared total first; false fails the archive.
  static bool ExtractArchive(const char* archivePath, const char* targetFolder,
                             const std::function<bool(uint64_t declaredTotal)>& roomFor = nullptr);
  bool OpenArchive(const char* archivePath);
  void CloseArchive();
  // Bytes the open archive's entries declare together; 0 when none is open.
  uint64_t DeclaredTotal() const;
  bool ExtractAll(const char* targetFolder);
  bool ExtractCurrentEntry(const char* targetFolder);

  unzFile archiveHandle = nullptr;
  char archiveFolder[261] = {};

 private:
  EntryNameSet extractedNames_;  // of the open archive: a second entry of a name fails
};

// Creates the folders of path from its second component on.
bool EnsureDirectoryPath(const char* path);
