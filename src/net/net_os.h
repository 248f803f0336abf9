// Platform primitives behind the socket, resolution and interface functions (internal). Each
// socket call returns its failure value and leaves the reason for PlatformSoctLastError, which
// must be read right after the failed call on the same thread.
#pragma once

#include "qv_socket.h"

#include <string>
#include <vector>

namespace Quorvel::detail {

// The capacity of a socket set.
constexpr unsigned kSocketSetSize = 2048;

// A socket set as the library keeps it: a count and the handles in the order they were added.
struct tSocketSet {
    unsigned count;
    unsigned handles[kSocketSetSize];
};

// Starts the platform's socket service once, before the first socket or resolver call; ends the
// process with exit status -1 if it cannot start. Cheap after the first call.
void PlatformEnsureSocketService();

int PlatformSoctLastError();
// Would-block, and a non-blocking connect under way, which callers treat the same way.
bool PlatformSoctIsWouldBlock(int sysError);
bool PlatformSoctIsInUse(int sysError);

bool PlatformSoctCreate(eSoctFamily family, eSoctType type, unsigned &socket);
bool PlatformSoctClose(unsigned socket);
bool PlatformSoctShutdown(unsigned socket, eSoctShutdownMode mode);
bool PlatformSoctSetNonblock(unsigned socket, bool on);
bool PlatformSoctBind(unsigned socket, const tQV_InetAddress &addr);
bool PlatformSoctListen(unsigned socket, int backlog);
bool PlatformSoctAccept(unsigned listener, unsigned &accepted, tQV_InetAddress *peer);
// Refuses a family other than 1 and 2 with the platform's "address family not supported".
bool PlatformSoctConnect(unsigned socket, const tQV_InetAddress &addr);
// Byte counts, -1 on failure.
int PlatformSoctRecv(unsigned socket, unsigned char *buffer, int size);
int PlatformSoctSend(unsigned socket, const unsigned char *data, int size);
int PlatformSoctRecvFrom(unsigned socket, unsigned char *buffer, unsigned size,
                         tQV_InetAddress &from);
int PlatformSoctSendTo(unsigned socket, const unsigned char *data, int size,
                       const tQV_InetAddress &to);
bool PlatformSoctGetPeerName(unsigned socket, tQV_InetAddress &peer);
bool PlatformSockGetReadSize(unsigned socket, unsigned &size);

enum eSoctOption { eOptSoError, eOptTcpNoDelay, eOptReuseAddr, eOptV6Only };
bool PlatformSoctGetOpt(unsigned socket, eSoctOption option, int &value);
bool PlatformSoctSetOpt(unsigned socket, eSoctOption option, int value);
bool PlatformSoctSetLinger(unsigned socket, bool on, int seconds);

// Waits as osSoctSelect says and leaves only the ready sockets in each set (null: absent).
// Returns the ready count, 0 on time-out, -1 on failure.
int PlatformSoctSelect(tSocketSet *read, tSocketSet *write, tSocketSet *except, unsigned timeout);

// ---- resolution ----

// False when the system cannot give the name.
bool PlatformGetHostName(std::string &name);
// Every stream-socket address of host in the resolver's order (family 1 or 2, port 0). False
// with the reason in PlatformSoctLastError.
bool PlatformGetAddrInfo(const char *host, std::vector<tQV_InetAddress> &out);
// The IPv4-only lookup: false when nothing is found or the addresses are not 4 bytes long.
bool PlatformGetHostByNameOld(const char *host, std::vector<unsigned> &out);
// Reverse lookup of an IPv4 address in network order: the entry's name, or false.
bool PlatformGetHostByAddr(unsigned ip, std::string &name);

// ---- interfaces ----

// One adapter as the system lists it, with its unicast addresses in the system's order.
struct tAdapter {
    std::string name;
    bool up = false;
    bool loopback = false;
    bool pointToPoint = false;
    unsigned long long txSpeed = 0; // bits per second, 0 when unknown
    unsigned long long rxSpeed = 0;
    std::vector<tQV_InetAddress> unicast;
};
// False when the list cannot be read.
bool PlatformGetAdapters(std::vector<tAdapter> &out);

// One adapter of the hardware-address list, in the system's order.
struct tHwAdapter {
    bool ethernet = false;
    std::vector<unsigned char> address;
};
bool PlatformGetHwAdapters(std::vector<tHwAdapter> &out);

// ---- pure helpers shared by the platforms (net_text.cpp) ----

// The interface records for osNetGetInterfaces from the adapter list: up, not loopback, link-local
// IPv6 left out.
std::vector<tNetInterfaceInfo> SelectInterfaces(const std::vector<tAdapter> &adapters);
// Whether an IPv6 address is link-local in the library's sense (first bytes FE 80).
bool IsLinkLocal6(const unsigned char *bytes);
// The first Ethernet adapter's address (at most 6 bytes) into mac; false when there is none.
bool SelectEtherMAC(const std::vector<tHwAdapter> &adapters, unsigned char *mac);
// A link speed in Mbit/s as the kernel reports it, in bits per second; 0 when unknown.
unsigned long long LinkSpeedBits(unsigned mbits);

} // namespace Quorvel::detail
