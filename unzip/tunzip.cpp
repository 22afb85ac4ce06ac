#include "unzip/tunzip.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/folders.h"
#include "base/scoped.h"
#include "base/text.h"
#include "unzip/entry_path.h"
#include "unzip/unzip_box.h"

namespace {

constexpr size_t kPathBufferSize = MAX_PATH;  // 260 bytes (or units) with the terminator
constexpr size_t kNameBufferSize = MAX_PATH + 1;
constexpr size_t kCommentBufferSize = 256;
constexpr size_t kPromptBufferSize = 1024;
// Writes go to the system in pieces of up to 4 MiB: many small writes cost far more than
// few large ones for the same bytes. Never more than this is held, whatever the entry.
constexpr uint64_t kMaxWriteSize = 4u << 20;
constexpr uint64_t kMinWriteSize = 64u << 10;
constexpr char kOverwritePrompt[] = "无法覆盖文件\"%s\",该文件可能正被使用!\n是否终止升级?";
constexpr char kOverwriteTitle[] = "警告";

// The current entry while it is extracted.
struct UnzipEntryInfo {
  char name[kNameBufferSize];
  char comment[kCommentBufferSize];
  uint32_t versionMadeBy;
  uint32_t versionNeeded;
  uint32_t flags;
  uint32_t compressionMethod;
  uint32_t dosDateTime;
  uint32_t crc;
  uint64_t compressedSize;
  uint64_t uncompressedSize;
  uint32_t internalAttributes;
  uint32_t externalAttributes;
  bool isFolder;
};

// Creates the folders of path from its second component on. What stands at path already,
// folder or file, counts as there: writing below a file fails later, at the prompt.
bool EnsureDirectoryPathWide(std::wstring path, FolderFailure* failure) {
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  // The components rejoined with one backslash after each; empty ones drop out.
  std::wstring joined;
  size_t afterFirst = 0;
  size_t count = 0;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    if (end > start) {
      joined += path.substr(start, end - start) + L'\\';
      if (++count == 1) afterFirst = joined.size();
    }
    start = end + 1;
  }
  if (count < 2) return true;
  // Most calls name a folder that is there already: one look instead of a walk.
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  // A file is not found with a separator after it.
  joined.pop_back();
  if (GetFileAttributesW(joined.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  // The first component is the drive (or a relative root) and is never created.
  joined += L'\\';
  return CreateFolders(joined, afterFirst, failure);
}

// Asks whether to give up on a file that cannot be written, naming the entry as it
// lands on disk. Names that code page 936 cannot show go through the wide box.
int AskOverwrite(const std::wstring& displayName) {
  std::string gbkName = WideToGbk(displayName, kPromptBufferSize);
  if (GbkToWide(gbkName, kPromptBufferSize) == displayName) {
    std::string text = FormatBounded(kPromptBufferSize, kOverwritePrompt, gbkName.c_str());
    return ShowUnzipBoxA(text.c_str(), kOverwriteTitle, MB_ABORTRETRYIGNORE);
  }
  std::wstring format = GbkToWide(kOverwritePrompt, kPromptBufferSize);
  size_t slot = format.find(L"%s");
  std::wstring text = format.substr(0, slot) + displayName + format.substr(slot + 2);
  if (text.size() > kPromptBufferSize - 1) text.resize(kPromptBufferSize - 1);
  return ShowUnzipBoxW(text.c_str(), GbkToWide(kOverwriteTitle).c_str(), MB_ABORTRETRYIGNORE);
}

// Gives the file the entry's stamp (local time) as creation and last-write time, on the
// handle that wrote it; last access is left as it is. A failure leaves the times alone.
void RestoreFileTime(HANDLE file, uint32_t dosDateTime) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local)) return;
  if (!LocalFileTimeToFileTime(&local, &utc)) return;
  SetFileTime(file, &utc, nullptr, &utc);
}

