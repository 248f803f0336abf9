// The configuration text format: the line parser, the file reader and the safe writer.
#include "qv_cfg.h"
#include "error_codes.h"

#include <cstring>
#include <new>

#include "cfg/cfg_read.h"
#include "cfg/cfg_seam.h"
#include "io/io_os.h"
#include "io/io_save.h"
#include "string_util.h"
#include "qv_file.h"

namespace Quorvel {

namespace {

const char kModule[] = "oscfg";

// The line buffer holds 32768 bytes, so a physical line is parsed in pieces of at most 32767
// bytes. The piece boundaries are part of the format: a longer line becomes several records.
const int kLineBuf = 0x8000;
const int kReadBuf = 0x10000;

// Character classes of the scanner, one table lookup per byte.
enum : unsigned char { kIsBlank = 1, kIsName = 2 };
struct CharClasses {
    unsigned char of[256];
    constexpr CharClasses() : of() {
        of[unsigned(' ')] = of[unsigned('\t')] = of[unsigned('\r')] = of[unsigned('\n')] = kIsBlank;
        for (unsigned c = 'A'; c <= 'Z'; ++c)
            of[c] = of[c + 32] = kIsName;
        for (unsigned c = '0'; c <= '9'; ++c)
            of[c] = kIsName;
        for (unsigned c = 128; c < 256; ++c)
            of[c] = kIsName;
        of[unsigned('_')] = of[unsigned('-')] = kIsName;
    }
};
constexpr CharClasses kChar;

inline bool IsBlank(unsigned char c) {
    return kChar.of[c] == kIsBlank;
}

inline bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// Letters, '_', '-', bytes of 128 or more, and digits (the caller rules out a leading digit).
inline bool IsNameChar(unsigned char c) {
    return kChar.of[c] == kIsName;
}

// A span [begin, end) of the line.
struct Span {
    int begin = 0;
    int end = 0;
};

int SkipBlanks(const char *text, int pos) {
    while (text[pos] && IsBlank(static_cast<unsigned char>(text[pos])))
        ++pos;
    return pos;
}

// The name starting at pos (after blanks); pos moves past it. False when it begins with a digit
// (pos then stays at the digit).
bool ScanName(const char *text, int &pos, Span &name) {
    int p = SkipBlanks(text, pos);
    name.begin = name.end = p;
    if (IsDigit(static_cast<unsigned char>(text[p]))) {
        pos = p;
        return false;
    }
    while (IsNameChar(static_cast<unsigned char>(text[p])))
        ++p;
    name.end = pos = p;
    return true;
}

// The value starting at pos; pos moves to the byte that ended it. Quotes only let a value hold
// '#' and leading blanks: a leading quote is dropped, and quotes and blanks at the end go.
void ScanValue(const char *text, int &pos, Span &value) {
    int start = SkipBlanks(text, pos);
    int quotes = 0;
    int mark = -1; // the last byte that is neither a blank (space, tab) nor a quote
    int p = start;
    for (;;) {
        // Runs of ordinary bytes are skipped at once; only the bytes that matter stop the scan.
        int q = p + int(strcspn(text + p, "\"#\r\n"));
        int last = q;
        while (last > p && (text[last - 1] == ' ' || text[last - 1] == '\t'))
            --last;
        if (last > p) mark = last - 1;
        char c = text[q];
        if (c == '"') {
            ++quotes;
        } else if (c == '#' && quotes % 2 != 0) {
            mark = q; // a '#' inside quotes is part of the value
        } else {
            p = q; // the NUL, a line break, or a '#' that starts the comment
            break;
        }
        p = q + 1;
    }
    pos = p;
    if (mark < 0) {
        value.begin = value.end = start;
        return;
    }
    value.begin = text[start] == '"' ? start + 1 : start;
    value.end = mark + 1;
}

// The comment from pos: blanks and one '#' skipped, trailing blanks dropped. `end` is the
// index of the line's terminating NUL.
void ScanComment(const char *text, int pos, int end, Span &comm) {
    int p = SkipBlanks(text, pos);
    if (text[p] == '#') p = SkipBlanks(text, p + 1);
    while (end > p && IsBlank(static_cast<unsigned char>(text[end - 1])))
        --end;
    comm.begin = p;
    comm.end = end > p ? end : p;
}

enum { kParsed, kMalformed, kNoMemory };

// The reader's view of one line: its kind and the spans of its name, value and comment.
// kMalformed for a line that ends the reading.
int ParseSpans(const char *line, eQV_CfgType &type, Span &name, Span &value, Span &comm) {
    int p = SkipBlanks(line, 0);
    int commStart;
    name = value = comm = Span();
    if (line[p] == '[') {
        int pos = p + 1;
        if (!ScanName(line, pos, name)) return kMalformed;
        int q = SkipBlanks(line, pos);
        if (line[q] != ']') return kMalformed;
        type = eCfgSect;
        commStart = q + 1;
    } else if (line[p] == '#') {
        type = eCfgComm;
        commStart = p;
    } else {
        int pos = p;
        if (!ScanName(line, pos, name)) return kMalformed;
        if (name.begin == name.end) {
            type = eCfgComm;
            commStart = name.begin;
        } else {
            type = eCfgParam;
            int q = SkipBlanks(line, pos);
            if (line[q] == '=') {
                int vpos = q + 1;
                ScanValue(line, vpos, value);
                commStart = vpos;
            } else {
                commStart = q;
            }
        }
    }
    ScanComment(line, commStart, int(strlen(line)), comm);
    return kParsed;
}

bool SpanIs(const char *line, const Span &span, const cQV_String &text) {
    unsigned n = unsigned(span.end - span.begin);
    return n == text.Length() && memcmp(line + span.begin, text, n) == 0;
}

// A value holds '#', quotes, line breaks or blanks at either end only in a few values; every
// other value is written plain without a look at the line.
bool PlainIsSafe(const cQV_String &v) {
    unsigned n = v.Length();
    if (n == 0) return true;
    const char *s = v;
    if (strpbrk(s, "\"#\r\n")) return false;
    return s[0] != ' ' && s[0] != '\t' && s[n - 1] != ' ' && s[n - 1] != '\t';
}

// Copies text[span] into s with one allocation; false when it cannot be had.
bool Assign(cQV_String &s, const char *text, const Span &span) {
    int n = span.end - span.begin;
    if (n <= 0) return true;
    return detail::AssignBytes(s, text + span.begin, size_t(n));
}

cQV_String Text(const char *text, const Span &span) {
    cQV_String s;
    Assign(s, text, span);
    return s;
}

// Output buffer of the writer: records are formatted into memory and handed to the sink in large
// blocks.
class Writer {
public:
    Writer(detail::tCfgAccess::WriteFn write, void *sink) : _write(write), _sink(sink) {}
    ~Writer() { delete[] _buf; }

