// Path text functions: tables of text in, text out.
#include <gtest/gtest.h>

#include <string>

#include "qv_path.h"

using namespace Quorvel;

namespace {

#ifdef _WIN32
const char kSep = '\\';
#else
const char kSep = '/';
#endif

// The expected text with every '\' written as the separator this platform writes.
std::string native(std::string s) {
    for (char &c : s)
        if (c == '\\') c = kSep;
    return s;
}

struct Case2 {
    const char *in;
    const char *arg;
    const char *out;
};

TEST(Path, ChangeFileExt) {
    const Case2 cases[] = {
        {"a\\b.c\\file", "txt", "a\\b.c\\file.txt"}, // dot in a folder name is not an extension
        {"a/b.c/file", "txt", "a/b.c/file.txt"},
        {"file.tar.gz", "zip", "file.tar.zip"}, // only the last extension goes
        {"file", "", "file."},                  // empty ext appends the dot alone
        {"file.old", nullptr, "file."},         // null ext likewise
        {"", "txt", ".txt"},                    // empty path
        {".profile", "txt", ".txt"},            // the whole name is the extension
        {"dir\\", "txt", "dir\\.txt"},          // separators are kept as they are
    };
    for (const Case2 &c : cases) {
        cQV_String path(c.in);
        osChangeFileExt(path, c.arg);
        EXPECT_STREQ(c.out, (const char *)path) << "in: " << c.in;
    }
}

struct Case1 {
    const char *in;
    const char *out;
};

TEST(Path, ExtractFileExt) {
    const Case1 cases[] = {
        {"dir.x\\file", ""}, {"dir.x/file", ""}, {"file.", ""}, {".profile", "profile"},
        {"a\\b.txt", "txt"}, {"a.b.c", "c"},     {"", ""},      {"noext", ""},
    };
    for (const Case1 &c : cases)
        EXPECT_STREQ(c.out, (const char *)osExtractFileExt(c.in)) << "in: " << c.in;
}

TEST(Path, ExtractFilenameAndFilepath) {
    // in, file name, folder part
    const Case2 cases[] = {
        {"C:\\dir\\", "C:\\dir\\", "C:\\dir\\"}, // ends with a separator: the whole path
        {"name", "name", ""},
        {"a/b", "b", "a/"},
        {"C:\\dir\\file", "file", "C:\\dir\\"},
        {"a\\b/c", "c", "a\\b/"},
        {"", "", ""},
        {"/", "/", "/"},
    };
    for (const Case2 &c : cases) {
        EXPECT_STREQ(c.arg, (const char *)osExtractFilename(c.in)) << "in: " << c.in;
        EXPECT_STREQ(c.out, (const char *)osExtractFilepath(c.in)) << "in: " << c.in;
    }
}

TEST(Path, SlashNormalisation) {
    // in, after EnsureNoTrailingSlash, after EnsureTrailingSlash (native separator)
    const Case2 cases[] = {
        {"dir\\\\", "dir\\", "dir\\\\"}, // removes one separator only
        {"dir/", "dir", "dir/"},
        {"dir", "dir", "dir\\"},
        {"", "", ""}, // the empty path stays empty
        {"\\", "", "\\"},
    };
    for (const Case2 &c : cases) {
        cQV_String a(c.in), b(c.in);
        osEnsureNoTrailingSlash(a);
        osEnsureTrailingSlash(b);
        EXPECT_STREQ(c.arg, (const char *)a) << "in: " << c.in;
        std::string expected = c.out;
        if (std::string(c.in) == "dir") expected = native(expected);
        EXPECT_EQ(expected, (const char *)b) << "in: " << c.in;
    }

    cQV_String mixed("a/b\\c//d");
    osEnsureCorrectDirSlash(mixed);
    EXPECT_EQ(native("a\\b\\c\\\\d"), (const char *)mixed);
}

TEST(Path, UncAndUniRecognition) {
    struct {
        const char *in;
        bool unc, uni;
    } cases[] = {
        {"\\\\server\\share", true, false},
        {"//server", true, false},
        {"\\/x", true, false},
        {"\\\\", true, false}, // a third byte that is the NUL is "not '?'"
        {"\\\\?\\C:\\x", false, false},
        {"\\x", false, false},
        {"host|C:\\dir", false, true},
        {"C:\\dir|x", false, false},
        {"plain", false, true},
        {"", false, true},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.unc, osIsUncPath(c.in)) << "in: " << c.in;
        EXPECT_EQ(c.uni, osIsUniPath(c.in)) << "in: " << c.in;
    }
}

