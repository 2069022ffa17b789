// The 24-bit bitmap file "zp.bmp".
#pragma once

#include <cstddef>
#include <cstdint>

namespace facet {

constexpr size_t kBitmapHeaderSize = 54;

// Bytes of one padded bitmap row: width x 3 rounded up to a multiple of 4.
inline size_t BitmapRowSize(int width) { return (size_t(width) * 3 + 3) & ~size_t(3); }

// The 14-byte file header and the 40-byte information header.
void BitmapHeader(int width, int height, uint8_t* header);

// Writes the bitmap to `path`: `rgb` holds R, G, B pixels with the bottom
// row first. Returns false when the file could not be created or written
// completely.
bool WriteBitmapFile(const char* path, const uint8_t* rgb, int width, int height);

}  // namespace facet
