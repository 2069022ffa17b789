#include "photo_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "stream.h"  // the decoder's unscrambling mask

namespace facet_test {

namespace {

constexpr int kDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kDy[8] = {0, 1, 1, 1, 0, -1, -1, -1};

long long FloorDiv(long long a, long long b) {
  long long q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

void PutBits(QmEncoder& enc, QmEncoder::Context& cx, int value, int bits) {
  for (int i = bits - 1; i >= 0; --i) enc.encode(cx, (value >> i) & 1);
}

void PutU32(std::vector<uint8_t>& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

// ---- chain codes ----

std::vector<Chain> TraceContours(const std::vector<uint8_t>& mask, int w, int h) {
  auto in = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && mask[size_t(y) * w + x]; };
  std::vector<int> label(size_t(w) * h, 0);
  std::vector<Chain> chains;
  int next = 0;
  for (int y0 = 0; y0 < h; ++y0)
    for (int x0 = 0; x0 < w; ++x0) {
      if (!in(x0, y0) || label[size_t(y0) * w + x0]) continue;
      // Label the region (8-connected) so that it is traced once.
      ++next;
      std::vector<int> todo{y0 * w + x0};
      label[size_t(y0) * w + x0] = next;
      while (!todo.empty()) {
        const int i = todo.back();
        todo.pop_back();
        for (int d = 0; d < 8; ++d) {
          const int x = i % w + kDx[d], y = i / w + kDy[d];
          if (in(x, y) && !label[size_t(y) * w + x]) {
            label[size_t(y) * w + x] = next;
            todo.push_back(y * w + x);
          }
        }
      }
      Chain chain;
      chain.x = x0;
      chain.y = y0;
      int x = x0, y = y0;
      int search = 4;  // as if arrived going up: nothing lies above or left
      for (int guard = 0; guard < 8 * w * h; ++guard) {
        int d = -1;
        for (int k = 0; k < 8; ++k) {
          const int c = (search + k) & 7;
          if (in(x + kDx[c], y + kDy[c])) {
            d = c;
            break;
          }
        }
        if (d < 0) break;  // a lone pixel
        if (x == x0 && y == y0 && !chain.dirs.empty() && d == chain.dirs[0]) break;
        chain.dirs.push_back(d);
        x += kDx[d];
        y += kDy[d];
        search = (d & 1) ? (d + 5) & 7 : (d + 6) & 7;
      }
      chains.push_back(chain);
    }
  return chains;
}

std::vector<uint8_t> EncodeMaskSegment(const std::vector<Chain>& chains, const EncoderOptions& opt) {
  QmEncoder enc;
  QmEncoder::Context bit;
  SymbolCoder dirs(8);
  enc.encode(bit, opt.backgroundMode);
  if (opt.backgroundMode == 1) {
    for (const BgPoint& p : opt.points) {
      PutBits(enc, bit, p.x, 9);
      PutBits(enc, bit, p.y, 9);
      for (uint8_t v : p.rgb) PutBits(enc, bit, v, 8);
    }
  } else {
    for (uint8_t v : opt.colour) PutBits(enc, bit, v, 8);
  }
  PutBits(enc, bit, int(chains.size()), 8);
  for (const Chain& c : chains) {
    PutBits(enc, bit, int(c.dirs.size()), 16);
    PutBits(enc, bit, c.x, 12);
    PutBits(enc, bit, c.y, 12);
    dirs.encode(enc, c.dirs.empty() ? 0 : c.dirs[0]);
    for (size_t i = 1; i < c.dirs.size(); ++i) {
      const int turn = ((c.dirs[i] - c.dirs[i - 1] + 12) & 7) - 4;  // -4..3
      static const int kSymbol[8] = {7, 5, 3, 1, 0, 2, 4, 6};         // turn + 4 -> symbol
      dirs.encode(enc, kSymbol[turn + 4]);
    }
  }
  if (!chains.empty()) enc.encode(bit, opt.trailingBit);
  return enc.finish();
}

// ---- forward shape-adaptive transform ----

namespace {

void ForwardLine(const int32_t* x, const uint8_t* m, int n, int32_t* out, uint8_t* mo) {
  const int half = n / 2;
  std::fill(out, out + n, 0);
  std::fill(mo, mo + n, 0);
  std::vector<long long> d(size_t(n), 0);
  for (int s = 0; s < n;) {
    if (!m[s]) {
      ++s;
      continue;
    }
    int e = s;
    while (e < n && m[e]) ++e;
    if (e - s == 1) {
      out[s / 2] = int32_t(std::lround(x[s] / 0.7071));
      mo[s / 2] = 1;
    } else {
      auto X = [&](int p) -> long long { return x[p]; };
      for (int p = s; p < e; ++p)
        if (p % 2 == 1) {
          const long long l = p - 1 >= s ? X(p - 1) : X(p + 1);
          const long long r = p + 1 < e ? X(p + 1) : X(p - 1);
          d[p] = X(p) - FloorDiv(l + r, 2);
        }
      for (int p = s; p < e; ++p) {
        if (p % 2 == 0) {
          const long long l = p - 1 >= s ? d[p - 1] : d[p + 1];
          const long long r = p + 1 < e ? d[p + 1] : d[p - 1];
          const long long low = X(p) + FloorDiv(l + r + 2, 4);
          out[p / 2] = int32_t(std::lround(double(low) / 0.7071));
          mo[p / 2] = 1;
        } else {
          out[half + p / 2] = int32_t(std::lround(double(d[p]) / 1.4142));
          mo[half + p / 2] = 1;
        }
      }
    }
    s = e;
  }
}

}  // namespace

void ForwardTransform(std::vector<int32_t>& plane, std::vector<uint8_t>& mask, int pw, int ph, int levels) {
  std::vector<int32_t> lx(size_t(std::max(pw, ph))), lo(lx.size());
  std::vector<uint8_t> lm(lx.size()), lmo(lx.size());
  for (int k = 1; k <= levels; ++k) {
    const int cols = pw >> (k - 1), rows = ph >> (k - 1);
    for (int r = 0; r < rows; ++r) {
      ForwardLine(&plane[size_t(r) * pw], &mask[size_t(r) * pw], cols, lo.data(), lmo.data());
      std::copy(lo.begin(), lo.begin() + cols, &plane[size_t(r) * pw]);
      std::copy(lmo.begin(), lmo.begin() + cols, &mask[size_t(r) * pw]);
    }
    for (int c = 0; c < cols; ++c) {
      for (int r = 0; r < rows; ++r) {
        lx[r] = plane[size_t(r) * pw + c];
        lm[r] = mask[size_t(r) * pw + c];
      }
      ForwardLine(lx.data(), lm.data(), rows, lo.data(), lmo.data());
      for (int r = 0; r < rows; ++r) {
        plane[size_t(r) * pw + c] = lo[r];
        mask[size_t(r) * pw + c] = lmo[r];
      }
    }
  }
}

// ---- zerotree coding ----

namespace {

class PlaneEncoder {
 public:
  PlaneEncoder(const std::vector<int32_t>& coef, const std::vector<uint8_t>& object, int pw, int ph, int levels)
      : coef_(coef), obj_(object), pw_(pw), ph_(ph), levels_(levels), n_(size_t(pw) * ph) {}

  std::vector<uint8_t> run(int* startPlane) {
    long long maxMag = 0;
    for (size_t i = 0; i < n_; ++i)
      if (obj_[i]) maxMag = std::max(maxMag, std::llabs(coef_[i]));
    int top = 0;
    while ((2LL << top) <= maxMag) ++top;
    *startPlane = top;
    recon_.assign(n_, 0);
    sig_.assign(n_, 0);
    for (int b = top; b >= 0; --b) {
      state_.assign(n_, 255);
      dominant(b);
      if (b > 0) subordinate(b);
      std::stable_sort(list_.begin(), list_.end(),
                       [&](size_t a, size_t c) { return std::llabs(recon_[a]) > std::llabs(recon_[c]); });
    }
    return enc_.finish();
  }

 private:
  int levelOf(int r, int c) const {
    for (int l = 1; l <= levels_; ++l)
      if (r >= (ph_ >> l) || c >= (pw_ >> l)) return l;
    return levels_ + 1;  // low band
  }
  // Nearest visited ancestor, searched upward by halving row and column.
  bool belowTreeRoot(int r, int c) const {
    for (;;) {
      r >>= 1;
      c >>= 1;
      const uint8_t s = state_[size_t(r) * pw_ + c];
      if (s != 255) return s == 2 || s == 4;
      if (r == 0 && c == 0) return false;
    }
  }
  // Whether a not yet significant object coefficient below (r, c) reaches t.
  bool subtreeSignificant(int r, int c, long long t) const {
    if (levelOf(r, c) <= 1) return false;
    for (int k = 0; k < 4; ++k) {
      const int rr = 2 * r + (k >> 1), cc = 2 * c + (k & 1);
      const size_t j = size_t(rr) * pw_ + cc;
      if (obj_[j] && !sig_[j] && std::llabs(coef_[j]) >= t) return true;
      if (subtreeSignificant(rr, cc, t)) return true;
    }
    return false;
  }
  bool hasObjectBelow(int r, int c) const {
    if (levelOf(r, c) <= 1) return false;
    for (int k = 0; k < 4; ++k) {
      const int rr = 2 * r + (k >> 1), cc = 2 * c + (k & 1);
      if (obj_[size_t(rr) * pw_ + cc] || hasObjectBelow(rr, cc)) return true;
    }
    return false;
  }
  void significant(size_t i, long long t) {
    sig_[i] = 1;
    recon_[i] = coef_[i] > 0 ? t : -t;
    list_.push_back(i);
  }
  void dominant(int b) {
    const long long t = 1LL << b;
    for (int r = 0; r < (ph_ >> levels_); ++r)
      for (int c = 0; c < (pw_ >> levels_); ++c) {
        const size_t i = size_t(r) * pw_ + c;
        if (!obj_[i] || sig_[i]) continue;
        const int sym = std::llabs(coef_[i]) >= t ? (coef_[i] > 0 ? 0 : 1) : 2;
        low_.encode(enc_, sym);
        state_[i] = uint8_t(sym);
        if (sym < 2) significant(i, t);
      }
    for (int l = levels_; l >= 1; --l) {
      const int bh = ph_ >> l, bw = pw_ >> l;
      for (int band = 1; band <= 3; ++band) {
        const int r0 = band >= 2 ? bh : 0, c0 = band != 2 ? bw : 0;
        auto visit = [&](int r, int c) {
          if (belowTreeRoot(r, c)) return;
          const size_t i = size_t(r) * pw_ + c;
          if (obj_[i]) {
            if (sig_[i]) return;
            int sym;
            if (std::llabs(coef_[i]) >= t)
              sym = coef_[i] > 0 ? 0 : 1;
            else if (l > 1)
              sym = subtreeSignificant(r, c, t) ? 3 : 2;
            else
              sym = 2;
            (l > 1 ? upper_ : level1_).encode(enc_, sym);
            state_[i] = uint8_t(sym);
            if (sym < 2) significant(i, t);
          } else if (l > 1 && hasObjectBelow(r, c)) {
            const int sym = subtreeSignificant(r, c, t) ? 1 : 0;
            outside_.encode(enc_, sym);
            state_[i] = sym == 0 ? 4 : 5;
          }
        };
        if (band == 1) {
          for (int c = c0; c < c0 + bw; ++c)
            for (int r = r0; r < r0 + bh; ++r) visit(r, c);
        } else {
          for (int r = r0; r < r0 + bh; ++r)
            for (int c = c0; c < c0 + bw; ++c) visit(r, c);
        }
      }
    }
  }
  void subordinate(int b) {
    const long long half = 1LL << (b - 1);
    for (size_t i : list_) {
      const long long m = std::llabs(recon_[i]);
      const int bit = std::llabs(coef_[i]) >= m + half ? 1 : 0;
      refine_.encode(enc_, bit);
      if (bit) recon_[i] = recon_[i] < 0 ? -(m + half) : m + half;
    }
  }

  const std::vector<int32_t>& coef_;
  const std::vector<uint8_t>& obj_;
  int pw_, ph_, levels_;
  size_t n_;
  std::vector<long long> recon_;
  std::vector<uint8_t> sig_, state_;
  std::vector<size_t> list_;
  QmEncoder enc_;
  SymbolCoder low_{3}, upper_{4}, level1_{3}, refine_{2}, spare_{2}, outside_{2};
};

}  // namespace

std::vector<uint8_t> EncodePlane(const std::vector<int32_t>& coef, const std::vector<uint8_t>& object, int pw,
                                 int ph, int levels, int* startPlane) {
  return PlaneEncoder(coef, object, pw, ph, levels).run(startPlane);
}

// ---- the stream ----

Encoded EncodeStream(const Portrait& p, const EncoderOptions& opt) {
  Encoded out;
  std::vector<uint8_t>& s = out.stream;
  s = {0x57, 0x4C, kW, 0x00, kH, 0x00};
  const int planes = opt.grey ? 1 : 3;
  s.push_back(uint8_t((planes << 6) | (opt.maskMode << 4) | opt.levels));

  bool contours = false;
  if (opt.maskMode != 0) {
    std::vector<Chain> chains;
    if (!opt.noContours) chains = TraceContours(p.mask, kW, kH);
    contours = !chains.empty();
    std::vector<uint8_t> body = EncodeMaskSegment(chains, opt);
    out.maskOffset = s.size();
    PutU32(s, uint32_t(body.size() + 2));
    s.push_back(0x6F);
    s.insert(s.end(), body.begin(), body.end());
    s.push_back(0);  // the segment's last byte always reads as zero
  }

  const int step = 1 << opt.levels;
  const int pw = (kW + step - 1) / step * step, ph = (kH + step - 1) / step * step;
  for (int k = 0; k < planes; ++k) {
    std::vector<int32_t> plane(size_t(pw) * ph, 0);
    std::vector<uint8_t> object(plane.size(), contours ? 0 : 1);
    for (int y = 0; y < ph; ++y)
      for (int x = 0; x < pw; ++x) {
        const int sx = std::min(x, kW - 1), sy = std::min(y, kH - 1);  // padding repeats the edge
        const uint8_t* px = &p.rgb[(size_t(sy) * kW + sx) * 3];
        const double R = px[0], G = px[1], B = px[2];
        double v;
        if (k == 0)
          v = 0.299 * R + 0.587 * G + 0.114 * B;
        else if (k == 1)
          v = 128 - 0.168736 * R - 0.331264 * G + 0.5 * B;
        else
          v = 128 + 0.5 * R - 0.418688 * G - 0.081312 * B;
        const bool inImage = x < kW && y < kH;
        if (contours && !(inImage && p.mask[size_t(y) * kW + x])) continue;
        plane[size_t(y) * pw + x] = int32_t(std::lround(v));
        if (contours) object[size_t(y) * pw + x] = 1;
      }
    ForwardTransform(plane, object, pw, ph, opt.levels);
    out.planeBytes[k] = EncodePlane(plane, object, pw, ph, opt.levels, &out.startPlane[k]);
  }

  const long long avail = (long long)opt.capacity - (long long)s.size() - 4;
  long long total = opt.planeTotal;
  if (total < 0) {
    if (planes == 3) {
      total = avail - 30;  // the budgets add up to the total plus 30
    } else {
      total = 0;
      while (FloorDiv((total + 1) * 85, 100) + 10 <= avail) ++total;
    }
  }
  out.planeTotal = total;
  PutU32(s, uint32_t(total + 4));
  long long budget[3];
  budget[0] = FloorDiv(total * 85, 100) + 10;
  budget[1] = FloorDiv(total * 8, 100) + 10;
  budget[2] = total - budget[0] - budget[1] + 30;
  for (int k = 0; k < planes; ++k) {
    out.planeOffset[k] = s.size();
    s.push_back(uint8_t(out.startPlane[k]));
    const size_t length = size_t(budget[k] - 1);
    std::vector<uint8_t> seg(length, 0);
    seg[0] = 0x6F;
    const size_t room = length >= 2 ? length - 2 : 0;  // the last byte reads as zero
    const std::vector<uint8_t>& b = out.planeBytes[k];
    std::copy(b.begin(), b.begin() + std::min(room, b.size()), seg.begin() + 1);
    s.insert(s.end(), seg.begin(), seg.end());
  }
  s.resize(opt.capacity, 0);
  return out;
}

std::vector<uint8_t> MakeRecord(const std::vector<uint8_t>& stream, uint8_t mask) {
  std::vector<uint8_t> rec(1024, 0);
  for (size_t i = 0; i < 10; ++i) rec[i] = uint8_t(0xC0 + i);  // unused by the decoder
  for (size_t i = 10; i < 1024; ++i) {
    const size_t w = i - 4;  // record byte 10 is working byte 6
    rec[i] = uint8_t((w < stream.size() ? stream[w] : 0) ^ mask);
  }
  return rec;
}

// ---- portraits ----

namespace {

double Smooth(double d) {  // signed distance (pixels, negative inside) to coverage
  return std::clamp(0.5 - d / 1.5, 0.0, 1.0);
}
double Ellipse(double x, double y, double cx, double cy, double rx, double ry) {
  const double q = std::sqrt((x - cx) * (x - cx) / (rx * rx) + (y - cy) * (y - cy) / (ry * ry));
  return (q - 1.0) * std::min(rx, ry);
}
void Blend(double* c, const double* to, double a) {
  for (int k = 0; k < 3; ++k) c[k] += (to[k] - c[k]) * a;
}

}  // namespace

Portrait MakePortrait(int variant) {
  Portrait p;
  p.rgb.resize(size_t(kW) * kH * 3);
  p.mask.resize(size_t(kW) * kH);
  const double sh = (variant % 3) - 1.0;
  const double cx = 51 + sh;
  const double skin[3] = {224.0 - 6 * variant, 186, 160};
  const double hair[3] = {60, 40, 32.0 + 4 * variant};
  const double cloth[3] = {40, 60, 110.0 + 10 * variant};
  const double eye[3] = {35, 30, 40};
  const double lips[3] = {175, 85, 85};
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const double head = Ellipse(x, y, cx, 50, 29, 37);
      const double neck = std::max(std::fabs(x - cx) - 12, y < 80 ? 80.0 - y : 0.0);
      const double shoulder = (96 + (x - cx) * (x - cx) / 100.0) - y;
      const double region = std::min({head, neck, shoulder});
      p.mask[size_t(y) * kW + x] = region <= 0 ? 1 : 0;
      double c[3] = {230, 238, 245};
      Blend(c, cloth, Smooth(shoulder));
      double neckSkin[3] = {skin[0] * 0.85, skin[1] * 0.85, skin[2] * 0.85};
      Blend(c, neckSkin, Smooth(std::max(neck, -shoulder)));
      Blend(c, hair, Smooth(head));
      const double face = Ellipse(x, y, cx, 57, 24, 30);
      const double shade = 1.0 - 0.25 * std::min(1.0, ((x - cx) * (x - cx) + (y - 57) * (y - 57)) / 900.0);
      const double lit[3] = {skin[0] * shade, skin[1] * shade, skin[2] * shade};
      Blend(c, lit, Smooth(std::max(face, head)));
      Blend(c, eye, Smooth(Ellipse(x, y, cx - 10, 50, 4, 2.5)));
      Blend(c, eye, Smooth(Ellipse(x, y, cx + 10, 50, 4, 2.5)));
      Blend(c, lips, Smooth(Ellipse(x, y, cx, 72, 8, 2.5)));
      for (int k = 0; k < 3; ++k) p.rgb[(size_t(y) * kW + x) * 3 + k] = uint8_t(std::lround(std::clamp(c[k], 0.0, 255.0)));
    }
  return p;
}

double PsnrInMask(const Portrait& original, const uint8_t* decoded) {
  double se = 0;
  size_t n = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      if (!original.mask[size_t(y) * kW + x]) continue;
      const uint8_t* a = &original.rgb[(size_t(y) * kW + x) * 3];
      const uint8_t* b = &decoded[(size_t(kH - 1 - y) * kW + x) * 3];
      for (int k = 0; k < 3; ++k) se += double(a[k] - b[k]) * (a[k] - b[k]);
      n += 3;
    }
  if (se == 0) return 99.0;
  return 10 * std::log10(255.0 * 255.0 * double(n) / se);
}

}  // namespace facet_test
