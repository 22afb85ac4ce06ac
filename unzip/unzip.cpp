#include "unzip/unzip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kMaxCommentSize = 0xFFFF;
constexpr size_t kInputBufferSize = 64 * 1024;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kFlagStrongEncryption = 0x0040;
// Deflate's best ratio: 258 bytes from a code of two bits, plus block overhead.
constexpr uint64_t kMaxDeflateRatio = 1032;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Le64(const unsigned char* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

// Where the archive's bytes come from. Every read names its offset and length and
// fails unless all of it lies inside the source.
class Source {
 public:
  virtual ~Source() = default;
  uint64_t Size() const { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) {
    if (offset > size_ || length > size_ - offset) return false;
    return length == 0 || Read(offset, buffer, length);
  }

 protected:
  virtual bool Read(uint64_t offset, void* buffer, size_t length) = 0;
  uint64_t size_ = 0;
};

class FileSource : public Source {
 public:
  static std::unique_ptr<FileSource> Open(FILE* file) {
    if (!file) return nullptr;
    std::unique_ptr<FileSource> source(new FileSource(file));
    if (!source->Seek(0, SEEK_END)) return nullptr;
    int64_t size = Tell(file);
    if (size < 0) return nullptr;
    source->size_ = static_cast<uint64_t>(size);
    source->position_ = source->size_;
    return source;
  }
  ~FileSource() override { std::fclose(file_); }

 protected:
  bool Read(uint64_t offset, void* buffer, size_t length) override {
    if (offset != position_ && !Seek(static_cast<int64_t>(offset), SEEK_SET)) return false;
    size_t got = std::fread(buffer, 1, length, file_);
    position_ = offset + got;
    return got == length;
  }

 private:
  explicit FileSource(FILE* file) : file_(file) {}
  bool Seek(int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(file_, offset, origin) == 0;
#else
    return fseeko(file_, static_cast<off_t>(offset), origin) == 0;
#endif
  }
  static int64_t Tell(FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
  }
  FILE* file_;
  uint64_t position_ = 0;
};

class MemorySource : public Source {
 public:
  MemorySource(const void* data, size_t size) : data_(static_cast<const unsigned char*>(data)) { size_ = size; }

 protected:
  bool Read(uint64_t offset, void* buffer, size_t length) override {
    std::memcpy(buffer, data_ + offset, length);
    return true;
  }

 private:
  const unsigned char* data_;
};

// The entry being read between unzOpenCurrentFile and unzCloseCurrentFile.
struct OpenEntry {
  bool inflating = false;
  uint64_t compressedPos = 0;   // absolute offset of the next compressed byte to fetch
  uint64_t compressedLeft = 0;  // compressed bytes not yet fetched
  uint64_t uncompressedLeft = 0;
  uint64_t produced = 0;
  uint32_t crc = 0;
  bool streamEnded = false;
  bool reachedEnd = false;  // a read returned 0: the whole entry was delivered
  int error = UNZ_OK;       // sticky: once broken, every read fails the same way
};

struct Archive {
  std::unique_ptr<Source> source;
  uint64_t bias = 0;  // bytes in front of the archive proper (a stub before it)
  uint64_t entryCount = 0;
  uint64_t centralStart = 0;  // absolute
  uint64_t centralEnd = 0;    // absolute
  uint32_t commentSize = 0;
  uint64_t declaredTotal = 0;  // uncompressed sizes of the listed entries, saturated

  // The entry the archive is positioned on.
  bool positioned = false;
  uint64_t index = 0;
  uint64_t headerPos = 0;
  uint64_t headerSize = 0;
  unz_file_info info{};
  uint64_t localOffset = 0;  // relative to the archive proper
  std::vector<unsigned char> variable;  // name, extra field and comment of the central header

  bool entryOpen = false;
  OpenEntry entry;
  z_stream zstream{};
  bool zstreamReady = false;
  std::vector<unsigned char> input;

  ~Archive() {
    if (zstreamReady) inflateEnd(&zstream);
  }
};

Archive* AsArchive(unzFile file) { return static_cast<Archive*>(file); }

tm_unz DosDateToTm(uint32_t dosDate) {
  tm_unz tm{};
  uint32_t date = dosDate >> 16;
  uint32_t time = dosDate & 0xFFFF;
  tm.tm_sec = (time & 0x1F) * 2;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_hour = time >> 11;
  tm.tm_mday = date & 0x1F;
  uint32_t month = (date >> 5) & 0x0F;
  tm.tm_mon = month > 0 ? month - 1 : 0;
  tm.tm_year = (date >> 9) + 1980;
  return tm;
}

// Fills in the Zip64 values of a central header from its 0x0001 extra block. Only the
// fields whose 32-bit value is saturated are present, in this order.
bool ApplyZip64Extra(const unsigned char* extra, size_t extraSize, uint32_t rawUncompressed, uint32_t rawCompressed,
                     uint32_t rawOffset, unz_file_info* info, uint64_t* localOffset) {
  size_t at = 0;
  while (extraSize - at >= 4) {
    uint16_t id = Le16(extra + at);
    size_t size = Le16(extra + at + 2);
    at += 4;
    if (size > extraSize - at) return false;
    if (id == kZip64ExtraId) {
      const unsigned char* data = extra + at;
      size_t left = size;
      auto take = [&](uint64_t* value) {
        if (left < 8) return false;
        *value = Le64(data);
        data += 8;
        left -= 8;
        return true;
      };
      if (rawUncompressed == 0xFFFFFFFFu && !take(&info->uncompressed_size)) return false;
      if (rawCompressed == 0xFFFFFFFFu && !take(&info->compressed_size)) return false;
      if (rawOffset == 0xFFFFFFFFu && !take(localOffset)) return false;
      return true;
    }
    at += size;
  }
  return true;
}

// Reads the central header at pos and makes it the current entry.
int ReadCentralHeader(Archive* archive, uint64_t pos) {
  archive->positioned = false;
  unsigned char fixed[kCentralHeaderSize];
  if (pos > archive->centralEnd || archive->centralEnd - pos < kCentralHeaderSize) return UNZ_BADZIPFILE;
  if (!archive->source->ReadAt(pos, fixed, sizeof(fixed))) return UNZ_ERRNO;
  if (Le32(fixed) != kCentralHeaderSignature) return UNZ_BADZIPFILE;

  unz_file_info info{};
  info.version = Le16(fixed + 4);
  info.version_needed = Le16(fixed + 6);
  info.flag = Le16(fixed + 8);
  info.compression_method = Le16(fixed + 10);
  info.dosDate = (static_cast<uint32_t>(Le16(fixed + 14)) << 16) | Le16(fixed + 12);
  info.crc = Le32(fixed + 16);
  uint32_t rawCompressed = Le32(fixed + 20);
  uint32_t rawUncompressed = Le32(fixed + 24);
  info.compressed_size = rawCompressed;
  info.uncompressed_size = rawUncompressed;
  info.size_filename = Le16(fixed + 28);
  info.size_file_extra = Le16(fixed + 30);
  info.size_file_comment = Le16(fixed + 32);
  info.disk_num_start = Le16(fixed + 34);
  info.internal_fa = Le16(fixed + 36);
  info.external_fa = Le32(fixed + 38);
  uint32_t rawOffset = Le32(fixed + 42);
  info.tmu_date = DosDateToTm(info.dosDate);

  uint64_t variableSize = static_cast<uint64_t>(info.size_filename) + info.size_file_extra + info.size_file_comment;
  if (archive->centralEnd - pos - kCentralHeaderSize < variableSize) return UNZ_BADZIPFILE;
  archive->variable.resize(static_cast<size_t>(variableSize));
  if (!archive->source->ReadAt(pos + kCentralHeaderSize, archive->variable.data(), archive->variable.size()))
    return UNZ_ERRNO;

  uint64_t localOffset = rawOffset;
  if (!ApplyZip64Extra(archive->variable.data() + info.size_filename, info.size_file_extra, rawUncompressed,
                       rawCompressed, rawOffset, &info, &localOffset))
    return UNZ_BADZIPFILE;
  // The local header and its data lie in front of the central directory.
  uint64_t dataArea = archive->centralStart - archive->bias;
  if (localOffset > dataArea || dataArea - localOffset < kLocalHeaderSize) return UNZ_BADZIPFILE;
  if (info.compressed_size > dataArea - localOffset - kLocalHeaderSize) return UNZ_BADZIPFILE;

  archive->info = info;
  archive->localOffset = localOffset;
  archive->headerPos = pos;
  archive->headerSize = kCentralHeaderSize + variableSize;
  archive->positioned = true;
  return UNZ_OK;
}

// The sizes of a local header's Zip64 extra block (both are present there) replace the
// saturated 32-bit ones; false when a saturated size has no value to replace it.
bool ApplyLocalZip64(const std::vector<unsigned char>& extra, uint64_t* uncompressed, uint64_t* compressed) {
  if (*uncompressed != 0xFFFFFFFFu && *compressed != 0xFFFFFFFFu) return true;
  for (size_t at = 0; extra.size() - at >= 4;) {
    uint16_t id = Le16(&extra[at]);
    size_t size = Le16(&extra[at + 2]);
    at += 4;
    if (size > extra.size() - at) return false;
    if (id == kZip64ExtraId && size >= 16) {
      if (*uncompressed == 0xFFFFFFFFu) *uncompressed = Le64(&extra[at]);
      if (*compressed == 0xFFFFFFFFu) *compressed = Le64(&extra[at + 8]);
      return true;
    }
    at += size;
  }
  return false;
}

// Reads the local header of the current entry and the end of its data. False when the
// header is missing or disagrees with the central entry on name, method or sizes (the
// sizes only where the local header carries them: not behind a data descriptor).
bool LocalHeaderAgrees(Archive* archive, uint64_t* start, uint64_t* end) {
  const unz_file_info& info = archive->info;
  unsigned char local[kLocalHeaderSize];
  const uint64_t localPos = archive->bias + archive->localOffset;
  if (!archive->source->ReadAt(localPos, local, sizeof(local)) || Le32(local) != kLocalHeaderSignature) return false;
  const size_t nameSize = Le16(local + 26);
  std::vector<unsigned char> extra(Le16(local + 28));
  if (Le16(local + 8) != info.compression_method || nameSize != info.size_filename) return false;
  std::vector<unsigned char> name(nameSize);
  if (!archive->source->ReadAt(localPos + kLocalHeaderSize, name.data(), name.size()) ||
      !archive->source->ReadAt(localPos + kLocalHeaderSize + nameSize, extra.data(), extra.size()))
    return false;
  if (nameSize > 0 && std::memcmp(name.data(), archive->variable.data(), nameSize) != 0) return false;
  if (((Le16(local + 6) | info.flag) & UNZ_FLAG_DATA_DESCRIPTOR) == 0) {
    uint64_t compressed = Le32(local + 18), uncompressed = Le32(local + 22);
    if (ApplyLocalZip64(extra, &uncompressed, &compressed) &&
        (compressed != info.compressed_size || uncompressed != info.uncompressed_size))
      return false;
  }
  const uint64_t dataPos = localPos + kLocalHeaderSize + nameSize + extra.size();
  if (dataPos > archive->centralStart || info.compressed_size > archive->centralStart - dataPos) return false;
  *start = localPos;
  *end = dataPos + info.compressed_size;
  return true;
}

// Walks the central directory once: every entry's local header must agree with it and
// no two entries may share a byte of the archive, so that no data is read twice. Adds
// up the declared sizes. A damaged central header ends the walk; the entry walk of the
// caller meets it later.
bool CheckEntries(Archive* archive) {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  uint64_t pos = archive->centralStart;
  for (uint64_t i = 0; i < archive->entryCount; ++i) {
    if (ReadCentralHeader(archive, pos) != UNZ_OK) break;
    pos += archive->headerSize;
    uint64_t start = 0, end = 0;
    if (!LocalHeaderAgrees(archive, &start, &end)) return false;
    ranges.emplace_back(start, end);
    const uint64_t size = archive->info.uncompressed_size;
    archive->declaredTotal = size > UINT64_MAX - archive->declaredTotal ? UINT64_MAX : archive->declaredTotal + size;
  }
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].first < ranges[i - 1].second) return false;
  }
  return true;
}

