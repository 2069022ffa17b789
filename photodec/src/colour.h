// Colour conversion and the softening of the mask's edge.
#pragma once

#include <cstdint>

namespace facet {

// One pixel from Y, Cb, Cr to R, G, B: each channel truncated toward zero,
// then clamped to 0..255. Exact decimal arithmetic, no floating point.
void yuv2rgb(int y, int cb, int cr, uint8_t* rgb);

// Replaces every pixel outside the mask, off the image border, that touches
// the mask (8-neighbourhood) by the average of its 3 x 3 neighbourhood,
// channel by channel, in place and in row order. `rgb` is width x height,
// top row first.
void SmoothEdges(uint8_t* rgb, const uint8_t* mask, int width, int height);

}  // namespace facet
