// Address texts: the three readers, the two writers, the loopback record and byte order. Pure
// code: no system call, the same on every platform.
#include "qv_socket.h"

#include <cstring>

namespace Quorvel {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The common start of the readers: false for a null or empty text; a length of 0 means "up to
// the NUL".
bool EffectiveLength(const char *text, unsigned &length) {
    if (!text) return false;
    if (length == 0) length = static_cast<unsigned>(std::strlen(text));
    return length != 0;
}

// Position of the first character of `a` or `b` within the length, or length when there is none.
unsigned FindFirst(const char *text, unsigned length, char a, char b) {
    unsigned j = 0;
    while (j < length && text[j] != a && text[j] != b)
        ++j;
    return j;
}

// Dotted quad for osParseIpAddress. Digits are taken only while the value is below 256, so the
// stop after a too-large group is just past the digit that made it too large. After each group
// one character is stepped over: the '.', and after the fourth group whatever follows, which is
// where callers find a port.
bool ParseDottedQuad(const char *text, unsigned length, unsigned char *bytes, unsigned &j) {
    j = 0;
    for (int group = 0; group < 4; ++group) {
        if (j >= length || !IsDigit(text[j])) return false;
        unsigned value = static_cast<unsigned>(text[j] - '0');
        ++j;
        while (value < 256 && j < length && IsDigit(text[j])) {
            value = value * 10 + static_cast<unsigned>(text[j] - '0');
            ++j;
        }
        if (value > 255) return false;
        if (group < 3 && (j >= length || text[j] != '.')) return false;
        if (j < length) ++j;
        bytes[group] = static_cast<unsigned char>(value);
    }
    return true;
}

// Colon-form IPv6: up to eight groups of one to four hex digits and at most one "::". The whole
// text must be consumed. `j` ends at the failure position, or at the length on success.
bool ParseColonForm(const char *text, unsigned length, unsigned char *bytes, unsigned &j) {
    unsigned offset = 0; // next free byte
    int gap = -1;        // byte offset of the "::", -1 when none
    int groups = 0;
    j = 0;
    if (text[0] == ':') {
        if (length < 2 || text[1] != ':') return false;
        gap = 0;
        j = 2;
    }
    while (groups < 8) {
        if (j >= length) break;
        unsigned value = 0;
        int digits = 0;
        while (j < length) {
            int h = HexValue(text[j]);
            if (h < 0) break;
            if (digits == 4) return false; // a fifth digit fails where it stands
            value = value * 16 + static_cast<unsigned>(h);
            ++digits;
            ++j;
        }
        if (j < length && text[j] != ':') return false;
        if (digits == 0) {
            // Only reachable at a ':' right after a ':' that was stepped over: a "::".
            if (gap >= 0) return false;
            gap = static_cast<int>(offset);
            ++j;
            continue;
        }
        bytes[offset++] = static_cast<unsigned char>(value >> 8);
        bytes[offset++] = static_cast<unsigned char>(value & 0xFF);
        ++groups;
        if (j < length) {
            if (groups == 8 || j + 1 >= length) return false;
            ++j; // step over the ':'
        }
    }
    if (groups == 8) return j >= length;
    // Fewer than eight groups: only a "::" with at least one group makes the address whole.
    if (groups == 0 || gap < 0) return false;
    const unsigned tail = offset - static_cast<unsigned>(gap);
    std::memmove(bytes + 16 - tail, bytes + gap, tail);
    std::memset(bytes + gap, 0, 16 - tail - static_cast<unsigned>(gap));
    return true;
}

} // namespace

bool osParseIpAddress(tQV_InetAddress &addr, const char *text, unsigned length, unsigned *stop) {
    if (!EffectiveLength(text, length)) return false;
    addr.family = eSoctFamilyNone;
    const unsigned first = FindFirst(text, length, ':', '.');
    unsigned j = first;
    bool ok = false;
    if (first < length) {
        if (text[first] == ':') {
            ok = ParseColonForm(text, length, addr.address.bytes, j);
            if (ok) addr.family = eSoctFamilyIPv6;
        } else {
            ok = ParseDottedQuad(text, length, addr.address.bytes, j);
            if (ok) addr.family = eSoctFamilyIPv4;
        }
    }
    if (stop) *stop = j;
    return ok;
}

