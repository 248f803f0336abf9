// Unique identifiers: the value type, its text form, and the process-wide generator.
#include "qv_uid.h"

#include "library.h"
#include "qv_event.h"
#include "qv_process.h"
#include "qv_socket.h"
#include "qv_thread.h"
#include "uid_gen.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace Quorvel {

namespace {

constexpr int kUidSize = 16;
constexpr int kTextSize = 2 + 2 * kUidSize; // "0x" and two digits a byte

// The generator's state: plain values, set by the load sequence and read under the lock.
struct tUidGenerator {
    unsigned char machine[6];
    tTimeb loaded; // the load time, which also stands in for a missing Ethernet address
    tTimeb last;   // the time of the last identifier generated
    void *lock;    // a critical section
};

tUidGenerator gGen;
std::once_flag gMachineRead;
// Serialises generation when the critical section could not be made at load (memory ran out):
// without a lock two threads could take the same time stamp.
std::atomic_flag gFallbackLock = ATOMIC_FLAG_INIT;

void ReadMachinePart() {
    unsigned char mac[6] = {0, 0, 0, 0, 0, 0};
    osNetGetEtherMAC(mac);
    static const unsigned char kNone[6] = {0, 0, 0, 0, 0, 0};
    if (std::memcmp(mac, kNone, sizeof mac) == 0) detail::UidMachineFromTime(gGen.loaded, mac);
    std::memcpy(gGen.machine, mac, sizeof mac);
}

void ClockNow(tTimeb &t) {
    t.GetTime();
}
void ClockPause() {
    std::this_thread::yield();
}

const detail::tUidClock kSystemClock = {ClockNow, osSleep, ClockPause};

void Lock() {
    if (gGen.lock) {
        osEnterCriticalSection(gGen.lock);
        return;
    }
    while (gFallbackLock.test_and_set(std::memory_order_acquire))
        std::this_thread::yield();
}

void Unlock() {
    if (gGen.lock) {
        osLeaveCriticalSection(gGen.lock);
        return;
    }
    gFallbackLock.clear(std::memory_order_release);
}

void PutLittle(unsigned char *out, unsigned v, int n) {
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<unsigned char>(v >> (8 * i));
}

void PutBig(unsigned char *out, unsigned v, int n) {
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<unsigned char>(v >> (8 * (n - 1 - i)));
}

} // namespace

namespace detail {

tTimeb NextUidTime(const tTimeb &last, const tUidClock &clock) {
    tTimeb now;
    clock.now(now);
    int pauses = 0;
    while (!(now > last)) {
        // Within the last millisecond the next one is less than a sleep away: a whole-millisecond
        // sleep would overshoot it and halve the rate.
        if (now == last && pauses < kUidSpinPauses) {
            ++pauses;
            clock.pause();
        } else {
            clock.sleep(1);
        }
        clock.now(now);
    }
    return now;
}

void UidMachineFromTime(const tTimeb &loaded, unsigned char machine[6]) {
    PutBig(machine, static_cast<unsigned>(loaded.sec), 4);
    PutBig(machine + 4, loaded.ms, 2);
}

void WriteUid(unsigned char out[16], const unsigned char machine[6], unsigned pid,
              const tTimeb &t) {
    std::memcpy(out, machine, 6);
    PutLittle(out + 6, pid, 4);
    PutLittle(out + 10, static_cast<unsigned>(t.sec), 4);
    PutLittle(out + 14, t.ms, 2);
}

void UidMachinePart(unsigned char machine[6]) {
    std::call_once(gMachineRead, ReadMachinePart);
    std::memcpy(machine, gGen.machine, sizeof gGen.machine);
}

void InitUidGenerator() {
    std::memset(gGen.machine, 0, sizeof gGen.machine);
    gGen.loaded.GetTime();
    // The lookup enumerates adapters through another library: not under a loader lock.
    if (!kPlatformDefersLoaderWork) std::call_once(gMachineRead, ReadMachinePart);
    gGen.lock = nullptr;
    osCreateCriticalSection(nullptr, gGen.lock);
    gGen.last.GetTime();
}

void FiniUidGenerator() {
    osDestroyCriticalSection(gGen.lock);
}

} // namespace detail

cQV_Uid::cQV_Uid() {
    std::memset(_uid, 0, sizeof _uid);
}

cQV_Uid::cQV_Uid(int n) {
    std::memset(_uid, 0, sizeof _uid);
    PutBig(_uid + 6, static_cast<unsigned>(n), 4);
}

cQV_Uid::cQV_Uid(const cQV_Uid &o) {
    std::memcpy(_uid, o._uid, sizeof _uid);
}

cQV_Uid &cQV_Uid::operator=(const cQV_Uid &o) {
    if (this != &o) std::memcpy(_uid, o._uid, sizeof _uid);
    return *this;
}

cQV_Uid::~cQV_Uid() = default;

bool cQV_Uid::operator==(const cQV_Uid &o) const {
    return std::memcmp(_uid, o._uid, sizeof _uid) == 0;
}

bool cQV_Uid::operator!=(const cQV_Uid &o) const {
    return !(*this == o);
}

int cQV_Uid::Cmp(const cQV_Uid &o) const {
    // memcmp compares the bytes as unsigned char.
    const int r = std::memcmp(_uid, o._uid, sizeof _uid);
    return r > 0 ? 1 : (r < 0 ? -1 : 0);
}

void cQV_Uid::Generate() {
    // Outside the lock: the first call may look up the Ethernet address.
    unsigned char machine[6];
    detail::UidMachinePart(machine);
    Lock();
    const unsigned pid = osGetCurrentProcessId();
    const tTimeb now = detail::NextUidTime(gGen.last, kSystemClock);
    gGen.last = now;
    detail::WriteUid(_uid, machine, pid, now);
    Unlock();
}

bool cQV_Uid::IsEmpty() const {
    return *this == _empty;
}

bool cQV_Uid::IsNotEmpty() const {
    return !IsEmpty();
}

void cQV_Uid::SetEmpty() {
    *this = _empty;
}

const cQV_Uid &cQV_Uid::GetEmpty() {
    return _empty;
}

unsigned char *cQV_Uid::Buffer() {
    return _uid;
}

const unsigned char *cQV_Uid::GetBuffer() const {
    return _uid;
}

cQV_String cQV_Uid::ToString() const {
    static const char kDigits[] = "0123456789abcdef";
    cQV_String text;
    char *buf = text.GetBuffer(kTextSize);
    if (!buf) return text;
    buf[0] = '0';
    buf[1] = 'x';
    for (int i = 0; i < kUidSize; ++i) {
        buf[2 + 2 * i] = kDigits[_uid[i] >> 4];
        buf[3 + 2 * i] = kDigits[_uid[i] & 0xf];
    }
    buf[kTextSize] = '\0';
    return text;
}

bool cQV_Uid::FromString(const char *s) {
    if (!s) return false;
    // Only the first 34 characters count: the length check must not read past them.
    for (int i = 0; i < kTextSize; ++i)
        if (s[i] == '\0') return false;
    if (s[0] != '0' || s[1] != 'x') return false;
    unsigned char bytes[kUidSize];
    for (int i = 0; i < kUidSize; ++i) {
        const char pair[3] = {s[2 + 2 * i], s[3 + 2 * i], '\0'};
        char *end = nullptr;
        const unsigned long v = std::strtoul(pair, &end, 16);
        if (end != pair + 2) return false;
        bytes[i] = static_cast<unsigned char>(v & 0xff);
    }
    std::memcpy(_uid, bytes, sizeof _uid);
    return true;
}

} // namespace Quorvel
