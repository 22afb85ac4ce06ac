// Unpacks one zip package into a folder, entry by entry, asking the user what to do
// with files that cannot be written.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "base/folders.h"
#include "unzip/entry_path.h"
#include "unzip/unzip.h"

// Why an extraction failed, recorded where it failed so that the installer can log it.
struct UnzipFailure {
  const char* reason = nullptr;  // short, GBK; nullptr when nothing was recorded
  long code = 0;      // the Win32 error where a system call failed, else the reader's UNZ_*
                      // (or zlib) code, or the EntryVerdict's number for a refused name
  std::string entry;  // the entry's name as stored (GBK); "" when no entry was involved
  std::string path;   // the file or folder on disk that failed, when there is one (GBK)
};

class TUnzip {
 public:
  TUnzip();
  virtual ~TUnzip();
  TUnzip(const TUnzip&) = delete;
  TUnzip& operator=(const TUnzip&) = delete;

  // Opens archivePath, extracts every entry into targetFolder, closes it. roomFor, when
  // given, is asked with the archive's declared total first; false fails the archive and
  // records nothing (roomFor speaks for itself). failure, when given, receives the cause.
  static bool ExtractArchive(const char* archivePath, const char* targetFolder,
                             const std::function<bool(uint64_t declaredTotal)>& roomFor = nullptr,
                             UnzipFailure* failure = nullptr);
  bool OpenArchive(const char* archivePath);
  void CloseArchive();
  // Bytes the open archive's entries declare together; 0 when none is open.
  uint64_t DeclaredTotal() const;
  bool ExtractAll(const char* targetFolder);
  bool ExtractCurrentEntry(const char* targetFolder);
  // Why OpenArchive, ExtractAll or ExtractCurrentEntry failed last.
  const UnzipFailure& Failure() const { return failure_; }

  unzFile archiveHandle = nullptr;
  char archiveFolder[261] = {};

 private:
  // Records the cause (with the current entry) and returns false.
  bool Fail(const char* reason, long code, const std::string& path = std::string());
  bool FailFolder(const FolderFailure& folder);

  EntryNameSet extractedNames_;  // of the open archive: a second entry of a name fails
  std::string currentEntry_;     // GBK, for the failure record
  UnzipFailure failure_;
};

// Creates the folders of path from its second component on.
bool EnsureDirectoryPath(const char* path);