TEST(Path, UniPathEncodeDecode) {
    cQV_String uni("old");
    osEncodeUniPath("host", "C:\\a", uni);
    EXPECT_STREQ("host|C:\\a", (const char *)uni);
    osEncodeUniPath(nullptr, nullptr, uni);
    EXPECT_STREQ("|", (const char *)uni);

    struct {
        const char *in;
        bool ok;
        const char *first, *second;
    } cases[] = {
        {"host|C:\\a|b", true, "host", "C:\\a|b"},
        {"|x", true, "", "x"},
        {"h|", true, "h", ""},
        {"plain", true, "plain", ""},
        {"", true, "", ""},
        {"C:\\a|b", false, "keep1", "keep2-longer-text"},
        {"a/b", false, "keep1", "keep2-longer-text"},
    };
    for (const auto &c : cases) {
        // The outputs start with texts longer than the results: they must be replaced exactly.
        cQV_String first("keep1"), second("keep2-longer-text");
        EXPECT_EQ(c.ok, osDecodeUniPath(c.in, first, second)) << "in: " << c.in;
        EXPECT_STREQ(c.first, (const char *)first) << "in: " << c.in;
        EXPECT_STREQ(c.second, (const char *)second) << "in: " << c.in;
    }
}

TEST(Path, ConvertToUncTextForms) {
    struct {
        const char *in;
        const char *server, *share;
    } cases[] = {
        {"\\\\srv\\share\\dir", "srv", "share\\dir"},
        {"\\\\srv", "srv", ""},
        {"\\\\srv\\", "srv", ""},
    };
    for (const auto &c : cases) {
        cQV_Error err;
        cQV_String server("x"), share("y");
        EXPECT_TRUE(osConvertToUnc(&err, c.in, server, share)) << c.in;
        EXPECT_STREQ(c.server, (const char *)server);
        EXPECT_STREQ(c.share, (const char *)share);
        EXPECT_EQ(0, err.code);
    }

    cQV_Error err;
    cQV_String server, share;
    EXPECT_FALSE(osConvertToUnc(&err, "//srv/share", server, share));
    EXPECT_EQ(3, err.code);
    EXPECT_STREQ("osio", (const char *)err.file);
    EXPECT_STREQ("Failed to convert [//srv/share] to UNC path: Invalid path",
                 (const char *)err.text);
}

TEST(Path, ConvertToUncOfALocalPathFailsWithoutMessage) {
    // A path on a local disk has no network name: false, and the record stays clear.
    cQV_Error err;
    cQV_String server("s"), share("t");
    EXPECT_FALSE(osConvertToUnc(&err, "local_file.txt", server, share));
    EXPECT_EQ(0, err.code);
    EXPECT_STREQ("s", (const char *)server);
    EXPECT_STREQ("t", (const char *)share);
}

TEST(Path, MakeLocalPathKeepsOrdinaryPaths) {
    // Paths without a substituted drive come back unchanged.
    const char *cases[] = {"", "relative\\file", "/usr/lib", "\\\\srv\\share", "C:\\dir\\a.txt"};
    for (const char *c : cases) {
        cQV_String path(c);
        osMakeLocalPath(path);
        EXPECT_STREQ(c, (const char *)path);
    }
}

} // namespace

#ifdef _WIN32
#include <windows.h>

namespace {

TEST(Path, MakeLocalPathResolvesASubstitutedDrive) {
    // Substitute a free drive letter for the temporary folder, as "subst" does.
    char drive[3] = "Q:";
    char target[256];
    bool freeLetter = false;
    for (char c = 'Q'; c <= 'Y' && !freeLetter; ++c) {
        drive[0] = c;
        freeLetter = QueryDosDeviceA(drive, target, sizeof target) == 0;
    }
    ASSERT_TRUE(freeLetter);
    char folder[MAX_PATH];
    DWORD n = GetTempPathA(sizeof folder, folder);
    ASSERT_GT(n, 2u);
    folder[n - 1] = 0; // no trailing separator
    if (!DefineDosDeviceA(0, drive, folder))
        GTEST_SKIP() << "drive substitution unavailable, error " << GetLastError();

    cQV_String path(drive);
    path += "\\dir\\a.txt";
    osMakeLocalPath(path);
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive, nullptr);
    EXPECT_EQ(std::string(folder) + "\\dir\\a.txt", (const char *)path);
}

} // namespace
#endif
