#include "oss/crc64.h"

#include <memory>

namespace oss {
namespace {
constexpr uint64_t kPolynomial = 0xC96C5795D7870F42ULL;

// Eight tables let the loop take a whole 64-bit word at a time: the checksum must keep
// up with a download on loopback.
struct Tables {
  uint64_t t[8][256];
};

// Made at first use on the heap: a table the compiler computed, or a zeroed static one,
// would add 16 KB to the download.
std::unique_ptr<Tables> MakeTables() {
  auto tables = std::make_unique<Tables>();
  auto& t = tables->t;
  for (unsigned n = 0; n < 256; ++n) {
    uint64_t crc = n;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ kPolynomial : crc >> 1;
    t[0][n] = crc;
  }
  for (unsigned n = 0; n < 256; ++n) {
    for (int k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
  }
  return tables;
}

const Tables& TheTables() {
  static const std::unique_ptr<Tables> tables = MakeTables();
  return *tables;
}
}  // namespace

uint64_t Crc64Update(uint64_t crc, const void* data, size_t size) {
  const auto& t = TheTables().t;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  while (size >= 8) {
    uint64_t word = 0;
    for (int i = 7; i >= 0; --i) word = (word << 8) | p[i];  // little-endian load
    crc ^= word;
    crc = t[7][crc & 0xFF] ^ t[6][(crc >> 8) & 0xFF] ^ t[5][(crc >> 16) & 0xFF] ^ t[4][(crc >> 24) & 0xFF] ^
          t[3][(crc >> 32) & 0xFF] ^ t[2][(crc >> 40) & 0xFF] ^ t[1][(crc >> 48) & 0xFF] ^ t[0][crc >> 56];
    p += 8;
    size -= 8;
  }
  while (size-- > 0) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace oss
