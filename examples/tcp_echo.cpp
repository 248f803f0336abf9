// A TCP echo server that waits on all its sockets with osSoctSelect, and a client that checks it.
//
//   tcp_echo [N]          serves on 127.0.0.1, sends N lines (default 10) from a client thread
//                         and exits 0 when every echo came back unchanged
//
// The server keeps the listening socket and every accepted client in one read set and handles
// whatever osSoctSelect reports ready: a new connection, data to send back, or a peer that closed.
// All sockets are non-blocking and every wait has a time-out, so a failure on either side ends
// the program with a message instead of a hang.
//
// The port: the server binds 127.0.0.1 at ports from a start that changes with every run and
// takes the next one while osSoctBind reports the port in use, so concurrent runs do not collide.
#include <qv_os.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace Quorvel;

namespace {

const unsigned kWaitMs = 5000;          // longest wait for one step of either side
const int kRunSeconds = 30;             // the server gives up after this long
const unsigned short kPortBase = 20000; // ports tried: kPortBase .. kPortBase + kPortCount - 1
const unsigned kPortCount = 10000;

// What main hands to the client thread and reads back after it ended.
struct tClientJob {
    tQV_InetAddress server;
    int lines;
    int matched = 0;
    std::atomic<bool> done{false};
};

// Waits until the socket is readable (or writable), at most ms milliseconds. False on time-out or
// failure; the reason is in err.
bool WaitFor(cQV_Error &err, unsigned socket, bool forWrite, unsigned ms) {
    cFD_SET *set = cFD_SET::Create(&err);
    if (!set) return false;
    set->AddSocket(socket);
    const int n =
        osSoctSelect(&err, 0, forWrite ? nullptr : set, forWrite ? set : nullptr, nullptr, ms);
    cFD_SET::Delete(set);
    if (n == 0) err.SetFormat(6, "tcp_echo", __LINE__, "no answer within %u ms", ms);
    return n > 0;
}

// Sends all size bytes, waiting while the socket's send buffer is full.
bool SendAll(cQV_Error &err, unsigned &socket, const char *data, int size) {
    while (size > 0) {
        bool wouldBlock = false;
        const int sent = osSoctSend(&err, socket, reinterpret_cast<const unsigned char *>(data),
                                    size, &wouldBlock);
        if (sent < 0) return false;
        if (sent == 0 && wouldBlock) {
            if (!WaitFor(err, socket, true, kWaitMs)) return false;
            continue;
        }
        data += sent;
        size -= sent;
    }
    return true;
}

// Connects without blocking: the connect starts, the socket becomes writable when it ends, and
// its pending error says how it ended.
bool Connect(cQV_Error &err, unsigned &socket, const tQV_InetAddress &server) {
    if (!osSoctCreate(&err, server.family, eSoctTypeStream, socket)) return false;
    if (!osSoctSetNonblock(&err, socket, true)) return false;
    bool wouldBlock = false;
    if (osSoctConnect(&err, socket, server, &wouldBlock)) return true;
    if (!wouldBlock) return false;
    if (!WaitFor(err, socket, true, kWaitMs)) return false;
    int pending = 0;
    if (!osSoctGetOpt_SO_ERROR(&err, socket, pending)) return false;
    if (pending != 0) {
        err.SetFormat(6, "tcp_echo", __LINE__, "connect failed: %s",
                      (const char *)osGetSysErrorStr(pending));
        return false;
    }
    return true;
}

// The client: one line out, then read until its echo is complete and compare.
unsigned Client(void *arg) {
    tClientJob &job = *static_cast<tClientJob *>(arg);
    cQV_Error err;
    unsigned socket = 0;
    if (Connect(err, socket, job.server)) {
        std::string pending; // bytes received and not yet compared
        for (int i = 1; i <= job.lines; ++i) {
            char line[64];
            const int length = std::snprintf(line, sizeof line, "line %d of %d\n", i, job.lines);
            if (!SendAll(err, socket, line, length)) break;
            while (pending.find('\n') == std::string::npos) {
                if (!WaitFor(err, socket, false, kWaitMs)) break;
                unsigned char buffer[256];
                bool wouldBlock = false;
                const int got = osSoctRecv(&err, socket, buffer, sizeof buffer, &wouldBlock);
                if (got < 0) break;
                if (got == 0 && !wouldBlock) {
                    err.SetFormat(6, "tcp_echo", __LINE__, "the server closed the connection");
                    break;
                }
                pending.append(reinterpret_cast<char *>(buffer), got);
            }
            const size_t end = pending.find('\n');
            if (end == std::string::npos) break; // err says why
            if (pending.compare(0, end + 1, line) == 0)
                ++job.matched;
            else
                std::fprintf(stderr, "client: sent \"%.*s\", got \"%.*s\" back\n", length - 1, line,
                             int(end), pending.c_str());
            pending.erase(0, end + 1);
        }
    }
    if (err.IsError()) std::fprintf(stderr, "client: %s\n", (const char *)err.text);
    cQV_Error closeErr;
    if (!osSoctClose(&closeErr, socket))
        std::fprintf(stderr, "client: %s\n", (const char *)closeErr.text);
    job.done = true;
    return 0;
}

// Binds a listening socket to 127.0.0.1 at the first free port from a start that differs from
// run to run. The chosen port is left in addr.
bool Listen(cQV_Error &err, unsigned &listener, tQV_InetAddress &addr) {
    osCreateLocalhostIp(eSoctFamilyIPv4, addr);
    const unsigned start =
        unsigned(std::chrono::steady_clock::now().time_since_epoch().count() / 1000) ^
        (osGetCurrentProcessId() * 7919u);
    for (unsigned i = 0; i < kPortCount; ++i) {
        if (!osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, listener)) return false;
        addr.port = static_cast<unsigned short>(kPortBase + (start + i) % kPortCount);
        bool inUse = false;
        if (osSoctBind(&err, listener, addr, &inUse))
            return osSoctListen(&err, listener, 16) && osSoctSetNonblock(&err, listener, true);
        cQV_Error closeErr;
        osSoctClose(&closeErr, listener);
        if (!inUse) return false; // a failure that another port will not mend
    }
    return false; // err holds the last "in use" failure
}

