// A small zip reader with the classic unzip calls and result codes, over zlib's raw
// inflate and crc32. Portable C++ (no Windows header) so that it also builds natively,
// where it is fuzzed. Sizes, offsets and counts come from the archive and are checked
// against the file before they are used; Zip64 archives are read; encrypted entries and
// methods other than stored and deflated are refused.
#pragma once
#include <cstddef>
#include <cstdint>

typedef void* unzFile;

#define UNZ_OK 0
#define UNZ_END_OF_LIST_OF_FILE (-100)
#define UNZ_ERRNO (-1)
#define UNZ_EOF 0
#define UNZ_PARAMERROR (-102)
#define UNZ_BADZIPFILE (-103)
#define UNZ_INTERNALERROR (-104)
#define UNZ_CRCERROR (-105)

// The general-purpose flag bits the reader and its callers look at.
#define UNZ_FLAG_ENCRYPTED 0x0001u
#define UNZ_FLAG_DATA_DESCRIPTOR 0x0008u
#define UNZ_FLAG_UTF8 0x0800u

struct tm_unz {
  uint32_t tm_sec;   // 0-59
  uint32_t tm_min;   // 0-59
  uint32_t tm_hour;  // 0-23
  uint32_t tm_mday;  // 1-31
  uint32_t tm_mon;   // 0-11
  uint32_t tm_year;  // e.g. 2005
};

struct unz_global_info {
  uint64_t number_entry;  // entries in the central directory
  uint32_t size_comment;  // bytes of the archive comment
};

struct unz_file_info {
  uint32_t version;             // version made by
  uint32_t version_needed;
  uint32_t flag;                // general-purpose bit flags
  uint32_t compression_method;  // 0 stored, 8 deflated
  uint32_t dosDate;             // date in the high 16 bits, time in the low 16 bits
  uint32_t crc;
  uint64_t compressed_size;     // Zip64 values where the archive has them
  uint64_t uncompressed_size;
  uint32_t size_filename;
  uint32_t size_file_extra;
  uint32_t size_file_comment;
  uint32_t disk_num_start;
  uint32_t internal_fa;
  uint32_t external_fa;
  tm_unz tmu_date;
};

// Opens an archive file for reading (byte mode); null if it is missing or not a zip, if
// a local header disagrees with its central entry, or if two entries share bytes.
unzFile unzOpen(const char* path);
#ifdef _WIN32
// The same, for a UTF-16 path (any name, whatever the ANSI code page).
unzFile unzOpenWide(const wchar_t* path);
#endif
// Reads an archive held in memory; the bytes must outlive the handle.
unzFile unzOpenMemory(const void* data, size_t size);
int unzClose(unzFile file);
int unzGetGlobalInfo(unzFile file, unz_global_info* info);
// The sum of the uncompressed sizes the entries declare (at most UINT64_MAX): what
// unpacking the whole archive writes, checked against the data as it is read.
int unzGetDeclaredTotal(unzFile file, uint64_t* total);

int unzGoToFirstFile(unzFile file);
// UNZ_END_OF_LIST_OF_FILE after the last entry; UNZ_BADZIPFILE if the next header is damaged.
int unzGoToNextFile(unzFile file);

// Describes the current entry. The name and comment are copied up to their buffer
// sizes and NUL-terminated only when they fit, as with the classic reader.
int unzGetCurrentFileInfo(unzFile file, unz_file_info* info, char* fileName, size_t fileNameBufferSize,
                          void* extraField, size_t extraFieldBufferSize, char* comment, size_t commentBufferSize);

int unzOpenCurrentFile(unzFile file);
// Bytes read (at most len), 0 at the end of the entry, or a negative error;
// UNZ_BADZIPFILE when the data would go on past the declared size.
int unzReadCurrentFile(unzFile file, void* buffer, unsigned len);
// UNZ_CRCERROR if the entry was read to its end and its size or CRC-32 do not match.
int unzCloseCurrentFile(unzFile file);
