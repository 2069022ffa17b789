#include "photo_decoder.h"

#include <algorithm>
#include <cstring>

#include "arit_decoder.h"
#include "background.h"
#include "colour.h"
#include "facet.h"
#include "sa_wavelet.h"
#include "zerotree.h"

namespace facet {

int PhotoDecoder::decode(const uint8_t* stream, size_t size, uint8_t* out) {
  StreamReader rd(stream, size);
  hasBackground_ = false;
  std::fill(planesDecoded_, planesDecoded_ + 3, 0);
  if (!ReadHeader(rd, header_)) return FACET_E_FORMAT;
  const int w = header_.width;
  const int h = header_.height;
  const int pw = header_.paddedWidth;
  const int ph = header_.paddedHeight;
  const size_t pixels = size_t(w) * h;

  mask_.assign(pixels, 1);
  if (header_.maskMode != 0) {
    const uint32_t length = rd.u32le();
    const Segment segment(stream, size, rd.position(), length);
    rd.skip(length);
    AritDecoder dec(segment);
    if (!dec.valid()) return FACET_E_SEGMENT;
    CWorkField field(w, h);
    const int contours = field.Decoder(dec);
    if (contours < 0) return FACET_E_FORMAT;
    if (contours > 0) {
      field.Output(mask_.data());
      background_ = field.background();
      hasBackground_ = true;
    }
  }

  // Without contours the object is the whole padded rectangle; with them it
  // ends at the image's edge.
  std::vector<uint8_t> padded(size_t(pw) * ph, hasBackground_ ? 0 : 1);
  if (hasBackground_)
    for (int r = 0; r < h; ++r) std::memcpy(&padded[size_t(r) * pw], &mask_[size_t(r) * w], size_t(w));
  ShapeMask shape;
  shape.do_IDWT_Mask(padded.data(), pw, ph, header_.levels);
  ZerotreeDecoder zerotree(shape.coefficients(), pw, ph, header_.levels);

  const PlaneBudgets budgets = ComputeBudgets(rd.u32le());
  std::vector<int32_t> coef(size_t(pw) * ph);
  std::vector<uint8_t> planes(3 * pixels, 0);
  for (int p = 0; p < header_.planes; ++p) {
    std::fill(coef.begin(), coef.end(), 0);
    const int start = rd.u8();
    const uint64_t length = uint64_t(budgets.budget[p] - 1);  // the start byte is spent
    const Segment segment(stream, size, rd.position(), length);
    rd.skip(length);
    AritDecoder dec(segment);
    if (!dec.valid()) return FACET_E_SEGMENT;
    if (start > kMaxStartPlane) return FACET_E_FORMAT;
    zerotree.decodePlane(dec, length, start, coef.data());
    planesDecoded_[p] = zerotree.planesDecoded();
    SA_IDWT(coef.data(), shape);
    uint8_t* plane = &planes[size_t(p) * pixels];
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c)
        if (mask_[size_t(r) * w + c])
          plane[size_t(r) * w + c] = uint8_t(std::clamp<int32_t>(coef[size_t(r) * pw + c], 0, 255));
  }
  compose(planes.data(), out);
  return FACET_OK;
}

void PhotoDecoder::compose(const uint8_t* planes, uint8_t* out) {
  const int w = header_.width;
  const int h = header_.height;
  const size_t pixels = size_t(w) * h;
  std::vector<uint8_t> image(pixels * 3);
  if (header_.planes == 1) {
    for (size_t i = 0; i < pixels; ++i) std::memset(&image[3 * i], planes[i], 3);
  } else {
    if (hasBackground_) interpolation(background_, w, h, image.data());
    for (size_t i = 0; i < pixels; ++i)
      if (mask_[i]) yuv2rgb(planes[i], planes[pixels + i], planes[2 * pixels + i], &image[3 * i]);
    if (hasBackground_) SmoothEdges(image.data(), mask_.data(), w, h);
  }
  const size_t rowBytes = size_t(w) * 3;
  for (int r = 0; r < h; ++r) std::memcpy(out + size_t(h - 1 - r) * rowBytes, &image[size_t(r) * rowBytes], rowBytes);
}

}  // namespace facet