// Finds the end-of-central-directory record behind a comment of up to 65,535 bytes.
// A record whose comment reaches exactly to the end of the file wins; otherwise the
// last one that fits (some writers leave bytes after the comment).
bool FindEndRecord(Source* source, uint64_t* endPos, unsigned char record[kEndSize]) {
  uint64_t size = source->Size();
  if (size < kEndSize) return false;
  size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, kEndSize + kMaxCommentSize));
  std::vector<unsigned char> tail(tailSize);
  uint64_t tailStart = size - tailSize;
  if (!source->ReadAt(tailStart, tail.data(), tail.size())) return false;
  size_t fallback = SIZE_MAX;
  for (size_t i = tailSize - kEndSize + 1; i-- > 0;) {
    if (Le32(tail.data() + i) != kEndSignature) continue;
    size_t commentEnd = i + kEndSize + Le16(tail.data() + i + 20);
    if (commentEnd == tailSize) {
      fallback = i;
      break;
    }
    if (commentEnd < tailSize && fallback == SIZE_MAX) fallback = i;
  }
  if (fallback == SIZE_MAX) return false;
  std::memcpy(record, tail.data() + fallback, kEndSize);
  *endPos = tailStart + fallback;
  return true;
}

Archive* OpenArchive(std::unique_ptr<Source> source) {
  if (!source) return nullptr;
  unsigned char end[kEndSize];
  uint64_t endPos = 0;
  if (!FindEndRecord(source.get(), &endPos, end)) return nullptr;

  uint32_t disk = Le16(end + 4);
  uint32_t centralDisk = Le16(end + 6);
  uint64_t entriesHere = Le16(end + 8);
  uint64_t entries = Le16(end + 10);
  uint64_t centralSize = Le32(end + 12);
  uint64_t centralOffset = Le32(end + 16);
  uint64_t centralEndActual = endPos;

  unsigned char locator[kZip64LocatorSize];
  if (endPos >= kZip64LocatorSize && source->ReadAt(endPos - kZip64LocatorSize, locator, sizeof(locator)) &&
      Le32(locator) == kZip64LocatorSignature) {
    uint64_t recordPos = Le64(locator + 8);
    unsigned char record[kZip64EndSize];
    if (Le32(locator + 4) != 0 || Le32(locator + 16) > 1) return nullptr;
    if (recordPos > endPos - kZip64LocatorSize || endPos - kZip64LocatorSize - recordPos < kZip64EndSize)
      return nullptr;
    if (!source->ReadAt(recordPos, record, sizeof(record)) || Le32(record) != kZip64EndSignature) return nullptr;
    disk = Le32(record + 16);
    centralDisk = Le32(record + 20);
    entriesHere = Le64(record + 24);
    entries = Le64(record + 32);
    centralSize = Le64(record + 40);
    centralOffset = Le64(record + 48);
    centralEndActual = recordPos;
  }
  // Split archives are not supported.
  if (disk != 0 || centralDisk != 0 || entriesHere != entries) return nullptr;
  if (centralOffset > centralEndActual || centralSize > centralEndActual - centralOffset) return nullptr;
  // Every central header takes at least 46 bytes.
  if (entries > centralSize / kCentralHeaderSize) return nullptr;

  std::unique_ptr<Archive> archive(new Archive);
  archive->bias = centralEndActual - centralOffset - centralSize;
  archive->centralStart = archive->bias + centralOffset;
  archive->centralEnd = archive->centralStart + centralSize;
  archive->entryCount = entries;
  archive->commentSize = Le16(end + 20);
  archive->source = std::move(source);
  if (!CheckEntries(archive.get())) return nullptr;
  // Positioned on the first entry, as the classic reader is after opening.
  if (entries > 0) ReadCentralHeader(archive.get(), archive->centralStart);
  return archive.release();
}

