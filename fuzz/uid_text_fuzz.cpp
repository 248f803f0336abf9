// Feeds arbitrary text to the identifier's reader and checks its promises: a failed read leaves
// the identifier exactly as it was; a successful one needs "0x" and 34 characters; a text of
// "0x" and 32 hexadecimal digits is always read, its lower-case form being the identifier's text;
// and every identifier's text reads back to an equal identifier.
#include "qv_uid.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace Quorvel;

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "uid_text_fuzz: %s\n", what);
        std::abort();
    }
}

bool AllHex(const char *s, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const char *s = input.c_str(); // the reader sees the text up to its first NUL
    const size_t len = std::strlen(s);

    cQV_Uid before;
    for (int i = 0; i < 16; ++i)
        before.Buffer()[i] = static_cast<unsigned char>(0xa5 ^ (i * 29));
    cQV_Uid u(before);
    const bool ok = u.FromString(s);
    if (!ok) {
        Check(u == before, "a failed read changed the identifier");
    } else {
        Check(len >= 34 && s[0] == '0' && s[1] == 'x', "read a text that is too short or no 0x");
    }
    if (len >= 34 && s[0] == '0' && s[1] == 'x' && AllHex(s + 2, 32)) {
        Check(ok, "a text of 0x and 32 hexadecimal digits was refused");
        std::string lower(s, 34);
        for (char &c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        Check(lower == static_cast<const char *>(u.ToString()), "the digits were read wrongly");
    }

    const cQV_String text = u.ToString();
    const char *t = text;
    Check(text.Length() == 34 && t[0] == '0' && t[1] == 'x', "the text form has a bad shape");
    for (int i = 2; i < 34; ++i)
        Check(std::isxdigit(static_cast<unsigned char>(t[i])) &&
                  !std::isupper(static_cast<unsigned char>(t[i])),
              "the text form holds other than lower-case digits");
    cQV_Uid back;
    Check(back.FromString(text), "the text form is refused");
    Check(back == u && back.Cmp(u) == 0, "the text form reads back to another identifier");
    return 0;
}