    bool Init() {
        _buf = new (std::nothrow) char[kSize];
        return _buf != nullptr;
    }
    void Put(const char *s, size_t n) {
        while (n > 0 && _ok) {
            size_t room = kSize - _len;
            size_t take = n < room ? n : room;
            memcpy(_buf + _len, s, take);
            _len += take;
            s += take;
            n -= take;
            if (_len == kSize) Flush();
        }
    }
    void Put(const cQV_String &s) { Put(s, s.Length()); }
    void Put(const char *s) { Put(s, strlen(s)); }
    bool Flush() {
        if (_ok && _len > 0) _ok = _write(_sink, _buf, _len);
        _len = 0;
        return _ok;
    }
    bool Ok() const { return _ok; }

private:
    static const size_t kSize = 0x10000;
    detail::tCfgAccess::WriteFn _write;
    void *_sink;
    char *_buf = nullptr;
    size_t _len = 0;
    bool _ok = true;
};

} // namespace

namespace detail {

bool (*cfgWriteHook)(const char *data, size_t n) = nullptr;

bool cfgWriteBlock(tIoSave &save, const char *data, size_t n) {
    if (cfgWriteHook && !cfgWriteHook(data, n)) return false;
    return save.Write(data, n);
}

int cfgTextEnd = kIoTextEnd;

} // namespace detail

int cQV_CfgFile::_FindToken(const char *text, int pos) {
    return SkipBlanks(text, pos);
}

cQV_String cQV_CfgFile::_GetName(const char *text, int &pos, int &errPos) {
    Span name;
    if (!ScanName(text, pos, name)) {
        errPos = pos;
        return cQV_String();
    }
    return Text(text, name);
}

cQV_String cQV_CfgFile::_GetValue(const char *text, int &pos) {
    Span value;
    ScanValue(text, pos, value);
    return Text(text, value);
}

cQV_String cQV_CfgFile::_GetComm(const char *text, int pos) {
    Span comm;
    ScanComment(text, pos, int(strlen(text)), comm);
    return Text(text, comm);
}

bool cQV_CfgFile::_ParseLine(const char *line) {
    return _Parse(line) == kParsed;
}

int cQV_CfgFile::_Parse(const char *line) {
    eQV_CfgType type = eCfgComm;
    Span name, value, comm;
    if (ParseSpans(line, type, name, value, comm) != kParsed) return kMalformed;
    cQV_CfgRecord *r = new (std::nothrow) cQV_CfgRecord(type, nullptr, nullptr, nullptr);
    if (!r) return kNoMemory;
    if (!Assign(r->name, line, name) || !Assign(r->value, line, value) ||
        !Assign(r->comment, line, comm)) {
        delete r;
        return kNoMemory;
    }
    _records.PushBack(r);
    return kParsed;
}

namespace {

// The reader's two buffers: the piece of a line being gathered and the block last read.
struct ReadBuffers {
    cQV_String lineBuf;
    char *line = lineBuf.GetBuffer(kLineBuf);
    char *block = new (std::nothrow) char[kReadBuf];
    ~ReadBuffers() { delete[] block; }
    bool Ok() const { return line && block; }
    bool Fail(cQV_Error &error) const {
        return QV_FAIL(&error, detail::kErrMemory, "Failed to allocate %d bytes.",
                       line ? kReadBuf : kLineBuf);
    }
};

bool NoRecordMemory(cQV_Error &error) {
    return QV_FAIL(&error, detail::kErrMemory, "Failed to allocate %d bytes.",
                   int(sizeof(cQV_CfgRecord)) + kLineBuf - 1);
}

// The bytes of a buffer in memory, handed out in blocks as a file's reads would be.
struct MemorySource {
    const unsigned char *data;
    size_t left;
};

bool ReadMemory(void *source, unsigned char *buf, unsigned cap, unsigned &n) {
    MemorySource &m = *static_cast<MemorySource *>(source);
    n = m.left < cap ? unsigned(m.left) : cap;
    if (n > 0) memcpy(buf, m.data, n);
    m.data += n;
    m.left -= n;
    return true;
}

bool ReadPlatformFile(void *source, unsigned char *buf, unsigned cap, unsigned &n) {
    return detail::PlatformFileRead(source, buf, cap, n);
}

} // namespace

int detail::tCfgAccess::ReadLines(cQV_CfgFile &doc, char *line, char *rbuf, ReadFn read,
                                  void *source, bool &readError) {
    // Splits the input into the pieces fgets would return on a stream whose CR LF pairs read as
    // LF, so that both kinds of line end give the same records and the same piece boundaries.
    const int maxPiece = kLineBuf - 1;
    int rpos = 0, rlen = 0, len = 0;
    readError = false;
    int status = cQV_CfgFile::kParsed;
    // The platform's text-mode end-of-file byte ends the text as the end of the file does.
    const int textEnd = cfgTextEnd;
    bool atEnd = false;
    auto fill = [&]() -> bool {
        rpos = rlen = 0;
        if (atEnd) return false;
        unsigned n = 0;
        if (!read(source, reinterpret_cast<unsigned char *>(rbuf), kReadBuf, n)) readError = true;
        rlen = int(n);
        if (textEnd >= 0 && rlen > 0) {
            const void *stop = memchr(rbuf, textEnd, size_t(rlen));
            if (stop) {
                rlen = int(static_cast<const char *>(stop) - rbuf);
                atEnd = true;
            }
        }
        return rlen > 0;
    };
    auto emit = [&]() {
        line[len] = 0;
        len = 0;
        status = doc._Parse(line);
        return status == cQV_CfgFile::kParsed;
    };
    for (;;) {
        if (rpos == rlen && !fill()) break;
        int take = rlen - rpos;
        if (take > maxPiece - len) take = maxPiece - len;
        const char *src = rbuf + rpos;
        const char *nl = static_cast<const char *>(memchr(src, '\n', size_t(take)));
        if (nl) take = int(nl - src) + 1;
        memcpy(line + len, src, size_t(take));
        len += take;
        rpos += take;
        if (nl) {
            if (len >= 2 && line[len - 2] == '\r') {
                line[len - 2] = '\n';
                --len;
            }
        } else if (len == maxPiece) {
            // A CR that fills the piece ends the line when an LF follows it.
            if (line[len - 1] == '\r' && (rpos < rlen || fill()) && rbuf[rpos] == '\n') {
                line[len - 1] = '\n';
                ++rpos;
            }
            if (readError) break;
        } else {
            continue;
        }
        if (!emit()) break;
    }
    if (status == cQV_CfgFile::kParsed && !readError && len > 0) emit();
    return status == cQV_CfgFile::kNoMemory ? kNoMemory : kDone;
}

bool detail::tCfgAccess::ReadBuffer(cQV_CfgFile &doc, cQV_Error &error, const void *data,
                                    size_t size) {
    ReadBuffers b;
    if (!b.Ok()) return b.Fail(error);
    MemorySource source{static_cast<const unsigned char *>(data), data ? size : 0};
    bool readError = false;
    if (ReadLines(doc, b.line, b.block, ReadMemory, &source, readError) == kNoMemory)
        return NoRecordMemory(error);
    return true;
}

bool detail::CfgReadBuffer(cQV_CfgFile &doc, cQV_Error &error, const void *data, size_t size) {
    return tCfgAccess::ReadBuffer(doc, error, data, size);
}

bool cQV_CfgFile::ReadFile(cQV_Error &error, const char *path) {
    ReadBuffers b;
    if (!b.Ok()) return b.Fail(error);
    void *const noFile = reinterpret_cast<void *>(-1);
    void *file = path && *path ? detail::PlatformFileOpen(path, eFileOpenRead,
                                                          eFileShareRead | eFileShareWrite)
                               : noFile;
    if (file == noFile)
        return QV_FAIL(&error, detail::kErrFile, "Files to open file [%s] for read",
                       path ? path : "");
    bool readError = false;
    const int status =
        detail::tCfgAccess::ReadLines(*this, b.line, b.block, ReadPlatformFile, file, readError);
    detail::PlatformFileClose(file);
    if (status == detail::tCfgAccess::kNoMemory) return NoRecordMemory(error);
    if (readError)
        return QV_FAIL(&error, detail::kErrFile, "Failed to read data from file [%s]", path);
    return true;
}

namespace {

// The piece the reader parses holds 32767 bytes with the line end, which counts as one byte.
const unsigned kMaxLine = kLineBuf - 2;

// The form in which a parameter's value is written: plain (0) when the reader gives that back
// unchanged, else in quotes (1) when the reader gives that back unchanged, else plain (the
// format cannot hold the value). The reader's own line scanner decides, on the line as it will
// be written. `whole` tells whether the chosen line gives back name, value and comment. -1 when
// the memory for the trial line cannot be had: the form is then unknown, and writing the value
// plain could cut it.
int ChooseForm(const cQV_String &name, const cQV_String &v, const cQV_String &comm,
               cQV_String &scratch, bool &whole) {
    whole = false;
    for (int quoted = 0; quoted < 2; ++quoted) {
        unsigned n = name.Length() + 3 + v.Length() + 2u * unsigned(quoted) +
                     (comm.Length() ? 3 + comm.Length() : 0);
        // The scratch text of an earlier record may be shorter: a failed growth must not be
        // written into.
        char *line = detail::tStringAccess::Room(scratch, n);
        if (!line) return -1;
        char *p = line;
        auto put = [&p](const char *s, size_t k) {
            memcpy(p, s, k);
            p += k;
        };
        put(name, name.Length());
        put(" = ", 3);
        if (quoted) put("\"", 1);
        put(v, v.Length());
        if (quoted) put("\"", 1);
        if (comm.Length()) {
            put(" # ", 3);
            put(comm, comm.Length());
        }
        *p = 0;
        eQV_CfgType type = eCfgComm;
        Span sn, sv, sc;
        if (ParseSpans(line, type, sn, sv, sc) == kParsed && type == eCfgParam &&
            SpanIs(line, sv, v)) {
            whole = SpanIs(line, sn, name) && SpanIs(line, sc, comm) && n <= kMaxLine &&
                    strlen(line) == n && !memchr(line, '\n', n);
            return quoted;
        }
    }
    return 0;
}

// False when the value's form could not be decided for want of memory.
bool PutValue(Writer &out, const cQV_CfgRecord &r, cQV_String &scratch) {
    const cQV_String &v = r.GetValue();
    bool whole;
    const int form =
        PlainIsSafe(v) ? 0 : ChooseForm(r.GetName(), v, r.GetComment(), scratch, whole);
    if (form < 0) return false;
    if (form == 0) {
        out.Put(v);
        return true;
    }
    out.Put("\"", 1);
    out.Put(v);
    out.Put("\"", 1);
    return true;
}

} // namespace

bool cQV_CfgFile::IsName(const char *name) {
    if (!name || !*name || IsDigit(static_cast<unsigned char>(*name))) return false;
    for (const char *p = name; *p; ++p)
        if (!IsNameChar(static_cast<unsigned char>(*p))) return false;
    return true;
}

bool cQV_CfgFile::ParamSurvives(const char *name, const char *value, const char *comment) {
    if (!IsName(name)) return false;
    cQV_String n(name), v(value ? value : ""), c(comment ? comment : ""), scratch;
    bool whole = false;
    ChooseForm(n, v, c, scratch, whole);
    return whole;
}

int detail::tCfgAccess::WriteRecords(const cQV_CfgFile &doc, WriteFn write, void *sink,
                                     unsigned &need) {
    Writer out(write, sink);
    if (!out.Init()) return kWriteFailed;
    cQV_String scratch;
    const char *eol = detail::kIoLineEnd;
    // Set at the start and after a comment record: a section then needs no empty line before it.
    bool brk = true;
    for (cQV_CfgRecord *r = doc.GetFirst(); r; r = doc.GetNext(r)) {
        switch (r->GetType()) {
        case eCfgSect:
            if (!brk) out.Put(eol);
            out.Put("[", 1);
            out.Put(r->GetName());
            out.Put("]", 1);
            if (r->GetComment().Length()) {
                out.Put(" # ", 3);
                out.Put(r->GetComment());
            }
            brk = false;
            break;
        case eCfgParam:
            out.Put(r->GetName());
            out.Put(" = ", 3);
            if (!PutValue(out, *r, scratch)) {
                // A value whose form could not be decided for want of memory.
                need =
                    r->GetName().Length() + r->GetValue().Length() + r->GetComment().Length() + 9;
                return kUnwritable;
            }
            if (r->GetComment().Length()) {
                out.Put(" # ", 3);
                out.Put(r->GetComment());
            }
            brk = false;
            break;
        default:
            if (r->GetComment().Length()) {
                out.Put("# ", 2);
                out.Put(r->GetComment());
            }
            brk = true;
            break;
        }
        out.Put(eol);
        if (!out.Ok()) return kWriteFailed;
    }
    return out.Flush() ? kWritten : kWriteFailed;
}

bool detail::CfgWriteBuffer(const cQV_CfgFile &doc, cQV_Error &error, tCfgAccess::WriteFn write,
                            void *sink) {
    unsigned need = 0;
    switch (tCfgAccess::WriteRecords(doc, write, sink, need)) {
    case tCfgAccess::kWritten:
        return true;
    case tCfgAccess::kUnwritable:
        return QV_FAIL(&error, detail::kErrMemory, "Failed to allocate %d bytes.",
                       static_cast<int>(need));
    default:
        return QV_FAIL(&error, detail::kErrFile, "Failed to write data");
    }
}

namespace {

bool WriteSave(void *sink, const char *data, size_t n) {
    return detail::cfgWriteBlock(*static_cast<detail::tIoSave *>(sink), data, n);
}

} // namespace

bool cQV_CfgFile::WriteFile(cQV_Error &error, const char *path) const {
    detail::tIoSave save;
    if (!save.Begin(path))
        return QV_FAIL(&error, detail::kErrFile, "Failed to open file [%s] for write",
                       path ? path : "");
    unsigned need = 0;
    const int status = detail::tCfgAccess::WriteRecords(*this, WriteSave, &save, need);
    if (status != detail::tCfgAccess::kWritten) {
        save.Abort();
        if (status == detail::tCfgAccess::kUnwritable)
            return QV_FAIL(&error, detail::kErrMemory, "Failed to allocate %d bytes.",
                           static_cast<int>(need));
        return QV_FAIL(&error, detail::kErrFile, "Failed to write data into file [%s]", path);
    }
    if (!save.Commit())
        return QV_FAIL(&error, detail::kErrFile, "Failed to write data into file [%s]", path);
    return true;
}

} // namespace Quorvel
