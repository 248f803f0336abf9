// Library sockets against peers made with the system's own calls, on 127.0.0.1 and ::1.
#include "net_test_util.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#endif

using namespace Quorvel;
using namespace nettest;

namespace {

class Families : public ::testing::TestWithParam<eSoctFamily> {};

std::string FamilyName(const ::testing::TestParamInfo<eSoctFamily> &info) {
    return info.param == eSoctFamilyIPv6 ? "IPv6" : "IPv4";
}

// Library listener and acceptor, raw client; then data both ways, peer names and the read size.
TEST_P(Families, TcpAcceptAndTransfer) {
    const eSoctFamily f = GetParam();
    cQV_Error err;
    LibSocket listener;
    ASSERT_TRUE(osSoctCreate(&err, f, eSoctTypeStream, listener.h)) << err.text;
    EXPECT_NE(listener.h, 0u);
    bool inUse = true;
    ASSERT_TRUE(osSoctBind(&err, listener.h, Loopback(f), &inUse)) << err.text;
    EXPECT_FALSE(inUse);
    ASSERT_TRUE(osSoctListen(&err, listener.h, 4)) << err.text;
    const unsigned short port = LocalPort(ToRaw(listener.h));
    ASSERT_NE(port, 0);

    RawHolder client(RawConnect(f, port));
    ASSERT_NE(client.s, kNoRaw) << RawError();
    LibSocket conn;
    tQV_InetAddress peer{};
    bool wouldBlock = true;
    ASSERT_TRUE(osSoctAccept(&err, listener.h, conn.h, &peer, &wouldBlock)) << err.text;
    EXPECT_TRUE(wouldBlock) << "success leaves wouldBlock alone";
    EXPECT_NE(conn.h, 0u);
    EXPECT_EQ(peer.family, f);
    EXPECT_EQ(peer.port, LocalPort(client.s));
    EXPECT_EQ(EncodeIpAddress(peer), EncodeIpAddress(Loopback(f)));

    tQV_InetAddress named{};
    ASSERT_TRUE(osSoctGetPeerName(&err, conn.h, named)) << err.text;
    EXPECT_STREQ(osGetIpString(named), osGetIpString(peer));

    ASSERT_TRUE(RawSendAll(client.s, "hello from raw"));
    unsigned ready = 0;
    for (int i = 0; i < 1000 && ready < 14; ++i) {
        ASSERT_TRUE(osSockGetReadSize(&err, conn.h, ready)) << err.text;
        if (ready < 14) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(ready, 14u);
    unsigned char buf[64];
    int n = osSoctRecv(&err, conn.h, buf, sizeof buf, &wouldBlock);
    ASSERT_EQ(n, 14) << err.text;
    EXPECT_FALSE(wouldBlock);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 14), "hello from raw");

    const std::string reply = "reply from library";
    n = osSoctSend(&err, conn.h, reinterpret_cast<const unsigned char *>(reply.data()),
                   static_cast<int>(reply.size()), &wouldBlock);
    ASSERT_EQ(n, static_cast<int>(reply.size())) << err.text;
    EXPECT_EQ(RawRecvN(client.s, reply.size()), reply);

    // Shutting down our sending side is seen by the peer as the end of the stream.
    ASSERT_TRUE(osSoctShutdown(&err, conn.h, eSoctShutdownSend)) << err.text;
    EXPECT_EQ(RawRecvN(client.s, 1), "");
    EXPECT_TRUE(err.IsNotError());
}

// Library client against a raw listener.
TEST_P(Families, TcpConnectToRawListener) {
    const eSoctFamily f = GetParam();
    unsigned short port = 0;
    RawHolder listener(RawListener(f, port));
    ASSERT_NE(listener.s, kNoRaw);
    cQV_Error err;
    LibSocket s;
    ASSERT_TRUE(osSoctCreate(&err, f, eSoctTypeStream, s.h)) << err.text;
    bool wouldBlock = true;
    ASSERT_TRUE(osSoctConnect(&err, s.h, Loopback(f, port), &wouldBlock)) << err.text;
    EXPECT_FALSE(wouldBlock);
    RawHolder server(RawAccept(listener.s));
    ASSERT_NE(server.s, kNoRaw);
    const unsigned char data[] = {1, 2, 3, 0, 255};
    ASSERT_EQ(osSoctSend(&err, s.h, data, 5, nullptr), 5) << err.text;
    EXPECT_EQ(RawRecvN(server.s, 5), std::string("\x01\x02\x03\x00\xff", 5));
}