int FailEntry(OpenEntry* entry, int error) {
  entry->error = error;
  return error;
}

int ReadStored(Archive* archive, unsigned char* out, unsigned len) {
  OpenEntry& entry = archive->entry;
  size_t want = static_cast<size_t>(std::min<uint64_t>(len, entry.uncompressedLeft));
  if (!archive->source->ReadAt(entry.compressedPos, out, want)) return FailEntry(&entry, UNZ_ERRNO);
  entry.compressedPos += want;
  entry.compressedLeft -= want;
  return static_cast<int>(want);
}

// Inflates up to len bytes; the caller keeps len within the declared size.
int ReadDeflated(Archive* archive, unsigned char* out, unsigned len) {
  OpenEntry& entry = archive->entry;
  z_stream& z = archive->zstream;
  z.next_out = out;
  z.avail_out = len;
  while (z.avail_out > 0 && !entry.streamEnded) {
    if (z.avail_in == 0 && entry.compressedLeft > 0) {
      size_t fetch = static_cast<size_t>(std::min<uint64_t>(archive->input.size(), entry.compressedLeft));
      if (!archive->source->ReadAt(entry.compressedPos, archive->input.data(), fetch))
        return FailEntry(&entry, UNZ_ERRNO);
      entry.compressedPos += fetch;
      entry.compressedLeft -= fetch;
      z.next_in = archive->input.data();
      z.avail_in = static_cast<uInt>(fetch);
    }
    int result = inflate(&z, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      entry.streamEnded = true;
    } else if (result == Z_BUF_ERROR) {
      // No progress is possible: the compressed data ended before the stream did.
      if (z.avail_in == 0 && entry.compressedLeft == 0) return FailEntry(&entry, Z_DATA_ERROR);
      return FailEntry(&entry, UNZ_INTERNALERROR);
    } else if (result == Z_MEM_ERROR) {
      return FailEntry(&entry, UNZ_INTERNALERROR);
    } else if (result != Z_OK) {
      return FailEntry(&entry, Z_DATA_ERROR);
    }
  }
  return static_cast<int>(static_cast<unsigned char*>(z.next_out) - out);
}

