// qvos cfg: edits configuration files from the shell through the configuration document, so
// comments and the order of records survive every edit.
//
// Exit codes: 0 done, 1 section or key not found, 2 usage, 3 the library reported an error
// (or the file cannot be edited without losing part of it).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "qv_cfg.h"
#include "qvos.h"

using namespace Quorvel;
namespace fs = std::filesystem;

namespace {

const char kName[] = "cfg";

bool IsNameChar(unsigned char c, bool first) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-' || c >= 128 ||
           (!first && c >= '0' && c <= '9');
}

// A name the reader reads back as written (a section name may be empty, a key may not).
bool ValidName(const char *s, bool mayBeEmpty) {
    if (!*s) return mayBeEmpty;
    for (const char *p = s; *p; ++p)
        if (!IsNameChar(static_cast<unsigned char>(*p), p == s)) return false;
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The writer adds no quotes, so only a value without '#', line breaks, blanks at either end
// and quotes at either end reads back unchanged.
bool ValueSurvives(const char *v) {
    size_t n = strlen(v);
    if (n == 0) return true;
    if (strpbrk(v, "#\r\n")) return false;
    return !IsBlank(v[0]) && !IsBlank(v[n - 1]) && v[0] != '"' && v[n - 1] != '"';
}

// A comment reads back unchanged unless it has line breaks or blanks at either end.
bool CommentSurvives(const char *c) {
    size_t n = strlen(c);
    if (n == 0) return true;
    if (strpbrk(c, "\r\n")) return false;
    return !IsBlank(c[0]) && !IsBlank(c[n - 1]);
}

int Fail(const cQV_Error &err) {
    std::fprintf(stderr, "%s\n", static_cast<const char *>(err.text));
    return qvos::kLibraryError;
}

int NotFound(const char *what, const char *name, const char *section = nullptr) {
    if (section)
        std::fprintf(stderr, "qvos cfg: %s [%s] not found in section [%s]\n", what, name, section);
    else
        std::fprintf(stderr, "qvos cfg: %s [%s] not found\n", what, name);
    return qvos::kNotFound;
}

// Counts the records the reader makes of the file (one per piece of at most 32767 bytes of a
// line, CR LF counted as LF) and returns the 1-based line that holds record `index`, or 0 when
// the file has no such record.
long LineOfRecord(const char *path, long index) {
    std::FILE *f = std::fopen(path, "rb");
    if (!f) return 0;
    long records = 0, line = 1, len = 0, found = 0;
    int c;
    while (!found && (c = std::fgetc(f)) != EOF) {
        if (c == '\r') {
            int next = std::fgetc(f);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, f);
        }
        ++len;
        if (c == '\n' || len == 32767) {
            if (records++ == index) found = line;
            if (c == '\n') ++line;
            len = 0;
        }
    }
    if (!found && len > 0 && records == index) found = line;
    std::fclose(f);
    return found;
}

enum Load { kLoaded, kMissing, kFailed };

// Reads the file into doc. A file that does not exist is an empty document when `mayBeNew`.
// When the reader stopped at a malformed line, an edit would drop the rest of the file: that is
// refused (`forEdit`) or reported as a warning.
Load Read(cQV_CfgFile &doc, const char *path, bool mayBeNew, bool forEdit, int &exitCode) {
    cQV_Error err;
    if (!doc.ReadFile(err, path)) {
        std::error_code ec;
        if (mayBeNew && fs::status(path, ec).type() == fs::file_type::not_found) return kMissing;
        exitCode = Fail(err);
        return kFailed;
    }
    long records = 0;
    for (cQV_CfgRecord *r = doc.GetFirst(); r; r = doc.GetNext(r))
        ++records;
    long bad = LineOfRecord(path, records);
    if (bad) {
        std::fprintf(stderr, "qvos cfg: %s: line %ld cannot be read; %s\n", path, bad,
                     forEdit ? "not editing the file, it would lose that line and the rest"
                             : "the lines from there on are ignored");
        if (forEdit) {
            exitCode = qvos::kLibraryError;
            return kFailed;
        }
    }
    return kLoaded;
}

int Write(const cQV_CfgFile &doc, const char *path) {
    cQV_Error err;
    if (!doc.WriteFile(err, path)) return Fail(err);
    return qvos::kOk;
}

int Get(int argc, char **argv) {
    if (argc != 4) return qvos::UsageError(kName);
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, argv[1], false, false, code) != kLoaded) return code;
    cQV_CfgRecord *s = doc.FindSection(argv[2]);
    if (!s) return NotFound("section", argv[2]);
    cQV_CfgRecord *p = doc.FindParam(s, argv[3]);
    if (!p) return NotFound("key", argv[3], argv[2]);
    std::printf("%s\n", static_cast<const char *>(p->GetValue()));
    return qvos::kOk;
}

