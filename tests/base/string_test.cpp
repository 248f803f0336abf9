#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstring>
#include <string>
#include <cwchar>

#include "qv_string.h"

using Quorvel::cQV_DataConv;
using Quorvel::cQV_String;

namespace {

// True when s holds no buffer: the empty string converts to a static text that is not a buffer
// of its own, so DeattachBuffer on it returns null.
bool HoldsNoBuffer(cQV_String s) {
    return s.DeattachBuffer() == nullptr;
}

} // namespace

TEST(String, EmptyStringHoldsNoBufferAndIsNeverNull) {
    cQV_String a, b(""), c(static_cast<const char *>(nullptr));
    for (cQV_String *s : {&a, &b, &c}) {
        ASSERT_NE(static_cast<const char *>(*s), nullptr);
        EXPECT_STREQ(*s, "");
        EXPECT_EQ(s->Length(), 0u);
        EXPECT_TRUE(*s == "");
        EXPECT_TRUE(*s == static_cast<const char *>(nullptr));
        EXPECT_FALSE(s->Cmp(""));
        EXPECT_FALSE(s->CmpNoCase(""));
        EXPECT_TRUE(HoldsNoBuffer(*s));
    }
    cQV_String d("x");
    d = "";
    EXPECT_TRUE(HoldsNoBuffer(d));
    d += "";
    EXPECT_TRUE(HoldsNoBuffer(d));
    EXPECT_FALSE(cQV_String("x") == static_cast<const char *>(nullptr));
}

TEST(String, CopiesNeverShareBuffers) {
    cQV_String a("hello");
    cQV_String b(a);
    cQV_String c;
    c = a;
    EXPECT_NE(static_cast<const char *>(a), static_cast<const char *>(b));
    EXPECT_NE(static_cast<const char *>(a), static_cast<const char *>(c));
    b[0] = 'j';
    EXPECT_STREQ(a, "hello");
    EXPECT_STREQ(b, "jello");
    EXPECT_STREQ(c, "hello");
}

TEST(String, SelfAssignmentAndSelfAppend) {
    cQV_String s("abc");
    const char *own = s;
    s = own;
    EXPECT_STREQ(s, "abc");
    const cQV_String &alias = s;
    s = alias;
    EXPECT_STREQ(s, "abc");
    s += s;
    EXPECT_STREQ(s, "abcabc");
    s += static_cast<const char *>(s);
    EXPECT_STREQ(s, "abcabcabcabc");
    cQV_String t = s + "!" + cQV_String("?");
    EXPECT_STREQ(t, "abcabcabcabc!?");
    EXPECT_STREQ(s, "abcabcabcabc");
    s += static_cast<const char *>(nullptr);
    EXPECT_STREQ(s, "abcabcabcabc");
}

struct CmpCase {
    const char *self;
    const char *other;
    int n;
    bool cmpNoCase, prefixNoCase, sub;
};

class StringCompare : public ::testing::TestWithParam<CmpCase> {};

TEST_P(StringCompare, Table) {
    const CmpCase &c = GetParam();
    cQV_String s(c.self);
    EXPECT_EQ(s.CmpNoCase(c.other), c.cmpNoCase);
    EXPECT_EQ(s.CmpPrefixNoCase(c.other, c.n), c.prefixNoCase);
    EXPECT_EQ(s.CmpSub(c.other, c.n), c.sub);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringCompare,
    ::testing::Values(
        CmpCase{"ABC", "abc", 0, true, true, false}, CmpCase{"ABC", "abcd", 0, false, true, false},
        CmpCase{"Hello world", "HELLO", 0, false, false, false},
        CmpCase{"He", "HELLO", 0, false, true, false}, CmpCase{"HEx", "hey", 2, false, true, false},
        CmpCase{"ab", "abc", 0, false, true, false}, CmpCase{"abc", "ab", 0, false, false, true},
        CmpCase{"abd", "abc", 2, false, true, true}, CmpCase{"abc", "xyz", -1, false, true, false},
        CmpCase{"\xC9t\xE9", "\xE9T\xC9", 0, false, false, false},
        CmpCase{"", "", 0, false, false, false}, CmpCase{"abc", nullptr, 0, false, false, false}));

TEST(String, StaticCompareFunctions) {
    EXPECT_TRUE(cQV_String::CmpNoCase(nullptr, nullptr));
    EXPECT_TRUE(cQV_String::CmpNoCase(nullptr, ""));
    EXPECT_TRUE(cQV_String::CmpNoCase("MiXeD", "mixed"));
    EXPECT_FALSE(cQV_String::CmpNoCase("a", nullptr));
    EXPECT_EQ(cQV_String::Compare("a", "\xE9"), -1);
    EXPECT_EQ(cQV_String::Compare("\xE9", "a"), 1);
    EXPECT_EQ(cQV_String::Compare("abc", "abc"), 0);
    EXPECT_EQ(cQV_String::Compare("abc", "abd"), -1);
    EXPECT_EQ(cQV_String::Compare("zzzz", "a"), 1);
}

