// Internet addresses and their text forms, byte order, sockets and socket sets, host names,
// address resolution and network interfaces (module "ossocket").
//
// Sockets are `unsigned` handles, 0 meaning "no socket". On POSIX the handle is the socket's
// descriptor number (never 0), close-on-exec; sending never raises SIGPIPE. Socket failures are
// reported with code 6 and messages ending in "WSAGetLastError()=%d", which on POSIX carries errno.
#pragma once

#include "qv_error.h"
#include "qv_os_export.h"
#include "qv_string.h"

namespace Quorvel {

// ---- addresses ----

enum eSoctFamily : int { eSoctFamilyNone = 0, eSoctFamilyIPv4 = 1, eSoctFamilyIPv6 = 2 };

// 16 bytes in network order (byte 0 most significant).
union tQV_Ip6 {
    unsigned char bytes[16]; // the address bytes in network order
    unsigned words[4];       // the same bytes as four 32-bit words
};

// IPv4 keeps a.b.c.d in address bytes 0..3; the port is in host order, 0 = none.
struct tQV_InetAddress {
    eSoctFamily family;  // none, IPv4 or IPv6
    tQV_Ip6 address;     // network order; IPv4 in bytes 0..3
    unsigned short port; // host order; 0 = none
};

// The readers take a text and its length (0: up to the NUL) and never look at or beyond that
// length; `stop`, when not null, receives where scanning stopped. They leave the port alone.

// Dotted quad (family 1) or colon-form IPv6 (family 2, all of the text consumed). Text after the
// fourth IPv4 group is not examined; the stop position is then just past the one character that
// follows the group (1.2.3.4:80 stops at 8). Failure: false and family 0.
QV_OS_API bool osParseIpAddress(tQV_InetAddress &addr, const char *text, unsigned length,
                                unsigned *stop);
// Dotted quad (family 1, stops just past the last digit) or the dash form EncodeIpAddress writes
// (family 2, stops just past the 32nd digit). Text with neither '.' nor '-' gives false, no stop
// position and the record untouched. A dash form that ends before its 32nd digit is refused.
QV_OS_API bool DecodeIpAddress(const char *text, unsigned length, tQV_InetAddress &addr,
                               unsigned *stop);
// A dotted quad as a 32-bit address in network order; 0 when the text is not one (and for
// 0.0.0.0: tell the two apart by the stop position).
QV_OS_API unsigned IsIp4AddressOld(const char *text, unsigned length, unsigned *stop);

// "%d.%d.%d.%d" for family 1; any other family: eight groups of four upper-case hex digits
// joined by '-'. No port.
QV_OS_API cQV_String EncodeIpAddress(const tQV_InetAddress &addr);
// For people: "a.b.c.d:port", or eight full hex groups joined by ':' then ":port".
QV_OS_API cQV_String osGetIpString(const tQV_InetAddress &addr);
// 127.0.0.1 for family 1, ::1 for family 2, family 0 and zero bytes otherwise; port untouched.
QV_OS_API void osCreateLocalhostIp(eSoctFamily family, tQV_InetAddress &addr);

// 16- and 32-bit values from host to network byte order (big-endian) and back.
QV_OS_API unsigned short osSoctHtons(unsigned short v);
QV_OS_API unsigned osSoctHtonl(unsigned v);
QV_OS_API unsigned short osSoctNtohs(unsigned short v);
QV_OS_API unsigned osSoctNtohl(unsigned v);
// 64-bit values keep the host's byte order: both return their argument.
QV_OS_API unsigned long long osSoctHtonq(unsigned long long v);
QV_OS_API unsigned long long osSoctNtohq(unsigned long long v);

// ---- sockets ----

enum eSoctType : int { eSoctTypeStream = 0, eSoctTypeDatagram = 1 };
// Which directions osSoctShutdown ends: sending, receiving or both.
enum eSoctShutdownMode : int {
    eSoctShutdownSend = 0,
    eSoctShutdownRecv = 1,
    eSoctShutdownBoth = 2
};

// IPv6 for family 2, IPv4 otherwise; TCP for type 0, UDP otherwise. Failure: socket = 0,
// "Failed to create TCP socket. WSAGetLastError()=%d".
QV_OS_API bool osSoctCreate(cQV_Error *err, eSoctFamily family, eSoctType type, unsigned &socket);
// Handle 0: true at once. Success sets the handle to 0. Failure keeps it:
// "Failed to close socket. Socket:%u, WSAGetLastError()=%d".
QV_OS_API bool osSoctClose(cQV_Error *err, unsigned &socket);
// "Failed to shutdown socket. Socket:%u, WSAGetLastError()=%d".
QV_OS_API bool osSoctShutdown(cQV_Error *err, unsigned &socket, eSoctShutdownMode mode);
// "Failed to set non-blocking flag. Socket:%u, WSAGetLastError()=%d".
QV_OS_API bool osSoctSetNonblock(cQV_Error *err, unsigned &socket, bool on);
// All-zero address: every local address. *inUse: whether the address was in use.
// "Failed to bind socket. Port=%d, WSAGetLastError()=%d".
QV_OS_API bool osSoctBind(cQV_Error *err, unsigned &socket, const tQV_InetAddress &addr,
                          bool *inUse);
// "Failed to place socket into listen state. Socket:%u, WSAGetLastError()=%d".
QV_OS_API bool osSoctListen(cQV_Error *err, unsigned &socket, int backlog);
// Failure: accepted = 0, *wouldBlock set, "Failed to accept new connection. Socket:%u,
// WSAGetLastError()=%d". Success leaves *wouldBlock alone.
QV_OS_API bool osSoctAccept(cQV_Error *err, unsigned &listener, unsigned &accepted,
                            tQV_InetAddress *peer, bool *wouldBlock);
// A connect under way on a non-blocking socket: false, *wouldBlock true, no error text. Family 0
// is refused. "Failed to connect socket %u to %s. WSAGetLastError()=%d\n".
QV_OS_API bool osSoctConnect(cQV_Error *err, unsigned &socket, const tQV_InetAddress &addr,
                             bool *wouldBlock);
// Bytes received; 0 with *wouldBlock false when the peer closed, 0 with *wouldBlock true when no
// data waits. -1: "Recv failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=%d".
QV_OS_API int osSoctRecv(cQV_Error *err, unsigned &socket, unsigned char *buffer, int size,
                         bool *wouldBlock);
// Bytes sent; 0 with *wouldBlock true when it would block. -1:
// "Send failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=%d".
QV_OS_API int osSoctSend(cQV_Error *err, unsigned &socket, const unsigned char *data, int size,
                         bool *wouldBlock);
// One datagram. Failure, would-block included:
// "Recvfrom failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=%d".
QV_OS_API bool osSoctRecvFrom(cQV_Error *err, unsigned &socket, unsigned char *buffer,
                              unsigned size, tQV_InetAddress &from, unsigned *received);
// One datagram; family 0 is refused. -1, would-block included:
// "Sendto failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=%d".
QV_OS_API int osSoctSendTo(cQV_Error *err, unsigned &socket, const unsigned char *data, int size,
                           const tQV_InetAddress &to);
// "Failed to get socket peer name. Socket:%u, WSAGetLastError()=%d".
QV_OS_API bool osSoctGetPeerName(cQV_Error *err, unsigned &socket, tQV_InetAddress &peer);
// Bytes readable without blocking. Failure: size = 0,
// "Failed to get socket's unblocked read size. Socket:%d, WSAGetLastError()=%d".
QV_OS_API bool osSockGetReadSize(cQV_Error *err, unsigned &socket, unsigned &size);
// The pending error (how a non-blocking connect ends). "getsockopt with SO_ERROR failed on socket
// %u. %s" with the system's error text.
QV_OS_API bool osSoctGetOpt_SO_ERROR(cQV_Error *err, unsigned &socket, int &value);
// "setsockopt with TCP_NODELAY failed on socket %u. WSAGetLastError()=%d".
QV_OS_API bool osSoctSetOpt_TCP_NODELAY(cQV_Error *err, unsigned &socket, bool on);
// "setsockopt with SO_REUSEADDR failed on socket %u. WSAGetLastError()=%d".
QV_OS_API bool osSoctSetOpt_SO_REUSEADDR(cQV_Error *err, unsigned &socket, bool on);
// "setsockopt with IPV6_V6ONLY failed on socket %u. WSAGetLastError()=%d".
QV_OS_API bool osSoctSetOpt_IPV6_V6ONLY(cQV_Error *err, unsigned &socket, bool on);
// "Set SO_LINGER=(%d,%d) failed. WSAGetLastError()=%d".
QV_OS_API bool osSoctSetOpt_SO_LINGER(cQV_Error *err, unsigned &socket, bool on, int seconds);

// A set of up to 2048 distinct sockets for osSoctSelect. Made by Create, released by Delete; a
// default-constructed or copied cFD_SET has no storage. One thread at a time may change a set.
class QV_OS_API cFD_SET {
public:
    cFD_SET() = default;
    cFD_SET(const cFD_SET &) {}                           // a set with no storage
    cFD_SET &operator=(const cFD_SET &) { return *this; } // changes nothing
    virtual ~cFD_SET();

