// Addresses and sockets: the address reader against the system's converter, a loopback TCP
// transfer and a wait over many sockets against the raw system calls doing the same work.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "bench_table.h"
#include "qv_socket.h"

using namespace Quorvel;

namespace {

const char *const kV4[] = {"192.168.0.1", "10.0.0.254", "172.16.31.7", "8.8.4.4"};
const char *const kV6[] = {"2001:db8::ff00:42:8329", "fe80::1", "::1",
                           "2001:db8:85a3:0:0:8a2e:370:7334"};

template <const char *const (&Texts)[4]> void ParseOurs(benchmark::State &state) {
    tQV_InetAddress a{};
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(osParseIpAddress(a, Texts[i++ & 3], 0, nullptr));
        benchmark::DoNotOptimize(a);
    }
    state.SetItemsProcessed(state.iterations());
}

template <const char *const (&Texts)[4], int Af> void ParsePeer(benchmark::State &state) {
    unsigned char buf[16];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(inet_pton(Af, Texts[i++ & 3], buf));
        benchmark::DoNotOptimize(buf);
    }
    state.SetItemsProcessed(state.iterations());
}

// A connected loopback TCP pair of raw descriptors.
bool Pair(int &a, int &b) {
    int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(l, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(l, 1) != 0 ||
        getsockname(l, reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
        close(l);
        return false;
    }
    a = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(a, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        close(l);
        close(a);
        return false;
    }
    b = accept(l, nullptr, nullptr);
    close(l);
    return b >= 0;
}

constexpr int kChunk = 64 * 1024;
constexpr long long kTotal = 64ll * 1024 * 1024;

// 64 MiB in 64 KiB calls from one thread to a reader thread.
template <bool Ours> void Transfer(benchmark::State &state) {
    int a = -1, b = -1;
    if (!Pair(a, b)) {
        state.SkipWithError("no loopback pair");
        return;
    }
    unsigned ha = static_cast<unsigned>(a), hb = static_cast<unsigned>(b);
    std::vector<unsigned char> out(kChunk, 0x5A), in(kChunk);
    for (auto _ : state) {
        std::thread reader([&] {
            long long got = 0;
            while (got < kTotal) {
                const long n = Ours ? osSoctRecv(nullptr, hb, in.data(), kChunk, nullptr)
                                    : recv(b, in.data(), kChunk, 0);
                if (n <= 0) break;
                got += n;
            }
        });
        long long sent = 0;
        while (sent < kTotal) {
            const long n = Ours ? osSoctSend(nullptr, ha, out.data(), kChunk, nullptr)
                                : send(a, out.data(), kChunk, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += n;
        }
        reader.join();
    }
    state.SetBytesProcessed(state.iterations() * kTotal);
    close(a);
    close(b);
}

// 1000 datagram sockets, the last one with a datagram waiting (never read, so it stays ready).
struct ManySockets {
    std::vector<int> fds;
    bool ok = true;
    ManySockets() {
        for (int i = 0; i < 1000; ++i) {
            int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) ok = false;
            fds.push_back(s);
        }
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        getsockname(fds.back(), reinterpret_cast<sockaddr *>(&sa), &len);
        sendto(fds.front(), "x", 1, 0, reinterpret_cast<sockaddr *>(&sa), len);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~ManySockets() {
        for (int s : fds)
            close(s);
    }
};

void SelectOurs(benchmark::State &state) {
    ManySockets m;
    cFD_SET *set = cFD_SET::Create(nullptr);
    int ready = 0;
    for (auto _ : state) {
        // Filling the set again is part of every select loop.
        set->DelAllSockets();
        for (int s : m.fds)
            set->AddSocket(static_cast<unsigned>(s));
        ready = osSoctSelect(nullptr, 0, set, nullptr, nullptr, 1000);
    }
    cFD_SET::Delete(set);
    if (!m.ok || ready != 1) state.SkipWithError("not exactly one socket ready");
}

void SelectPeer(benchmark::State &state) {
    ManySockets m;
    std::vector<pollfd> p(m.fds.size());
    int ready = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < m.fds.size(); ++i)
            p[i] = {m.fds[i], POLLIN, 0};
        ready = poll(p.data(), p.size(), 1000);
    }
    if (!m.ok || ready != 1) state.SkipWithError("not exactly one socket ready");
}

} // namespace

QV_BENCH_ROW(parse4, "osParseIpAddress IPv4 vs inet_pton", "<= 1x time", ParseOurs<kV4>,
             (ParsePeer<kV4, AF_INET>));
QV_BENCH_ROW(parse6, "osParseIpAddress IPv6 vs inet_pton", "<= 1x time", ParseOurs<kV6>,
             (ParsePeer<kV6, AF_INET6>));
QV_BENCH_ROW(tcp, "TCP loopback 64 MiB in 64 KiB calls vs send/recv", "<= 1.05x time",
             Transfer<true>, Transfer<false>);
QV_BENCH_ROW(select, "osSoctSelect 1000 sockets, one ready, vs poll", "<= 1.5x time", SelectOurs,
             SelectPeer);