TEST(String, CaseFoldingTouchesAsciiOnly) {
    cQV_String s("aZ09\xC9\xE9@[`{");
    s.MakeUpper();
    EXPECT_STREQ(s, "AZ09\xC9\xE9@[`{");
    s.MakeLower();
    EXPECT_STREQ(s, "az09\xC9\xE9@[`{");
}

TEST(String, FormatProducesExactTextAtEveryLength) {
    for (size_t n : {0u, 1u, 2u, 3u, 7u, 100u, 1000u, 70000u}) {
        std::string text(n, 'x');
        for (size_t i = 0; i < n; ++i)
            text[i] = static_cast<char>('a' + i % 26);
        cQV_String s("previous text");
        EXPECT_EQ(s.Format("%s", text.c_str()), static_cast<int>(n));
        EXPECT_EQ(std::string(static_cast<const char *>(s)), text);
        EXPECT_EQ(s.Length(), n);
    }
    cQV_String s;
    EXPECT_EQ(s.Format("%d-%s-%05.1f", -42, "ab", 3.14159), 12);
    EXPECT_STREQ(s, "-42-ab-003.1");
}

TEST(String, FormatOfEmptyFormatLeavesAllocatedEmptyBuffer) {
    cQV_String s;
    EXPECT_EQ(s.Format("%s", ""), 0);
    char *b = s.DeattachBuffer();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b[0], '\0');
    ::operator delete(b);
}

TEST(String, FormatReusesLongEnoughBuffer) {
    // A first attempt that fits keeps the existing, longer buffer.
    cQV_String s;
    s.Format("%s", std::string(500, 'q').c_str());
    const char *before = s;
    EXPECT_EQ(s.Format("abcdef"), 6);
    EXPECT_EQ(static_cast<const char *>(s), before);
    EXPECT_STREQ(s, "abcdef");
}

TEST(String, FormatEncodingErrorEndsWithEmptyText) {
    // A wide character the C locale cannot encode makes the formatter fail outright; no buffer
    // size can help, so the call must end with 0 and an empty text instead of growing forever.
    // Some runtimes skip such a character instead; there the text is whatever they produced.
    std::setlocale(LC_ALL, "C");
    const wchar_t bad[] = {static_cast<wchar_t>(0x20AC), 0};
    char probe[16];
    bool formatterFails = std::snprintf(probe, sizeof probe, "x%lsy", bad) < 0;
    cQV_String s("old");
    int n = s.Format("x%lsy", bad);
    if (formatterFails) {
        EXPECT_EQ(n, 0);
        EXPECT_STREQ(s, "");
    } else {
        EXPECT_EQ(n, static_cast<int>(s.Length()));
        EXPECT_STREQ(s, probe);
    }
}

TEST(String, GetBufferKeepsTextAndTerminates) {
    cQV_String s("abc");
    char *b = s.GetBuffer(10);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b, "abc");
    EXPECT_EQ(b[10], '\0');
    std::strcpy(b, "0123456789");
    EXPECT_EQ(s.Length(), 10u);
    EXPECT_EQ(s.GetBuffer(2), b);
    EXPECT_EQ(s.GetBuffer(0), b);
    cQV_String e;
    EXPECT_EQ(e.GetBuffer(0), nullptr);
    char *eb = e.GetBuffer(4);
    ASSERT_NE(eb, nullptr);
    EXPECT_EQ(eb[0], '\0');
    EXPECT_EQ(eb[4], '\0');
}

TEST(String, DeattachBufferHandsOverOwnership) {
    cQV_String s("text");
    char *b = s.DeattachBuffer();
    EXPECT_STREQ(b, "text");
    EXPECT_EQ(s.Length(), 0u);
    EXPECT_EQ(s.DeattachBuffer(), nullptr);
    ::operator delete(b);
}