    // Removes the socket; the others keep their order.
    virtual void DelSocket(unsigned socket) = 0;
    virtual bool IsSocketSet(unsigned socket) = 0;
    // Appends the socket unless it is present or the set is full (nothing is reported).
    virtual void AddSocket(unsigned socket) = 0;
    virtual void DelAllSockets() = 0;

    // Null on allocation failure: code 7, "Failed to allocate memory. Requested size:%d".
    static cFD_SET *Create(cQV_Error *err);
    static void Delete(cFD_SET *&set);
};

// Waits until a socket of a set is ready or `timeout` ms have passed (4294967295: no limit; a
// signal does not shorten the wait). Leaves only the ready sockets in each set and returns their
// number, 0 on time-out. The second argument is not used. -1: "Socket select failed.
// WSAGetLastError()=%d".
QV_OS_API int osSoctSelect(cQV_Error *err, unsigned, cFD_SET *read, cFD_SET *write, cFD_SET *except,
                           unsigned timeout);

// ---- host names, resolution, interfaces ----

// One interface address. flags bit 0: point-to-point link. speed: the lower of the transmit and
// receive link speeds in bits per second (low 32 bits), 0 where the system does not know it.
struct QV_OS_API tNetInterfaceInfo {
    cQV_String name;           // the adapter's name as the system gives it
    tQV_InetAddress address{}; // the interface address (port 0)
    unsigned flags = 0;        // kNetInterfacePPP for a point-to-point link
    unsigned speed = 0;        // bits per second; 0 when unknown
};
constexpr unsigned kNetInterfacePPP = 1u; // tNetInterfaceInfo::flags: a point-to-point link

// The local host name; "localhost" when the system cannot give it.
QV_OS_API cQV_String osGetHostName();
// Every address of `host` (name or numeric); link-local IPv6 (fe80::/16) left out. Arrays are
// allocated with new[] (null for a family without addresses), released by the caller with
// delete[]. Returns the total; ipv6Count the IPv6 part. A null host returns 0. Failure: 0, code 8,
// "Failed to get address by host name [%s]. WSAGetLastError()=%d".
QV_OS_API unsigned osGetHostAddr(cQV_Error *err, const char *host, unsigned *&ipv4, tQV_Ip6 *&ipv6,
                                 unsigned &ipv6Count);
// The same for the local host name; reports nothing.
QV_OS_API unsigned osGetLocalHostAddr(unsigned *&ipv4, tQV_Ip6 *&ipv6, unsigned &ipv6Count);
// IPv4 addresses (network order) by the IPv4-only lookup; null and code 8 on failure.
QV_OS_API unsigned *osGetAddrByHostnameOld(cQV_Error *err, const char *host, unsigned &count);
// IPv4 addresses of the local host; never empty (falls back to 127.0.0.1).
QV_OS_API unsigned *osGetHostAddrOld(unsigned &count);
// The name of an IPv4 address (network order); the dotted quad with found = false when none.
QV_OS_API cQV_String osGetHostnameByIp(unsigned ip, bool &found);
// The addresses of the interfaces that are up and not loopback (link-local IPv6 left out), as a
// new[] array in `list` (null when there are none); returns their number.
QV_OS_API int osNetGetInterfaces(tNetInterfaceInfo *&list);
// The 6-byte hardware address of the first Ethernet adapter; false when there is none.
QV_OS_API bool osNetGetEtherMAC(unsigned char *mac);

} // namespace Quorvel
