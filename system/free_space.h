// One check of free disk space before the installer writes something large, so that a
// full disk is refused before anything of the old installation is touched.
#pragma once
#include <cstdint>
#include <string>

// Free bytes available to this process on the volume that holds path (a GBK path; the
// nearest existing folder above it is asked when path does not exist yet). Returns
// false when the volume cannot be asked.
bool QueryFreeBytes(const std::string& path, uint64_t* freeBytes);

// True when the volume holding path has at least neededBytes free. Otherwise writes one
// log line with the needed and free bytes and the path, and returns false. A volume that
// cannot be asked is logged with its error code and counts as too small.
bool EnsureFreeSpace(const std::string& path, uint64_t neededBytes);
