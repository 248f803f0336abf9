// Unique identifiers: 16 bytes made without coordination from the machine, the process and the
// moment of generation.
#pragma once

#include "qv_os_export.h"
#include "qv_string.h"

namespace Quorvel {

// A 16-byte identifier. A generated one holds:
//   bytes 0-5   the machine: the Ethernet address of its first Ethernet adapter or, on a machine
//               without one, the seconds (4 bytes) and milliseconds (2 bytes) of the time the
//               library was loaded, both big-endian;
//   bytes 6-9   the generating process's id, little-endian;
//   bytes 10-13 the seconds of the generation time (tTimeb sec), little-endian;
//   bytes 14-15 its milliseconds (tTimeb ms), little-endian.
// Bytes are compared and printed in index order, 0 to 15, as unsigned values; because the time
// fields are little-endian, the order of Cmp is not the order of generation.
class QV_OS_API cQV_Uid {
public:
    cQV_Uid(); // all 16 bytes zero
    // All bytes zero except bytes 6-9, which hold n big-endian (network order).
    cQV_Uid(int n);
    cQV_Uid(const cQV_Uid &o);            // copies the 16 bytes
    cQV_Uid &operator=(const cQV_Uid &o); // copies the 16 bytes; self-assignment does nothing
    virtual ~cQV_Uid();                   // nothing to release

    bool operator==(const cQV_Uid &o) const; // all 16 bytes equal
    bool operator!=(const cQV_Uid &o) const; // some byte differs
    // 1, -1 or 0: this identifier greater, smaller or equal at the first differing byte.
    int Cmp(const cQV_Uid &o) const;

    // A new identifier. Safe from any number of threads: within one process the time parts are
    // strictly increasing (one per millisecond at most), so no two identifiers are equal. Waits
    // while the clock has not passed the last generation time (a clock set back included). Only
    // while the library is loaded.
    void Generate();

    bool IsEmpty() const;             // all bytes zero
    bool IsNotEmpty() const;          // some byte non-zero
    void SetEmpty();                  // all bytes zero
    static const cQV_Uid &GetEmpty(); // the all-zero identifier

    unsigned char *Buffer();                // the 16 bytes, writable
    const unsigned char *GetBuffer() const; // the 16 bytes

    // "0x" and the 16 bytes in index order as "%02x": 34 characters. Part of the interface.
    // Empty when the string cannot be allocated.
    cQV_String ToString() const;
    // Reads the text form: at least 34 characters, "0x" (lower-case x) and 16 pairs, each read
    // with strtoul in base 16 and required to consume both characters (so " f" and "+f" pass; the
    // byte is the low 8 bits). Text after the 34th character is ignored. True and the identifier
    // replaced on success; false and the identifier unchanged otherwise (s null included).
    bool FromString(const char *s);

private:
    unsigned char _uid[16];
    static cQV_Uid _empty; // made and destroyed by the library's load sequence
};

} // namespace Quorvel
