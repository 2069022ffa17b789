// Writes encoder-made records as the fuzz seed corpus: facet_make_corpus <dir>
#include <cstdio>
#include <fstream>
#include <string>

#include "photo_encoder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <dir>\n", argv[0]);
    return 2;
  }
  int n = 0;
  for (int variant = 0; variant < 3; ++variant)
    for (int levels : {0, 3, 5, 7})
      for (int kind = 0; kind < 3; ++kind) {
        facet_test::EncoderOptions opt;
        opt.levels = levels;
        opt.backgroundMode = kind == 1;
        opt.maskMode = kind == 2 ? 0 : 1 + variant % 3;
        opt.grey = variant == 2 && kind == 0;
        const facet_test::Encoded e = facet_test::EncodeStream(facet_test::MakePortrait(variant), opt);
        // Cards differ in their scrambling mask: the seeds spread over many.
        const std::vector<uint8_t> rec = facet_test::MakeRecord(e.stream, uint8_t(n * 47 + 5));
        char name[64];
        std::snprintf(name, sizeof name, "/seed-%02d.rec", n++);
        std::ofstream(argv[1] + std::string(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(rec.data()), std::streamsize(rec.size()));
      }
  std::printf("%d records\n", n);
  return 0;
}