void CloseAll(std::vector<unsigned> &sockets) {
    for (unsigned &s : sockets) {
        cQV_Error err;
        if (!osSoctClose(&err, s)) std::fprintf(stderr, "server: %s\n", (const char *)err.text);
    }
    sockets.clear();
}

// Serves until the client thread is done and its connection has closed, or until time is up.
// Returns whether it ended without a failure.
bool Serve(unsigned &listener, tClientJob &job) {
    cQV_Error err;
    cFD_SET *ready = cFD_SET::Create(&err);
    if (!ready) {
        std::fprintf(stderr, "server: %s\n", (const char *)err.text);
        return false;
    }
    std::vector<unsigned> clients;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunSeconds);
    bool ok = true;
    while (ok && !(job.done && clients.empty())) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "server: still running after %d s, giving up\n", kRunSeconds);
            ok = false;
            break;
        }
        // osSoctSelect leaves only the ready sockets in the set: fill it anew every round.
        ready->DelAllSockets();
        ready->AddSocket(listener);
        for (unsigned s : clients)
            ready->AddSocket(s);
        // A short time-out so that the loop notices a finished client soon.
        const int n = osSoctSelect(&err, 0, ready, nullptr, nullptr, 200);
        if (n < 0) {
            std::fprintf(stderr, "server: %s\n", (const char *)err.text);
            ok = false;
            break;
        }
        if (n == 0) continue;

        if (ready->IsSocketSet(listener)) {
            unsigned accepted = 0;
            tQV_InetAddress peer{};
            bool wouldBlock = false;
            if (osSoctAccept(&err, listener, accepted, &peer, &wouldBlock)) {
                std::printf("server: connection from %s\n", (const char *)osGetIpString(peer));
                clients.push_back(accepted);
                if (!osSoctSetNonblock(&err, clients.back(), true)) {
                    std::fprintf(stderr, "server: %s\n", (const char *)err.text);
                    ok = false;
                }
            } else if (!wouldBlock) { // would-block: the connection went away before accept
                std::fprintf(stderr, "server: %s\n", (const char *)err.text);
                ok = false;
            }
        }
        for (size_t i = 0; i < clients.size();) {
            if (!ready->IsSocketSet(clients[i])) {
                ++i;
                continue;
            }
            unsigned char buffer[4096];
            bool wouldBlock = false;
            const int got = osSoctRecv(&err, clients[i], buffer, sizeof buffer, &wouldBlock);
            bool drop = false;
            if (got > 0) {
                drop = !SendAll(err, clients[i], reinterpret_cast<char *>(buffer), got);
                if (drop) std::fprintf(stderr, "server: %s\n", (const char *)err.text);
            } else if (got < 0) {
                std::fprintf(stderr, "server: %s\n", (const char *)err.text);
                drop = true;
            } else if (!wouldBlock) {
                drop = true; // the peer closed its end
            }
            if (drop) {
                cQV_Error closeErr;
                if (!osSoctClose(&closeErr, clients[i]))
                    std::fprintf(stderr, "server: %s\n", (const char *)closeErr.text);
                clients.erase(clients.begin() + long(i));
            } else {
                ++i;
            }
        }
    }
    CloseAll(clients);
    cFD_SET::Delete(ready);
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    const int lines = argc > 1 ? std::atoi(argv[1]) : 10;
    if (argc > 2 || lines < 1 || lines > 100000) {
        std::fprintf(stderr, "usage: tcp_echo [N]     N lines, 1 to 100000\n");
        return 2;
    }
    cQV_Error err;
    unsigned listener = 0;
    tClientJob job;
    job.lines = lines;
    if (!Listen(err, listener, job.server)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1: %s\n", (const char *)err.text);
        osSoctClose(&err, listener);
        return 1;
    }
    std::printf("server: listening on %s\n", (const char *)osGetIpString(job.server));

    void *client = osCreateThread(&err, Client, &job, nullptr);
    if (!client) {
        std::fprintf(stderr, "cannot start the client: %s\n", (const char *)err.text);
        osSoctClose(&err, listener);
        return 1;
    }
    const bool served = Serve(listener, job);
    // The client's own waits are bounded, so this join is too.
    osCloseThread(client);
    if (!osSoctClose(&err, listener)) std::fprintf(stderr, "server: %s\n", (const char *)err.text);

    std::printf("%d of %d echoes matched\n", job.matched, lines);
    return served && job.matched == lines ? 0 : 1;
}
