// qvos cfg: edits configuration files from the shell through the configuration document, so
// comments and the order of records survive every edit.
//
// An edit (set, del, fmt) holds an advisory lock on FILE.lock beside the file (left in place),
// so that concurrent edits of one file take turns and none is lost; it reads the file once,
// checks that the text it will write reads back as the edited document, record for record,
// and only then saves.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "qv_cfg.h"
#include "qv_file.h"
#include "qvos.h"

using namespace Quorvel;
namespace fs = std::filesystem;

namespace {

const char kName[] = "cfg";
// How long an edit waits for another edit of the same file.
const unsigned kLockWaitMs = 30000;

const char kExitCodes[] = "exit codes: 0 done, 1 section or key not found, 2 usage (or text "
                          "the file cannot hold), 3 the library reported an error or the file "
                          "cannot be edited without changing another part of it\n";

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

// Section and key names as the document finds them; an empty name is never found, so it is
// refused rather than added as a section no later command could reach.
bool NamesOk(const char *section, const char *key) {
    if (cQV_CfgFile::IsName(section) && (!key || cQV_CfgFile::IsName(key))) return true;
    std::fprintf(stderr, "qvos cfg: names are letters, digits (not first), '_', '-' and bytes of "
                         "128 or more, and cannot be empty\n");
    return false;
}

// Counts the records the reader makes of `text` (one per piece of at most 32767 bytes of a
// line, CR LF counted as LF) and returns the 1-based line that holds record `index`, or 0 when
// the text has no such record.
long LineOfRecord(const std::string &text, long index) {
    long records = 0, line = 1, len = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            c = '\n';
            ++i;
        }
        ++len;
        if (c == '\n' || len == 32767) {
            if (records++ == index) return line;
            if (c == '\n') ++line;
            len = 0;
        }
    }
    return len > 0 && records == index ? line : 0;
}

// A private folder for the copies an edit reads and checks; removed with everything in it.
class Scratch {
public:
    bool Create() {
        std::error_code ec;
        fs::path base = fs::temp_directory_path(ec);
        if (ec) return false;
        std::random_device rd;
        for (int i = 0; i < 20; ++i) {
            fs::path p = base / ("qvos-cfg-" + std::to_string(rd()) + std::to_string(i));
            if (fs::create_directory(p, ec)) {
                _dir = p;
                fs::permissions(p, fs::perms::owner_all, fs::perm_options::replace, ec);
                return true;
            }
        }
        return false;
    }
    ~Scratch() {
        std::error_code ec;
        if (!_dir.empty()) fs::remove_all(_dir, ec);
    }
    std::string operator/(const char *leaf) const { return (_dir / leaf).string(); }

private:
    fs::path _dir;
};

