// The background outside the face mask.
#pragma once

#include <cstdint>

#include "face_mask.h"

namespace facet {

// Fills `rgb` (width x height pixels, R G B, top row first) with the
// background: the single colour, or (mode 1) the polygon through the stored
// points with colours interpolated along its edges and across each span.
void interpolation(const Background& bg, int width, int height, uint8_t* rgb);

}  // namespace facet