TEST(String, ToLongReportsConsumedBytes) {
    int len = -1;
    cQV_String s("ab123x");
    EXPECT_EQ(s.ToLong(2, &len, 10), 123);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(cQV_String("abc").ToLong(0, &len, 10), 0);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(cQV_String().ToLong(0, &len, 10), 0);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(cQV_String::ToLong(nullptr, &len, 10), 0);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(cQV_String::ToLong(" -0x1F", &len, 16), -31);
    EXPECT_EQ(len, 6);
    EXPECT_EQ(cQV_String::ToLong("777", nullptr, 8), 511);
    EXPECT_EQ(cQV_String::ToUlong("4294967295", &len, 10), 4294967295u);
    EXPECT_EQ(len, 10);
    EXPECT_EQ(cQV_String::ToUlong("-1", &len, 10), 4294967295u);
    EXPECT_EQ(cQV_String::ToUlong("z", &len, 10), 0u);
    EXPECT_EQ(len, 0);
}

TEST(String, ToLongWithAnInvalidBaseConsumesNothing) {
    for (int base : {1, 37, -1, 100}) {
        SCOPED_TRACE(base);
        int len = -1;
        EXPECT_EQ(cQV_String::ToLong("123", &len, base), 0);
        EXPECT_EQ(len, 0);
        len = -1;
        EXPECT_EQ(cQV_String::ToUlong("123", &len, base), 0u);
        EXPECT_EQ(len, 0);
        len = -1;
        EXPECT_EQ(cQV_String("x123").ToLong(1, &len, base), 0);
        EXPECT_EQ(len, 0);
    }
}

TEST(String, ToLongSaturatesAt32BitsOnEveryPlatform) {
    int len = 0;
    EXPECT_EQ(cQV_String::ToLong("99999999999", &len, 10), 2147483647);
    EXPECT_EQ(len, 11);
    EXPECT_EQ(cQV_String::ToLong("-99999999999", &len, 10), -2147483647 - 1);
    EXPECT_EQ(cQV_String::ToUlong("99999999999", &len, 10), 4294967295u);
    EXPECT_EQ(cQV_String::ToUlong("-4294967296", &len, 10), 4294967295u);
}

// ---------------------------------------------------------------------------------------------

struct B64Case {
    int value;
    const char *text;
};

class Base64Integer : public ::testing::TestWithParam<B64Case> {};

TEST_P(Base64Integer, WritesWithoutNulAndReadsBack) {
    const B64Case &c = GetParam();
    char out[9];
    std::memset(out, '*', sizeof out);
    int n = cQV_DataConv::LongToStr64(c.value, out);
    ASSERT_EQ(n, static_cast<int>(std::strlen(c.text)));
    EXPECT_EQ(std::string(out, static_cast<size_t>(n)), c.text);
    EXPECT_EQ(out[n], '*') << "no NUL may follow the digits";
    int v = 12345;
    EXPECT_EQ(cQV_DataConv::Str64ToLong(c.text, v), n);
    EXPECT_EQ(v, c.value);
}

INSTANTIATE_TEST_SUITE_P(Cases, Base64Integer,
                         ::testing::Values(B64Case{0, "0"}, B64Case{63, "$"}, B64Case{64, "10"},
                                           B64Case{-1, "-1"}, B64Case{4095, "$$"},
                                           B64Case{2147483647, "1$$$$$"},
                                           B64Case{-2147483647 - 1, "-200000"},
                                           B64Case{-8388608, "-W000"}, B64Case{36, "a"},
                                           B64Case{62, "#"}, B64Case{1073741824, "100000"}));

TEST(Base64Integer, RoundTripsEverySampledValue) {
    char out[8];
    for (long long x = -2147483648LL; x <= 2147483647LL; x += 65521) {
        int v = static_cast<int>(x);
        int n = cQV_DataConv::LongToStr64(v, out);
        out[n] = '\0';
        int back = 0;
        ASSERT_EQ(cQV_DataConv::Str64ToLong(out, back), n);
        ASSERT_EQ(back, v) << out;
    }
}

TEST(Base64Integer, MalformedTextReadsOnlyWhatIsThere) {
    struct {
        const char *text;
        int consumed, value;
    } cases[] = {
        {"", 0, 0},
        {"-", 1, 0},
        {"!", 0, 0},
        {"1234567", 6, 0},
        {"12\xC3"
         "4",
         2, 66},
        {"-$$!", 3, -4095},
        {"--1", 1, 0},
        {"Z ", 1, 35},
    };
    // 6 digits keep only the low 32 bits of the 36-bit value.
    int expect6 = static_cast<int>((((((1u << 6 | 2u) << 6 | 3u) << 6 | 4u) << 6 | 5u) << 6) | 6u);
    cases[3].value = expect6;
    for (auto &c : cases) {
        int v = 99;
        EXPECT_EQ(cQV_DataConv::Str64ToLong(c.text, v), c.consumed) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    int v = 7;
    EXPECT_EQ(cQV_DataConv::Str64ToLong(nullptr, v), 0);
    // Reading stops at the NUL: a buffer that ends right after its digits is not read past.
    char exact[2] = {'Q', '\0'};
    EXPECT_EQ(cQV_DataConv::Str64ToLong(exact, v), 1);
    EXPECT_EQ(v, 26);
}

// ---------------------------------------------------------------------------------------------

namespace {

// Switches to a locale whose decimal point is ',' if this machine has one; restores "C" after.
struct CommaLocale {
    bool active = false;
    CommaLocale() {
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German_Germany.1252",
                                 "German", "fr_FR.UTF-8", "French"}) {
            if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',') {
                active = true;
                return;
            }
        }
        std::setlocale(LC_ALL, "C");
    }
    ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
};

} // namespace