TEST_P(Families, UdpBothWays) {
    const eSoctFamily f = GetParam();
    unsigned short rawPort = 0;
    RawHolder raw(RawBound(f, SOCK_DGRAM, rawPort));
    ASSERT_NE(raw.s, kNoRaw);
    cQV_Error err;
    LibSocket s;
    ASSERT_TRUE(osSoctCreate(&err, f, eSoctTypeDatagram, s.h)) << err.text;
    ASSERT_TRUE(osSoctBind(&err, s.h, Loopback(f), nullptr)) << err.text;
    const unsigned short libPort = LocalPort(ToRaw(s.h));

    const unsigned char ping[] = "ping";
    ASSERT_EQ(osSoctSendTo(&err, s.h, ping, 4, Loopback(f, rawPort)), 4) << err.text;
    char buf[16];
    sockaddr_storage from;
    socklen_t fromLen = sizeof from;
    ASSERT_EQ(recvfrom(raw.s, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &fromLen),
              4);
    EXPECT_EQ(std::string(buf, 4), "ping");

    sockaddr_storage to;
    const socklen_t toLen = ToSockaddr(Loopback(f, libPort), to);
    ASSERT_EQ(sendto(raw.s, "pong!", 5, 0, reinterpret_cast<sockaddr *>(&to), toLen), 5);
    unsigned char in[16];
    tQV_InetAddress sender{};
    unsigned received = 0;
    ASSERT_TRUE(osSoctRecvFrom(&err, s.h, in, sizeof in, sender, &received)) << err.text;
    EXPECT_EQ(received, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(in), 5), "pong!");
    EXPECT_EQ(sender.family, f);
    EXPECT_EQ(sender.port, rawPort);
}

INSTANTIATE_TEST_SUITE_P(Loopback, Families, ::testing::Values(eSoctFamilyIPv4, eSoctFamilyIPv6),
                         FamilyName);

TEST(Socket, CloseOfZeroAndAfterClose) {
    cQV_Error err;
    unsigned none = 0;
    EXPECT_TRUE(osSoctClose(&err, none));
    EXPECT_TRUE(err.IsNotError());
    unsigned s = 0;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, s));
    const unsigned was = s;
    ASSERT_TRUE(osSoctClose(&err, s));
    EXPECT_EQ(s, 0u);
    // The old number no longer names a socket: closing it again fails and keeps the handle.
    unsigned stale = was;
    EXPECT_FALSE(osSoctClose(&err, stale));
    EXPECT_EQ(stale, was);
    EXPECT_EQ(err.code, 6);
    EXPECT_STREQ(err.file, "ossocket");
    EXPECT_TRUE(MessageIs(err, "Failed to close socket. Socket:" + std::to_string(was) +
                                   ", WSAGetLastError()="))
        << err.text;
}

// Every operation on a handle that names no socket reports its own message.
TEST(Socket, FailureMessagesOnStaleHandle) {
    unsigned s = 0;
    ASSERT_TRUE(osSoctCreate(nullptr, eSoctFamilyIPv4, eSoctTypeStream, s));
    const unsigned stale = s;
    ASSERT_TRUE(osSoctClose(nullptr, s));
    const std::string h = std::to_string(stale);
    struct Case {
        std::string prefix;
        std::function<bool(cQV_Error &, unsigned &)> call;
    };
    unsigned char buf[8] = {};
    tQV_InetAddress addr = Loopback(eSoctFamilyIPv4, 9);
    const std::vector<Case> cases = {
        {"Failed to shutdown socket. Socket:" + h + ", WSAGetLastError()=",
         [](cQV_Error &e, unsigned &x) { return osSoctShutdown(&e, x, eSoctShutdownBoth); }},
        {"Failed to set non-blocking flag. Socket:" + h + ", WSAGetLastError()=",
         [](cQV_Error &e, unsigned &x) { return osSoctSetNonblock(&e, x, true); }},
        {"Failed to bind socket. Port=9, WSAGetLastError()=",
         [&](cQV_Error &e, unsigned &x) { return osSoctBind(&e, x, addr, nullptr); }},
        {"Failed to place socket into listen state. Socket:" + h + ", WSAGetLastError()=",
         [](cQV_Error &e, unsigned &x) { return osSoctListen(&e, x, 1); }},
        {"Failed to accept new connection. Socket:" + h + ", WSAGetLastError()=",
         [](cQV_Error &e, unsigned &x) {
             unsigned a = 77;
             bool wb = true;
             const bool ok = osSoctAccept(&e, x, a, nullptr, &wb);
             EXPECT_EQ(a, 0u);
             EXPECT_FALSE(wb);
             return ok;
         }},
        {"Failed to connect socket " + h + " to 127.0.0.1:9. WSAGetLastError()=",
         [&](cQV_Error &e, unsigned &x) { return osSoctConnect(&e, x, addr, nullptr); }},
        {"Recv failed on socket " + h + ". Bytes requested to read=8. WSAGetLastError()=",
         [&](cQV_Error &e, unsigned &x) { return osSoctRecv(&e, x, buf, 8, nullptr) >= 0; }},
        {"Send failed on socket " + h + ". Bytes requested to send=8. WSAGetLastError()=",
         [&](cQV_Error &e, unsigned &x) { return osSoctSend(&e, x, buf, 8, nullptr) >= 0; }},
        {"Recvfrom failed on socket " + h + ". Bytes requested to read=8. WSAGetLastError()=",
         [&](cQV_Error &e, unsigned &x) {
             tQV_InetAddress from{};
             return osSoctRecvFrom(&e, x, buf, 8, from, nullptr);
         }},
        {"Sendto failed on socket " + h + ". Bytes requested to send=8. WSAGetLastError()=",
         [&](cQV_Error &e, unsigned &x) { return osSoctSendTo(&e, x, buf, 8, addr) >= 0; }},
        {"Failed to get socket peer name. Socket:" + h + ", WSAGetLastError()=",
         [](cQV_Error &e, unsigned &x) {
             tQV_InetAddress p{};
             return osSoctGetPeerName(&e, x, p);
         }},
        {"Failed to get socket's unblocked read size. Socket:" + h + ", WSAGetLastError()=",
         [](cQV_Error &e, unsigned &x) {
             unsigned size = 5;
             const bool ok = osSockGetReadSize(&e, x, size);
             EXPECT_EQ(size, 0u);
             return ok;
         }},
        {"setsockopt with TCP_NODELAY failed on socket " + h + ". WSAGetLastError()=",
         [](cQV_Error &e, unsigned &x) { return osSoctSetOpt_TCP_NODELAY(&e, x, true); }},
        {"setsockopt with SO_REUSEADDR failed on socket " + h + ". WSAGetLastError()=",
         [](cQV_Error &e, unsigned &x) { return osSoctSetOpt_SO_REUSEADDR(&e, x, true); }},
        {"setsockopt with IPV6_V6ONLY failed on socket " + h + ". WSAGetLastError()=",
         [](cQV_Error &e, unsigned &x) { return osSoctSetOpt_IPV6_V6ONLY(&e, x, true); }},
        {"Set SO_LINGER=(1,7) failed. WSAGetLastError()=",
         [](cQV_Error &e, unsigned &x) { return osSoctSetOpt_SO_LINGER(&e, x, true, 7); }},
    };
    for (const Case &c : cases) {
        cQV_Error err;
        unsigned x = stale;
        EXPECT_FALSE(c.call(err, x)) << c.prefix;
        EXPECT_EQ(err.code, 6) << c.prefix;
        EXPECT_STREQ(err.file, "ossocket");
        EXPECT_TRUE(MessageIs(err, c.prefix)) << err.text;
    }
    cQV_Error err;
    unsigned x = stale;
    int v = 0;
    EXPECT_FALSE(osSoctGetOpt_SO_ERROR(&err, x, v));
#if defined(_WIN32)
    const int notASocket = WSAENOTSOCK;
#else
    const int notASocket = EBADF;
#endif
    EXPECT_EQ(std::string(err.text), "getsockopt with SO_ERROR failed on socket " + h + ". " +
                                         static_cast<const char *>(osGetSysErrorStr(notASocket)));
}

