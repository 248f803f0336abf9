// Configuration files: an editable in-memory document of sections, parameters and comments,
// and its line-oriented text format.
//
// Text format, one record per line, in file order (the format is part of the interface):
//   [name]  # comment        a section; the name may be empty
//   name = value  # comment  a parameter of the section above it
//   # comment                a comment; blank lines and lines of neither form are comments
// Names are letters, '_', '-', bytes >= 128 and digits (not first). A value may be quoted to
// hold '#' or leading blanks; the writer quotes a value only when it would not read back
// otherwise, and writes comments as they stand. On Windows the byte 0x1A (Ctrl-Z) ends the
// text, as the system's text-mode reading has it.
#pragma once

#include "qv_error.h"
#include "qv_list.h"
#include "qv_os_export.h"
#include "qv_string.h"

namespace Quorvel {

// The kind of a record: section, parameter or comment.
enum eQV_CfgType { eCfgSect = 1, eCfgParam = 2, eCfgComm = 3 };

class cQV_CfgFile;
namespace detail {
struct tCfgAccess;
} // namespace detail

// One record of a document: a section (empty value), a parameter, or a comment (empty name and
// value). Records are created and destroyed only by their document.
class QV_OS_API cQV_CfgRecord : public cQV_List2Item {
public:
    // Copies kind and texts. The new record is in no list.
    cQV_CfgRecord(const cQV_CfgRecord &o);
    // Copies kind and texts; the target keeps its own place in its list.
    cQV_CfgRecord &operator=(const cQV_CfgRecord &o);

    // The record's kind and texts; a text the record does not hold is empty.
    eQV_CfgType GetType() const { return type; }
    const cQV_String &GetName() const { return name; }
    const cQV_String &GetValue() const { return value; }
    const cQV_String &GetComment() const { return comment; }

private:
    friend class cQV_CfgFile;

    // A null text gives an empty field.
    cQV_CfgRecord(eQV_CfgType type, const char *name, const char *value, const char *comment);
    ~cQV_CfgRecord() override;

    eQV_CfgType &_Type() { return type; }
    cQV_String &_Name() { return name; }
    cQV_String &_Value() { return value; }
    cQV_String &_Comm() { return comment; }

    eQV_CfgType type;
    cQV_String name;
    cQV_String value;
    cQV_String comment;
};

// The library exports this one instantiation of the typed list. Windows DLLs do not export
// inline members, so there every module instantiates its own (identical) copy.
#if !defined(_WIN32)
extern template class QV_OS_API ctQV_List2<cQV_CfgRecord>;
#endif

// The in-memory form of one configuration file: an ordered, flat sequence of records that the
// document owns. A parameter belongs to the section record that precedes it most closely; the
// body of a section is the run of records after it up to the next section or the end.
// Names match with cQV_String::CmpNoCase: a record with an empty name, and a null name argument,
// never match. Record pointers passed in must be records of this document. Pointers returned
// stay valid until the record is deleted. One thread at a time.
//
// Walking a document: start with GetFirst() (or GetRecords().GetFirst()) and go on with GetNext
// until it returns null.
class QV_OS_API cQV_CfgFile {
public:
    cQV_CfgFile() {}
    // Deep copy: the two documents never share a record. If memory runs out part way, the new
    // document is empty.
    cQV_CfgFile(const cQV_CfgFile &o);
    // Deep copy; if memory runs out part way, this document is left as it was.
    cQV_CfgFile &operator=(const cQV_CfgFile &o);
    // Deletes every record.
    ~cQV_CfgFile() { DelAll(); }

    // The record list, read-only, for the start of a walk.
    const ctQV_List2<cQV_CfgRecord> &GetRecords() const { return _records; }
    // The first record, or null for an empty document.
    cQV_CfgRecord *GetFirst() const { return _records.GetFirst(); }
    // The record after `record`, of any kind; null at the end or for a null `record`.
    cQV_CfgRecord *GetNext(cQV_CfgRecord *record) const {
        return record ? _records.GetNext(record) : nullptr;
    }

    // The first section whose name matches; null if none.
    cQV_CfgRecord *FindSection(const char *name) const;
    // The first parameter named `name` from: the first section's body (from null), the record
    // after a section record, or `from` itself (a parameter or comment). Stops at the next
    // section; null if not found.
    cQV_CfgRecord *FindParam(cQV_CfgRecord *from, const char *name) const;

