// The library's entry point.
#include <new>

#include "bitmap.h"
#include "facet.h"
#include "photo_decoder.h"
#include "stream.h"

extern "C" FACET_API int unpack(const char* record, unsigned long out, unsigned mode) {
  if (mode != FACET_MODE_DECODE && mode != FACET_MODE_FILE) return 0;
  if (record == nullptr || out == 0) return FACET_E_ARGUMENT;
  uint8_t* image = reinterpret_cast<uint8_t*>(out);
  try {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(record);
    uint8_t mask = 0;
    if (!facet::RecoverMask(bytes, &mask)) return FACET_E_SEGMENT;
    uint8_t work[facet::kWorkingSize];
    facet::BuildWorkingBuffer(bytes, mask, work);
    facet::PhotoDecoder decoder;
    const int rc = decoder.decode(work, sizeof work, image);
    if (rc != FACET_OK) return rc;
  } catch (...) {  // only allocation can throw here
    return FACET_E_MEMORY;
  }
  // Unlike a silent failure, a caller learns when the file is missing.
  if (mode == FACET_MODE_FILE && !facet::WriteBitmapFile("zp.bmp", image, facet::kWidth, facet::kHeight)) {
    return FACET_E_FILE;
  }
  return FACET_OK;
}
