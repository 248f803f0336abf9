// Runs a script of reads and seeks over a memory stream of arbitrary bytes and checks every step
// against a model: the position never passes the length, a failure is sticky (every later call
// fails and moves nothing) until the status is cleared, and each number read is what the bytes
// at the position say, at most 11 of them, saturated.
//
// Input: one byte with the script's length n (at most 32 steps), n script bytes, then the
// stream's bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qv_storage.h"

using namespace Quorvel;

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "storage_numbers_fuzz: %s\n", what);
        std::abort();
    }
}

struct Model {
    const unsigned char *bytes;
    unsigned length, position;
    bool failed;
};

// The model's decimal scan: the count of bytes a number takes at the position and its value.
unsigned Digits(const Model &m, unsigned from, unsigned room) {
    unsigned n = 0;
    while (n < room && from + n < m.length && m.bytes[from + n] >= '0' && m.bytes[from + n] <= '9')
        ++n;
    return n;
}

unsigned long long Value(const Model &m, unsigned from, unsigned n) {
    unsigned long long v = 0;
    for (unsigned i = 0; i < n; ++i)
        v = v * 10 + (m.bytes[from + i] - '0');
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    size_t steps = data[0] % 33;
    if (steps > size - 1) steps = size - 1;
    const uint8_t *script = data + 1;
    const uint8_t *bytes = script + steps;
    const unsigned length = static_cast<unsigned>(size - 1 - steps);

    cMemoryIO io;
    cDataBuf buf(16);
    Check(buf.AddSegment(bytes, length), "loading the stream failed");
    io.SetBuffer(buf);
    Model m{bytes, length, 0, false};
    unsigned char out[256];

    for (size_t i = 0; i < steps; ++i) {
        const unsigned op = script[i] % 8, arg = script[i] / 8;
        const unsigned before = m.position;
        bool ok = false;
        switch (op) {
        case 0: { // ReadUlong
            unsigned v = 12345;
            ok = io.ReadUlong(v);
            const unsigned n = m.failed ? 0 : Digits(m, m.position, 11);
            Check(ok == (!m.failed && n > 0), "ReadUlong's result");
            if (ok) {
                const unsigned long long want = Value(m, m.position, n);
                Check(v == (want > 4294967295ull ? 4294967295u : want), "ReadUlong's value");
                m.position += n;
            } else {
                Check(v == 12345, "a failed ReadUlong stored a value");
            }
            break;
        }
        case 1: { // ReadLong
            int v = 12345;
            ok = io.ReadLong(v);
            bool minus = !m.failed && m.position < m.length && m.bytes[m.position] == '-';
            const unsigned n = m.failed ? 0 : Digits(m, m.position + minus, 11 - minus);
            Check(ok == (!m.failed && n > 0), "ReadLong's result");
            if (ok) {
                long long want = static_cast<long long>(Value(m, m.position + minus, n));
                if (minus) want = -want;
                if (want > 2147483647) want = 2147483647;
                if (want < -2147483648ll) want = -2147483648ll;
                Check(v == want, "ReadLong's value");
                m.position += minus + n;
            } else {
                Check(v == (minus ? 0 : 12345), "a failed ReadLong's value");
            }
            break;
        }
        case 2: { // ReadBytes
            const unsigned count = arg == 31 ? 0xFFFFFFFFu : arg * 3;
            std::memset(out, 0xAA, sizeof out);
            ok = io.ReadBytes(count, out);
            Check(ok == (!m.failed && count <= m.length - m.position), "ReadBytes's result");
            if (ok) {
                Check(count == 0 || std::memcmp(out, m.bytes + m.position, count) == 0,
                      "ReadBytes's bytes");
                m.position += count;
            }
            break;
        }
        case 3: { // Seek, at or near the length
            const unsigned to = arg < 16 ? arg : m.length + (arg - 16) % 3 - 1;
            ok = io.Seek(to);
            Check(ok == (!m.failed && to <= m.length), "Seek's result");
            if (ok) m.position = to;
            break;
        }
        case 4:
            io.GetStatus().Reset();
            m.failed = false;
            continue;
        case 5:
            Check(io.IsEof() == (!m.failed && m.position == m.length), "IsEof");
            continue;
        case 6:
            Check(io.Tell() == (m.failed ? 0 : m.position), "Tell");
            continue;
        default: {
            ok = io.WriteFlush();
            Check(ok == !m.failed, "WriteFlush");
            if (ok && arg % 2) {
                // Rewind and read a number twice: the same value both times.
                const unsigned at = m.position;
                unsigned a = 0, b = 0;
                if (io.ReadUlong(a)) {
                    Check(io.Seek(at) && io.ReadUlong(b) && a == b, "a reread number differs");
                    m.position = io.Tell();
                } else {
                    io.GetStatus().Reset();
                }
            }
            continue;
        }
        }
        if (!ok) {
            Check(m.position == before, "a failed call moved the position");
            m.failed = true;
            Check(io.GetStatus().code == 3, "a failure without code 3");
        }
        Check(m.position <= m.length, "the model passed the length");
        Check(m.failed || io.Tell() == m.position, "the position differs from the model");
    }
    return 0;
}