bool ReadAll(const char *path, std::string &out) {
    std::FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool WriteAll(const std::string &path, const std::string &bytes) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

enum Load { kLoaded, kMissing, kFailed };

// Reads the file once into doc, through a private copy. A file that does not exist is an
// empty document when `mayBeNew`. When the reader stopped at a malformed line, an edit would
// drop the rest of the file: that is refused (`forEdit`) or reported as a warning.
Load Read(cQV_CfgFile &doc, const Scratch &scratch, const char *path, bool mayBeNew, bool forEdit,
          int &exitCode) {
    cQV_Error err;
    std::string raw;
    if (!ReadAll(path, raw)) {
        std::error_code ec;
        if (mayBeNew && fs::status(path, ec).type() == fs::file_type::not_found) return kMissing;
        if (!doc.ReadFile(err, path)) {
            exitCode = Fail(err);
        } else {
            std::fprintf(stderr, "qvos cfg: %s cannot be read\n", path);
            exitCode = qvos::kLibraryError;
        }
        return kFailed;
    }
    std::string copy = scratch / "in.cfg";
    if (!WriteAll(copy, raw) || !doc.ReadFile(err, copy.c_str())) {
        std::fprintf(stderr, "qvos cfg: %s cannot be read: %s\n", path,
                     static_cast<const char *>(err.text));
        exitCode = qvos::kLibraryError;
        return kFailed;
    }
    long records = 0;
    for (cQV_CfgRecord *r = doc.GetFirst(); r; r = doc.GetNext(r))
        ++records;
    long bad = LineOfRecord(raw, records);
    if (forEdit && !bad) {
        // A carriage return inside a line, or a line longer than the reader's piece, reads as
        // records that the writer would put on other lines than the file has them.
        long line = 1, len = 0;
        for (size_t i = 0; i < raw.size() && !bad; ++i) {
            if (raw[i] == '\n') {
                ++line;
                len = 0;
            } else if (raw[i] == '\r' && (i + 1 == raw.size() || raw[i + 1] != '\n')) {
                bad = line;
            } else if (raw[i] != '\r' && ++len > 32766) {
                bad = line;
            }
        }
        if (bad) {
            std::fprintf(stderr,
                         "qvos cfg: %s: line %ld is longer than the reader's 32766 bytes or "
                         "holds a carriage return that ends no line; not editing the file\n",
                         path, bad);
            exitCode = qvos::kLibraryError;
            return kFailed;
        }
    }
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

std::string Describe(const cQV_CfgRecord *r, const char *section) {
    std::string s;
    switch (r->GetType()) {
    case eCfgSect:
        return "section [" + std::string(r->GetName()) + "]";
    case eCfgParam:
        s = "key [" + std::string(r->GetName()) + "]";
        if (section) s += " in section [" + std::string(section) + "]";
        return s;
    default:
        return "comment [" + std::string(r->GetComment()) + "]";
    }
}

bool Same(const cQV_CfgRecord *a, const cQV_CfgRecord *b) {
    return a->GetType() == b->GetType() && a->GetName() == b->GetName() &&
           a->GetValue() == b->GetValue() && a->GetComment() == b->GetComment();
}

// Writes the edited document to the private folder, reads it back and compares record for
// record (the writer puts an empty line before a section, which reads back as an empty
// comment). Then saves it to `path`.
int Write(const cQV_CfgFile &doc, const Scratch &scratch, const char *path) {
    cQV_Error err;
    std::string check = scratch / "out.cfg";
    if (!doc.WriteFile(err, check.c_str())) return Fail(err);
    cQV_CfgFile back;
    if (!back.ReadFile(err, check.c_str())) return Fail(err);
    const char *section = nullptr;
    cQV_CfgRecord *g = back.GetFirst();
    bool brk = true;
    for (cQV_CfgRecord *e = doc.GetFirst(); e; e = doc.GetNext(e)) {
        if (e->GetType() == eCfgSect && !brk && g && g->GetType() == eCfgComm &&
            !g->GetComment().Length())
            g = back.GetNext(g);
        if (e->GetType() == eCfgSect) section = e->GetName();
        if (!g || !Same(e, g)) {
            std::fprintf(stderr,
                         "qvos cfg: %s: %s would not read back as it is; not editing the file\n",
                         path, Describe(e, section).c_str());
            return qvos::kLibraryError;
        }
        brk = e->GetType() == eCfgComm;
        g = back.GetNext(g);
    }
    if (g) {
        std::fprintf(stderr,
                     "qvos cfg: %s: the text would read back with %s added; not editing "
                     "the file\n",
                     path, Describe(g, section).c_str());
        return qvos::kLibraryError;
    }
    if (!doc.WriteFile(err, path)) return Fail(err);
    return qvos::kOk;
}

// Holds the edit lock of a file for one edit.
class EditLock {
public:
    bool Take(const char *path) {
        std::string lockPath = std::string(path) + ".lock";
        _lock = osLockFile(&_err, lockPath.c_str(), kLockWaitMs);
        if (!_lock) Fail(_err);
        return _lock != nullptr;
    }
    ~EditLock() {
        if (_lock) osUnlockFile(_lock);
    }

private:
    cQV_Error _err;
    void *_lock = nullptr;
};

int Get(int argc, char **argv) {
    if (argc != 4) return qvos::UsageError(kName);
    if (!NamesOk(argv[2], argv[3])) return qvos::kUsage;
    Scratch scratch;
    if (!scratch.Create()) return qvos::kLibraryError;
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, scratch, argv[1], false, false, code) != kLoaded) return code;
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
    if (!NamesOk(section, key)) return qvos::kUsage;
    if (!cQV_CfgFile::ParamSurvives(key, value, comment)) {
        std::fprintf(stderr, "qvos cfg: the file cannot hold this text: no line breaks, no "
                             "blanks or quotes at the end of a value, no blanks at the ends of "
                             "a comment, at most 32766 bytes on the line\n");
        return qvos::kUsage;
    }
    EditLock lock;
    if (!lock.Take(argv[1])) return qvos::kLibraryError;
    Scratch scratch;
    if (!scratch.Create()) return qvos::kLibraryError;
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, scratch, argv[1], true, true, code) == kFailed) return code;
    cQV_CfgRecord *s = doc.SetSect(section, false, nullptr);
    if (!s || !doc.SetParam(s, key, value, comment)) {
        std::fprintf(stderr, "qvos cfg: out of memory\n");
        return qvos::kLibraryError;
    }
    return Write(doc, scratch, argv[1]);
}

