#include "bitmap.h"

#include <cstdio>
#include <cstring>

namespace facet {

namespace {

void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

}  // namespace

void BitmapHeader(int width, int height, uint8_t* h) {
  std::memset(h, 0, kBitmapHeaderSize);
  h[0] = 'B';
  h[1] = 'M';
  Put32(h + 2, uint32_t(kBitmapHeaderSize + BitmapRowSize(width) * height));
  Put32(h + 10, kBitmapHeaderSize);
  Put32(h + 14, 40);
  Put32(h + 18, uint32_t(width));
  Put32(h + 22, uint32_t(height));  // positive: rows stored bottom-up
  Put16(h + 26, 1);
  Put16(h + 28, 24);
}

bool WriteBitmapFile(const char* path, const uint8_t* rgb, int width, int height) {
  uint8_t header[kBitmapHeaderSize];
  BitmapHeader(width, height, header);
  uint8_t row[1024 * 3 + 4];
  const size_t rowSize = BitmapRowSize(width);
  if (rowSize > sizeof row) return false;
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;
  std::memset(row, 0, rowSize);
  for (int y = 0; y < height && ok; ++y) {
    const uint8_t* src = rgb + size_t(y) * width * 3;
    for (int x = 0; x < width; ++x) {
      row[3 * x] = src[3 * x + 2];
      row[3 * x + 1] = src[3 * x + 1];
      row[3 * x + 2] = src[3 * x];
    }
    ok = std::fwrite(row, 1, rowSize, f) == rowSize;
  }
  // Buffered data only meets the disk at close: a full disk shows there.
  if (std::fclose(f) != 0) ok = false;
  return ok;
}

}  // namespace facet