TEST(DoubleText, SixteenDigitsThatReadBack) {
    const double values[] = {0.0,
                             -0.0,
                             0.1,
                             1.0 / 3.0,
                             -2.5,
                             1e16,
                             123456789012345678.0,
                             1e-300,
                             5e-324,
                             2.2250738585072014e-308,
                             1.7976931348623157e308,
                             -1.7976931348623157e308,
                             1.7976931348623155e308,
                             3.141592653589793};
    for (double d : values) {
        char out[40];
        int n = cQV_DataConv::DblToStr(d, out);
        ASSERT_EQ(n, static_cast<int>(std::strlen(out)));
        double back = 1;
        ASSERT_EQ(cQV_DataConv::StrToDbl(out, back), n) << out;
        ASSERT_TRUE(std::isfinite(back)) << out;
        if (d == 0) {
            EXPECT_EQ(back, 0.0);
        } else {
            EXPECT_LE(std::fabs(back - d) / std::fabs(d), 1e-15) << out;
        }
    }
    char out[40];
    cQV_DataConv::DblToStr(0.1, out);
    EXPECT_STREQ(out, "0.1");
    cQV_DataConv::DblToStr(1.0 / 3.0, out);
    EXPECT_STREQ(out, "0.3333333333333333");
    cQV_DataConv::DblToStr(1e20, out);
    EXPECT_STREQ(out, "1e+20");
    // The largest double rounds up past itself at 16 digits; it is written with 17.
    cQV_DataConv::DblToStr(DBL_MAX, out);
    EXPECT_STREQ(out, "1.7976931348623157e+308");
}

TEST(DoubleText, ReadsAsStrtodDoes) {
    struct {
        const char *text;
        int consumed;
        double value;
    } cases[] = {{"2.5kg", 3, 2.5},
                 {"  -1e3x", 6, -1000.0},
                 {"abc", 0, 0.0},
                 {"", 0, 0.0},
                 {".5", 2, 0.5},
                 {"+7", 2, 7.0},
                 {"1,5", 1, 1.0},
                 {"0x10", 1, 0.0},
                 {"-0X1p3", 2, -0.0},
                 {" inf", 4, HUGE_VAL},
                 {"-Infinity!", 9, -HUGE_VAL},
                 {"infinit", 3, HUGE_VAL},
                 {"1e999", 5, HUGE_VAL},
                 {"-.", 0, 0.0},
                 {"+", 0, 0.0},
                 {"5.", 2, 5.0},
                 {"1e", 1, 1.0},
                 {"1e+x", 1, 1.0}};
    for (auto &c : cases) {
        double v = 99;
        EXPECT_EQ(cQV_DataConv::StrToDbl(c.text, v), c.consumed) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    double v = 0;
    EXPECT_EQ(cQV_DataConv::StrToDbl("nan(x)", v), 3);
    EXPECT_TRUE(std::isnan(v));
    char out[40];
    cQV_DataConv::DblToStr(-HUGE_VAL, out);
    EXPECT_EQ(cQV_DataConv::StrToDbl(out, v), static_cast<int>(std::strlen(out)));
    EXPECT_EQ(v, -HUGE_VAL);
}

TEST(DoubleText, LocaleDoesNotChangeTheText) {
    char before[40];
    cQV_DataConv::DblToStr(1234.5678, before);
    CommaLocale comma;
    if (!comma.active) GTEST_SKIP() << "no locale with a decimal comma on this machine";
    char out[40];
    cQV_DataConv::DblToStr(1234.5678, out);
    EXPECT_STREQ(out, before);
    EXPECT_STREQ(out, "1234.5678");
    double v = 0;
    EXPECT_EQ(cQV_DataConv::StrToDbl("1234.5678", v), 9);
    EXPECT_EQ(v, 1234.5678);
    EXPECT_EQ(cQV_DataConv::StrToDbl("3,25", v), 1);
    EXPECT_EQ(v, 3.0);
}