int Del(int argc, char **argv) {
    if (argc != 3 && argc != 4) return qvos::UsageError(kName);
    if (!NamesOk(argv[2], argc == 4 ? argv[3] : nullptr)) return qvos::kUsage;
    EditLock lock;
    if (!lock.Take(argv[1])) return qvos::kLibraryError;
    Scratch scratch;
    if (!scratch.Create()) return qvos::kLibraryError;
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, scratch, argv[1], false, true, code) != kLoaded) return code;
    cQV_CfgRecord *s = doc.FindSection(argv[2]);
    if (!s) return NotFound("section", argv[2]);
    if (argc == 4) {
        if (!doc.DelParam(s, argv[3])) return NotFound("key", argv[3], argv[2]);
    } else {
        doc.DelSect(argv[2]);
    }
    return Write(doc, scratch, argv[1]);
}

int Sections(int argc, char **argv) {
    if (argc != 2) return qvos::UsageError(kName);
    Scratch scratch;
    if (!scratch.Create()) return qvos::kLibraryError;
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, scratch, argv[1], false, false, code) != kLoaded) return code;
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
    if (argc == 3 && !NamesOk(argv[2], nullptr)) return qvos::kUsage;
    Scratch scratch;
    if (!scratch.Create()) return qvos::kLibraryError;
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, scratch, argv[1], false, false, code) != kLoaded) return code;
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
    EditLock lock;
    if (!lock.Take(argv[1])) return qvos::kLibraryError;
    Scratch scratch;
    if (!scratch.Create()) return qvos::kLibraryError;
    cQV_CfgFile doc;
    int code = 0;
    if (Read(doc, scratch, argv[1], false, true, code) != kLoaded) return code;
    return Write(doc, scratch, argv[1]);
}

struct Sub {
    const char *name;
    const char *usage;
    int (*fn)(int, char **);
};

const Sub kSubs[] = {
    {"get", "get FILE SECTION KEY                     print a value", Get},
    {"set", "set FILE SECTION KEY VALUE [--comment TEXT]  set a value, adding what is missing",
     Set},
    {"del", "del FILE SECTION [KEY]                   delete a key, or a section and its keys",
     Del},
    {"sections", "sections FILE                          list the sections", Sections},
    {"list", "list FILE [SECTION]                      list the keys", List},
    {"fmt", "fmt FILE                                 rewrite in the library's layout", Fmt},
};

int Cfg(int argc, char **argv) {
    if (argc < 2) return qvos::UsageError(kName);
    const Sub *sub = nullptr;
    for (const Sub &s : kSubs)
        if (std::strcmp(argv[1], s.name) == 0) sub = &s;
    bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
    for (int i = 2; sub && i < argc && !help; ++i)
        help = std::strcmp(argv[i], "--help") == 0;
    if (help) {
        if (sub) {
            std::printf("usage: qvos cfg %s\n", sub->usage);
        } else {
            for (const Sub &s : kSubs)
                std::printf("  qvos cfg %s\n", s.usage);
        }
        std::printf("%s", kExitCodes);
        return qvos::kOk;
    }
    if (!sub) return qvos::UsageError(kName);
    return sub->fn(argc - 1, argv + 1);
}

QVOS_COMMAND(kName,
             "cfg get FILE SECTION KEY         print a value\n"
             "  qvos cfg set FILE SECTION KEY VALUE [--comment TEXT]\n"
             "  qvos cfg del FILE SECTION [KEY]\n"
             "  qvos cfg sections FILE\n"
             "  qvos cfg list FILE [SECTION]\n"
             "  qvos cfg fmt FILE                rewrite in the library's layout\n"
             "  qvos cfg SUBCOMMAND --help       the subcommand's usage and exit codes",
             Cfg);

} // namespace
