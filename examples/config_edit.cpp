// Reading, editing and saving a configuration file.
//
//   config_edit FILE      edits FILE (created when missing) and prints what it holds afterwards
//
// The program sets [server] port and host, counts its own runs in [stats] runs, removes an
// obsolete parameter and writes the document back. Comments and the order of the other records
// stay as they were.
#include <qv_os.h>

#include <cstdio>

using namespace Quorvel;

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: config_edit FILE\n");
        return 2;
    }
    const char *path = argv[1];

    cQV_Error error;
    cQV_CfgFile doc;
    // A missing file is not an error here: the program starts from an empty document.
    if (osFileIsExist(path) && !doc.ReadFile(error, path)) {
        std::fprintf(stderr, "cannot read %s: %s\n", path, (const char *)error.text);
        return 1;
    }

    // SetSect finds the section or appends it; SetParam changes a parameter or adds it.
    cQV_CfgRecord *server = doc.SetSect("server", false, "where clients connect");
    doc.SetParam(server, "host", "127.0.0.1", nullptr);
    doc.SetParam(server, "port", "8080", "any free port");
    doc.DelParam(server, "legacy_mode");

    cQV_CfgRecord *stats = doc.SetSect("stats", false, nullptr);
    cQV_CfgRecord *runs = doc.FindParam(stats, "runs");
    const int count = runs ? cQV_String::ToLong(runs->GetValue(), nullptr, 10) : 0;
    cQV_String text;
    text.Format("%d", count + 1);
    doc.SetParam(stats, "runs", text, nullptr);

    if (!doc.WriteFile(error, path)) {
        std::fprintf(stderr, "cannot save %s: %s\n", path, (const char *)error.text);
        return 1;
    }

    // Walk the document as it now stands.
    for (cQV_CfgRecord *r = doc.GetFirst(); r; r = doc.GetNext(r)) {
        switch (r->GetType()) {
        case eCfgSect:
            std::printf("[%s]\n", (const char *)r->GetName());
            break;
        case eCfgParam:
            std::printf("  %s = %s\n", (const char *)r->GetName(), (const char *)r->GetValue());
            break;
        default:
            break;
        }
    }
    return 0;
}