    // Inserts a comment right after `after` (any kind), or at the front when `after` is null.
    // False only when the record cannot be allocated.
    bool AddComm(cQV_CfgRecord *after, const char *text);
    // Inserts a parameter after the last parameter of the section's body, or right after the
    // section when it has none. False if `section` is not a section or on allocation failure.
    bool AddParam(cQV_CfgRecord *section, const char *name, const char *value, const char *comment);
    // Replaces the value (null: empty) and, when `comment` is not null, the comment of the first
    // matching parameter of the section's body; otherwise adds it as AddParam does.
    bool SetParam(cQV_CfgRecord *section, const char *name, const char *value, const char *comment);
    // Deletes the first matching parameter of the section's body; false if there is none or
    // `section` is not a section.
    bool DelParam(cQV_CfgRecord *section, const char *name);
    // Deletes a comment record; false if `comment` is null or not a comment.
    bool DelComm(cQV_CfgRecord *comment);
    // Finds the section `name`: with `clear` deletes its whole body, and replaces its comment
    // when `comment` is not null. Otherwise appends a new section at the end. Returns the
    // section, or null if it cannot be allocated.
    cQV_CfgRecord *SetSect(const char *name, bool clear, const char *comment);
    // Deletes the section `name` and its body, if it exists. Always true.
    bool DelSect(const char *name);
    // Deletes every record.
    void DelAll();

    // Appends one record per line of the file (the document is not cleared first). Lines read
    // in pieces of at most 32767 bytes; CR LF and LF line ends read alike; on Windows a 0x1A
    // byte ends the text. A malformed line (a
    // name beginning with a digit, a section name not followed by ']') ends the reading: the
    // records before it stay and the result is true. False, with code 3 in module "oscfg":
    // "Files to open file [%s] for read" when the file cannot be opened (or is a folder),
    // "Failed to read data from file [%s]" on a read error (records read before it stay);
    // code 7 "Failed to allocate %d bytes." when the line buffer cannot be had.
    bool ReadFile(cQV_Error &error, const char *path);
    // Writes every record in order. Values are written plain when the reader gives them back
    // unchanged, else in quotes when that reads back unchanged, else as they stand (a value
    // with a line break, a trailing quote or trailing blanks cannot be held). Line ends are
    // LF on POSIX, CR LF on Windows.
    // What the path finally names (symbolic links followed; the links stay, and a dangling
    // link gets its target created) decides how the text gets there:
    //  - a new file, or an ordinary file with one name whose owner a new file can be given, is
    //    replaced atomically: the text goes to a temporary file in the same folder that only
    //    its owner can open, which takes the file's permissions and owner (on Windows its
    //    security, attributes and streams), is flushed to stable storage and then replaces
    //    the file in one step. On failure the file is untouched.
    //  - everything else is written in place, as opening it for writing would: a device, a
    //    pipe or a socket (the node stays what it is), a file with several hard links (every
    //    name keeps seeing the one file), a file the caller may write but whose owner it could
    //    not give a new file, and on Windows a file another process holds so that it cannot be
    //    replaced for about a second. A failure part way leaves what was written.
    //  - a folder, a loop of symbolic links and a file the caller may not write are refused.
    // False, with code 3 in module "oscfg": "Failed to open file [%s] for write" when the
    // target is refused or no file can be opened, "Failed to write data into file [%s]" when
    // writing, flushing or replacing fails.
    bool WriteFile(cQV_Error &error, const char *path) const;

    // The format's rules, for programs that take names and values from elsewhere.
    // True when `name` reads back as the name of a section or parameter and can be found:
    // letters, '_', '-', bytes of 128 or more, and digits after the first byte; not empty (an
    // empty name is valid in a file but never matches).
    static bool IsName(const char *name);
    // True when WriteFile writes this parameter so that ReadFile gives back the same name,
    // value and comment (null: empty) on one line.
    static bool ParamSurvives(const char *name, const char *value, const char *comment);

private:
    // The library's reader of text held in memory shares the file reader's loop.
    friend struct detail::tCfgAccess;

    bool _ParseLine(const char *line);
    static int _FindToken(const char *text, int pos);
    static cQV_String _GetName(const char *text, int &pos, int &errPos);
    static cQV_String _GetValue(const char *text, int &pos);
    static cQV_String _GetComm(const char *text, int pos);
    // _ParseLine's work, telling a malformed line from a record that could not be allocated.
    enum { kParsed, kMalformed, kNoMemory };
    int _Parse(const char *line);

    // Deletes the records after `section` up to the next section (its body).
    void _DelBody(cQV_CfgRecord *section);
    // The record after which a new parameter of `section` goes.
    cQV_CfgRecord *_ParamSlot(cQV_CfgRecord *section) const;
    // Appends copies of every record of `o` to `into`; false on allocation failure.
    static bool _CopyInto(ctQV_List2<cQV_CfgRecord> &into, const cQV_CfgFile &o);
    static void _Free(ctQV_List2<cQV_CfgRecord> &list);

    ctQV_List2<cQV_CfgRecord> _records;
};

} // namespace Quorvel
