#include "sa_wavelet.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace facet {

namespace {

// v x 0.7071 and v x 1.4142, rounded half away from zero, in exact decimal.
int64_t ScaleLow(int64_t v) {
  const int64_t a = ((v < 0 ? -v : v) * 7071 + 5000) / 10000;
  return v < 0 ? -a : a;
}
int64_t ScaleHigh(int64_t v) {
  const int64_t a = ((v < 0 ? -v : v) * 14142 + 5000) / 10000;
  return v < 0 ? -a : a;
}

int32_t Saturate(int64_t v) {
  return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max()));
}

// Undoes the two lifting steps over the run [s, e) of `y` (length >= 2),
// with whole-sample symmetric extension at both ends.
void UnliftRun(int64_t* y, int s, int e) {
  auto at = [&](int q, int mirror) { return q >= s && q < e ? y[q] : y[mirror]; };
  int p = s + (s & 1);  // even samples: x = s - floor((d[-1] + d[+1] + 2) / 4)
  if (p < e) {
    y[p] -= (at(p - 1, p + 1) + at(p + 1, p - 1) + 2) >> 2;
    p += 2;
  }
  for (; p + 1 < e; p += 2) y[p] -= (y[p - 1] + y[p + 1] + 2) >> 2;
  if (p < e) y[p] -= (at(p - 1, p + 1) + at(p + 1, p - 1) + 2) >> 2;
  p = s + 1 - (s & 1);  // odd samples: x = d + floor((x[-1] + x[+1]) / 2)
  if (p < e) {
    y[p] += (at(p - 1, p + 1) + at(p + 1, p - 1)) >> 1;
    p += 2;
  }
  for (; p + 1 < e; p += 2) y[p] += (y[p - 1] + y[p + 1]) >> 1;
  if (p < e) y[p] += (at(p - 1, p + 1) + at(p + 1, p - 1)) >> 1;
}

}  // namespace

void SplitMaskLine(const uint8_t* mask, int n, uint8_t* low, uint8_t* high) {
  const int half = n / 2;
  std::memset(low, 0, size_t(half));
  std::memset(high, 0, size_t(half));
  int p = 0;
  while (p < n) {
    if (!mask[p]) {
      ++p;
      continue;
    }
    int e = p;
    while (e < n && mask[e]) ++e;
    if (e - p == 1) {
      low[p >> 1] = 1;
    } else {
      for (int q = p; q < e; ++q) {
        if (q & 1)
          high[q >> 1] = 1;
        else
          low[q >> 1] = 1;
      }
    }
    p = e;
  }
}

void SynthesiseLine(const int64_t* line, const uint8_t* mask, int n, int64_t* out) {
  const int half = n / 2;
  int p = 0;
  while (p < n) {
    // Mask bytes are 0 or 1: the next run starts at the next 1 and ends at
    // the next 0.
    const void* first = std::memchr(mask + p, 1, size_t(n - p));
    const int s = first ? int(static_cast<const uint8_t*>(first) - mask) : n;
    std::fill(out + p, out + s, 0);
    if (s == n) return;
    const void* last = std::memchr(mask + s, 0, size_t(n - s));
    const int e = last ? int(static_cast<const uint8_t*>(last) - mask) : n;
    if (e - s == 1) {
      out[s] = ScaleLow(line[s >> 1]);
    } else {
      int q = s;
      if (q & 1) {
        out[q] = ScaleHigh(line[half + (q >> 1)]);
        ++q;
      }
      for (; q + 1 < e; q += 2) {
        out[q] = ScaleLow(line[q >> 1]);
        out[q + 1] = ScaleHigh(line[half + (q >> 1)]);
      }
      if (q < e) out[q] = ScaleLow(line[q >> 1]);
      UnliftRun(out, s, e);
    }
    p = e;
  }
}

void ShapeMask::do_IDWT_Mask(const uint8_t* padded, int width, int height, int levels) {
  width_ = width;
  height_ = height;
  levels_ = levels;
  wavelet_.assign(padded, padded + size_t(width) * height);
  offset_.assign(size_t(levels) + 1, 0);
  size_t total = 0;
  for (int k = 1; k <= levels; ++k) {
    offset_[k] = total;
    total += 2 * regionSize(k);
  }
  saved_.assign(total, 0);

  const int longest = std::max(width, height);
  std::vector<uint8_t> line(static_cast<size_t>(longest)), split(static_cast<size_t>(longest));
  for (int k = 1; k <= levels; ++k) {
    const int cols = width >> (k - 1);
    const int rows = height >> (k - 1);
    uint8_t* before = &saved_[offset_[k]];
    for (int r = 0; r < rows; ++r) {
      uint8_t* row = &wavelet_[size_t(r) * width];
      std::memcpy(before + size_t(r) * cols, row, size_t(cols));
      SplitMaskLine(row, cols, split.data(), split.data() + cols / 2);
      std::memcpy(row, split.data(), size_t(cols));
    }
    before += regionSize(k);
    for (int c = 0; c < cols; ++c) {
      for (int r = 0; r < rows; ++r) {
        line[r] = wavelet_[size_t(r) * width + c];
        before[size_t(c) * rows + r] = line[r];
      }
      SplitMaskLine(line.data(), rows, split.data(), split.data() + rows / 2);
      for (int r = 0; r < rows; ++r) wavelet_[size_t(r) * width + c] = split[r];
    }
  }
}

void SA_IDWT(int32_t* plane, const ShapeMask& mask) {
  const int width = mask.width();
  const int height = mask.height();
  const size_t longest = size_t(std::max(width, height));
  std::vector<int64_t> line(longest), out(longest);
  for (int k = mask.levels(); k >= 1; --k) {
    const int cols = width >> (k - 1);
    const int rows = height >> (k - 1);
    // Lines without object samples hold zeros and stay zero.
    for (int c = 0; c < cols; ++c) {
      const uint8_t* m = mask.beforeColumns(k) + size_t(c) * rows;
      if (!std::memchr(m, 1, size_t(rows))) continue;
      for (int r = 0; r < rows; ++r) line[r] = plane[size_t(r) * width + c];
      SynthesiseLine(line.data(), m, rows, out.data());
      for (int r = 0; r < rows; ++r) plane[size_t(r) * width + c] = Saturate(out[r]);
    }
    for (int r = 0; r < rows; ++r) {
      const uint8_t* m = mask.beforeRows(k) + size_t(r) * cols;
      if (!std::memchr(m, 1, size_t(cols))) continue;
      int32_t* row = plane + size_t(r) * width;
      for (int c = 0; c < cols; ++c) line[c] = row[c];
      SynthesiseLine(line.data(), m, cols, out.data());
      for (int c = 0; c < cols; ++c) row[c] = Saturate(out[c]);
    }
  }
}

}  // namespace facet