void CloseEntry(Archive* archive) {
  archive->entryOpen = false;
  archive->entry = OpenEntry();
}

}  // namespace

unzFile unzOpen(const char* path) {
  if (!path || !*path) return nullptr;
  return OpenArchive(FileSource::Open(std::fopen(path, "rb")));
}

#ifdef _WIN32
unzFile unzOpenWide(const wchar_t* path) {
  if (!path || !*path) return nullptr;
  return OpenArchive(FileSource::Open(_wfopen(path, L"rb")));
}
#endif

unzFile unzOpenMemory(const void* data, size_t size) {
  if (!data && size != 0) return nullptr;
  return OpenArchive(std::unique_ptr<Source>(new MemorySource(data, size)));
}

int unzClose(unzFile file) {
  if (!file) return UNZ_PARAMERROR;
  delete AsArchive(file);
  return UNZ_OK;
}

int unzGetGlobalInfo(unzFile file, unz_global_info* info) {
  if (!file || !info) return UNZ_PARAMERROR;
  info->number_entry = AsArchive(file)->entryCount;
  info->size_comment = AsArchive(file)->commentSize;
  return UNZ_OK;
}

int unzGetDeclaredTotal(unzFile file, uint64_t* total) {
  if (!file || !total) return UNZ_PARAMERROR;
  *total = AsArchive(file)->declaredTotal;
  return UNZ_OK;
}

