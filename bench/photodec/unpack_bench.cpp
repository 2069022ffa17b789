// Decoding time of one record made by the test encoder:
//   build/bin/facet_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>

#include <vector>

#include "facet.h"
#include "photo_encoder.h"

namespace {

std::vector<uint8_t> Record(int levels, int maskMode, int bgMode, bool grey) {
  facet_test::EncoderOptions opt;
  opt.levels = levels;
  opt.maskMode = maskMode;
  opt.backgroundMode = bgMode;
  opt.grey = grey;
  return facet_test::MakeRecord(facet_test::EncodeStream(facet_test::MakePortrait(0), opt).stream);
}

void Decode(benchmark::State& state, const std::vector<uint8_t>& rec) {
  std::vector<uint8_t> out(FACET_OUT_SIZE);
  for (auto _ : state) {
    const int rc = unpack(reinterpret_cast<const char*>(rec.data()), reinterpret_cast<unsigned long>(out.data()),
                          FACET_MODE_DECODE);
    if (rc != FACET_OK) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_ColourMaskOneColour(benchmark::State& s) { Decode(s, Record(4, 1, 0, false)); }
void BM_ColourMaskPolygon(benchmark::State& s) { Decode(s, Record(4, 1, 1, false)); }
void BM_ColourNoMask(benchmark::State& s) { Decode(s, Record(4, 0, 0, false)); }
void BM_GreyNoMask(benchmark::State& s) { Decode(s, Record(4, 0, 0, true)); }

BENCHMARK(BM_ColourMaskOneColour)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColourMaskPolygon)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColourNoMask)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GreyNoMask)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