// Writes the open entry into the file; false on a read or write error, with its reason
// and code. The buffer fits the size the entry declares, within bounds: the declaration
// is not trusted.
bool CopyEntryData(unzFile archive, HANDLE output, uint64_t declaredSize, const char** reason, long* code) {
  std::vector<char> buffer(static_cast<size_t>(std::min(std::max(declaredSize, kMinWriteSize), kMaxWriteSize)));
  const unsigned capacity = static_cast<unsigned>(buffer.size());
  int got;
  while ((got = unzReadCurrentFile(archive, buffer.data(), capacity)) > 0) {
    DWORD written = 0;
    const bool wrote = WriteFile(output, buffer.data(), static_cast<DWORD>(got), &written, nullptr) != FALSE;
    if (wrote && written == static_cast<DWORD>(got)) continue;
    *code = wrote ? ERROR_WRITE_FAULT : static_cast<long>(GetLastError());
    *reason = "写入文件失败";
    return false;
  }
  if (got == 0) return true;
  *code = got;
  *reason = "读取或解压数据出错";
  return false;
}

const char* VerdictReason(EntryVerdict verdict) {
  switch (verdict) {
    case EntryVerdict::kTooLong:
      return "路径过长";
    case EntryVerdict::kFolderWithData:
      return "文件夹项带有数据";
    default:
      return "文件名不安全";  // outside the target, a device, or not decodable
  }
}

bool EnsureDirectoryPath(const char* path, FolderFailure* failure) {
  if (!path) return false;
  size_t length = strlen(path);
  if (length >= kPathBufferSize) {
    failure->folder = GbkToWide(path, 32768);
    failure->code = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  if (length == 0) return true;
  return EnsureDirectoryPathWide(GbkToWide(path, kPathBufferSize), failure);
}
}  // namespace

bool EnsureDirectoryPath(const char* path) {
  FolderFailure ignored;
  return EnsureDirectoryPath(path, &ignored);
}

bool TUnzip::Fail(const char* reason, long code, const std::string& path) {
  failure_.reason = reason;
  failure_.code = code;
  failure_.entry = currentEntry_;
  failure_.path = path;
  return false;
}

bool TUnzip::FailFolder(const FolderFailure& folder) {
  return Fail("创建文件夹失败", static_cast<long>(folder.code), WideToGbk(folder.folder, 32768));
}

TUnzip::TUnzip() { CloseArchive(); }

TUnzip::~TUnzip() { CloseArchive(); }

bool TUnzip::ExtractArchive(const char* archivePath, const char* targetFolder,
                            const std::function<bool(uint64_t declaredTotal)>& roomFor, UnzipFailure* failure) {
  TUnzip unzip;
  bool extracted = false;
  // Nothing may escape to the install worker; the package simply failed. The handlers
  // allocate nothing.
  try {
    extracted = unzip.OpenArchive(archivePath) && (!roomFor || roomFor(unzip.DeclaredTotal())) &&
                unzip.ExtractAll(targetFolder);
  } catch (const std::bad_alloc&) {
    unzip.failure_.reason = "解压时内存不足";
    unzip.failure_.code = ERROR_NOT_ENOUGH_MEMORY;
    unzip.failure_.entry.swap(unzip.currentEntry_);
  } catch (...) {
    unzip.failure_.reason = "解压时发生异常";
    unzip.failure_.code = ERROR_INTERNAL_ERROR;
    unzip.failure_.entry.swap(unzip.currentEntry_);
  }
  if (failure && !extracted) *failure = std::move(unzip.failure_);
  return extracted;
}

