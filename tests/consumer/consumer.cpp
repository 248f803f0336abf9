// Uses the installed library through its umbrella header; exits non-zero if anything is off.
#include <cstdio>
#include <cstring>

#include <qv_os.h>

int main() {
    Quorvel::cQV_Error e;
    e.SetFormat(3, "osio", 7, "Failed to delete file [%s]. %s", "a.txt", "");
    Quorvel::cQV_String s = e.ToString();
    if (std::strcmp(s, "3:7:4:osio:31:Failed to delete file [a.txt]. ") != 0) {
        std::fprintf(stderr, "unexpected text form: %s\n", static_cast<const char *>(s));
        return 1;
    }
    std::printf("consumer ok: %s\n", static_cast<const char *>(s));
    return 0;
}
