// Naming rules and parsers over the system's own text; no platform call here.
#include "sysinfo_text.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace Quorvel::detail {

namespace {

// --- Windows naming --------------------------------------------------------------------------

void NameWorkstation(const tWinVersion &v, unsigned arch, cQV_String &shortName,
                     cQV_String &longName) {
    if (v.major == 5 && v.minor == 1) {
        shortName = "WinXP";
        longName = "Microsoft Windows XP";
    } else if (v.major == 6 && v.minor == 0) {
        shortName = "Vista";
        longName = "Microsoft Windows Vista";
    } else if (v.major == 6 && v.minor == 1) {
        shortName = "Win7";
        longName = "Microsoft Windows 7";
    } else {
        shortName.Format("WinNT %u.%u", v.major, v.minor);
        longName.Format("Microsoft Windows NT %u.%u", v.major, v.minor);
    }
    if (arch == kWinArchAmd64) {
        shortName += " x64";
        longName += " x64";
    }
    if (v.suiteMask & kWinSuitePersonal) {
        shortName += " Home";
        longName += " Home Edition";
    } else {
        shortName += " Prof";
        longName += " Professional";
    }
}

void NameServer(const tWinVersion &v, unsigned arch, cQV_String &shortName, cQV_String &longName) {
    struct Row {
        unsigned major, minor;
        const char *shortText, *longText;
    };
    static const Row kRows[] = {
        {5, 1, "Win2003", "Microsoft Windows 2003"},
        {5, 2, "Win2003R2", "Microsoft Windows 2003 R2"},
        {6, 0, "Win2008", "Microsoft Windows 2008"},
        {6, 1, "Win2008R2", "Microsoft Windows 2008 R2"},
    };
    bool named = false;
    for (const Row &r : kRows) {
        if (r.major == v.major && r.minor == v.minor) {
            shortName = r.shortText;
            longName = r.longText;
            named = true;
        }
    }
    if (!named) {
        shortName.Format("WinNT %u.%u", v.major, v.minor);
        longName.Format("Microsoft Windows NT %u.%u", v.major, v.minor);
    }
    if (arch == kWinArchAmd64) {
        shortName += " x64";
        longName += " x64";
    }
    const char *shortEdition = " Server";
    const char *longEdition = " Server";
    if (v.suiteMask & kWinSuiteDataCenter) {
        shortEdition = longEdition = " DataCenter Server";
    } else if ((v.suiteMask & kWinSuiteEnterprise) && v.major == 4) {
        shortEdition = " Adv Server";
        longEdition = " Advanced Server";
    } else if (v.suiteMask & kWinSuiteEnterprise) {
        shortEdition = " Ent Server";
        longEdition = " Enterprise Server";
    } else if ((v.suiteMask & 0xFFFF) == kWinSuiteBlade) {
        shortEdition = longEdition = " Web Server";
    }
    shortName += shortEdition;
    longName += longEdition;
}

void NameConsumer(const tWinVersion &v, cQV_String &shortName, cQV_String &longName) {
    if (v.major != 4) return;
    const char sp1 = v.servicePackText[0] ? v.servicePackText[1] : '\0';
    if (v.minor == 0) {
        shortName = "Win95";
        longName = "Microsoft Windows 95";
        if (sp1 == 'C' || sp1 == 'B') longName += " OSR2";
    } else if (v.minor == 10) {
        shortName = "Win98";
        longName = "Microsoft Windows 98";
        if (sp1 == 'A') longName += " SE";
    } else if (v.minor == 90) {
        longName = "Microsoft Windows ME";
    }
}

// --- Linux text --------------------------------------------------------------------------------

// One "key : value" line of /proc/cpuinfo: the key without trailing blanks, the value without
// leading and trailing blanks.
bool SplitCpuInfoLine(const char *line, size_t len, std::string &key, std::string &value) {
    const char *colon = static_cast<const char *>(std::memchr(line, ':', len));
    if (!colon) return false;
    size_t keyEnd = static_cast<size_t>(colon - line);
    while (keyEnd > 0 && (line[keyEnd - 1] == ' ' || line[keyEnd - 1] == '\t'))
        --keyEnd;
    size_t valBegin = static_cast<size_t>(colon - line) + 1;
    size_t valEnd = len;
    while (valBegin < valEnd && (line[valBegin] == ' ' || line[valBegin] == '\t'))
        ++valBegin;
    while (valEnd > valBegin && std::isspace(static_cast<unsigned char>(line[valEnd - 1])))
        --valEnd;
    key.assign(line, keyEnd);
    value.assign(line + valBegin, valEnd - valBegin);
    return true;
}

// A decimal clock figure ("2596.142", "2200.000000MHz") rounded to whole MHz; 0 when none.
int MhzFromText(const std::string &text) {
    const char *s = text.c_str();
    char *end = nullptr;
    const double v = std::strtod(s, &end);
    if (end == s || !(v > 0) || v > 1e7) return 0;
    return static_cast<int>(std::lround(v));
}

// The value of "name = value" inside an s390 "processor N: version = FF, machine = 8561" line.
std::string FieldAfter(const std::string &text, const char *name) {
    const size_t at = text.find(name);
    if (at == std::string::npos) return std::string();
    size_t b = at + std::strlen(name);
    size_t e = b;
    while (e < text.size() && text[e] != ',' && text[e] != ' ')
        ++e;
    return text.substr(b, e - b);
}

// Removes one trailing word group such as " GNU/Linux" or " Linux" from a distribution name.
std::string ShortDistributionName(const std::string &name) {
    static const char *const kSuffixes[] = {" GNU/Linux", " Linux"};
    for (const char *suffix : kSuffixes) {
        const size_t n = std::strlen(suffix);
        if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0)
            return name.substr(0, name.size() - n);
    }
    return name;
}

