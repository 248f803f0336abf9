// Feeds arbitrary bytes to osParseIpAddress with their exact length, in a buffer of exactly that
// size so that a read past the length is caught, and checks the reader's promises: the stop
// position lies within the text, failure leaves family 0, success gives family 1 or 2, an IPv6
// success consumes the whole text, and what was read reads back the same from the library's own
// text of it.
#include "qv_socket.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace Quorvel;

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "address_parse_fuzz: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size == 0 || size > 4096) return 0; // length 0 means "up to the NUL": not this target
    std::unique_ptr<char[]> text(new char[size]);
    std::memcpy(text.get(), data, size);
    const unsigned length = static_cast<unsigned>(size);
    tQV_InetAddress a;
    std::memset(&a, 0xA5, sizeof a);
    unsigned stop = 0xFFFFFFFFu;
    const bool ok = osParseIpAddress(a, text.get(), length, &stop);
    Check(stop <= length, "stop position beyond the text");
    if (!ok) {
        Check(a.family == eSoctFamilyNone, "failure with a family");
        return 0;
    }
    Check(a.family == eSoctFamilyIPv4 || a.family == eSoctFamilyIPv6, "success without a family");
    if (a.family == eSoctFamilyIPv6) Check(stop == length, "IPv6 success short of the end");
    // The full colon form without the port, and the dotted quad, read back to the same bytes.
    tQV_InetAddress noPort = a;
    noPort.port = 0;
    cQV_String shown = a.family == eSoctFamilyIPv4 ? EncodeIpAddress(a) : osGetIpString(noPort);
    unsigned n = shown.Length();
    if (a.family == eSoctFamilyIPv6) n -= 2; // without ":0"
    tQV_InetAddress b;
    std::memset(&b, 0, sizeof b);
    Check(osParseIpAddress(b, shown, n, nullptr), "own text not read back");
    Check(b.family == a.family, "family changed on reading back");
    Check(std::memcmp(a.address.bytes, b.address.bytes, a.family == eSoctFamilyIPv4 ? 4 : 16) == 0,
          "bytes changed on reading back");
    return 0;
}
