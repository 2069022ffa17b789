// CPU cost of one APDU through the whole stack: libtessera, the hub
// libportico, the driver libhidlink and the hidapi shim, against a private
// virtual reader with reader waits scaled to nothing (0.0001). Run with the shim preloaded
// (scripts/bench.sh does). The reader's own CPU time is read from
// /proc/<pid>/stat around each run and reported per iteration as
// vreader_cpu_us, apart from this process's (the CPU column, all threads).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sockpath.h"
#include "tessera.h"

namespace {

pid_t g_reader = -1;
std::string g_dir;

// utime + stime of a process, in microseconds.
double CpuUs(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t p = s.rfind(')');
    if (p == std::string::npos)
        return 0;
    unsigned long ut = 0, st = 0;
    // Fields after the name: state(3) ... utime(14) stime(15).
    if (sscanf(s.c_str() + p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &ut, &st) != 2)
        return 0;
    return (ut + st) * 1e6 / sysconf(_SC_CLK_TCK);
}

bool StartReader()
{
    char tmpl[] = "/tmp/apdu-bench-XXXXXX";
    if (!mkdtemp(tmpl))
        return false;
    g_dir = tmpl;
    const std::string sock = g_dir + "/vr.sock";
    const char *bin = getenv("VREADER_BIN");
    const char *profile = getenv("VREADER_PROFILE_FILE");
    if (!bin || !profile)
        return false;
    g_reader = fork();
    if (g_reader == 0) {
        execl(bin, bin, "--socket", sock.c_str(), "--profile", profile, "--time-scale", "0.0001", (char *)nullptr);
        _exit(127);
    }
    setenv("VREADER_SOCKET", sock.c_str(), 1);
    for (int i = 0; i < 500; i++) {
        int fd = vr::connectTo(sock);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        usleep(10000);
    }
    return false;
}

void StopReader()
{
    if (g_reader > 0) {
        kill(g_reader, SIGTERM);
        waitpid(g_reader, nullptr, 0);
    }
    unlink((g_dir + "/vr.sock").c_str());
    rmdir(g_dir.c_str());
}

constexpr int kContact = 0x12;

// Runs body per iteration with the session open and reports the reader's CPU.
template <typename F>
void WithSession(benchmark::State &state, F body)
{
    char err[1024] = {0};
    char pass[64] = {0};
    QMX_CloseDev(err);
    if (QMX_OpenDev(0, pass, err) != 0) {
        state.SkipWithError(err);
        return;
    }
    const double before = CpuUs(g_reader);
    for (auto _ : state) {
        if (!body()) {
            state.SkipWithError("the reader refused");
            break;
        }
    }
    state.counters["vreader_cpu_us"] =
        benchmark::Counter((CpuUs(g_reader) - before) / static_cast<double>(state.iterations()));
    QMX_CloseDev(err);
}

// SELECT EF05: one short APDU (7 bytes) and its status word.
void BM_SelectEF(benchmark::State &state)
{
    unsigned char atr[64];
    int atrLen = 0;
    WithSession(state, [&] {
        // Once: reset and enter the social-security application, where
        // EF05 lives.
        static bool ready = false;
        if (!ready) {
            unsigned char resp[256];
            int respLen = 0;
            ready = QMX_PowerOn(kContact, atr, &atrLen) == 0x9000;
            SelectSSSE(kContact, '1', resp, &respLen);
        }
        return SelectEF(kContact, 0xEF05) == 0x9000;
    });
}

// Reset of the contact card (the answer to reset back).
void BM_PowerOn(benchmark::State &state)
{
    unsigned char atr[64];
    int atrLen = 0;
    WithSession(state, [&] { return QMX_PowerOn(kContact, atr, &atrLen) == 0x9000; });
}

}  // namespace

BENCHMARK(BM_SelectEF)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PowerOn)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (!StartReader()) {
        fprintf(stderr, "vreader did not start (VREADER_BIN, VREADER_PROFILE_FILE)\n");
        StopReader();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    StopReader();
    return 0;
}
