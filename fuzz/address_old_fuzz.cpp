// IsIp4AddressOld on arbitrary bytes (exact length, exact-size buffer): the stop position lies
// within the text, and a non-zero result reads back the same from its dotted text.
#include "qv_socket.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace Quorvel;

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "address_old_fuzz: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size == 0 || size > 4096) return 0;
    std::unique_ptr<char[]> text(new char[size]);
    std::memcpy(text.get(), data, size);
    const unsigned length = static_cast<unsigned>(size);
    unsigned stop = 0xFFFFFFFFu;
    const unsigned v = IsIp4AddressOld(text.get(), length, &stop);
    Check(stop <= length, "stop position beyond the text");
    if (v != 0) {
        tQV_InetAddress a;
        std::memset(&a, 0, sizeof a);
        a.family = eSoctFamilyIPv4;
        std::memcpy(a.address.bytes, &v, 4);
        const cQV_String dotted = EncodeIpAddress(a);
        unsigned again = 0;
        Check(IsIp4AddressOld(dotted, 0, &again) == v, "dotted text reads back otherwise");
        Check(again == dotted.Length(), "dotted text not read to its end");
    }
    return 0;
}