TEST(Socket, ConnectMessageEndsWithLineFeed) {
    // A port nobody listens on: the connect is refused.
    unsigned short port = 0;
    RawHolder closed(RawBound(eSoctFamilyIPv4, SOCK_STREAM, port));
    ASSERT_NE(closed.s, kNoRaw);
    cQV_Error err;
    LibSocket s;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, s.h));
    bool wouldBlock = true;
    EXPECT_FALSE(osSoctConnect(&err, s.h, Loopback(eSoctFamilyIPv4, port), &wouldBlock));
    EXPECT_FALSE(wouldBlock);
    const std::string text = static_cast<const char *>(err.text);
    EXPECT_TRUE(MessageIs(err, "Failed to connect socket " + std::to_string(s.h) +
                                   " to 127.0.0.1:" + std::to_string(port) +
                                   ". WSAGetLastError()="))
        << text;
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
}

// Family 0 is refused by connect and send-to, and a refused connect leaves a connected datagram
// socket's association in place.
TEST(Socket, FamilyZeroIsRefused) {
    unsigned short rawPort = 0;
    RawHolder raw(RawBound(eSoctFamilyIPv4, SOCK_DGRAM, rawPort));
    ASSERT_NE(raw.s, kNoRaw);
    cQV_Error err;
    LibSocket s;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, s.h));
    ASSERT_TRUE(osSoctConnect(&err, s.h, Loopback(eSoctFamilyIPv4, rawPort), nullptr)) << err.text;
    tQV_InetAddress none{};
    none.port = 5;
    bool wouldBlock = true;
    EXPECT_FALSE(osSoctConnect(&err, s.h, none, &wouldBlock));
    EXPECT_FALSE(wouldBlock);
    EXPECT_TRUE(MessageIs(err, "Failed to connect socket " + std::to_string(s.h) +
                                   " to 0000:0000:0000:0000:0000:0000:0000:0000:5. "
                                   "WSAGetLastError()="))
        << err.text;
    const unsigned char one[] = {'x'};
    cQV_Error sendErr;
    EXPECT_EQ(osSoctSendTo(&sendErr, s.h, one, 1, none), -1);
    EXPECT_TRUE(MessageIs(sendErr, "Sendto failed on socket " + std::to_string(s.h) +
                                       ". Bytes requested to send=1. WSAGetLastError()="))
        << sendErr.text;
    // Still connected to the raw peer.
    tQV_InetAddress peer{};
    ASSERT_TRUE(osSoctGetPeerName(&err, s.h, peer)) << err.text;
    EXPECT_EQ(peer.port, rawPort);
    EXPECT_EQ(osSoctSend(&err, s.h, one, 1, nullptr), 1) << err.text;
    char got = 0;
    EXPECT_EQ(recv(raw.s, &got, 1, 0), 1);
    EXPECT_EQ(got, 'x');
}