int Set(int argc, char **argv) {
    const char *comment = nullptr;
    if (argc == 7 && std::strcmp(argv[5], "--comment") == 0)
        comment = argv[6];
    else if (argc != 5)
        return qvos::UsageError(kName);
    const char *section = argv[2], *key = argv[3], *value = argv[4];
    if (!ValidName(section, true) || !ValidName(key, false)) {
        std::fprintf(stderr,
                     "qvos cfg: names are letters, digits (not first), '_', '-' and bytes of 128 "
                     "or more; a key cannot be empty\n");
        return qvos::kUsage;
    }
    if (!ValueSurvives(value) || (comment && !CommentSurvives(comment))) {
        std::fprintf(stderr, "qvos cfg: the file cannot keep this text: no '#' or line breaks in a "
                             "value, no blanks or quotes at its ends\n");
        return qvos::kUsage;
    }
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, argv[1], true, true, code) == kFailed) return code;
    cQV_CfgRecord *s = doc.SetSect(section, false, nullptr);
    if (!s || !doc.SetParam(s, key, value, comment)) {
        std::fprintf(stderr, "qvos cfg: out of memory\n");
        return qvos::kLibraryError;
    }
    return Write(doc, argv[1]);
}

int Del(int argc, char **argv) {
    if (argc != 3 && argc != 4) return qvos::UsageError(kName);
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, argv[1], false, true, code) != kLoaded) return code;
    cQV_CfgRecord *s = doc.FindSection(argv[2]);
    if (!s) return NotFound("section", argv[2]);
    if (argc == 4) {
        if (!doc.DelParam(s, argv[3])) return NotFound("key", argv[3], argv[2]);
    } else {
        doc.DelSect(argv[2]);
    }
    return Write(doc, argv[1]);
}

int Sections(int argc, char **argv) {
    if (argc != 2) return qvos::UsageError(kName);
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, argv[1], false, false, code) != kLoaded) return code;
    for (cQV_CfgRecord *r = doc.GetFirst(); r; r = doc.GetNext(r))
        if (r->GetType() == eCfgSect) std::printf("%s\n", static_cast<const char *>(r->GetName()));
    return qvos::kOk;
}

void PrintParam(const cQV_CfgRecord *r) {
    std::printf("%s = %s\n", static_cast<const char *>(r->GetName()),
                static_cast<const char *>(r->GetValue()));
}

int List(int argc, char **argv) {
    if (argc != 2 && argc != 3) return qvos::UsageError(kName);
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, argv[1], false, false, code) != kLoaded) return code;
    if (argc == 3) {
        cQV_CfgRecord *s = doc.FindSection(argv[2]);
        if (!s) return NotFound("section", argv[2]);
        for (cQV_CfgRecord *r = doc.GetNext(s); r && r->GetType() != eCfgSect; r = doc.GetNext(r))
            if (r->GetType() == eCfgParam) PrintParam(r);
        return qvos::kOk;
    }
    for (cQV_CfgRecord *r = doc.GetFirst(); r; r = doc.GetNext(r)) {
        if (r->GetType() == eCfgSect)
            std::printf("[%s]\n", static_cast<const char *>(r->GetName()));
        else if (r->GetType() == eCfgParam)
            PrintParam(r);
    }
    return qvos::kOk;
}

int Fmt(int argc, char **argv) {
    if (argc != 2) return qvos::UsageError(kName);
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, argv[1], false, true, code) != kLoaded) return code;
    return Write(doc, argv[1]);
}

int Cfg(int argc, char **argv) {
    struct Sub {
        const char *name;
        int (*fn)(int, char **);
    };
    static const Sub subs[] = {{"get", Get},           {"set", Set},   {"del", Del},
                               {"sections", Sections}, {"list", List}, {"fmt", Fmt}};
    if (argc < 2) return qvos::UsageError(kName);
    for (const Sub &s : subs)
        if (std::strcmp(argv[1], s.name) == 0) return s.fn(argc - 1, argv + 1);
    return qvos::UsageError(kName);
}

QVOS_COMMAND(kName,
             "cfg get FILE SECTION KEY         print a value\n"
             "  qvos cfg set FILE SECTION KEY VALUE [--comment TEXT]\n"
             "  qvos cfg del FILE SECTION [KEY]\n"
             "  qvos cfg sections FILE\n"
             "  qvos cfg list FILE [SECTION]\n"
             "  qvos cfg fmt FILE                rewrite in the library's layout",
             Cfg);

} // namespace