// The release-file value after '=': double quotes (backslash escapes $ " \ and `), single
// quotes (all literal), or a bare word (backslash escapes any character); '#' after blanks
// outside quotes starts a comment.
std::string UnquoteReleaseValue(const char *s, size_t len) {
    std::string out;
    char quote = 0;
    for (size_t i = 0; i < len; ++i) {
        const char c = s[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                out += c;
        } else if (quote == '"') {
            if (c == '"')
                quote = 0;
            else if (c == '\\' && i + 1 < len && std::strchr("$\"\\`", s[i + 1]))
                out += s[++i];
            else
                out += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '\\' && i + 1 < len) {
            out += s[++i];
        } else if (c == ' ' || c == '\t' || c == '\r') {
            break; // a bare value ends at a blank
        } else {
            out += c;
        }
    }
    return out;
}

bool ParseULL(const char *&p, unsigned long long &v) {
    while (*p == ' ' || *p == '\t')
        ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    char *end = nullptr;
    v = std::strtoull(p, &end, 10);
    p = end;
    return true;
}

} // namespace

void NameWindowsSystem(const tWinVersion &v, unsigned architecture, const char *productTypeText,
                       cQV_String &shortName, cQV_String &longName) {
    shortName = "Windows";
    longName = "Windows unknown";
    if (!v.haveRecord) return;
    if (v.platformId == kWinPlatformConsumer) {
        NameConsumer(v, shortName, longName);
        return;
    }
    if (v.platformId != kWinPlatformNt) return;
    if (v.major <= 4) {
        shortName.Format("WinNT %u.%u", v.major, v.minor);
        longName.Format("Microsoft Windows NT %u.%u ", v.major, v.minor);
    } else if (v.major == 5 && v.minor == 0) {
        shortName = "Win2000";
        longName = "Microsoft Windows 2000 ";
    }
    if (v.extended) {
        if (v.productType == kWinProductWorkstation)
            NameWorkstation(v, architecture, shortName, longName);
        else if (v.productType == kWinProductServer)
            NameServer(v, architecture, shortName, longName);
    } else {
        if (productTypeText) {
            if (cQV_String::CmpNoCase(productTypeText, "WINNT"))
                longName += "Workstation";
            else if (cQV_String::CmpNoCase(productTypeText, "LANMANNT"))
                longName += "Server";
            else if (cQV_String::CmpNoCase(productTypeText, "SERVERNT"))
                longName += "Advanced Server";
        }
        shortName = "Windows";
    }
    // Without the extended record the suite bits and service-pack number are not known.
    const unsigned suite = v.extended ? v.suiteMask : 0;
    const unsigned servicePack = v.extended ? v.servicePackMajor : 0;
    if (suite & kWinSuiteTerminal) longName += " TS";
    if (servicePack != 0) {
        cQV_String sp;
        sp.Format(" SP%u", servicePack);
        longName += sp;
    }
}

void DescribeWindowsProcessor(const tCpuRegistry &reg, cQV_String &name, int &speedMhz) {
    name = "x86";
    speedMhz = 0;
    if (!reg.keyOpened || !reg.name) return;
    name = reg.name;
    if (!reg.identifier) return;
    name += ": ";
    name += reg.identifier;
    if (reg.haveMhz) speedMhz = static_cast<int>(reg.mhz);
}