int unzGoToFirstFile(unzFile file) {
  if (!file) return UNZ_PARAMERROR;
  Archive* archive = AsArchive(file);
  CloseEntry(archive);
  archive->index = 0;
  if (archive->entryCount == 0) {
    archive->positioned = false;
    return UNZ_END_OF_LIST_OF_FILE;
  }
  return ReadCentralHeader(archive, archive->centralStart);
}

int unzGoToNextFile(unzFile file) {
  if (!file) return UNZ_PARAMERROR;
  Archive* archive = AsArchive(file);
  if (!archive->positioned || archive->index + 1 >= archive->entryCount) return UNZ_END_OF_LIST_OF_FILE;
  CloseEntry(archive);
  archive->index++;
  return ReadCentralHeader(archive, archive->headerPos + archive->headerSize);
}

int unzGetCurrentFileInfo(unzFile file, unz_file_info* info, char* fileName, size_t fileNameBufferSize,
                          void* extraField, size_t extraFieldBufferSize, char* comment, size_t commentBufferSize) {
  if (!file) return UNZ_PARAMERROR;
  Archive* archive = AsArchive(file);
  if (!archive->positioned) return UNZ_PARAMERROR;
  const unz_file_info& current = archive->info;
  if (info) *info = current;
  const unsigned char* name = archive->variable.data();
  const unsigned char* extra = name + current.size_filename;
  const unsigned char* text = extra + current.size_file_extra;
  auto copyOut = [](void* out, size_t outSize, const unsigned char* from, size_t fromSize, bool terminate) {
    if (!out || outSize == 0) return;
    size_t n = std::min(outSize, fromSize);
    if (n) std::memcpy(out, from, n);
    if (terminate && fromSize < outSize) static_cast<char*>(out)[fromSize] = '\0';
  };
  copyOut(fileName, fileNameBufferSize, name, current.size_filename, true);
  copyOut(extraField, extraFieldBufferSize, extra, current.size_file_extra, false);
  copyOut(comment, commentBufferSize, text, current.size_file_comment, true);
  return UNZ_OK;
}