TEST(Socket, PortInUse) {
    cQV_Error err;
    LibSocket a, b;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, a.h));
    ASSERT_TRUE(osSoctBind(&err, a.h, Loopback(eSoctFamilyIPv4), nullptr)) << err.text;
    ASSERT_TRUE(osSoctListen(&err, a.h, 1));
    const unsigned short port = LocalPort(ToRaw(a.h));
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, b.h));
    bool inUse = false;
    EXPECT_FALSE(osSoctBind(&err, b.h, Loopback(eSoctFamilyIPv4, port), &inUse));
    EXPECT_TRUE(inUse);
    EXPECT_EQ(err.code, 6);
    EXPECT_TRUE(MessageIs(err, "Failed to bind socket. Port=" + std::to_string(port) +
                                   ", WSAGetLastError()="))
        << err.text;
    // A failure for another reason is not "in use": binding an address family the socket does
    // not have.
    inUse = true;
    EXPECT_FALSE(osSoctBind(&err, b.h, Loopback(eSoctFamilyIPv6, 0), &inUse));
    EXPECT_FALSE(inUse);
}

TEST(Socket, NonBlockingConnectAndRecv) {
    unsigned short port = 0;
    RawHolder listener(RawListener(eSoctFamilyIPv4, port));
    ASSERT_NE(listener.s, kNoRaw);
    cQV_Error err;
    LibSocket s;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, s.h));
    ASSERT_TRUE(osSoctSetNonblock(&err, s.h, true)) << err.text;
    bool wouldBlock = false;
    const bool connected = osSoctConnect(&err, s.h, Loopback(eSoctFamilyIPv4, port), &wouldBlock);
    if (!connected) {
        EXPECT_TRUE(wouldBlock);
        EXPECT_TRUE(err.IsNotError()) << err.text;
        EXPECT_EQ(std::string(err.text), "");
    }
    cFD_SET *w = cFD_SET::Create(&err);
    ASSERT_NE(w, nullptr);
    w->AddSocket(s.h);
    EXPECT_EQ(osSoctSelect(&err, 0, nullptr, w, nullptr, 10000), 1) << err.text;
    EXPECT_TRUE(w->IsSocketSet(s.h));
    cFD_SET::Delete(w);
    EXPECT_EQ(w, nullptr);
    int soError = -1;
    ASSERT_TRUE(osSoctGetOpt_SO_ERROR(&err, s.h, soError)) << err.text;
    EXPECT_EQ(soError, 0);

    RawHolder server(RawAccept(listener.s));
    ASSERT_NE(server.s, kNoRaw);
    unsigned char buf[8];
    wouldBlock = false;
    EXPECT_EQ(osSoctRecv(&err, s.h, buf, sizeof buf, &wouldBlock), 0);
    EXPECT_TRUE(wouldBlock);
    EXPECT_TRUE(err.IsNotError()) << err.text;

    RawCloseSocket(server.s);
    server.s = kNoRaw;
    cFD_SET *r = cFD_SET::Create(&err);
    r->AddSocket(s.h);
    EXPECT_EQ(osSoctSelect(&err, 0, r, nullptr, nullptr, 10000), 1);
    cFD_SET::Delete(r);
    wouldBlock = true;
    EXPECT_EQ(osSoctRecv(&err, s.h, buf, sizeof buf, &wouldBlock), 0);
    EXPECT_FALSE(wouldBlock) << "the peer closed";
    EXPECT_TRUE(err.IsNotError()) << err.text;
}

// With nothing waiting, a non-blocking accept and a non-blocking receive of a datagram fail at
// once; the accept tells would-block apart.
TEST(Socket, NonBlockingAcceptAndRecvFromWithNothingWaiting) {
    cQV_Error err;
    LibSocket listener;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv6, eSoctTypeStream, listener.h));
    ASSERT_TRUE(osSoctBind(&err, listener.h, Loopback(eSoctFamilyIPv6), nullptr)) << err.text;
    ASSERT_TRUE(osSoctListen(&err, listener.h, 1));
    ASSERT_TRUE(osSoctSetNonblock(&err, listener.h, true));
    unsigned accepted = 99;
    bool wouldBlock = false;
    EXPECT_FALSE(osSoctAccept(&err, listener.h, accepted, nullptr, &wouldBlock));
    EXPECT_EQ(accepted, 0u);
    EXPECT_TRUE(wouldBlock);
    EXPECT_TRUE(MessageIs(err, "Failed to accept new connection. Socket:" +
                                   std::to_string(listener.h) + ", WSAGetLastError()="))
        << err.text;

    LibSocket udp;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, udp.h));
    ASSERT_TRUE(osSoctBind(&err, udp.h, Loopback(eSoctFamilyIPv4), nullptr));
    ASSERT_TRUE(osSoctSetNonblock(&err, udp.h, true));
    unsigned char buf[4];
    tQV_InetAddress from{};
    cQV_Error udpErr;
    EXPECT_FALSE(osSoctRecvFrom(&udpErr, udp.h, buf, sizeof buf, from, nullptr));
    EXPECT_TRUE(MessageIs(udpErr, "Recvfrom failed on socket " + std::to_string(udp.h) +
                                      ". Bytes requested to read=4. WSAGetLastError()="))
        << udpErr.text;
}

