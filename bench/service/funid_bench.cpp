// Time of each FunID end to end: an HTTP request to hwservice on port 7776
// and its whole reply, over one keep-alive connection, with the service on
// the virtual reader (scripts/bench.sh starts both; VREADER_SOCKET names
// the reader's control socket). Wall-clock time per request.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sockpath.h"

namespace {

int g_fd = -1;

bool Connect()
{
    g_fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(7776);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    setsockopt(g_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return connect(g_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
}

// One request; the reply body ("" on a broken reply).
std::string Call(const std::string &request)
{
    if (send(g_fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return "";
    std::string in;
    char buf[8192];
    size_t head = std::string::npos, need = 0;
    for (;;) {
        ssize_t n = recv(g_fd, buf, sizeof buf, 0);
        if (n <= 0)
            return "";
        in.append(buf, static_cast<size_t>(n));
        if (head == std::string::npos && (head = in.find("\n\n")) != std::string::npos) {
            const size_t cl = in.find("Content-Length: ");
            need = head + 2 + strtoul(in.c_str() + cl + 16, nullptr, 10) + 1;  // and the LF after it
        }
        if (head != std::string::npos && in.size() >= need)
            return in.substr(head + 2);
    }
}

std::string Post(const std::string &body)
{
    return "POST /http/hardware HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::string Ctl(const std::string &line)
{
    const char *sock = getenv("VREADER_SOCKET");
    int fd = sock ? vr::connectTo(sock) : -1;
    if (fd < 0)
        return "";
    std::string out = line + "\n", reply;
    bool ok = vr::writeAll(fd, out.data(), out.size()) && vr::readLine(fd, reply, 1 << 20, 5000);
    close(fd);
    return ok ? reply : "";
}

void Run(benchmark::State &state, const std::string &funId, const std::string &extra, const char *before = nullptr,
         const char *mustHave = nullptr)
{
    const std::string req =
        Post("{\"FunID\":\"" + funId + "\",\"TranData\":{\"Region\":\"440100\"" + extra + "}}");
    for (auto _ : state) {
        if (before) {
            state.PauseTiming();
            Ctl(before);
            state.ResumeTiming();
        }
        const std::string reply = Call(req);
        if (reply.find("\"ResultCode\":0,") == std::string::npos ||
            (mustHave && reply.find(mustHave) == std::string::npos)) {
            state.SkipWithError(("failed: " + reply.substr(0, 200)).c_str());
            break;
        }
    }
}

void BM_Hello(benchmark::State &state)
{
    const std::string req = "GET /api/hello HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (auto _ : state)
        if (Call(req).empty()) {
            state.SkipWithError("no reply");
            break;
        }
}
void BM_DKQ0001(benchmark::State &s) { Run(s, "DKQ0001", ""); }
void BM_DKQ0002(benchmark::State &s) { Run(s, "DKQ0002", ""); }
void BM_DKQ0003(benchmark::State &s) { Run(s, "DKQ0003", ""); }
void BM_DKQ0004(benchmark::State &s) { Run(s, "DKQ0004", ""); }
void BM_DKQ0005(benchmark::State &s) { Run(s, "DKQ0005", ""); }
// The same read with the holder's photo decoded and encoded as PNG.
void BM_DKQ0005Photo(benchmark::State &s) { Run(s, "DKQ0005", ",\"Photo\":\"1\"", nullptr, "data:image/png;base64,"); }
void BM_DKQ0007(benchmark::State &s)
{
    Ctl("insert contact bank");
    Run(s, "DKQ0007", "");
    Ctl("insert contact ss3");
}
void BM_DKQ0010(benchmark::State &s) { Run(s, "DKQ0010", ",\"SetAutoRead\":\"0\""); }
// The code is shown before each request (outside the timing), so the wait
// ends at once.
void BM_DKQ0011(benchmark::State &s) { Run(s, "DKQ0011", ",\"Timeout\":\"5\"", "present text=BENCH-QR-0001"); }
void BM_DKQ0012(benchmark::State &s) { Run(s, "DKQ0012", ",\"Timeout\":\"500\""); }

}  // namespace

BENCHMARK(BM_Hello)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DKQ0001)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DKQ0002)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DKQ0003)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DKQ0004)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DKQ0005)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DKQ0005Photo)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DKQ0007)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DKQ0010)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DKQ0011)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DKQ0012)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (!Connect()) {
        fprintf(stderr, "nothing on 127.0.0.1:7776\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    close(g_fd);
    return 0;
}