int unzOpenCurrentFile(unzFile file) {
  if (!file) return UNZ_PARAMERROR;
  Archive* archive = AsArchive(file);
  if (!archive->positioned) return UNZ_PARAMERROR;
  CloseEntry(archive);
  const unz_file_info& info = archive->info;
  if (info.flag & (UNZ_FLAG_ENCRYPTED | kFlagStrongEncryption)) return UNZ_BADZIPFILE;
  if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) return UNZ_BADZIPFILE;
  // Declared sizes the method cannot produce from the bytes present.
  if (info.compression_method == 0 && info.compressed_size != info.uncompressed_size) return UNZ_BADZIPFILE;
  if (info.compression_method == Z_DEFLATED &&
      (info.uncompressed_size + (kMaxDeflateRatio - 1)) / kMaxDeflateRatio > info.compressed_size)
    return UNZ_BADZIPFILE;

  unsigned char local[kLocalHeaderSize];
  uint64_t localPos = archive->bias + archive->localOffset;
  if (!archive->source->ReadAt(localPos, local, sizeof(local))) return UNZ_ERRNO;
  if (Le32(local) != kLocalHeaderSignature) return UNZ_BADZIPFILE;
  if (Le16(local + 8) != info.compression_method) return UNZ_BADZIPFILE;
  uint64_t dataPos = localPos + kLocalHeaderSize + Le16(local + 26) + Le16(local + 28);
  if (dataPos > archive->centralStart || info.compressed_size > archive->centralStart - dataPos)
    return UNZ_BADZIPFILE;

  if (info.compression_method == Z_DEFLATED) {
    z_stream& z = archive->zstream;
    if (!archive->zstreamReady) {
      z = z_stream();
      if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return UNZ_INTERNALERROR;
      archive->zstreamReady = true;
      archive->input.resize(kInputBufferSize);
    } else if (inflateReset(&z) != Z_OK) {
      return UNZ_INTERNALERROR;
    }
    z.next_in = nullptr;
    z.avail_in = 0;
  }
  OpenEntry& entry = archive->entry;
  entry.inflating = info.compression_method == Z_DEFLATED;
  entry.compressedPos = dataPos;
  entry.compressedLeft = info.compressed_size;
  entry.uncompressedLeft = info.uncompressed_size;
  entry.crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
  archive->entryOpen = true;
  return UNZ_OK;
}

int unzReadCurrentFile(unzFile file, void* buffer, unsigned len) {
  if (!file) return UNZ_PARAMERROR;
  Archive* archive = AsArchive(file);
  if (!archive->entryOpen) return UNZ_PARAMERROR;
  OpenEntry& entry = archive->entry;
  if (entry.error != UNZ_OK) return entry.error;
  if (len == 0) return 0;
  if (!buffer) return UNZ_PARAMERROR;
  len = std::min<unsigned>(len, INT_MAX);
  if (entry.uncompressedLeft == 0 && entry.inflating && !entry.streamEnded) {
    // The declared size is reached: the stream must end here, not produce more.
    unsigned char beyond;
    int more = ReadDeflated(archive, &beyond, 1);
    if (more < 0) return more;
    if (more > 0) return FailEntry(&entry, UNZ_BADZIPFILE);
  }
  if (entry.uncompressedLeft == 0 || entry.streamEnded) {
    entry.reachedEnd = true;
    return 0;
  }
  unsigned char* out = static_cast<unsigned char*>(buffer);
  len = static_cast<unsigned>(std::min<uint64_t>(len, entry.uncompressedLeft));
  int got = entry.inflating ? ReadDeflated(archive, out, len) : ReadStored(archive, out, len);
  if (got < 0) return got;
  if (got == 0) {
    entry.reachedEnd = true;
    return 0;
  }
  entry.crc = static_cast<uint32_t>(crc32(entry.crc, out, static_cast<uInt>(got)));
  entry.produced += static_cast<unsigned>(got);
  entry.uncompressedLeft -= static_cast<unsigned>(got);
  return got;
}

int unzCloseCurrentFile(unzFile file) {
  if (!file) return UNZ_PARAMERROR;
  Archive* archive = AsArchive(file);
  if (!archive->entryOpen) return UNZ_PARAMERROR;
  const OpenEntry& entry = archive->entry;
  int result = UNZ_OK;
  if (entry.reachedEnd && (entry.produced != archive->info.uncompressed_size || entry.crc != archive->info.crc))
    result = UNZ_CRCERROR;
  CloseEntry(archive);
  return result;
}
