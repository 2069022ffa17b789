// CPU time of one 260-byte command and 260-byte response (five reports
// each way) through ICC_apdu_exchange, the reader played by the test double.
#include <benchmark/benchmark.h>

#include "fake_hidapi.h"
#include "hidlink.h"

namespace {

// The reports of a response, built here the way the reader sends them.
std::vector<fakehid::Read> response_reports(uint8_t nad, size_t size)
{
    std::vector<uint8_t> resp(size);
    for (size_t i = 0; i < size; i++)
        resp[i] = static_cast<uint8_t>(i);
    resp[size - 2] = 0x90;
    resp[size - 1] = 0x00;
    std::vector<fakehid::Read> out;
    for (size_t off = 0, seq = 0; off < size; off += 61, seq++) {
        size_t n = std::min<size_t>(61, size - off);
        std::vector<uint8_t> r(64, 0);
        r[0] = nad;
        r[1] = static_cast<uint8_t>((seq & 0x1F) | (size - off > 61 ? 0x20 : 0) | ((seq & 1) ? 0x40 : 0));
        r[2] = static_cast<uint8_t>(n);
        std::copy_n(resp.begin() + off, n, r.begin() + 3);
        out.push_back(fakehid::report(r));
    }
    return out;
}

void BM_Exchange260(benchmark::State &state)
{
    fakehid::reset();
    fakehid::plug("bench:1.1");
    void *h = HV_open("hid", 0, nullptr);
    if (h == HV_INVALID_HANDLE) {
        state.SkipWithError("no reader");
        return;
    }
    HV_set_nad(h, NAD_ICCARD);
    fakehid::loop_reply(response_reports(NAD_ICCARD, 260));
    uint8_t cmd[260];
    for (size_t i = 0; i < sizeof(cmd); i++)
        cmd[i] = static_cast<uint8_t>(i * 7);
    static uint8_t out[HV_MAX_REPLY_DATA];
    uint32_t len = 0;
    for (auto _ : state) {
        uint32_t sw = ICC_apdu_exchange(h, sizeof(cmd), cmd, &len, out);
        if (sw != 0x9000 || len != 258) {
            state.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * (260 + 260));
    HV_close(h);
}
BENCHMARK(BM_Exchange260);

}  // namespace

// At the default log level an exchange writes no line, so the log file
// (HIDLINK_LOG_FILE or /tmp/hidlink.log) only receives the load banner.
BENCHMARK_MAIN();
