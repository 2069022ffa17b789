#include "colour.h"

#include <algorithm>

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
  for (int y = 1; y + 1 < height; ++y)
    for (int x = 1; x + 1 < width; ++x) {
      if (mask[y * width + x]) continue;
      bool touches = false;
      for (int dy = -1; dy <= 1 && !touches; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (mask[(y + dy) * width + x + dx]) touches = true;
      if (!touches) continue;
      for (int k = 0; k < 3; ++k) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) sum += rgb[((y + dy) * width + x + dx) * 3 + k];
        rgb[(y * width + x) * 3 + k] = uint8_t(sum / 9);
      }
    }
}

}  // namespace facet