TEST(Socket, NonBlockingConnectRefusedShowsInSoError) {
    unsigned short port = 0;
    RawHolder closed(RawBound(eSoctFamilyIPv4, SOCK_STREAM, port)); // bound, not listening
    ASSERT_NE(closed.s, kNoRaw);
    cQV_Error err;
    LibSocket s;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, s.h));
    ASSERT_TRUE(osSoctSetNonblock(&err, s.h, true));
    bool wouldBlock = false;
    if (osSoctConnect(&err, s.h, Loopback(eSoctFamilyIPv4, port), &wouldBlock) || !wouldBlock)
        GTEST_SKIP() << "the refusal came at once: " << err.text;
    cFD_SET *w = cFD_SET::Create(&err);
    cFD_SET *e = cFD_SET::Create(&err);
    w->AddSocket(s.h);
    e->AddSocket(s.h);
    EXPECT_GE(osSoctSelect(&err, 0, nullptr, w, e, 10000), 1) << err.text;
    cFD_SET::Delete(w);
    cFD_SET::Delete(e);
    int soError = 0;
    ASSERT_TRUE(osSoctGetOpt_SO_ERROR(&err, s.h, soError)) << err.text;
    EXPECT_NE(soError, 0);
}

// A peer that goes away while we send: an ordinary failure with its message, never a signal
// that ends the process.
TEST(Socket, SendToVanishedPeerFailsWithoutSignal) {
#if !defined(_WIN32)
    // The default action, whatever the test was started with: a SIGPIPE would end the program.
    struct sigaction dfl {};
    struct sigaction old {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ASSERT_EQ(sigaction(SIGPIPE, &dfl, &old), 0);
    struct Restore {
        struct sigaction sa;
        ~Restore() { sigaction(SIGPIPE, &sa, nullptr); }
    } restore{old};
#endif
    unsigned short port = 0;
    RawHolder listener(RawListener(eSoctFamilyIPv4, port));
    ASSERT_NE(listener.s, kNoRaw);
    cQV_Error err;
    LibSocket s;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, s.h));
    ASSERT_TRUE(osSoctConnect(&err, s.h, Loopback(eSoctFamilyIPv4, port), nullptr)) << err.text;
    RawHolder server(RawAccept(listener.s));
    ASSERT_NE(server.s, kNoRaw);
    // Closing with unread data makes the peer answer with a reset.
    const unsigned char byte = 1;
    ASSERT_EQ(osSoctSend(&err, s.h, &byte, 1, nullptr), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    RawCloseSocket(server.s);
    server.s = kNoRaw;
    std::vector<unsigned char> block(65536, 7);
    int result = 0;
    for (int i = 0; i < 200 && result >= 0; ++i) {
        result = osSoctSend(&err, s.h, block.data(), static_cast<int>(block.size()), nullptr);
        if (result >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(result, -1);
    EXPECT_EQ(err.code, 6);
    EXPECT_TRUE(MessageIs(err, "Send failed on socket " + std::to_string(s.h) +
                                   ". Bytes requested to send=65536. WSAGetLastError()="))
        << err.text;
    // The first failure may be the reset; the next ones are sends on a broken connection, which
    // is where a signal would come.
    for (int i = 0; i < 3; ++i) {
        cQV_Error again;
        EXPECT_EQ(osSoctSend(&again, s.h, block.data(), 10, nullptr), -1);
        EXPECT_TRUE(MessageIs(again, "Send failed on socket " + std::to_string(s.h) +
                                         ". Bytes requested to send=10. WSAGetLastError()="))
            << again.text;
    }
}

TEST(Socket, OptionsReachTheSocket) {
    cQV_Error err;
    LibSocket s6;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv6, eSoctTypeStream, s6.h));
    const RawSocket raw = ToRaw(s6.h);
    struct Option {
        int level, name;
        std::function<bool(bool)> set;
    };
    const Option options[] = {
        {IPPROTO_TCP, TCP_NODELAY,
         [&](bool on) { return osSoctSetOpt_TCP_NODELAY(&err, s6.h, on); }},
        {SOL_SOCKET, SO_REUSEADDR,
         [&](bool on) { return osSoctSetOpt_SO_REUSEADDR(&err, s6.h, on); }},
        {IPPROTO_IPV6, IPV6_V6ONLY,
         [&](bool on) { return osSoctSetOpt_IPV6_V6ONLY(&err, s6.h, on); }},
    };
    // Each setting reads back as the same setting made with the system's own call does (Wine
    // reads some switched-off options back as on).
    auto read = [&](const Option &o) {
        int v = -1;
        socklen_t len = sizeof v;
        EXPECT_EQ(getsockopt(raw, o.level, o.name, reinterpret_cast<char *>(&v), &len), 0);
        return v != 0;
    };
    for (const Option &o : options) {
        for (bool on : {true, false, true}) {
            ASSERT_TRUE(o.set(on)) << err.text;
            const bool viaLibrary = read(o);
            const int value = on ? 1 : 0;
            ASSERT_EQ(setsockopt(raw, o.level, o.name, reinterpret_cast<const char *>(&value),
                                 sizeof value),
                      0);
            EXPECT_EQ(viaLibrary, read(o)) << o.name << " " << on;
            if (on) {
                EXPECT_TRUE(viaLibrary) << o.name;
            }
        }
    }
    ASSERT_TRUE(osSoctSetOpt_SO_LINGER(&err, s6.h, true, 7)) << err.text;
    linger l{};
    socklen_t len = sizeof l;
    ASSERT_EQ(getsockopt(raw, SOL_SOCKET, SO_LINGER, reinterpret_cast<char *>(&l), &len), 0);
    EXPECT_NE(l.l_onoff, 0);
    EXPECT_EQ(l.l_linger, 7);
}

