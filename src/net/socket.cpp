// Socket operations: argument rules, would-block outcomes and the failure messages. The messages
// are part of the interface: callers and their logs match on them.
#include "qv_socket.h"

#include "error_codes.h"
#include "net_os.h"

#include <cstring>
#include <new>

namespace Quorvel {

namespace {

const char kModule[] = "ossocket";

using namespace detail;

// The set behind cFD_SET: a count and the handles in the order they were added, which is what
// the platform's select is handed. Beside it, a count of held handles per bucket (handle modulo
// a prime) answers "absent" without a search for almost every handle, so that filling a set is
// linear rather than quadratic; a search runs only where a bucket is shared.
class cFD_SETimpl final : public cFD_SET {
public:
    cFD_SETimpl() { DelAllSockets(); }

    void DelSocket(unsigned socket) override {
        if (_inBucket[Bucket(socket)] == 0) return;
        const unsigned i = Find(socket);
        if (i == _set.count) return;
        for (unsigned k = i + 1; k < _set.count; ++k)
            _set.handles[k - 1] = _set.handles[k];
        --_set.count;
        --_inBucket[Bucket(socket)];
    }
    bool IsSocketSet(unsigned socket) override {
        return _inBucket[Bucket(socket)] != 0 && Find(socket) != _set.count;
    }
    void AddSocket(unsigned socket) override {
        if (_set.count >= kSocketSetSize || IsSocketSet(socket)) return;
        _set.handles[_set.count++] = socket;
        ++_inBucket[Bucket(socket)];
    }
    void DelAllSockets() override {
        _set.count = 0;
        std::memset(_inBucket, 0, sizeof _inBucket);
    }

    // After the platform has changed the handles (select keeps only the ready ones).
    void Reindex() {
        std::memset(_inBucket, 0, sizeof _inBucket);
        for (unsigned i = 0; i < _set.count; ++i)
            ++_inBucket[Bucket(_set.handles[i])];
    }

    tSocketSet _set;

private:
    // A prime: descriptor numbers (consecutive) and Windows handles (multiples of 4) both spread
    // over every bucket.
    static constexpr unsigned kBuckets = 4093;
    static unsigned Bucket(unsigned socket) { return socket % kBuckets; }
    unsigned Find(unsigned socket) const {
        unsigned i = 0;
        while (i < _set.count && _set.handles[i] != socket)
            ++i;
        return i;
    }