bool DecodeIpAddress(const char *text, unsigned length, tQV_InetAddress &addr, unsigned *stop) {
    if (!EffectiveLength(text, length)) return false;
    const unsigned first = FindFirst(text, length, '.', '-');
    if (first >= length) return false;
    unsigned j = 0;
    bool ok = true;
    if (text[first] == '.') {
        addr.family = eSoctFamilyIPv4;
        std::memset(addr.address.bytes, 0, 4);
        for (int group = 0; ok && group < 4; ++group) {
            if (j >= length || !IsDigit(text[j])) {
                ok = false;
                break;
            }
            unsigned value = static_cast<unsigned>(text[j] - '0');
            ++j;
            while (j < length && IsDigit(text[j])) {
                value = value * 10 + static_cast<unsigned>(text[j] - '0');
                if (value > 255) {
                    ok = false;
                    break;
                }
                ++j;
            }
            if (!ok) break;
            if (group < 3) {
                if (j >= length || text[j] != '.') {
                    ok = false;
                    break;
                }
                ++j;
            }
            addr.address.bytes[group] = static_cast<unsigned char>(value);
        }
    } else {
        addr.family = eSoctFamilyIPv6;
        // A text that ends before the 32nd digit is refused: taking it would leave the rest of
        // the address as the record held it before, a wrong address reported as a good one.
        for (int digit = 0; digit < 32; ++digit) {
            const int h = j < length ? HexValue(text[j]) : -1;
            if (h < 0) {
                ok = false;
                break;
            }
            unsigned char &byte = addr.address.bytes[digit / 2];
            if (digit % 2 == 0)
                byte = static_cast<unsigned char>(h << 4);
            else
                byte = static_cast<unsigned char>(byte | h);
            ++j;
            if (digit % 4 == 3 && digit != 31 && j < length) {
                if (text[j] != '-') {
                    ok = false;
                    break;
                }
                ++j;
            }
        }
    }
    if (stop) *stop = j;
    return ok;
}

unsigned IsIp4AddressOld(const char *text, unsigned length, unsigned *stop) {
    if (!EffectiveLength(text, length)) return 0;
    unsigned char bytes[4] = {0, 0, 0, 0};
    unsigned j = 0;
    int groups = 0;
    bool ok = true;
    while (groups < 4) {
        if (!IsDigit(text[j])) {
            ok = false;
            break;
        }
        unsigned value = static_cast<unsigned>(text[j] - '0');
        ++j;
        while (j < length && IsDigit(text[j])) {
            value = value * 10 + static_cast<unsigned>(text[j] - '0');
            if (value > 255) break;
            ++j;
        }
        if (value > 255) {
            ok = false;
            break;
        }
        bytes[groups++] = static_cast<unsigned char>(value);
        if (j >= length) break;
        if (text[j] != '.') {
            ok = false;
            break;
        }
        ++j;
        if (j >= length || groups == 4) break;
    }
    if (stop) *stop = j;
    if (!ok || groups < 4) return 0;
    unsigned result;
    std::memcpy(&result, bytes, 4);
    return result;
}

cQV_String EncodeIpAddress(const tQV_InetAddress &addr) {
    const unsigned char *b = addr.address.bytes;
    cQV_String s;
    if (addr.family == eSoctFamilyIPv4) {
        s.Format("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    } else {
        s.Format("%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X", b[0],
                 b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                 b[14], b[15]);
    }
    return s;
}

cQV_String osGetIpString(const tQV_InetAddress &addr) {
    const unsigned char *b = addr.address.bytes;
    cQV_String s;
    if (addr.family == eSoctFamilyIPv4) {
        s.Format("%d.%d.%d.%d:%d", b[0], b[1], b[2], b[3], addr.port);
    } else {
        s.Format("%02X%02X:%02X%02X:%02X%02X:%02X%02X:%02X%02X:%02X%02X:%02X%02X:%02X%02X:%d", b[0],
                 b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                 b[14], b[15], addr.port);
    }
    return s;
}

void osCreateLocalhostIp(eSoctFamily family, tQV_InetAddress &addr) {
    std::memset(addr.address.bytes, 0, sizeof addr.address.bytes);
    if (family == eSoctFamilyIPv4) {
        addr.family = eSoctFamilyIPv4;
        addr.address.bytes[0] = 127;
        addr.address.bytes[3] = 1;
    } else if (family == eSoctFamilyIPv6) {
        addr.family = eSoctFamilyIPv6;
        addr.address.bytes[15] = 1;
    } else {
        addr.family = eSoctFamilyNone;
    }
}

// Network order is big-endian: the value's bytes laid out most significant first, read back in
// the host's own order. The compiler turns these into one byte swap (or nothing).
unsigned short osSoctHtons(unsigned short v) {
    const unsigned char b[2] = {static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v & 0xFF)};
    unsigned short r;
    std::memcpy(&r, b, sizeof r);
    return r;
}

unsigned osSoctHtonl(unsigned v) {
    const unsigned char b[4] = {
        static_cast<unsigned char>(v >> 24), static_cast<unsigned char>((v >> 16) & 0xFF),
        static_cast<unsigned char>((v >> 8) & 0xFF), static_cast<unsigned char>(v & 0xFF)};
    unsigned r;
    std::memcpy(&r, b, sizeof r);
    return r;
}

// Both conversions are their own inverse.
unsigned short osSoctNtohs(unsigned short v) {
    return osSoctHtons(v);
}

unsigned osSoctNtohl(unsigned v) {
    return osSoctHtonl(v);
}

unsigned long long osSoctHtonq(unsigned long long v) {
    return v;
}

unsigned long long osSoctNtohq(unsigned long long v) {
    return v;
}

} // namespace Quorvel
