// The Windows naming rules and processor description, as pure functions of what the system
// reports: every table row, on every platform.
#include "sysinfo/sysinfo_text.h"

#include <gtest/gtest.h>

#include <string>

using namespace Quorvel;
using namespace Quorvel::detail;

namespace {

struct NamingCase {
    const char *what;
    bool extended;
    unsigned platform, major, minor, productType, suite, spMajor;
    const char *spText;
    unsigned arch;
    const char *registry; // the "ProductType" text, null when not readable
    const char *shortName;
    const char *longName;
};

const unsigned kX86 = 0, kAmd64 = 9;

const NamingCase kNaming[] = {
    // Workstations.
    {"XP", true, 2, 5, 1, 1, 0, 0, "", kX86, nullptr, "WinXP Prof",
     "Microsoft Windows XP Professional"},
    {"XP Home SP3", true, 2, 5, 1, 1, 0x200, 3, "Service Pack 3", kX86, nullptr, "WinXP Home",
     "Microsoft Windows XP Home Edition SP3"},
    {"Vista x64", true, 2, 6, 0, 1, 0, 2, "", kAmd64, nullptr, "Vista x64 Prof",
     "Microsoft Windows Vista x64 Professional SP2"},
    {"7 x64 SP1", true, 2, 6, 1, 1, 0x100, 1, "Service Pack 1", kAmd64, nullptr, "Win7 x64 Prof",
     "Microsoft Windows 7 x64 Professional SP1"},
    {"7 Home", true, 2, 6, 1, 1, 0x300, 0, "", kX86, nullptr, "Win7 Home",
     "Microsoft Windows 7 Home Edition"},
    {"10 x64", true, 2, 10, 0, 1, 0x100, 0, "", kAmd64, nullptr, "WinNT 10.0 x64 Prof",
     "Microsoft Windows NT 10.0 x64 Professional"},
    {"5.0 replaces Win2000", true, 2, 5, 0, 1, 0, 0, "", kX86, nullptr, "WinNT 5.0 Prof",
     "Microsoft Windows NT 5.0 Professional"},
    {"terminal server bit", true, 2, 6, 1, 1, 0x10, 0, "", kX86, nullptr, "Win7 Prof",
     "Microsoft Windows 7 Professional TS"},
    // Servers.
    {"2003", true, 2, 5, 1, 3, 0, 0, "", kX86, nullptr, "Win2003 Server",
     "Microsoft Windows 2003 Server"},
    {"2003 R2 x64", true, 2, 5, 2, 3, 0, 2, "", kAmd64, nullptr, "Win2003R2 x64 Server",
     "Microsoft Windows 2003 R2 x64 Server SP2"},
    {"2008 Ent", true, 2, 6, 0, 3, 0x2, 0, "", kX86, nullptr, "Win2008 Ent Server",
     "Microsoft Windows 2008 Enterprise Server"},
    {"2008 R2 DataCenter", true, 2, 6, 1, 3, 0x82, 1, "", kAmd64, nullptr,
     "Win2008R2 x64 DataCenter Server", "Microsoft Windows 2008 R2 x64 DataCenter Server SP1"},
    {"other server", true, 2, 6, 3, 3, 0, 0, "", kAmd64, nullptr, "WinNT 6.3 x64 Server",
     "Microsoft Windows NT 6.3 x64 Server"},
    {"NT 4 advanced", true, 2, 4, 0, 3, 0x2, 6, "", kX86, nullptr, "WinNT 4.0 Adv Server",
     "Microsoft Windows NT 4.0 Advanced Server SP6"},
    {"web", true, 2, 5, 2, 3, 0x400, 0, "", kX86, nullptr, "Win2003R2 Web Server",
     "Microsoft Windows 2003 R2 Web Server"},
    {"web bit with enterprise", true, 2, 5, 2, 3, 0x402, 0, "", kX86, nullptr,
     "Win2003R2 Ent Server", "Microsoft Windows 2003 R2 Enterprise Server"},
    {"web bit with another", true, 2, 5, 2, 3, 0x401, 0, "", kX86, nullptr, "Win2003R2 Server",
     "Microsoft Windows 2003 R2 Server"},
    {"datacenter before enterprise", true, 2, 4, 0, 3, 0x82, 0, "", kX86, nullptr,
     "WinNT 4.0 DataCenter Server", "Microsoft Windows NT 4.0 DataCenter Server"},
    {"server terminal services", true, 2, 6, 0, 3, 0x10, 0, "", kX86, nullptr, "Win2008 Server",
     "Microsoft Windows 2008 Server TS"},
    // Other product types keep the preliminary names.
    {"domain controller 5.0", true, 2, 5, 0, 2, 0x10, 4, "", kX86, nullptr, "Win2000",
     "Microsoft Windows 2000  TS SP4"},
    {"domain controller NT 4", true, 2, 4, 0, 2, 0, 0, "", kX86, nullptr, "WinNT 4.0",
     "Microsoft Windows NT 4.0 "},
    {"domain controller 6.1", true, 2, 6, 1, 2, 0, 1, "", kX86, nullptr, "Windows",
     "Windows unknown SP1"},
    // Without the extended record: the registry's product type.
    {"NT 4 workstation", false, 2, 4, 0, 0, 0, 0, "Service Pack 6", kX86, "WINNT", "Windows",
     "Microsoft Windows NT 4.0 Workstation"},
    {"NT 4 server", false, 2, 4, 0, 0, 0, 0, "", kX86, "LanmanNT", "Windows",
     "Microsoft Windows NT 4.0 Server"},
    {"NT 4 advanced server", false, 2, 4, 0, 0, 0, 0, "", kX86, "servernt", "Windows",
     "Microsoft Windows NT 4.0 Advanced Server"},
    {"NT 3.51 unknown type", false, 2, 3, 51, 0, 0, 0, "", kX86, "OTHER", "Windows",
     "Microsoft Windows NT 3.51 "},
    {"unknown extended fields are ignored", false, 2, 4, 0, 0, 0x10, 3, "", kX86, "WINNT",
     "Windows", "Microsoft Windows NT 4.0 Workstation"},
    {"2000 without registry", false, 2, 5, 0, 0, 0, 0, "", kX86, nullptr, "Windows",
     "Microsoft Windows 2000 "},
    // The consumer line: only major 4, no suffixes.
    {"95", true, 1, 4, 0, 0, 0, 0, " A", kX86, nullptr, "Win95", "Microsoft Windows 95"},
    {"95 OSR2 C", true, 1, 4, 0, 0, 0x10, 1, " C", kX86, nullptr, "Win95",
     "Microsoft Windows 95 OSR2"},
    {"95 OSR2 B", true, 1, 4, 0, 0, 0, 0, " B ", kX86, nullptr, "Win95",
     "Microsoft Windows 95 OSR2"},
    {"98", true, 1, 4, 10, 0, 0, 0, "", kX86, nullptr, "Win98", "Microsoft Windows 98"},
    {"98 SE", true, 1, 4, 10, 0, 0, 0, " A ", kX86, nullptr, "Win98", "Microsoft Windows 98 SE"},
    {"ME", true, 1, 4, 90, 0, 0, 0, " A", kX86, nullptr, "Windows", "Microsoft Windows ME"},
    {"consumer 4.3", true, 1, 4, 3, 0, 0, 0, "", kX86, nullptr, "Windows", "Windows unknown"},
    {"consumer 5.0", true, 1, 5, 0, 0, 0, 0, "", kX86, nullptr, "Windows", "Windows unknown"},
    // Other platform kinds are not named.
    {"platform 0", true, 0, 3, 1, 0, 0, 0, "", kX86, nullptr, "Windows", "Windows unknown"},
    {"platform 3", true, 3, 6, 0, 1, 0, 0, "", kX86, nullptr, "Windows", "Windows unknown"},
};

TEST(WindowsNaming, EveryTableRow) {
    for (const NamingCase &c : kNaming) {
        tWinVersion v;
        v.haveRecord = true;
        v.extended = c.extended;
        v.platformId = c.platform;
        v.major = c.major;
        v.minor = c.minor;
        v.productType = c.productType;
        v.suiteMask = c.suite;
        v.servicePackMajor = c.spMajor;
        v.servicePackText = c.spText;
        cQV_String shortName("stale"), longName("stale");
        NameWindowsSystem(v, c.arch, c.registry, shortName, longName);
        EXPECT_STREQ(static_cast<const char *>(shortName), c.shortName) << c.what;
        EXPECT_STREQ(static_cast<const char *>(longName), c.longName) << c.what;
    }
}

TEST(WindowsNaming, NoVersionRecordKeepsTheInitialNames) {
    tWinVersion v;
    v.platformId = 2;
    v.major = 6;
    v.minor = 1;
    v.productType = 1;
    cQV_String shortName("stale"), longName("stale");
    NameWindowsSystem(v, kAmd64, "WINNT", shortName, longName);
    EXPECT_STREQ(static_cast<const char *>(shortName), "Windows");
    EXPECT_STREQ(static_cast<const char *>(longName), "Windows unknown");
}

TEST(WindowsProcessor, DescriptionFromRegistryValues) {
    struct Case {
        const char *what;
        bool opened;
        const char *name, *identifier;
        bool haveMhz;
        unsigned mhz;
        const char *expectName;
        int expectMhz;
    } cases[] = {
        {"all values", true, "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz",
         "Intel64 Family 6 Model 158 Stepping 10", true, 3192,
         "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz: Intel64 Family 6 Model 158 Stepping 10", 3192},
        {"no identifier", true, "AMD EPYC 7B13", nullptr, true, 2450, "AMD EPYC 7B13", 0},
        {"no clock", true, "AMD EPYC 7B13", "AMD64 Family 25 Model 1 Stepping 1", false, 0,
         "AMD EPYC 7B13: AMD64 Family 25 Model 1 Stepping 1", 0},
        {"no name", true, nullptr, "x86 Family 6", true, 1000, "x86", 0},
        {"no key", false, "ignored", "ignored", true, 1000, "x86", 0},
    };
    for (const Case &c : cases) {
        tCpuRegistry reg;
        reg.keyOpened = c.opened;
        reg.name = c.name;
        reg.identifier = c.identifier;
        reg.haveMhz = c.haveMhz;
        reg.mhz = c.mhz;
        cQV_String name("stale");
        int mhz = -1;
        DescribeWindowsProcessor(reg, name, mhz);
        EXPECT_STREQ(static_cast<const char *>(name), c.expectName) << c.what;
        EXPECT_EQ(mhz, c.expectMhz) << c.what;
    }
}

} // namespace