TEST(SocketSet, CapacityDuplicatesAndRemoval) {
    cQV_Error err;
    cFD_SET *set = cFD_SET::Create(&err);
    ASSERT_NE(set, nullptr);
    for (unsigned h = 1; h <= 2048; ++h) {
        set->AddSocket(h);
        set->AddSocket(h); // a second add takes no room
    }
    set->AddSocket(5000);
    EXPECT_FALSE(set->IsSocketSet(5000)) << "a full set ignores more";
    EXPECT_TRUE(set->IsSocketSet(1));
    EXPECT_TRUE(set->IsSocketSet(2048));
    set->DelSocket(1);
    set->DelSocket(1);
    EXPECT_FALSE(set->IsSocketSet(1));
    EXPECT_TRUE(set->IsSocketSet(2));
    set->AddSocket(5000);
    EXPECT_TRUE(set->IsSocketSet(5000)) << "removal frees one place";
    set->DelAllSockets();
    EXPECT_FALSE(set->IsSocketSet(2));
    set->AddSocket(9);
    EXPECT_TRUE(set->IsSocketSet(9));
    cFD_SET::Delete(set);
    EXPECT_EQ(set, nullptr);
    cFD_SET::Delete(set); // null: nothing
}

// Handles that differ by many thousands share the set's internal lookup; each stays itself.
TEST(SocketSet, FarApartHandlesStayDistinct) {
    cFD_SET *set = cFD_SET::Create(nullptr);
    ASSERT_NE(set, nullptr);
    const unsigned a = 7, b = 7 + 4093, c = 7 + 2 * 4093;
    set->AddSocket(a);
    set->AddSocket(b);
    set->AddSocket(b);
    EXPECT_TRUE(set->IsSocketSet(a));
    EXPECT_TRUE(set->IsSocketSet(b));
    EXPECT_FALSE(set->IsSocketSet(c));
    set->DelSocket(c); // absent: nothing changes
    set->DelSocket(a);
    EXPECT_FALSE(set->IsSocketSet(a));
    EXPECT_TRUE(set->IsSocketSet(b));
    set->DelSocket(b);
    EXPECT_FALSE(set->IsSocketSet(b));
    for (unsigned i = 0; i < 2048; ++i)
        set->AddSocket(5 + i * 4093u); // every one in the same place of the lookup
    EXPECT_TRUE(set->IsSocketSet(5 + 2047 * 4093u));
    set->AddSocket(6);
    EXPECT_FALSE(set->IsSocketSet(6)) << "full";
    cFD_SET::Delete(set);
}

// Two sockets, one with data: only the ready one stays in the set.
TEST(SocketSelect, KeepsOnlyReadySockets) {
    cQV_Error err;
    LibSocket a, b;
    unsigned short pa = 0, pb = 0;
    for (LibSocket *s : {&a, &b}) {
        ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, s->h));
        ASSERT_TRUE(osSoctBind(&err, s->h, Loopback(eSoctFamilyIPv4), nullptr));
    }
    pa = LocalPort(ToRaw(a.h));
    pb = LocalPort(ToRaw(b.h));
    ASSERT_NE(pa, pb);
    const unsigned char one[] = {1};
    ASSERT_EQ(osSoctSendTo(&err, a.h, one, 1, Loopback(eSoctFamilyIPv4, pb)), 1);
    cFD_SET *r = cFD_SET::Create(&err);
    cFD_SET *w = cFD_SET::Create(&err);
    r->AddSocket(a.h);
    r->AddSocket(b.h);
    w->AddSocket(a.h);
    EXPECT_EQ(osSoctSelect(&err, 0, r, w, nullptr, 10000), 2) << err.text;
    EXPECT_FALSE(r->IsSocketSet(a.h));
    EXPECT_TRUE(r->IsSocketSet(b.h));
    EXPECT_TRUE(w->IsSocketSet(a.h)) << "a datagram socket can always send";
    cFD_SET::Delete(r);
    cFD_SET::Delete(w);
}