void ParseCpuInfo(const char *text, const char *machine, cQV_String &name, int &speedMhz) {
    // The first value of each key wins: every processor block repeats the same keys.
    std::string modelName, oldArmName, powerName, vendor, family, model, stepping;
    std::string implementer, architecture, variant, part, revision, s390Machine, mhz;
    std::string mhzDynamic, mhzStatic, powerClock;
    struct Key {
        const char *key;
        std::string *value;
    };
    const Key keys[] = {
        {"model name", &modelName},
        {"Processor", &oldArmName},
        {"cpu", &powerName},
        {"vendor_id", &vendor},
        {"cpu family", &family},
        {"model", &model},
        {"stepping", &stepping},
        {"CPU implementer", &implementer},
        {"CPU architecture", &architecture},
        {"CPU variant", &variant},
        {"CPU part", &part},
        {"CPU revision", &revision},
        {"cpu MHz", &mhz},
        {"cpu MHz dynamic", &mhzDynamic},
        {"cpu MHz static", &mhzStatic},
        {"clock", &powerClock},
    };
    const char *p = text ? text : "";
    std::string key, value;
    while (*p) {
        const char *eol = std::strchr(p, '\n');
        const size_t len = eol ? static_cast<size_t>(eol - p) : std::strlen(p);
        if (SplitCpuInfoLine(p, len, key, value)) {
            for (const Key &k : keys) {
                if (key == k.key && k.value->empty()) *k.value = value;
            }
            // s390: "processor 0: version = FF,  identification = 0B2B48,  machine = 8561"
            if (s390Machine.empty() && key.compare(0, 10, "processor ") == 0)
                s390Machine = FieldAfter(value, "machine = ");
        }
        p += len;
        if (*p) ++p;
    }

    std::string cpuName = modelName;
    if (cpuName.empty()) cpuName = oldArmName;
    if (cpuName.empty()) cpuName = powerName;
    if (cpuName.empty()) cpuName = vendor;
    if (cpuName.empty()) cpuName = machine ? machine : "";
    if (cpuName.empty()) cpuName = "unknown";

    std::string id;
    if (!family.empty()) {
        id = "Family " + family;
        if (!model.empty()) id += " Model " + model;
        if (!stepping.empty()) id += " Stepping " + stepping;
    } else if (!implementer.empty()) {
        id = "Implementer " + implementer;
        if (!architecture.empty()) id += " Architecture " + architecture;
        if (!variant.empty()) id += " Variant " + variant;
        if (!part.empty()) id += " Part " + part;
        if (!revision.empty()) id += " Revision " + revision;
    } else if (!s390Machine.empty()) {
        id = "Machine " + s390Machine;
    }
    if (!id.empty()) cpuName += ": " + id;
    name = cpuName.c_str();

    speedMhz = MhzFromText(mhz);
    if (!speedMhz) speedMhz = MhzFromText(mhzDynamic);
    if (!speedMhz) speedMhz = MhzFromText(mhzStatic);
    if (!speedMhz) speedMhz = MhzFromText(powerClock);
}

void ParseOsRelease(const char *text, tOsRelease &release) {
    release = tOsRelease();
    const char *p = text ? text : "";
    while (*p) {
        const char *eol = std::strchr(p, '\n');
        const size_t len = eol ? static_cast<size_t>(eol - p) : std::strlen(p);
        size_t b = 0;
        while (b < len && (p[b] == ' ' || p[b] == '\t'))
            ++b;
        const char *eq = static_cast<const char *>(std::memchr(p + b, '=', len - b));
        if (eq && p[b] != '#') {
            const std::string key(p + b, static_cast<size_t>(eq - p) - b);
            const size_t vb = static_cast<size_t>(eq - p) + 1;
            const std::string value = UnquoteReleaseValue(p + vb, len - vb);
            if (key == "NAME")
                release.name = value.c_str();
            else if (key == "VERSION_ID")
                release.versionId = value.c_str();
            else if (key == "PRETTY_NAME")
                release.prettyName = value.c_str();
        }
        p += len;
        if (*p) ++p;
    }
}

void NameLinuxSystem(const tOsRelease &release, const char *machine, const char *kernelRelease,
                     cQV_String &shortName, cQV_String &longName) {
    // A release file without NAME or PRETTY_NAME means "Linux", as the format defines.
    const std::string name =
        release.name.Length() ? static_cast<const char *>(release.name) : "Linux";
    std::string shortText = ShortDistributionName(name);
    if (release.versionId.Length())
        shortText += std::string(" ") + static_cast<const char *>(release.versionId);
    std::string longText =
        release.prettyName.Length() ? static_cast<const char *>(release.prettyName) : name.c_str();

    // As with the Windows names, 64-bit x86 is marked " x64" and 32-bit x86 not at all; any other
    // architecture is named as the kernel names it.
    const std::string arch = machine ? machine : "";
    std::string archText;
    if (arch == "x86_64" || arch == "amd64")
        archText = " x64";
    else if (!arch.empty() &&
             !(arch.size() == 4 && arch[0] == 'i' && arch.compare(2, 2, "86") == 0))
        archText = " " + arch;
    shortText += archText;
    longText += archText;

    // The kernel's version numbers without the build suffix: "6.1.0-18-amd64" gives "6.1.0".
    std::string kernel = kernelRelease ? kernelRelease : "";
    size_t k = 0;
    while (k < kernel.size() &&
           (std::isdigit(static_cast<unsigned char>(kernel[k])) || kernel[k] == '.'))
        ++k;
    if (k > 0) kernel.resize(k);
    if (!kernel.empty()) longText += ", kernel " + kernel;

    shortName = shortText.c_str();
    longName = longText.c_str();
}

