#include "colour.h"

#include <algorithm>
#include <vector>

namespace facet {

namespace {

uint8_t Clamp(int64_t v) { return uint8_t(std::clamp<int64_t>(v, 0, 255)); }

}  // namespace

void yuv2rgb(int y, int cb, int cr, uint8_t* rgb) {
  const int64_t u = cb - 128;
  const int64_t v = cr - 128;
  // Integer division truncates toward zero, as the conversion prescribes.
  rgb[0] = Clamp((1000 * int64_t(y) + 1402 * v) / 1000);
  rgb[1] = Clamp((100000 * int64_t(y) - 34414 * u - 71414 * v) / 100000);
  rgb[2] = Clamp((1000 * int64_t(y) + 1772 * u) / 1000);
}

void SmoothEdges(uint8_t* rgb, const uint8_t* mask, int width, int height) {
  // near[x] of a row: mask set at x - 1, x or x + 1; three rows of it make
  // the 8-neighbourhood test.
  std::vector<uint8_t> near(size_t(width) * height, 0);
  for (int y = 0; y < height; ++y) {
    const uint8_t* m = mask + size_t(y) * width;
    uint8_t* n = &near[size_t(y) * width];
    for (int x = 1; x + 1 < width; ++x) n[x] = m[x - 1] | m[x] | m[x + 1];
  }
  for (int y = 1; y + 1 < height; ++y)
    for (int x = 1; x + 1 < width; ++x) {
      const size_t i = size_t(y) * width + x;
      if (mask[i] || !(near[i - width] | near[i] | near[i + width])) continue;
      for (int k = 0; k < 3; ++k) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) sum += rgb[((y + dy) * width + x + dx) * 3 + k];
        rgb[i * 3 + k] = uint8_t(sum / 9);
      }
    }
}

}  // namespace facet