    unsigned short _inBucket[kBuckets];
};

// Every cFD_SET with storage is made by Create; a caller's own subclass has none and counts as
// an absent set.
cFD_SETimpl *ImplOf(cFD_SET *set) {
    return set ? dynamic_cast<cFD_SETimpl *>(set) : nullptr;
}

} // namespace

cFD_SET::~cFD_SET() = default;

cFD_SET *cFD_SET::Create(cQV_Error *err) {
    cFD_SET *set = new (std::nothrow) cFD_SETimpl;
    if (!set) {
        QV_FAIL(err, kErrMemory, "Failed to allocate memory. Requested size:%d",
                static_cast<int>(sizeof(cFD_SETimpl)));
    }
    return set;
}

void cFD_SET::Delete(cFD_SET *&set) {
    if (!set) return;
    delete set;
    set = nullptr;
}

bool osSoctCreate(cQV_Error *err, eSoctFamily family, eSoctType type, unsigned &socket) {
    PlatformEnsureSocketService();
    if (!PlatformSoctCreate(family, type, socket)) {
        socket = 0;
        // The same text for datagram sockets.
        return QV_FAIL(err, kErrSocket, "Failed to create TCP socket. WSAGetLastError()=%d",
                       PlatformSoctLastError());
    }
    return true;
}

bool osSoctClose(cQV_Error *err, unsigned &socket) {
    if (socket == 0) return true;
    if (!PlatformSoctClose(socket)) {
        return QV_FAIL(err, kErrSocket, "Failed to close socket. Socket:%u, WSAGetLastError()=%d",
                       socket, PlatformSoctLastError());
    }
    socket = 0;
    return true;
}

bool osSoctShutdown(cQV_Error *err, unsigned &socket, eSoctShutdownMode mode) {
    if (!PlatformSoctShutdown(socket, mode)) {
        return QV_FAIL(err, kErrSocket,
                       "Failed to shutdown socket. Socket:%u, WSAGetLastError()=%d", socket,
                       PlatformSoctLastError());
    }
    return true;
}

bool osSoctSetNonblock(cQV_Error *err, unsigned &socket, bool on) {
    if (!PlatformSoctSetNonblock(socket, on)) {
        return QV_FAIL(err, kErrSocket,
                       "Failed to set non-blocking flag. Socket:%u, WSAGetLastError()=%d", socket,
                       PlatformSoctLastError());
    }
    return true;
}

bool osSoctBind(cQV_Error *err, unsigned &socket, const tQV_InetAddress &addr, bool *inUse) {
    if (!PlatformSoctBind(socket, addr)) {
        const int e = PlatformSoctLastError();
        if (inUse) *inUse = PlatformSoctIsInUse(e);
        return QV_FAIL(err, kErrSocket, "Failed to bind socket. Port=%d, WSAGetLastError()=%d",
                       addr.port, e);
    }
    if (inUse) *inUse = false;
    return true;
}

bool osSoctListen(cQV_Error *err, unsigned &socket, int backlog) {
    if (!PlatformSoctListen(socket, backlog)) {
        return QV_FAIL(err, kErrSocket,
                       "Failed to place socket into listen state. Socket:%u, WSAGetLastError()=%d",
                       socket, PlatformSoctLastError());
    }
    return true;
}

bool osSoctAccept(cQV_Error *err, unsigned &listener, unsigned &accepted, tQV_InetAddress *peer,
                  bool *wouldBlock) {
    if (!PlatformSoctAccept(listener, accepted, peer)) {
        const int e = PlatformSoctLastError();
        accepted = 0;
        if (wouldBlock) *wouldBlock = PlatformSoctIsWouldBlock(e);
        return QV_FAIL(err, kErrSocket,
                       "Failed to accept new connection. Socket:%u, WSAGetLastError()=%d", listener,
                       e);
    }
    return true;
}

bool osSoctConnect(cQV_Error *err, unsigned &socket, const tQV_InetAddress &addr,
                   bool *wouldBlock) {
    if (wouldBlock) *wouldBlock = false;
    if (PlatformSoctConnect(socket, addr)) return true;
    const int e = PlatformSoctLastError();
    if (PlatformSoctIsWouldBlock(e)) {
        if (wouldBlock) *wouldBlock = true;
        return false;
    }
    // The trailing line feed is part of the message.
    return QV_FAIL(err, kErrSocket, "Failed to connect socket %u to %s. WSAGetLastError()=%d\n",
                   socket, static_cast<const char *>(osGetIpString(addr)), e);
}

int osSoctRecv(cQV_Error *err, unsigned &socket, unsigned char *buffer, int size,
               bool *wouldBlock) {
    if (wouldBlock) *wouldBlock = false;
    const int n = PlatformSoctRecv(socket, buffer, size);
    if (n >= 0) return n;
    const int e = PlatformSoctLastError();
    if (PlatformSoctIsWouldBlock(e)) {
        if (wouldBlock) *wouldBlock = true;
        return 0;
    }
    QV_FAIL(err, kErrSocket,
            "Recv failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=%d", socket,
            static_cast<unsigned>(size), e);
    return -1;
}

int osSoctSend(cQV_Error *err, unsigned &socket, const unsigned char *data, int size,
               bool *wouldBlock) {
    if (wouldBlock) *wouldBlock = false;
    const int n = PlatformSoctSend(socket, data, size);
    if (n >= 0) return n;
    const int e = PlatformSoctLastError();
    if (PlatformSoctIsWouldBlock(e)) {
        if (wouldBlock) *wouldBlock = true;
        return 0;
    }
    QV_FAIL(err, kErrSocket,
            "Send failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=%d", socket,
            static_cast<unsigned>(size), e);
    return -1;
}

bool osSoctRecvFrom(cQV_Error *err, unsigned &socket, unsigned char *buffer, unsigned size,
                    tQV_InetAddress &from, unsigned *received) {
    const int n = PlatformSoctRecvFrom(socket, buffer, size, from);
    if (n < 0) {
        return QV_FAIL(err, kErrSocket,
                       "Recvfrom failed on socket %u. Bytes requested to read=%u. "
                       "WSAGetLastError()=%d",
                       socket, size, PlatformSoctLastError());
    }
    if (received) *received = static_cast<unsigned>(n);
    return true;
}

int osSoctSendTo(cQV_Error *err, unsigned &socket, const unsigned char *data, int size,
                 const tQV_InetAddress &to) {
    const int n = PlatformSoctSendTo(socket, data, size, to);
    if (n < 0) {
        QV_FAIL(err, kErrSocket,
                "Sendto failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=%d",
                socket, static_cast<unsigned>(size), PlatformSoctLastError());
        return -1;
    }
    return n;
}

bool osSoctGetPeerName(cQV_Error *err, unsigned &socket, tQV_InetAddress &peer) {
    if (!PlatformSoctGetPeerName(socket, peer)) {
        return QV_FAIL(err, kErrSocket,
                       "Failed to get socket peer name. Socket:%u, WSAGetLastError()=%d", socket,
                       PlatformSoctLastError());
    }
    return true;
}

bool osSockGetReadSize(cQV_Error *err, unsigned &socket, unsigned &size) {
    if (!PlatformSockGetReadSize(socket, size)) {
        size = 0;
        return QV_FAIL(err, kErrSocket,
                       "Failed to get socket's unblocked read size. Socket:%d, "
                       "WSAGetLastError()=%d",
                       static_cast<int>(socket), PlatformSoctLastError());
    }
    return true;
}

bool osSoctGetOpt_SO_ERROR(cQV_Error *err, unsigned &socket, int &value) {
    if (!PlatformSoctGetOpt(socket, eOptSoError, value)) {
        return QV_FAIL(err, kErrSocket, "getsockopt with SO_ERROR failed on socket %u. %s", socket,
                       static_cast<const char *>(osGetSysErrorStr(PlatformSoctLastError())));
    }
    return true;
}

bool osSoctSetOpt_TCP_NODELAY(cQV_Error *err, unsigned &socket, bool on) {
    if (!PlatformSoctSetOpt(socket, eOptTcpNoDelay, on ? 1 : 0)) {
        return QV_FAIL(err, kErrSocket,
                       "setsockopt with TCP_NODELAY failed on socket %u. WSAGetLastError()=%d",
                       socket, PlatformSoctLastError());
    }
    return true;
}

bool osSoctSetOpt_SO_REUSEADDR(cQV_Error *err, unsigned &socket, bool on) {
    if (!PlatformSoctSetOpt(socket, eOptReuseAddr, on ? 1 : 0)) {
        return QV_FAIL(err, kErrSocket,
                       "setsockopt with SO_REUSEADDR failed on socket %u. WSAGetLastError()=%d",
                       socket, PlatformSoctLastError());
    }
    return true;
}

bool osSoctSetOpt_IPV6_V6ONLY(cQV_Error *err, unsigned &socket, bool on) {
    if (!PlatformSoctSetOpt(socket, eOptV6Only, on ? 1 : 0)) {
        return QV_FAIL(err, kErrSocket,
                       "setsockopt with IPV6_V6ONLY failed on socket %u. WSAGetLastError()=%d",
                       socket, PlatformSoctLastError());
    }
    return true;
}

bool osSoctSetOpt_SO_LINGER(cQV_Error *err, unsigned &socket, bool on, int seconds) {
    if (!PlatformSoctSetLinger(socket, on, seconds)) {
        return QV_FAIL(err, kErrSocket, "Set SO_LINGER=(%d,%d) failed. WSAGetLastError()=%d",
                       on ? 1 : 0, seconds, PlatformSoctLastError());
    }
    return true;
}

int osSoctSelect(cQV_Error *err, unsigned, cFD_SET *read, cFD_SET *write, cFD_SET *except,
                 unsigned timeout) {
    PlatformEnsureSocketService();
    cFD_SETimpl *sets[3] = {ImplOf(read), ImplOf(write), ImplOf(except)};
    const int n =
        PlatformSoctSelect(sets[0] ? &sets[0]->_set : nullptr, sets[1] ? &sets[1]->_set : nullptr,
                           sets[2] ? &sets[2]->_set : nullptr, timeout);
    for (cFD_SETimpl *set : sets) {
        if (set) set->Reindex();
    }
    if (n < 0) {
        QV_FAIL(err, kErrSocket, "Socket select failed. WSAGetLastError()=%d",
                PlatformSoctLastError());
        return -1;
    }
    return n;
}

} // namespace Quorvel
