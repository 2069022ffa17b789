// Inputs of up to 1024 bytes are records for unpack (shorter ones padded with
// zeros); longer inputs are coded streams behind the fixed header, decoded
// as a working stream of their own length.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "facet.h"
#include "photo_decoder.h"
#include "stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static uint8_t out[FACET_OUT_SIZE];
  if (size <= FACET_RECORD_SIZE) {
    uint8_t record[FACET_RECORD_SIZE] = {0};
    std::memcpy(record, data, size);
    unpack(reinterpret_cast<const char*>(record), reinterpret_cast<unsigned long>(out), FACET_MODE_DECODE);
    return 0;
  }
  std::vector<uint8_t> stream = {0x57, 0x4C, facet::kWidth, 0x00, facet::kHeight, 0x00};
  stream.insert(stream.end(), data + FACET_RECORD_SIZE, data + size);
  facet::PhotoDecoder decoder;
  decoder.decode(stream.data(), stream.size(), out);
  return 0;
}
