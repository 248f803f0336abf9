// The machine's facts: read once by the load sequence, served read-only afterwards.
#include "library.h"
#include "sysinfo_os.h"

#include <mutex>
#include <new>

namespace Quorvel {

namespace {

const char *const kLinux = "Linux";
const char *const kWindows = "Windows";
const char *const kUnknown = "Unknown";

// Written once, by the load sequence or by the first getter (where loader work is deferred),
// released by FiniSysInfo; read-only in between.
const detail::tSysFacts *gFacts = nullptr;
std::once_flag gFactsRead;

void ReadFacts() {
    detail::tSysFacts *facts = new (std::nothrow) detail::tSysFacts;
    if (!facts) return; // the getters then answer with the defaults
    facts->osShortName = "Windows";
    facts->osLongName = "Windows unknown";
    // Running out of memory while reading leaves the facts not read so far at their defaults;
    // nothing may escape the load sequence.
    try {
        detail::PlatformReadSysFacts(*facts);
    } catch (const std::bad_alloc &) {
    }
    gFacts = facts;
}

const detail::tSysFacts *Facts() {
    std::call_once(gFactsRead, ReadFacts);
    return gFacts;
}

} // namespace

namespace detail {

void InitSysInfo() {
    if (!kPlatformDefersLoaderWork) Facts();
}

void FiniSysInfo() {
    PlatformReleaseSysInfo();
    delete gFacts;
    gFacts = nullptr;
}

} // namespace detail

int cQV_SysInfo::GetCpuCount() {
    const detail::tSysFacts *f = Facts();
    return f ? f->cpuCount : 0;
}

cQV_String cQV_SysInfo::GetCpuName() {
    const detail::tSysFacts *f = Facts();
    return f ? f->cpuName : cQV_String("x86");
}

int cQV_SysInfo::GetCpuSpeed() {
    const detail::tSysFacts *f = Facts();
    return f ? f->cpuSpeed : 0;
}

unsigned long long cQV_SysInfo::GetRamSize() {
    const detail::tSysFacts *f = Facts();
    return f ? f->ramSize : 0;
}

cQV_String cQV_SysInfo::GetOsShortName() {
    const detail::tSysFacts *f = Facts();
    return f ? f->osShortName : cQV_String("Windows");
}

cQV_String cQV_SysInfo::GetOsLongName() {
    const detail::tSysFacts *f = Facts();
    return f ? f->osLongName : cQV_String("Windows unknown");
}

eQV_HostType cQV_SysInfo::GetHostType() {
    return detail::PlatformGetHostType();
}

eQV_HostType cQV_SysInfo::GetHostTypeId(const char *name) {
    if (cQV_String::Compare(name, kLinux) == 0) return eHostLinux;
    if (cQV_String::Compare(name, kWindows) == 0) return eHostWindows;
    return eHostUnknown;
}

const char *cQV_SysInfo::GetHostTypeStr(eQV_HostType type) {
    switch (type) {
    case eHostLinux:
        return kLinux;
    case eHostWindows:
        return kWindows;
    default:
        return kUnknown;
    }
}

unsigned int cQV_SysInfo::EnumProcesses(ctQV_Array<unsigned int> &) {
    return 0;
}

bool iQV_ProcInfo::GetName(unsigned int, cQV_String &) {
    return false;
}

} // namespace Quorvel