// More sockets in one set than a default-sized platform set could hold, the ready one last.
TEST(SocketSelect, ManySocketsOneReady) {
#if !defined(_WIN32)
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    if (lim.rlim_cur < 1400) {
        lim.rlim_cur = lim.rlim_max < 1400 ? lim.rlim_max : 1400;
        setrlimit(RLIMIT_NOFILE, &lim);
        getrlimit(RLIMIT_NOFILE, &lim);
    }
    if (lim.rlim_cur < 1400) GTEST_SKIP() << "descriptor limit " << lim.rlim_cur;
#endif
    constexpr int kCount = 1200;
    cQV_Error err;
    std::vector<LibSocket> sockets(kCount);
    cFD_SET *r = cFD_SET::Create(&err);
    ASSERT_NE(r, nullptr);
    for (LibSocket &s : sockets) {
        ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, s.h)) << err.text;
        r->AddSocket(s.h);
    }
    ASSERT_TRUE(osSoctBind(&err, sockets.back().h, Loopback(eSoctFamilyIPv4), nullptr));
    const unsigned char one[] = {1};
    ASSERT_EQ(osSoctSendTo(&err, sockets.front().h, one, 1,
                           Loopback(eSoctFamilyIPv4, LocalPort(ToRaw(sockets.back().h)))),
              1)
        << err.text;
    EXPECT_EQ(osSoctSelect(&err, 0, r, nullptr, nullptr, 10000), 1) << err.text;
    EXPECT_TRUE(r->IsSocketSet(sockets.back().h));
    EXPECT_FALSE(r->IsSocketSet(sockets.front().h));
    cFD_SET::Delete(r);
}

TEST(SocketSelect, TimeOuts) {
    cQV_Error err;
    LibSocket s;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, s.h));
    ASSERT_TRUE(osSoctBind(&err, s.h, Loopback(eSoctFamilyIPv4), nullptr));
    cFD_SET *r = cFD_SET::Create(&err);
    r->AddSocket(s.h);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(osSoctSelect(&err, 0, r, nullptr, nullptr, 0), 0);
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_FALSE(r->IsSocketSet(s.h)) << "nothing ready, nothing kept";

    r->AddSocket(s.h);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(osSoctSelect(&err, 0, r, nullptr, nullptr, 300), 0);
    const long long waited = ElapsedMs(start);
    EXPECT_GE(waited, 290);
    EXPECT_LT(waited, 5000);

    // Without a limit the wait ends when data comes.
    const unsigned short port = LocalPort(ToRaw(s.h));
    r->AddSocket(s.h);
    std::thread sender([port] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        unsigned t = 0;
        osSoctCreate(nullptr, eSoctFamilyIPv4, eSoctTypeDatagram, t);
        const unsigned char one[] = {1};
        osSoctSendTo(nullptr, t, one, 1, Loopback(eSoctFamilyIPv4, port));
        osSoctClose(nullptr, t);
    });
    EXPECT_EQ(osSoctSelect(&err, 0, r, nullptr, nullptr, 0xFFFFFFFFu), 1) << err.text;
    sender.join();
    EXPECT_TRUE(r->IsSocketSet(s.h));
    cFD_SET::Delete(r);
}

TEST(SocketSelect, ClosedSocketInSetFails) {
    cQV_Error err;
    unsigned s = 0;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, s));
    const unsigned stale = s;
    ASSERT_TRUE(osSoctClose(&err, s));
    cFD_SET *r = cFD_SET::Create(&err);
    r->AddSocket(stale);
    EXPECT_EQ(osSoctSelect(&err, 0, r, nullptr, nullptr, 100), -1);
    EXPECT_EQ(err.code, 6);
    EXPECT_TRUE(MessageIs(err, "Socket select failed. WSAGetLastError()=")) << err.text;
    cFD_SET::Delete(r);
}

TEST(SocketSelect, NullSetsAreAbsent) {
    cQV_Error err;
    LibSocket s;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, s.h));
    cFD_SET *w = cFD_SET::Create(&err);
    w->AddSocket(s.h);
    EXPECT_EQ(osSoctSelect(&err, 0, nullptr, w, nullptr, 1000), 1) << err.text;
    cFD_SET::Delete(w);
}

#if !defined(_WIN32)

