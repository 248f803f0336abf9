// The configuration document: records in one intrusive list, found, walked and edited by the
// rules of section bodies (the run of records after a section up to the next one).
#include "qv_cfg.h"

#include <new>

namespace Quorvel {

template class ctQV_List2<cQV_CfgRecord>;

cQV_CfgRecord::cQV_CfgRecord(eQV_CfgType type, const char *name, const char *value,
                             const char *comment)
    : type(type), name(name), value(value), comment(comment) {}

cQV_CfgRecord::cQV_CfgRecord(const cQV_CfgRecord &o)
    : cQV_List2Item(), type(o.type), name(o.name), value(o.value), comment(o.comment) {}

cQV_CfgRecord &cQV_CfgRecord::operator=(const cQV_CfgRecord &o) {
    if (this != &o) {
        type = o.type;
        name = o.name;
        value = o.value;
        comment = o.comment;
    }
    return *this;
}

cQV_CfgRecord::~cQV_CfgRecord() {}

namespace {

bool NameMatches(const cQV_CfgRecord *r, const char *name) {
    // CmpNoCase is false for an empty record name and for a null argument.
    return r->GetName().CmpNoCase(name);
}

} // namespace

cQV_CfgFile::cQV_CfgFile(const cQV_CfgFile &o) {
    if (!_CopyInto(_records, o)) _Free(_records);
}

cQV_CfgFile &cQV_CfgFile::operator=(const cQV_CfgFile &o) {
    if (this == &o) return *this;
    ctQV_List2<cQV_CfgRecord> fresh;
    if (!_CopyInto(fresh, o)) {
        _Free(fresh);
        return *this;
    }
    DelAll();
    while (cQV_CfgRecord *r = fresh.PopFirst())
        _records.PushBack(r);
    return *this;
}

bool cQV_CfgFile::_CopyInto(ctQV_List2<cQV_CfgRecord> &into, const cQV_CfgFile &o) {
    for (cQV_CfgRecord *r = o.GetFirst(); r; r = o.GetNext(r)) {
        cQV_CfgRecord *copy = new (std::nothrow) cQV_CfgRecord(*r);
        if (!copy) return false;
        // A string copy that ran out of memory leaves its field empty: check every text made it.
        if (copy->name.Length() != r->name.Length() || copy->value.Length() != r->value.Length() ||
            copy->comment.Length() != r->comment.Length()) {
            delete copy;
            return false;
        }
        into.PushBack(copy);
    }
    return true;
}

void cQV_CfgFile::_Free(ctQV_List2<cQV_CfgRecord> &list) {
    while (cQV_CfgRecord *r = list.PopFirst())
        delete r;
}

cQV_CfgRecord *cQV_CfgFile::FindSection(const char *name) const {
    for (cQV_CfgRecord *r = GetFirst(); r; r = GetNext(r))
        if (r->type == eCfgSect && NameMatches(r, name)) return r;
    return nullptr;
}

cQV_CfgRecord *cQV_CfgFile::FindParam(cQV_CfgRecord *from, const char *name) const {
    cQV_CfgRecord *r;
    if (!from) {
        r = GetFirst();
        while (r && r->type != eCfgSect)
            r = GetNext(r);
        if (!r) return nullptr;
        r = GetNext(r);
    } else if (from->type == eCfgSect) {
        r = GetNext(from);
    } else {
        r = from;
    }
    for (; r && r->type != eCfgSect; r = GetNext(r))
        if (r->type == eCfgParam && NameMatches(r, name)) return r;
    return nullptr;
}

bool cQV_CfgFile::AddComm(cQV_CfgRecord *after, const char *text) {
    cQV_CfgRecord *r = new (std::nothrow) cQV_CfgRecord(eCfgComm, nullptr, nullptr, text);
    if (!r) return false;
    if (after)
        _records.InsertAfter(after, r);
    else
        _records.PushFront(r);
    return true;
}

cQV_CfgRecord *cQV_CfgFile::_ParamSlot(cQV_CfgRecord *section) const {
    cQV_CfgRecord *slot = section;
    for (cQV_CfgRecord *r = GetNext(section); r && r->type != eCfgSect; r = GetNext(r))
        if (r->type == eCfgParam) slot = r;
    return slot;
}

bool cQV_CfgFile::AddParam(cQV_CfgRecord *section, const char *name, const char *value,
                           const char *comment) {
    if (!section || section->type != eCfgSect) return false;
    cQV_CfgRecord *r = new (std::nothrow) cQV_CfgRecord(eCfgParam, name, value, comment);
    if (!r) return false;
    _records.InsertAfter(_ParamSlot(section), r);
    return true;
}

bool cQV_CfgFile::SetParam(cQV_CfgRecord *section, const char *name, const char *value,
                           const char *comment) {
    if (!section || section->type != eCfgSect) return false;
    for (cQV_CfgRecord *r = GetNext(section); r && r->type != eCfgSect; r = GetNext(r)) {
        if (r->type == eCfgParam && NameMatches(r, name)) {
            r->_Value() = value;
            if (comment) r->_Comm() = comment;
            return true;
        }
    }
    return AddParam(section, name, value, comment);
}

bool cQV_CfgFile::DelParam(cQV_CfgRecord *section, const char *name) {
    if (!section || section->type != eCfgSect) return false;
    for (cQV_CfgRecord *r = GetNext(section); r && r->type != eCfgSect; r = GetNext(r)) {
        if (r->type == eCfgParam && NameMatches(r, name)) {
            _records.Pop(r);
            delete r;
            return true;
        }
    }
    return false;
}

bool cQV_CfgFile::DelComm(cQV_CfgRecord *comment) {
    if (!comment || comment->type != eCfgComm) return false;
    _records.Pop(comment);
    delete comment;
    return true;
}

void cQV_CfgFile::_DelBody(cQV_CfgRecord *section) {
    cQV_CfgRecord *r = GetNext(section);
    while (r && r->type != eCfgSect) {
        cQV_CfgRecord *next = _records.Pop(r);
        delete r;
        r = next;
    }
}

cQV_CfgRecord *cQV_CfgFile::SetSect(const char *name, bool clear, const char *comment) {
    cQV_CfgRecord *s = FindSection(name);
    if (s) {
        if (clear) _DelBody(s);
        if (comment) s->_Comm() = comment;
        return s;
    }
    s = new (std::nothrow) cQV_CfgRecord(eCfgSect, name, nullptr, comment);
    if (s) _records.PushBack(s);
    return s;
}

bool cQV_CfgFile::DelSect(const char *name) {
    cQV_CfgRecord *s = FindSection(name);
    if (s) {
        _DelBody(s);
        _records.Pop(s);
        delete s;
    }
    return true;
}

void cQV_CfgFile::DelAll() {
    _Free(_records);
}

} // namespace Quorvel
