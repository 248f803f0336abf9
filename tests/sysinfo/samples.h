// Text as real machines hand it over: /proc files, release files. Stored here so that the
// parsers are tested on every platform.
#pragma once

namespace samples {

// x86-64 server (two logical processors shown; every block repeats the keys).
inline const char kCpuInfoX86[] = R"T(processor	: 0
vendor_id	: GenuineIntel
cpu family	: 6
model		: 85
model name	: Intel(R) Xeon(R) Gold 6248 CPU @ 2.50GHz
stepping	: 7
microcode	: 0x5003604
cpu MHz		: 2499.998
cache size	: 28160 KB
physical id	: 0
siblings	: 2
flags		: fpu vme de pse tsc msr pae mce cx8 apic sep mtrr
bogomips	: 4999.99
power management:

processor	: 1
vendor_id	: GenuineIntel
cpu family	: 6
model		: 85
model name	: Intel(R) Xeon(R) Gold 6248 CPU @ 2.50GHz
stepping	: 7
cpu MHz		: 1200.000
power management:

)T";

// 64-bit ARM server: no model name, no clock.
inline const char kCpuInfoArm64[] = R"T(processor	: 0
BogoMIPS	: 243.75
Features	: fp asimd evtstrm aes pmull sha1 sha2 crc32 atomics fphp asimdhp cpuid
CPU implementer	: 0x41
CPU architecture: 8
CPU variant	: 0x3
CPU part	: 0xd0c
CPU revision	: 1

processor	: 1
BogoMIPS	: 243.75
CPU implementer	: 0x41
CPU architecture: 8
CPU variant	: 0x3
CPU part	: 0xd0c
CPU revision	: 1

)T";

// 32-bit ARM board: a model name, and a hardware block after the processors.
inline const char kCpuInfoArm32[] = R"T(processor	: 0
model name	: ARMv7 Processor rev 4 (v7l)
BogoMIPS	: 38.40
Features	: half thumb fastmult vfp edsp neon vfpv3 tls vfpv4 idiva idivt vfpd32 lpae evtstrm crc32
CPU implementer	: 0x41
CPU architecture: 7
CPU variant	: 0x0
CPU part	: 0xd03
CPU revision	: 4

Hardware	: BCM2835
Revision	: a02082
Serial		: 00000000a1b2c3d4
Model		: Raspberry Pi 3 Model B Rev 1.2
)T";

// Mainframe: a header for all processors, then per-processor blocks.
inline const char kCpuInfoS390[] = R"T(vendor_id       : IBM/S390
# processors    : 2
bogomips per cpu: 3241.00
max thread id   : 0
features	: esan3 zarch stfle msa ldisp eimm dfp edat etf3eh highgprs te vx vxd vxe gs sie
facilities      : 0 1 2 3 4 6 7 8 9 10 12 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 30
cache0          : level=1 type=Data scope=Private size=128K line_size=256 associativity=8
processor 0: version = FF,  identification = 0B2B48,  machine = 8561
processor 1: version = FF,  identification = 1B2B48,  machine = 8561

cpu number      : 0
physical id     : 0
cpu MHz dynamic : 5200
cpu MHz static  : 5200

cpu number      : 1
cpu MHz dynamic : 5200
cpu MHz static  : 5200
)T";

// POWER: "cpu" names the processor, "clock" gives its speed.
inline const char kCpuInfoPower[] = R"T(processor	: 0
cpu		: POWER9 (architected), altivec supported
clock		: 2200.000000MHz
revision	: 2.2 (pvr 004e 1202)

timebase	: 512000000
platform	: pSeries
model		: IBM,9009-22A
)T";

inline const char kOsReleaseDebian[] = R"T(PRETTY_NAME="Debian GNU/Linux 12 (bookworm)"
NAME="Debian GNU/Linux"
VERSION_ID="12"
VERSION="12 (bookworm)"
VERSION_CODENAME=bookworm
ID=debian
HOME_URL="https://www.debian.org/"
)T";

inline const char kOsReleaseUbuntu[] = R"T(PRETTY_NAME="Ubuntu 22.04.4 LTS"
NAME="Ubuntu"
VERSION_ID="22.04"
VERSION="22.04.4 LTS (Jammy Jellyfish)"
ID=ubuntu
ID_LIKE=debian
)T";

// A rolling release names no version.
inline const char kOsReleaseArch[] = R"T(NAME="Arch Linux"
PRETTY_NAME="Arch Linux"
ID=arch
BUILD_ID=rolling
ANSI_COLOR="38;2;23;147;209"
)T";

// Single quotes, escapes, comments and blank lines.
inline const char kOsReleaseQuoting[] = "# vendor file\n\n"
                                        "NAME='Acme \"Rock\" Linux'\n"
                                        "VERSION_ID=2.1\n"
                                        "PRETTY_NAME=\"Acme \\\"Rock\\\" \\$2.1 \\\\ edge\"\n";

inline const char kMemInfo[] = R"T(MemTotal:       16318496 kB
MemFree:         1205000 kB
MemAvailable:    9876543 kB
Buffers:          400000 kB
Cached:          7000000 kB
SwapCached:            0 kB
SwapTotal:       2097148 kB
SwapFree:        2000000 kB
HugePages_Total:       0
)T";

// Before 3.14 there is no MemAvailable.
inline const char kMemInfoOld[] = R"T(MemTotal:        2048000 kB
MemFree:          100000 kB
Buffers:           20000 kB
Cached:           300000 kB
SwapCached:            0 kB
SwapTotal:             0 kB
SwapFree:              0 kB
)T";

inline const char kProcStat[] =
    R"T(cpu  10132153 290696 3084719 46828483 16683 0 25195 175 1000 2000
cpu0 1393280 32966 572056 13343292 6130 0 17875 0 0 0
cpu1 1335150 29612 506563 13456411 2712 0 2624 0 0 0
intr 1462898 0 0 0
ctxt 115315133
btime 1700000000
)T";

// An old kernel gives four states only.
inline const char kProcStatOld[] = "cpu  100 20 30 850\ncpu0 100 20 30 850\n";

// A command name with blanks and a parenthesis.
inline const char kPidStat[] =
    "4242 (my (odd) prog) S 1 4242 4242 0 -1 4194560 1234 0 5 0 250 75 0 0 20 0 3 0 "
    "987654 123456789 2048 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";

inline const char kStatm[] = "5960 2048 1200 250 0 1500 0\n";

} // namespace samples
