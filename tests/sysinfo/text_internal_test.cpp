// The Linux text parsers and naming, on stored samples, on every platform.
#include "samples.h"
#include "sysinfo/sysinfo_text.h"

#include <gtest/gtest.h>

using namespace Quorvel;
using namespace Quorvel::detail;

namespace {

TEST(CpuInfo, NameAndClockOfSeveralMachines) {
    struct Case {
        const char *what;
        const char *text;
        const char *machine;
        const char *name;
        int mhz;
    } cases[] = {
        {"x86", samples::kCpuInfoX86, "x86_64",
         "Intel(R) Xeon(R) Gold 6248 CPU @ 2.50GHz: Family 6 Model 85 Stepping 7", 2500},
        {"arm64", samples::kCpuInfoArm64, "aarch64",
         "aarch64: Implementer 0x41 Architecture 8 Variant 0x3 Part 0xd0c Revision 1", 0},
        {"arm32", samples::kCpuInfoArm32, "armv7l",
         "ARMv7 Processor rev 4 (v7l): Implementer 0x41 Architecture 7 Variant 0x0 Part 0xd03 "
         "Revision 4",
         0},
        {"s390x", samples::kCpuInfoS390, "s390x", "IBM/S390: Machine 8561", 5200},
        {"power", samples::kCpuInfoPower, "ppc64le", "POWER9 (architected), altivec supported",
         2200},
        {"empty", "", "riscv64", "riscv64", 0},
        {"nothing at all", nullptr, nullptr, "unknown", 0},
    };
    for (const Case &c : cases) {
        cQV_String name("stale");
        int mhz = -1;
        ParseCpuInfo(c.text, c.machine, name, mhz);
        EXPECT_STREQ(static_cast<const char *>(name), c.name) << c.what;
        EXPECT_EQ(mhz, c.mhz) << c.what;
    }
}

TEST(OsRelease, NamesFromReleaseFileAndKernel) {
    struct Case {
        const char *what;
        const char *text;
        const char *machine;
        const char *kernel;
        const char *shortName;
        const char *longName;
    } cases[] = {
        {"debian", samples::kOsReleaseDebian, "x86_64", "6.1.0-18-amd64", "Debian 12 x64",
         "Debian GNU/Linux 12 (bookworm) x64, kernel 6.1.0"},
        {"ubuntu arm", samples::kOsReleaseUbuntu, "aarch64", "5.15.0-1051-aws",
         "Ubuntu 22.04 aarch64", "Ubuntu 22.04.4 LTS aarch64, kernel 5.15.0"},
        {"no version", samples::kOsReleaseArch, "x86_64", "6.7.4-arch1-1", "Arch x64",
         "Arch Linux x64, kernel 6.7.4"},
        {"32-bit x86", samples::kOsReleaseDebian, "i686", "4.19.0", "Debian 12",
         "Debian GNU/Linux 12 (bookworm), kernel 4.19.0"},
        {"quoting", samples::kOsReleaseQuoting, "s390x", "5.14.0", "Acme \"Rock\" 2.1 s390x",
         "Acme \"Rock\" $2.1 \\ edge s390x, kernel 5.14.0"},
        {"no release file", nullptr, "x86_64", "6.18.44-fc", "Linux x64",
         "Linux x64, kernel 6.18.44"},
        {"no kernel", "NAME=Gentoo\n", "", "", "Gentoo", "Gentoo"},
    };
    for (const Case &c : cases) {
        tOsRelease release;
        ParseOsRelease(c.text, release);
        cQV_String shortName, longName;
        NameLinuxSystem(release, c.machine, c.kernel, shortName, longName);
        EXPECT_STREQ(static_cast<const char *>(shortName), c.shortName) << c.what;
        EXPECT_STREQ(static_cast<const char *>(longName), c.longName) << c.what;
    }
}

TEST(OsRelease, ReadsOnlyItsOwnKeys) {
    tOsRelease r;
    ParseOsRelease("XNAME=no\nNAME_X=no\n  NAME=yes  # a comment\nVERSION=9\n#VERSION_ID=1\n", r);
    EXPECT_STREQ(static_cast<const char *>(r.name), "yes");
    EXPECT_EQ(r.versionId.Length(), 0u);
    EXPECT_EQ(r.prettyName.Length(), 0u);
}

TEST(MemInfo, FiguresInBytes) {
    unsigned long long total = 0;
    ASSERT_TRUE(ParseMemInfoValue(samples::kMemInfo, "MemTotal", total));
    EXPECT_EQ(total, 16318496ULL * 1024);
    ASSERT_TRUE(ParseMemInfoValue(samples::kMemInfo, "HugePages_Total", total));
    EXPECT_EQ(total, 0u);
    EXPECT_FALSE(ParseMemInfoValue(samples::kMemInfo, "Mem", total)); // a prefix is no key
    EXPECT_FALSE(ParseMemInfoValue(samples::kMemInfo, "Active", total));

    long long ram = 0, swap = 0, swapMax = 0;
    ASSERT_TRUE(ParseMemInfo(samples::kMemInfo, ram, swap, swapMax));
    EXPECT_EQ(ram, 9876543LL * 1024);
    EXPECT_EQ(swap, 2000000LL * 1024);
    EXPECT_EQ(swapMax, 2097148LL * 1024);
    // Without MemAvailable: free memory, buffers and page cache.
    ASSERT_TRUE(ParseMemInfo(samples::kMemInfoOld, ram, swap, swapMax));
    EXPECT_EQ(ram, (100000LL + 20000 + 300000) * 1024);
    EXPECT_EQ(swapMax, 0);
    EXPECT_FALSE(ParseMemInfo("MemTotal: 1 kB\nMemAvailable: 1 kB\n", ram, swap, swapMax));
}

TEST(ProcStat, IdleIncludesIoWaitAndTotalEveryState) {
    unsigned long long idle = 0, total = 0;
    ASSERT_TRUE(ParseProcStatCpu(samples::kProcStat, idle, total));
    EXPECT_EQ(idle, 46828483ULL + 16683);
    // Guest time (the last two) is already part of user time.
    EXPECT_EQ(total, 10132153ULL + 290696 + 3084719 + 46828483 + 16683 + 0 + 25195 + 175);
    ASSERT_TRUE(ParseProcStatCpu(samples::kProcStatOld, idle, total));
    EXPECT_EQ(idle, 850u);
    EXPECT_EQ(total, 1000u);
    EXPECT_FALSE(ParseProcStatCpu("cpu0 1 2 3 4\n", idle, total));
    EXPECT_FALSE(ParseProcStatCpu("cpu  1 2 3\n", idle, total));
    EXPECT_FALSE(ParseProcStatCpu("", idle, total));
}

TEST(ProcPidStat, FieldsCountFromTheLastParenthesis) {
    tProcStat s;
    ASSERT_TRUE(ParseProcPidStat(samples::kPidStat, s));
    EXPECT_EQ(s.minorFaults, 1234u);
    EXPECT_EQ(s.majorFaults, 5u);
    EXPECT_EQ(s.userTicks, 250u);
    EXPECT_EQ(s.systemTicks, 75u);
    EXPECT_EQ(s.startTicks, 987654u);
    EXPECT_EQ(s.rssPages, 2048u);
    EXPECT_FALSE(ParseProcPidStat("4242 (cut) S 1 2 3", s));
    EXPECT_FALSE(ParseProcPidStat("no parenthesis", s));

    unsigned long long pages = 0;
    ASSERT_TRUE(ParseProcStatm(samples::kStatm, pages));
    EXPECT_EQ(pages, 2048u);
    EXPECT_FALSE(ParseProcStatm("5960\n", pages));
}

TEST(ProcStat, TicksTo100ns) {
    EXPECT_EQ(TicksTo100ns(250, 100), 25000000u);
    EXPECT_EQ(TicksTo100ns(1, 300), 33333u);
    // Large counts do not overflow: 10^12 ticks at 100 Hz are 10^10 s.
    EXPECT_EQ(TicksTo100ns(1000000000000ULL, 100), 100000000000000000ULL);
    EXPECT_EQ(TicksTo100ns(5, 0), 0u);
}

} // namespace
