// libFuzzer entry point for the zip reader: opens the input as an archive held in
// memory, walks every entry and reads each one to its end in uneven chunks.
#include <cstddef>
#include <cstdint>

#include "unzip/unzip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  unzFile archive = unzOpenMemory(data, size);
  if (!archive) return 0;
  unz_global_info global;
  unzGetGlobalInfo(archive, &global);
  unsigned char chunk[3000];
  unsigned chunkSize = size > 0 ? 1 + data[0] * 11u % sizeof(chunk) : 2048;
  for (int status = unzGoToFirstFile(archive); status == UNZ_OK; status = unzGoToNextFile(archive)) {
    unz_file_info info;
    char name[261];
    char comment[256];
    if (unzGetCurrentFileInfo(archive, &info, name, sizeof(name) - 1, nullptr, 0, comment, sizeof(comment) - 1) != UNZ_OK)
      break;
    if (unzOpenCurrentFile(archive) != UNZ_OK) continue;
    while (unzReadCurrentFile(archive, chunk, chunkSize) > 0) {
    }
    unzCloseCurrentFile(archive);
  }
  unzClose(archive);
  return 0;
}
