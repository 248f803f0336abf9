// DecodeIpAddress on arbitrary bytes (exact length, exact-size buffer): the stop position, when
// written, lies within the text; a success reads back the same from EncodeIpAddress. The first
// 17 bytes also make an address whose encoded text must decode to it.
#include "qv_socket.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace Quorvel;

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "address_decode_fuzz: %s\n", what);
        std::abort();
    }
}

void RoundTrip(const tQV_InetAddress &x) {
    const cQV_String text = EncodeIpAddress(x);
    tQV_InetAddress y;
    std::memset(&y, 0x5A, sizeof y);
    unsigned stop = 0;
    Check(DecodeIpAddress(text, 0, y, &stop), "encoded text not decoded");
    Check(stop == text.Length(), "decoding stopped short of the encoded text");
    Check(y.family == x.family, "family changed in the round trip");
    Check(std::memcmp(x.address.bytes, y.address.bytes, x.family == eSoctFamilyIPv4 ? 4 : 16) == 0,
          "bytes changed in the round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size == 0 || size > 4096) return 0;
    if (size >= 17) {
        tQV_InetAddress x;
        std::memset(&x, 0, sizeof x);
        x.family = data[0] & 1 ? eSoctFamilyIPv6 : eSoctFamilyIPv4;
        std::memcpy(x.address.bytes, data + 1, 16);
        RoundTrip(x);
    }
    std::unique_ptr<char[]> text(new char[size]);
    std::memcpy(text.get(), data, size);
    const unsigned length = static_cast<unsigned>(size);
    tQV_InetAddress a;
    std::memset(&a, 0xA5, sizeof a);
    unsigned stop = 0xFFFFFFFFu;
    const bool ok = DecodeIpAddress(text.get(), length, a, &stop);
    Check(stop == 0xFFFFFFFFu || stop <= length, "stop position beyond the text");
    if (ok) {
        Check(a.family == eSoctFamilyIPv4 || a.family == eSoctFamilyIPv6,
              "success without a family");
        RoundTrip(a);
    }
    return 0;
}