// Descriptors of 1024 and above work in a set (a select built on fd_set could not hold them).
TEST(SocketSelectPosix, HighDescriptorNumbers) {
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    const rlimit old = lim;
    if (lim.rlim_cur < 1600) {
        lim.rlim_cur = lim.rlim_max < 1600 ? lim.rlim_max : 1600;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_cur < 1600) GTEST_SKIP() << "descriptor limit " << lim.rlim_cur;
    cQV_Error err;
    LibSocket low;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, low.h));
    LibSocket high;
    high.h = static_cast<unsigned>(fcntl(static_cast<int>(low.h), F_DUPFD_CLOEXEC, 1500));
    ASSERT_GE(high.h, 1500u);
    ASSERT_TRUE(osSoctBind(&err, high.h, Loopback(eSoctFamilyIPv4), nullptr)) << err.text;
    const unsigned short port = LocalPort(ToRaw(high.h));
    const unsigned char one[] = {1};
    LibSocket sender;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, sender.h));
    ASSERT_EQ(osSoctSendTo(&err, sender.h, one, 1, Loopback(eSoctFamilyIPv4, port)), 1);
    cFD_SET *r = cFD_SET::Create(&err);
    r->AddSocket(sender.h);
    r->AddSocket(high.h);
    EXPECT_EQ(osSoctSelect(&err, 0, r, nullptr, nullptr, 10000), 1) << err.text;
    EXPECT_TRUE(r->IsSocketSet(high.h));
    EXPECT_FALSE(r->IsSocketSet(sender.h));
    cFD_SET::Delete(r);
    osSoctClose(nullptr, high.h);
    setrlimit(RLIMIT_NOFILE, &old);
}

void OnAlarm(int) {}

// A signal during the wait does not end it early.
TEST(SocketSelectPosix, SignalDoesNotShortenTheWait) {
    struct sigaction sa {};
    struct sigaction oldSa {};
    sa.sa_handler = OnAlarm; // no SA_RESTART: poll sees EINTR
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &sa, &oldSa), 0);
    cQV_Error err;
    LibSocket s;
    ASSERT_TRUE(osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeDatagram, s.h));
    ASSERT_TRUE(osSoctBind(&err, s.h, Loopback(eSoctFamilyIPv4), nullptr));
    cFD_SET *r = cFD_SET::Create(&err);
    r->AddSocket(s.h);
    itimerval timer{};
    timer.it_value.tv_usec = 100000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(osSoctSelect(&err, 0, r, nullptr, nullptr, 500), 0) << err.text;
    EXPECT_GE(ElapsedMs(start), 490);
    cFD_SET::Delete(r);
    sigaction(SIGALRM, &oldSa, nullptr);
}

bool CloseOnExec(unsigned h) {
    const int flags = fcntl(static_cast<int>(h), F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC);
}

// Created and accepted sockets are close-on-exec and never take descriptor 0, even when
// standard input is closed.
TEST(SocketPosix, CloseOnExecAndNeverZero) {
    const int savedStdin = fcntl(0, F_DUPFD_CLOEXEC, 3);
    close(0);
    cQV_Error err;
    LibSocket listener, conn;
    const bool created = osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, listener.h);
    const bool zeroFree = fcntl(0, F_GETFD) < 0; // nothing took descriptor 0
    bool bound = created && osSoctBind(&err, listener.h, Loopback(eSoctFamilyIPv4), nullptr) &&
                 osSoctListen(&err, listener.h, 1);
    RawHolder client;
    bool accepted = false;
    if (bound) {
        close(0); // whatever the check left there
        client.s = RawConnect(eSoctFamilyIPv4, LocalPort(ToRaw(listener.h)));
        // The raw client may itself have taken 0; free it for the accept if so.
        if (client.s == 0) {
            client.s = fcntl(0, F_DUPFD_CLOEXEC, 3);
            close(0);
        }
        accepted = osSoctAccept(&err, listener.h, conn.h, nullptr, nullptr);
    }
    if (savedStdin >= 0) {
        dup2(savedStdin, 0);
        close(savedStdin);
    }
    ASSERT_TRUE(created) << err.text;
    EXPECT_NE(listener.h, 0u);
    EXPECT_TRUE(zeroFree);
    ASSERT_TRUE(bound) << err.text;
    ASSERT_TRUE(accepted) << err.text;
    EXPECT_NE(conn.h, 0u);
    EXPECT_TRUE(CloseOnExec(listener.h));
    EXPECT_TRUE(CloseOnExec(conn.h));
}

#if defined(__SANITIZE_ADDRESS__)
#define QV_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define QV_TEST_SANITIZED 1
#endif
#endif

TEST(SocketPosix, CreateFailureLeavesZero) {
#if defined(QV_TEST_SANITIZED)
    // The sanitizer runtime checks memory through a pipe of its own, which the descriptor limit
    // this test needs would deny it: it then reports every virtual call as a fault.
    GTEST_SKIP() << "needs a descriptor limit of 0, which the sanitizer runtime cannot work under";
#endif
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    const rlimit old = lim;
    lim.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
    cQV_Error err;
    unsigned s = 12345;
    const bool ok = osSoctCreate(&err, eSoctFamilyIPv4, eSoctTypeStream, s);
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_FALSE(ok);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(err.code, 6);
    EXPECT_EQ(std::string(err.text),
              "Failed to create TCP socket. WSAGetLastError()=" + std::to_string(EMFILE));
}

#endif

} // namespace
