// Interfaces on Windows through the IP helper: adapter addresses for the interface list, the
// older adapter information list for the hardware address. Neither needs the socket service.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include "net_os.h"

#include <cstring>
#include <memory>
#include <new>

namespace Quorvel::detail {

bool PlatformGetAdapters(std::vector<tAdapter> &out) {
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    const ULONG record = sizeof(IP_ADAPTER_ADDRESSES);
    ULONG size = record;
    std::unique_ptr<IP_ADAPTER_ADDRESSES[]> buf(new (std::nothrow) IP_ADAPTER_ADDRESSES[1]);
    if (!buf) return false;
    ULONG rc = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, buf.get(), &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
        const ULONG records = (size + record - 1) / record;
        buf.reset(new (std::nothrow) IP_ADAPTER_ADDRESSES[records]);
        if (!buf) return false;
        size = records * record;
        rc = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, buf.get(), &size);
    }
    if (rc != NO_ERROR) return false;
    for (const IP_ADAPTER_ADDRESSES *a = buf.get(); a; a = a->Next) {
        tAdapter adapter;
        adapter.name = a->AdapterName ? a->AdapterName : "";
        adapter.up = a->OperStatus == IfOperStatusUp;
        adapter.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        adapter.pointToPoint = a->IfType == IF_TYPE_PPP;
        adapter.txSpeed = a->TransmitLinkSpeed;
        adapter.rxSpeed = a->ReceiveLinkSpeed;
        for (const IP_ADAPTER_UNICAST_ADDRESS *u = a->FirstUnicastAddress; u; u = u->Next) {
            const sockaddr *sa = u->Address.lpSockaddr;
            if (!sa) continue;
            tQV_InetAddress addr;
            std::memset(&addr, 0, sizeof addr);
            if (sa->sa_family == AF_INET) {
                addr.family = eSoctFamilyIPv4;
                std::memcpy(addr.address.bytes,
                            &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr, 4);
            } else if (sa->sa_family == AF_INET6) {
                addr.family = eSoctFamilyIPv6;
                std::memcpy(addr.address.bytes,
                            &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr, 16);
            } else {
                continue;
            }
            adapter.unicast.push_back(addr);
        }
        out.push_back(adapter);
    }
    return true;
}

bool PlatformGetHwAdapters(std::vector<tHwAdapter> &out) {
    // Room for 20 adapter records; a longer list is not read.
    constexpr ULONG kRecords = 20;
    std::unique_ptr<IP_ADAPTER_INFO[]> buf(new (std::nothrow) IP_ADAPTER_INFO[kRecords]);
    if (!buf) return false;
    ULONG size = kRecords * sizeof(IP_ADAPTER_INFO);
    if (GetAdaptersInfo(buf.get(), &size) != ERROR_SUCCESS) return false;
    for (const IP_ADAPTER_INFO *a = buf.get(); a; a = a->Next) {
        tHwAdapter hw;
        hw.ethernet = a->Type == MIB_IF_TYPE_ETHERNET;
        const UINT n = a->AddressLength < MAX_ADAPTER_ADDRESS_LENGTH ? a->AddressLength
                                                                     : MAX_ADAPTER_ADDRESS_LENGTH;
        hw.address.assign(a->Address, a->Address + n);
        out.push_back(hw);
    }
    return true;
}

} // namespace Quorvel::detail
