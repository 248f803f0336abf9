// Feeds arbitrary bytes through the configuration reader (from memory, through the same line
// splitter and parser as a file), writes the document into memory (the bytes the file writer
// would put in a file, through the same formatter), reads that text back and checks
// what the format keeps: the same sections and parameters in the same order with the same names,
// and the same values and comments wherever the format can hold them. A parameter whose value or
// comment changed must be one that neither the plain nor the quoted form gives back (checked by
// reading both forms); the empty line the writer puts before a section comes back as an empty
// comment record.
#include "cfg/cfg_read.h"
#include "qv_cfg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace Quorvel;

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "cfg_read_fuzz: %s\n", what);
        std::abort();
    }
}

struct Rec {
    eQV_CfgType type;
    std::string name, value, comment;
};

std::vector<Rec> Records(const cQV_CfgFile &doc) {
    std::vector<Rec> out;
    for (cQV_CfgRecord *r = doc.GetFirst(); r; r = doc.GetNext(r))
        out.push_back({r->GetType(), std::string(r->GetName()), std::string(r->GetValue()),
                       std::string(r->GetComment())});
    return out;
}

bool IsNameChar(unsigned char c, bool first) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-' || c >= 128 ||
           (!first && c >= '0' && c <= '9');
}

bool ValidName(const std::string &s) {
    for (size_t i = 0; i < s.size(); ++i)
        if (!IsNameChar(static_cast<unsigned char>(s[i]), i == 0)) return false;
    return true;
}

// Bytes the writer puts on the line of `r`, without the line end.
size_t LineLength(const Rec &r) {
    size_t comm = r.comment.empty() ? 0 : 3 + r.comment.size();
    switch (r.type) {
    case eCfgSect:
        return 2 + r.name.size() + comm;
    case eCfgParam:
        return r.name.size() + 3 + r.value.size() + 2 + comm; // perhaps in quotes
    default:
        return r.comment.empty() ? 0 : 2 + r.comment.size();
    }
}

// True when the parameter line written with `value` in the plain or the quoted form reads
// back as `value` and `comment`.
bool SomeFormHolds(const std::string &value, const std::string &comment) {
    const std::string forms[] = {value, "\"" + value + "\""};
    for (const std::string &form : forms) {
        std::string line = "[S]\nk = " + form + (comment.empty() ? "" : " # " + comment) + "\n";
        cQV_CfgFile doc;
        cQV_Error err;
        Check(detail::CfgReadBuffer(doc, err, line.data(), line.size()), "reading a form failed");
        cQV_CfgRecord *p = doc.FindParam(nullptr, "k");
        if (p && std::string(p->GetValue()) == value && std::string(p->GetComment()) == comment)
            return true;
    }
    return false;
}

bool Append(void *sink, const char *data, size_t n) {
    static_cast<std::string *>(sink)->append(data, n);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    cQV_CfgFile doc;
    cQV_Error err;
    Check(detail::CfgReadBuffer(doc, err, data, size), "reading the bytes failed");
    std::vector<Rec> first = Records(doc);
    bool fits = true;
    for (const Rec &r : first) {
        switch (r.type) {
        case eCfgSect:
            Check(r.value.empty() && ValidName(r.name), "bad section record");
            break;
        case eCfgParam:
            Check(!r.name.empty() && ValidName(r.name), "bad parameter name");
            break;
        case eCfgComm:
            Check(r.name.empty() && r.value.empty(), "comment record with a name or value");
            break;
        default:
            Check(false, "record of no known kind");
        }
        // A written line longer than a piece would be split on the way back.
        if (LineLength(r) + 1 > 32767) fits = false;
    }

    // The copy must be deep and equal.
    cQV_CfgFile copy(doc);
    std::vector<Rec> copied = Records(copy);
    Check(copied.size() == first.size(), "copy differs in length");

    std::string text;
    Check(detail::CfgWriteBuffer(doc, err, Append, &text), "writing failed");
    cQV_CfgFile back;
    Check(detail::CfgReadBuffer(back, err, text.data(), text.size()),
          "reading the written text failed");
    if (!fits) return 0;

    std::vector<Rec> expected;
    bool brk = true;
    for (const Rec &r : first) {
        if (r.type == eCfgSect && !brk) expected.push_back({eCfgComm, "", "", ""});
        expected.push_back(r);
        brk = r.type == eCfgComm;
    }
    std::vector<Rec> second = Records(back);
    Check(second.size() == expected.size(), "the written text reads back as another count");
    for (size_t i = 0; i < expected.size(); ++i) {
        const Rec &e = expected[i], &g = second[i];
        Check(e.type == g.type, "record kind changed");
        Check(e.name == g.name, "name changed");
        if (e.value == g.value && e.comment == g.comment) continue;
        Check(e.type == eCfgParam, "a section or comment record changed its comment");
        Check(!SomeFormHolds(e.value, e.comment),
              "a value or comment the format can hold did not survive");
    }
    return 0;
}