bool ParseMemInfoValue(const char *text, const char *key, unsigned long long &bytes) {
    if (!text) return false;
    const size_t keyLen = std::strlen(key);
    const char *p = text;
    while (*p) {
        if (std::strncmp(p, key, keyLen) == 0 && p[keyLen] == ':') {
            const char *v = p + keyLen + 1;
            unsigned long long n = 0;
            if (!ParseULL(v, n)) return false;
            while (*v == ' ')
                ++v;
            // Every figure of the file is in kB (KiB) except the page counts, which have no unit.
            bytes = (v[0] == 'k' && v[1] == 'B') ? n * 1024ULL : n;
            return true;
        }
        const char *eol = std::strchr(p, '\n');
        if (!eol) break;
        p = eol + 1;
    }
    return false;
}

bool ParseMemInfo(const char *text, long long &ramAvail, long long &swapAvail, long long &swapMax) {
    unsigned long long avail = 0, swapFree = 0, swapTotal = 0;
    if (!ParseMemInfoValue(text, "MemAvailable", avail)) {
        unsigned long long memFree = 0, buffers = 0, cached = 0;
        if (!ParseMemInfoValue(text, "MemFree", memFree)) return false;
        ParseMemInfoValue(text, "Buffers", buffers);
        ParseMemInfoValue(text, "Cached", cached);
        avail = memFree + buffers + cached;
    }
    if (!ParseMemInfoValue(text, "SwapFree", swapFree) ||
        !ParseMemInfoValue(text, "SwapTotal", swapTotal))
        return false;
    ramAvail = static_cast<long long>(avail);
    swapAvail = static_cast<long long>(swapFree);
    swapMax = static_cast<long long>(swapTotal);
    return true;
}

bool ParseProcStatCpu(const char *text, unsigned long long &idle, unsigned long long &total) {
    if (!text || std::strncmp(text, "cpu ", 4) != 0) return false;
    // user nice system idle iowait irq softirq steal guest guest_nice; old kernels give fewer.
    unsigned long long f[10] = {0};
    const char *p = text + 4;
    int n = 0;
    while (n < 10 && ParseULL(p, f[n]))
        ++n;
    if (n < 4) return false;
    idle = f[3] + f[4];
    total = 0;
    for (int i = 0; i < 8 && i < n; ++i)
        total += f[i];
    return true;
}

bool ParseProcPidStat(const char *text, tProcStat &stat) {
    if (!text) return false;
    const char *close = std::strrchr(text, ')');
    if (!close) return false;
    const char *p = close + 1;
    // Fields from 3 (state) on; the wanted ones by their number in proc(5).
    int field = 3;
    while (*p == ' ')
        ++p;
    if (!*p) return false;
    while (*p && *p != ' ')
        ++p; // the state letter
    tProcStat out;
    while (field < 24) {
        ++field;
        unsigned long long v = 0;
        // Fields 4 to 8 and 21 may be negative (ppid of 0 aside, tty and tpgid); they are skipped.
        while (*p == ' ')
            ++p;
        if (!*p || *p == '\n') return false;
        if (*p == '-') {
            ++p;
        }
        if (!ParseULL(p, v)) return false;
        switch (field) {
        case 10:
            out.minorFaults = v;
            break;
        case 12:
            out.majorFaults = v;
            break;
        case 14:
            out.userTicks = v;
            break;
        case 15:
            out.systemTicks = v;
            break;
        case 22:
            out.startTicks = v;
            break;
        case 24:
            out.rssPages = v;
            break;
        default:
            break;
        }
    }
    stat = out;
    return true;
}

bool ParseProcStatm(const char *text, unsigned long long &residentPages) {
    if (!text) return false;
    const char *p = text;
    unsigned long long size = 0;
    if (!ParseULL(p, size)) return false;
    return ParseULL(p, residentPages);
}

unsigned long long TicksTo100ns(unsigned long long ticks, long ticksPerSecond) {
    if (ticksPerSecond <= 0) return 0;
    const unsigned long long hz = static_cast<unsigned long long>(ticksPerSecond);
    // Whole seconds and the rest apart, so that large counts do not overflow.
    return ticks / hz * 10000000ULL + ticks % hz * 10000000ULL / hz;
}

} // namespace Quorvel::detail
