#pragma once
// The CRC-32 of zip, gzip and PNG (zlib's crc32: start at 0, feed pieces in order).
#include <cstddef>
#include <cstdint>

uint32_t Crc32(uint32_t crc, const unsigned char* p, size_t n);
