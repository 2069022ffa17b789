#include "background.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace facet {

namespace {

struct Crossing {
  double x;
  double c[3];
};

// Rounded to the nearest value, halves upward.
void PutColour(uint8_t* px, const double c[3]) {
  for (int k = 0; k < 3; ++k) px[k] = uint8_t(std::clamp(c[k] + 0.5, 0.0, 255.0));
}

// One scan line of the polygon; returns whether any pixel of it was filled.
bool FillRow(const BackgroundPoint* v, int count, int y, int width, uint8_t* row, uint8_t* filled) {
  Crossing xs[4];
  int n = 0;
  for (int i = 0; i < count; ++i) {
    const BackgroundPoint* a = &v[i];
    const BackgroundPoint* b = &v[(i + 1) % count];
    if (a->y == b->y) continue;
    if (a->y > b->y) std::swap(a, b);
    // Top row included, bottom row excluded, so a vertex between two edges
    // is crossed once.
    if (y < a->y || y >= b->y) continue;
    const double t = double(y - a->y) / double(b->y - a->y);
    xs[n].x = a->x + t * (b->x - a->x);
    for (int k = 0; k < 3; ++k) xs[n].c[k] = a->rgb[k] + t * (b->rgb[k] - a->rgb[k]);
    ++n;
  }
  for (int i = 1; i < n; ++i)  // at most four crossings
    for (int j = i; j > 0 && xs[j].x < xs[j - 1].x; --j) std::swap(xs[j], xs[j - 1]);
  bool any = false;
  for (int i = 0; i + 1 < n; i += 2) {
    const Crossing& l = xs[i];
    const Crossing& r = xs[i + 1];
    const int from = std::max(0, int(std::ceil(l.x)));
    const int to = std::min(width - 1, int(std::floor(r.x)));
    const double inv = r.x > l.x ? 1.0 / (r.x - l.x) : 0.0;
    double slope[3];
    for (int k = 0; k < 3; ++k) slope[k] = (r.c[k] - l.c[k]) * inv;
    for (int x = from; x <= to; ++x) {
      double c[3];
      for (int k = 0; k < 3; ++k) c[k] = l.c[k] + (x - l.x) * slope[k];
      PutColour(row + 3 * x, c);
      filled[x] = 1;
      any = true;
    }
  }
  if (!any) return false;
  // Pixels of the row outside the polygon repeat the nearest filled pixel on
  // their left (on their right before the first one).
  int first = 0;
  while (!filled[first]) ++first;
  for (int x = 0; x < first; ++x) std::memcpy(row + 3 * x, row + 3 * first, 3);
  for (int x = first + 1; x < width; ++x)
    if (!filled[x]) std::memcpy(row + 3 * x, row + 3 * (x - 1), 3);
  return true;
}

}  // namespace

void interpolation(const Background& bg, int width, int height, uint8_t* rgb) {
  const size_t rowBytes = size_t(width) * 3;
  uint8_t filled[1024];
  if (width > int(sizeof filled)) return;
  if (bg.mode != 1) {
    for (size_t i = 0; i < rowBytes * height; i += 3) std::memcpy(rgb + i, bg.colour, 3);
    return;
  }
  // Vertices: the points that are not at the origin, and always the fourth.
  BackgroundPoint v[4];
  int count = 0;
  for (int i = 0; i < 4; ++i)
    if (i == 3 || bg.points[i].x != 0 || bg.points[i].y != 0) v[count++] = bg.points[i];

  int firstRow = -1;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = rgb + rowBytes * y;
    std::memset(filled, 0, size_t(width));
    if (FillRow(v, count, y, width, row, filled)) {
      if (firstRow < 0) firstRow = y;
    } else if (firstRow >= 0) {
      std::memcpy(row, row - rowBytes, rowBytes);  // repeat the row above
    }
  }
  if (firstRow < 0) {
    // Nothing of the polygon lies in the image: its last point's colour.
    for (size_t i = 0; i < rowBytes * height; i += 3) std::memcpy(rgb + i, bg.points[3].rgb, 3);
    return;
  }
  for (int y = 0; y < firstRow; ++y) std::memcpy(rgb + rowBytes * y, rgb + rowBytes * firstRow, rowBytes);
}

}  // namespace facet
