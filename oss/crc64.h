// CRC-64/XZ (ECMA-182 polynomial, reflected, all-ones start and final xor), the
// checksum an OSS store sends in x-oss-hash-crc64ecma.
#pragma once
#include <cstddef>
#include <cstdint>

namespace oss {

// Continues a checksum: Crc64Update(Crc64Update(0, a), b) is the checksum of a then b.
uint64_t Crc64Update(uint64_t crc, const void* data, size_t size);

}  // namespace oss