bool TUnzip::OpenArchive(const char* archivePath) {
  CloseArchive();
  failure_ = UnzipFailure();
  currentEntry_.clear();
  if (!archivePath || !*archivePath) return Fail("压缩包路径为空", ERROR_INVALID_PARAMETER);
  // The path is code page 936 bytes like every path of the installer; it is opened
  // through its wide form so that the system's ANSI code page does not matter.
  wchar_t fullPath[kPathBufferSize];
  DWORD length = GetFullPathNameW(GbkToWide(archivePath, 32768).c_str(), kPathBufferSize, fullPath, nullptr);
  if (length == 0) return Fail("无法解析压缩包路径", static_cast<long>(GetLastError()));
  if (length >= kPathBufferSize) return Fail("路径过长", ERROR_FILENAME_EXCED_RANGE);
  std::string fullGbk = WideToGbk(fullPath, 4 * kPathBufferSize);
  if (fullGbk.size() >= kPathBufferSize) return Fail("路径过长", ERROR_FILENAME_EXCED_RANGE);
  archiveHandle = unzOpenWide(fullPath);
  if (!archiveHandle) {
    // The reader does not say why: a file that opens is one that is not a readable zip.
    ScopedFileHandle file(CreateFileW(fullPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Fail("无法打开压缩包", static_cast<long>(GetLastError()));
    return Fail("压缩包已损坏", UNZ_BADZIPFILE);
  }
  // Keep drive and directory with their final backslash; the file name is not kept.
  size_t folderLength = 0;
  for (size_t at = FindGbkSeparator(fullGbk); at != std::string::npos; at = FindGbkSeparator(fullGbk, at + 1)) {
    folderLength = at + 1;
  }
  memcpy(archiveFolder, fullGbk.data(), folderLength);
  archiveFolder[folderLength] = '\0';
  return true;
}

void TUnzip::CloseArchive() {
  if (archiveHandle) {
    unzCloseCurrentFile(archiveHandle);
    unzClose(archiveHandle);
  }
  archiveHandle = nullptr;
  archiveFolder[0] = '\0';
  extractedNames_.Clear();
}

uint64_t TUnzip::DeclaredTotal() const {
  uint64_t total = 0;
  return archiveHandle && unzGetDeclaredTotal(archiveHandle, &total) == UNZ_OK ? total : 0;
}

bool TUnzip::ExtractAll(const char* targetFolder) {
  failure_ = UnzipFailure();
  currentEntry_.clear();
  if (!archiveHandle) return Fail("没有打开的压缩包", ERROR_INVALID_HANDLE);
  if (!targetFolder || !*targetFolder) return Fail("目标文件夹为空", ERROR_INVALID_PARAMETER);
  FolderFailure folder;
  if (!EnsureDirectoryPath(targetFolder, &folder)) return FailFolder(folder);
  unz_global_info global{};
  int result = unzGetGlobalInfo(archiveHandle, &global);
  if (result != UNZ_OK) return Fail("无法读取压缩包目录", result);
  if (global.number_entry == 0) return Fail("压缩包中没有文件", UNZ_END_OF_LIST_OF_FILE);
  result = unzGoToFirstFile(archiveHandle);
  if (result != UNZ_OK) return Fail("无法读取压缩包目录", result);
  extractedNames_.Clear();
  for (;;) {
    if (!ExtractCurrentEntry(targetFolder)) return false;
    // Only the end of the list is success; a damaged header is not an early end.
    int next = unzGoToNextFile(archiveHandle);
    if (next == UNZ_END_OF_LIST_OF_FILE) return true;
    if (next != UNZ_OK) {
      currentEntry_.clear();  // the damaged header names no entry that can be trusted
      return Fail("压缩包目录已损坏", next);
    }
  }
}

bool TUnzip::ExtractCurrentEntry(const char* targetFolder) {
  currentEntry_.clear();
  if (!archiveHandle) return Fail("没有打开的压缩包", ERROR_INVALID_HANDLE);
  std::string folder = targetFolder ? targetFolder : archiveFolder;
  // An empty folder would root every name at the drive.
  if (folder.empty()) return Fail("目标文件夹为空", ERROR_INVALID_PARAMETER);
  FolderFailure folderFailure;
  if (!EnsureDirectoryPath(folder.c_str(), &folderFailure)) return FailFolder(folderFailure);

  UnzipEntryInfo info;
  memset(&info, 0, sizeof(info));
  unz_file_info raw{};
  int result = unzGetCurrentFileInfo(archiveHandle, &raw, info.name, kNameBufferSize - 1, nullptr, 0, info.comment,
                                     kCommentBufferSize - 1);
  if (result != UNZ_OK) return Fail("无法读取压缩项信息", result);
  info.versionMadeBy = raw.version;
  info.versionNeeded = raw.version_needed;
  info.flags = raw.flag;
  info.compressionMethod = raw.compression_method;
  info.dosDateTime = raw.dosDate;
  info.crc = raw.crc;
  info.compressedSize = raw.compressed_size;
  info.uncompressedSize = raw.uncompressed_size;
  info.internalAttributes = raw.internal_fa;
  info.externalAttributes = raw.external_fa;

  // UTF-8 names are flagged; the others are code-page bytes.
  bool utf8 = (info.flags & UNZ_FLAG_UTF8) != 0;
  ZipEntryName entry{utf8 ? Utf8ToWide(info.name, InvalidUtf8::kRefuse) : GbkToWide(info.name, kNameBufferSize),
                     utf8 ? 0 : strlen(info.name), info.externalAttributes, info.uncompressedSize};
  // Named in a failure as GBK; a UTF-8 name that cannot be decoded, by its bytes.
  currentEntry_ = utf8 && !entry.name.empty() ? WideToGbk(entry.name, 4 * kNameBufferSize) : info.name;
  std::wstring path;
  EntryVerdict verdict = PlanEntryPath(GbkToWide(folder, kPathBufferSize * 4), folder.size(), entry, &path);
  if (verdict != EntryVerdict::kFile && verdict != EntryVerdict::kFolder)
    return Fail(VerdictReason(verdict), static_cast<long>(verdict));
  // A second entry of the same name would silently replace the first.
  if (!extractedNames_.Add(entry.name)) return Fail("压缩包中有重复的文件名", ERROR_ALREADY_EXISTS);
  info.isFolder = verdict == EntryVerdict::kFolder;
  if (info.isFolder) return EnsureDirectoryPathWide(path, &folderFailure) || FailFolder(folderFailure);

  size_t lastSeparator = path.find_last_of(L"\\/");
  if (lastSeparator == std::wstring::npos) return Fail("创建文件夹失败", ERROR_BAD_PATHNAME, WideToGbk(path, 32768));
  if (!EnsureDirectoryPathWide(path.substr(0, lastSeparator), &folderFailure)) return FailFolder(folderFailure);

  ScopedFileHandle output;
  for (;;) {
    HANDLE created = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    output.Reset(created);
    if (output) break;
    int answer = AskOverwrite(path.substr(path.size() - entry.name.size()));  // the name with backslashes
    if (answer == IDABORT) return Fail("无法写入文件，已终止", static_cast<long>(error), WideToGbk(path, 32768));
    if (answer == IDIGNORE) return true;
  }

  result = unzOpenCurrentFile(archiveHandle);
  if (result != UNZ_OK) return Fail("无法读取压缩项", result);
  const char* reason = nullptr;
  long code = 0;
  bool copied = CopyEntryData(archiveHandle, output.Get(), info.uncompressedSize, &reason, &code);
  // Stamped before closing: no second open, and no moment where another process could
  // take the file between writing and stamping.
  if (copied) RestoreFileTime(output.Get(), info.dosDateTime);
  output.Reset();
  // A CRC or size mismatch means the file on disk is not the packaged one.
  result = unzCloseCurrentFile(archiveHandle);
  if (!copied) return Fail(reason, code, WideToGbk(path, 32768));
  if (result != UNZ_OK) return Fail("CRC 或大小校验不符", result);
  return true;
}
