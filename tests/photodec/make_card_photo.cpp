// Prints the photo record of a demo ID card as base64, for the "photo"
// member of the virtual reader's profiles:
//   facet_card_photo <portrait variant> <scrambling mask> <face mask 0|1>
// e.g. facet_card_photo 0 0x3C 1. The same arguments give the same record.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "photo_encoder.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <variant> <mask> <face mask 0|1>\n", argv[0]);
    return 2;
  }
  facet_test::EncoderOptions opt;
  opt.maskMode = std::atoi(argv[3]) ? 1 : 0;
  const int variant = std::atoi(argv[1]);
  const auto mask = uint8_t(std::strtoul(argv[2], nullptr, 0));
  const std::vector<uint8_t> rec =
      facet_test::MakeRecord(facet_test::EncodeStream(facet_test::MakePortrait(variant), opt).stream, mask);
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < rec.size(); i += 3) {
    const uint32_t n = uint32_t(rec[i]) << 16 | uint32_t(i + 1 < rec.size() ? rec[i + 1] : 0) << 8 |
                       (i + 2 < rec.size() ? rec[i + 2] : 0);
    for (int k = 0; k < 4; ++k)
      out += size_t(k) <= (rec.size() - i) ? kDigits[(n >> (18 - 6 * k)) & 63] : '=';
  }
  std::printf("%s\n", out.c_str());
  return 0;
}
