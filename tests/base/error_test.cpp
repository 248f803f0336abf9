#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "qv_error.h"

using Quorvel::cQV_Error;
using Quorvel::cQV_String;

namespace {

cQV_Error Record(int code, int line, const char *file, const char *text) {
    cQV_Error e;
    e.Set(code, file, line, text);
    return e;
}

void ExpectRecord(const cQV_Error &e, int code, int line, const char *file, const char *text) {
    EXPECT_EQ(e.code, code);
    EXPECT_EQ(e.line, line);
    EXPECT_STREQ(e.file, file);
    EXPECT_STREQ(e.text, text);
}

} // namespace

TEST(Error, SetAndSetFormatReturnNotCode) {
    cQV_Error e;
    EXPECT_TRUE(e.IsNotError());
    EXPECT_FALSE(e.SetFormat(6, "ossocket", 42, "Failed to connect [%s:%d]. WSAGetLastError()=%d",
                             "host", 80, 111));
    ExpectRecord(e, 6, 42, "ossocket", "Failed to connect [host:80]. WSAGetLastError()=111");
    EXPECT_TRUE(e.IsError());
    EXPECT_TRUE(e.Set(0, nullptr, 0, nullptr));
    ExpectRecord(e, 0, 0, "", "");
    EXPECT_FALSE(cQV_Error::SetFormat(nullptr, 6, "ossocket", 1, "x %d", 1));
    EXPECT_TRUE(cQV_Error::Set(nullptr, 0, "a", 1, "b"));
    EXPECT_FALSE(
        cQV_Error::SetFormat(&e, 3, "osio", 7, "Failed to delete file [%s]. %s", "a", "why"));
    ExpectRecord(e, 3, 7, "osio", "Failed to delete file [a]. why");
    e.Reset();
    ExpectRecord(e, 0, 0, "", "");
}

TEST(Error, CopiesAreIndependent) {
    cQV_Error a = Record(5, 9, "osprocess", "Failed to create process: x");
    cQV_Error b(a);
    cQV_Error c;
    c = a;
    a.Reset();
    ExpectRecord(b, 5, 9, "osprocess", "Failed to create process: x");
    ExpectRecord(c, 5, 9, "osprocess", "Failed to create process: x");
    const cQV_Error &alias = c;
    c = alias;
    ExpectRecord(c, 5, 9, "osprocess", "Failed to create process: x");
    EXPECT_STREQ(c.GetText(), "Failed to create process: x");
}

TEST(Error, TextFormRoundTrips) {
    cQV_Error e = Record(3, 183, "osio",
                         "Failed to delete file [a.txt]. GetLastError()=5 [Access is denied.]");
    EXPECT_STREQ(e.ToString(), "3:183:4:osio:67:Failed to delete file [a.txt]. GetLastError()=5 "
                               "[Access is denied.]");
    EXPECT_STREQ(cQV_Error().ToString(), "0:0:0::0:");
    const cQV_Error samples[] = {
        e, cQV_Error(), Record(-7, -1, "a:b:c", "x:y::z:"), Record(8, 0, "", ":"),
        Record(1, 2147483647, "ossysinfo", std::string(5000, ':').c_str())};
    for (const cQV_Error &s : samples) {
        cQV_Error back = Record(9, 9, "junk", "junk");
        ASSERT_TRUE(back.FromString(s.ToString())) << s.ToString();
        ExpectRecord(back, s.code, s.line, s.file, s.text);
    }
}

TEST(Error, FromStringAcceptsWhatStrtolReads) {
    cQV_Error e;
    ASSERT_TRUE(e.FromString("::0::0:"));
    ExpectRecord(e, 0, 0, "", "");
    ASSERT_TRUE(e.FromString(" +3: -4: 2:ab: 3:xyzTRAILING"));
    ExpectRecord(e, 3, -4, "ab", "xyz");
}

TEST(Error, MalformedTextLeavesRecordUnchanged) {
    const char *bad[] = {
        "",
        "3",
        "3:1",
        "3:1:4:osio",
        "3:1:4:osio:",
        "3:1:4:osio:5",
        "3:1:4:osio:5:abcd",   // message runs past the end
        "3:1:5:osio:0:",       // file runs past the colon
        "3:1:40:osio:0:",      // file runs past the end
        "3:1:-1:osio:0:",      // negative length
        "3:1:4:osio:-2:ab",    // negative length
        "3;1:4:osio:0:",       // wrong separator
        "x:1:4:osio:0:",       // no number, then no colon
        "3:1:4:osioX0:",       // no colon after the file
        "3:1:99999999999:a:0:" // length saturates and runs past the end
    };
    for (const char *s : bad) {
        cQV_Error e = Record(1, 2, "keep", "this");
        EXPECT_FALSE(e.FromString(s)) << s;
        ExpectRecord(e, 1, 2, "keep", "this");
    }
    cQV_Error e = Record(1, 2, "keep", "this");
    EXPECT_FALSE(e.FromString(nullptr));
    ExpectRecord(e, 1, 2, "keep", "this");
}

TEST(SysError, KnownCodeHasOneLineFramedText) {
    for (int code : {2, 5}) {
        cQV_String s = Quorvel::osGetSysErrorStr(code);
        std::string t(static_cast<const char *>(s));
        std::string prefix = "GetLastError()=" + std::to_string(code) + " [";
        ASSERT_EQ(t.compare(0, prefix.size(), prefix), 0) << t;
        ASSERT_EQ(t.back(), ']') << t;
        EXPECT_GT(t.size(), prefix.size() + 1) << "the system's message is missing: " << t;
        EXPECT_EQ(t.find_first_of("\r\n"), std::string::npos) << t;
    }
}

TEST(SysError, UnknownCodeGivesEmptyText) {
    EXPECT_STREQ(Quorvel::osGetSysErrorStr(123456789), "");
    EXPECT_STREQ(Quorvel::osGetSysErrorStr(-77), "");
}

TEST(SysError, LastErrorIsReadAfterAFailedCall) {
    // Opening a file that does not exist fails with "not found" on every platform.
    std::FILE *f = std::fopen("qv-no-such-dir/qv-no-such-file", "rb");
    ASSERT_EQ(f, nullptr);
    int code = Quorvel::osGetSysError();
    EXPECT_NE(code, 0);
}
