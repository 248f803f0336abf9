// Directory creation, deletion (links never followed) and search.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "io_test_util.h"
#include "qv_file.h"

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#else
#include <unistd.h>
#endif

using namespace Quorvel;
namespace fs = iotest::fs;

namespace {

class DirTest : public iotest::TempDirTest {};

bool startsWith(const std::string &s, const std::string &prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// ---- osCreateDirectory ----

TEST_F(DirTest, CreateRecursiveWithEitherSeparator) {
    cQV_Error err;
    err.Set(9, "x", 1, "stale"); // a successful create clears the record
    std::string path = Path("a") + "\\b/c\\";
    ASSERT_TRUE(osCreateDirectory(&err, path.c_str(), true)) << (const char *)err.text;
    EXPECT_EQ(0, err.code);
    EXPECT_TRUE(fs::is_directory(Path("a")));
    EXPECT_TRUE(fs::is_directory(fs::path(Path("a")) / "b"));
    EXPECT_TRUE(fs::is_directory(fs::path(Path("a")) / "b" / "c"));
    EXPECT_TRUE(osIsDirectory(path.c_str()));

    // An existing directory: true at once, the record untouched.
    err.Set(9, "x", 1, "kept");
    EXPECT_TRUE(osCreateDirectory(&err, path.c_str(), true));
    EXPECT_TRUE(osCreateDirectory(&err, Path("a").c_str(), false));
    EXPECT_EQ(9, err.code);
    EXPECT_STREQ("kept", (const char *)err.text);
}

TEST_F(DirTest, CreateRecursiveAlongsideOtherCreators) {
    // Several creators of one path (threads here, processes in practice) race between
    // the existence check and the creation; each must end with the directory made.
    const int kThreads = 8;
    for (int round = 0; round < 30; ++round) {
        std::string path = Path("r" + std::to_string(round));
        for (const char *part : {"a", "b", "c", "d"})
            path += iotest::kSep + std::string(part);
        std::atomic<int> ready{0};
        std::atomic<int> failed{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                ++ready;
                while (ready.load() < kThreads)
                    std::this_thread::yield();
                cQV_Error err;
                if (!osCreateDirectory(&err, path.c_str(), true) || err.code != 0) ++failed;
            });
        }
        for (std::thread &th : threads)
            th.join();
        ASSERT_EQ(0, failed.load()) << "round " << round;
        ASSERT_TRUE(fs::is_directory(path));
    }
}

TEST_F(DirTest, CreateFailures) {
    cQV_Error err;
    EXPECT_FALSE(osCreateDirectory(&err, "", true));
    EXPECT_EQ(3, err.code);
    EXPECT_STREQ("osio", (const char *)err.file);
    EXPECT_STREQ("Directory with empty name can not be created", (const char *)err.text);

    // Without recursion a missing parent fails with the system's reason.
    std::string deep = Path("x") + iotest::kSep + "y";
    EXPECT_FALSE(osCreateDirectory(&err, deep.c_str(), false));
    EXPECT_TRUE(startsWith(std::string(err.text),
                           "Failed to create directory " + deep + ". GetLastError()="))
        << (const char *)err.text;
    EXPECT_FALSE(fs::exists(Path("x")));

    // A file where a parent should be: recursion cannot help.
    WriteFile("file", "x");
    std::string under = Path("file") + iotest::kSep + "sub";
    EXPECT_FALSE(osCreateDirectory(&err, under.c_str(), true));
    EXPECT_EQ(3, err.code);
    // The parent that could not be made is the one named.
    EXPECT_TRUE(startsWith(std::string(err.text),
                           "Failed to create directory " + Path("file") + ". GetLastError()="))
        << (const char *)err.text;

    // A name without any separator has no parent to make: a file of that name blocks it.
    fs::path cwd = fs::current_path();
    fs::current_path(root_);
    bool made = osCreateDirectory(&err, "file", true);
    fs::current_path(cwd);
    EXPECT_FALSE(made);
    EXPECT_STREQ("Failed to create directory file", (const char *)err.text);

    // A top folder that cannot be made (its name is too long) below the root: the
    // root is its parent, and the message tells the system's reason.
    std::string top = iotest::kSep + std::string(300, 'q');
    std::string below = top + iotest::kSep + "sub";
    EXPECT_FALSE(osCreateDirectory(&err, below.c_str(), true));
    EXPECT_TRUE(startsWith(std::string(err.text),
                           "Failed to create directory " + top + ". GetLastError()="))
        << (const char *)err.text;
}

// ---- osDeleteDirectory ----

TEST_F(DirTest, DeleteNonRecursiveRemovesFilesAndEmptyFolders) {
    fs::create_directories(Path("d") + iotest::kSep + "empty");
    WriteFile(std::string("d") + iotest::kSep + "file", "x");
    cQV_Error err;
    EXPECT_TRUE(osDeleteDirectory(&err, Path("d").c_str(), false)) << (const char *)err.text;
    EXPECT_FALSE(fs::exists(Path("d")));
}

TEST_F(DirTest, DeleteNonRecursiveReportsANonEmptyFolder) {
    std::string sub = Path("d") + iotest::kSep + "full";
    fs::create_directories(sub);
    WriteFile(std::string("d") + iotest::kSep + "full" + iotest::kSep + "inner", "x");
    WriteFile(std::string("d") + iotest::kSep + "file", "x");
    cQV_Error err;
    EXPECT_FALSE(osDeleteDirectory(&err, Path("d").c_str(), false));
    EXPECT_EQ(3, err.code);
    std::string text(err.text);
    EXPECT_TRUE(startsWith(text, "dir [" + sub + "] GetLastError()=")) << text;
    EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << text; // one line
    EXPECT_EQ('\n', text.back());
    EXPECT_TRUE(fs::exists(sub));                                // the folder stays
    EXPECT_FALSE(fs::exists(Path("d") + iotest::kSep + "file")); // every entry was tried
}

TEST_F(DirTest, DeleteRecursiveTree) {
    std::string deep = Path("t") + iotest::kSep + "a" + iotest::kSep + "b";
    fs::create_directories(deep);
    fs::create_directories(Path("t") + iotest::kSep + "c");
    WriteFile(std::string("t") + iotest::kSep + "a" + iotest::kSep + "b" + iotest::kSep + "f", "1");
    WriteFile(std::string("t") + iotest::kSep + "g", "2");
    cQV_Error err;
    std::string withSlash = Path("t") + iotest::kSep;
    EXPECT_TRUE(osDeleteDirectory(&err, withSlash.c_str(), true)) << (const char *)err.text;
    EXPECT_FALSE(fs::exists(Path("t")));
}

TEST_F(DirTest, DeleteOfMissingPathFailsAsFileDeletion) {
    cQV_Error err;
    std::string missing = Path("none");
    EXPECT_FALSE(osDeleteDirectory(&err, missing.c_str(), true));
    EXPECT_TRUE(startsWith(std::string(err.text),
                           "Failed to delete file [" + missing + iotest::kSep + "]. "))
        << (const char *)err.text;
}

#ifdef _WIN32
bool isReparsePoint(const std::string &path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}
#endif

// Makes `link` point at the folder `target`: a symbolic link on POSIX, a junction on
// Windows. False when the system cannot make one here.
bool makeDirLink(const std::string &target, const std::string &link) {
#ifdef _WIN32
    // Some systems answer success without making the link: check that it is there.
    if (CreateSymbolicLinkA(link.c_str(), target.c_str(), 0x1 | 0x2) && isReparsePoint(link))
        return true;
    // A junction: a mount-point reparse point on an empty folder.
    if (!CreateDirectoryA(link.c_str(), nullptr)) return false;
    HANDLE h = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        RemoveDirectoryA(link.c_str());
        return false;
    }
    char full[MAX_PATH];
    GetFullPathNameA(target.c_str(), MAX_PATH, full, nullptr);
    std::wstring sub = L"\\??\\";
    for (const char *p = full; *p; ++p)
        sub += static_cast<wchar_t>(*p);
    std::vector<unsigned char> buf(8 + 8 + (sub.size() + 2) * 2 + 16, 0);
    unsigned short subBytes = static_cast<unsigned short>(sub.size() * 2);
    auto put16 = [&](size_t at, unsigned v) {
        buf[at] = static_cast<unsigned char>(v);
        buf[at + 1] = static_cast<unsigned char>(v >> 8);
    };
    unsigned dataLen = 8 + subBytes + 2 + 2; // offsets + substitute + NUL + empty print name NUL
    buf[0] = 0x03;
    buf[1] = 0x00;
    buf[2] = 0x00;
    buf[3] = 0xA0; // IO_REPARSE_TAG_MOUNT_POINT
    put16(4, dataLen);
    put16(8, 0);              // substitute name offset
    put16(10, subBytes);      // substitute name length
    put16(12, subBytes + 2u); // print name offset
    put16(14, 0);             // print name length
    memcpy(&buf[16], sub.data(), subBytes);
    DWORD ret = 0;
    BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), 8 + dataLen, nullptr, 0, &ret,
                              nullptr);
    CloseHandle(h);
    if (!ok) RemoveDirectoryA(link.c_str());
    return ok && isReparsePoint(link);
#else
    return symlink(target.c_str(), link.c_str()) == 0;
#endif
}

bool makeFileLink(const std::string &target, const std::string &link) {
#ifdef _WIN32
    return CreateSymbolicLinkA(link.c_str(), target.c_str(), 0x2) && isReparsePoint(link);
#else
    return symlink(target.c_str(), link.c_str()) == 0;
#endif
}

TEST_F(DirTest, DeleteDirectory_DoesNotFollowLinks) {
    // An unrelated folder with data, and a folder to delete that holds links into it.
    std::string victim = Path("victim");
    fs::create_directories(victim + iotest::kSep + "deep");
    WriteFile(std::string("victim") + iotest::kSep + "precious", "data");
    WriteFile(std::string("victim") + iotest::kSep + "deep" + iotest::kSep + "more", "data");

    for (bool recursive : {true, false}) {
        std::string doomed = Path("doomed");
        fs::create_directories(doomed);
        if (!makeDirLink(victim, doomed + iotest::kSep + "dirlink"))
            GTEST_SKIP() << "no directory links on this system";
        bool fileLink =
            makeFileLink(victim + iotest::kSep + "precious", doomed + iotest::kSep + "filelink");
        cQV_Error err;
        EXPECT_TRUE(osDeleteDirectory(&err, doomed.c_str(), recursive))
            << "recursive " << recursive << ": " << (const char *)err.text;
        EXPECT_FALSE(fs::exists(fs::symlink_status(doomed)));
        EXPECT_EQ("data", ReadFile(std::string("victim") + iotest::kSep + "precious"))
            << "recursive " << recursive << (fileLink ? "" : " (no file link)");
        EXPECT_EQ("data",
                  ReadFile(std::string("victim") + iotest::kSep + "deep" + iotest::kSep + "more"));
    }
}

TEST_F(DirTest, DeleteDirectory_GivenALinkRemovesOnlyTheLink) {
    std::string victim = Path("victim");
    fs::create_directories(victim);
    WriteFile(std::string("victim") + iotest::kSep + "precious", "data");
    std::string link = Path("link");
    // However many separators end the path, it names the link, not its target.
    for (const char *ending : {"", "/", "\\", "//", "/\\/"}) {
        if (!makeDirLink(victim, link)) GTEST_SKIP() << "no directory links on this system";
        cQV_Error err;
        std::string given = link + ending;
        EXPECT_TRUE(osDeleteDirectory(&err, given.c_str(), true))
            << given << ": " << (const char *)err.text;
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << given;
        EXPECT_EQ("data", ReadFile(std::string("victim") + iotest::kSep + "precious")) << given;
    }
}

TEST_F(DirTest, DeleteDirectory_OfAFileOrAFileLinkFailsAsFileDeletion) {
    // Neither names a folder: both fail as the deletion of "<path><sep>", and stay.
    WriteFile("plain", "data");
    bool haveLink = makeFileLink(Path("plain"), Path("filelink"));
    for (const char *name : {"plain", "filelink"}) {
        if (std::string(name) == "filelink" && !haveLink) continue;
        cQV_Error err;
        std::string path = Path(name);
        EXPECT_FALSE(osDeleteDirectory(&err, path.c_str(), true)) << name;
        EXPECT_TRUE(startsWith(std::string(err.text),
                               "Failed to delete file [" + path + iotest::kSep + "]. "))
            << (const char *)err.text;
        EXPECT_TRUE(fs::exists(fs::symlink_status(path))) << name;
    }
    EXPECT_EQ("data", ReadFile("plain"));
}

#ifndef _WIN32
// A POSIX name may hold backslashes, which path arguments take as separators: such an
// entry, addressed by its path, would name another entry, here a folder outside the
// one being deleted. The entry is left and reported; nothing outside is touched.
TEST_F(DirTest, DeleteDirectory_NameWithBackslashesStaysInside) {
    fs::create_directories(Path("victim"));
    WriteFile(std::string("victim") + iotest::kSep + "precious", "data");
    fs::create_directories(Path("doomed"));
    WriteFile(std::string("doomed") + iotest::kSep + "..\\victim", "x");
    WriteFile(std::string("doomed") + iotest::kSep + "plain", "x");

    cQV_Error err;
    std::string doomed = Path("doomed");
    EXPECT_FALSE(osDeleteDirectory(&err, doomed.c_str(), true));
    EXPECT_EQ("data", ReadFile(std::string("victim") + iotest::kSep + "precious"));
    EXPECT_EQ(3, err.code);
    EXPECT_TRUE(startsWith((const char *)err.text, "file [" + doomed + "/..\\victim] "))
        << (const char *)err.text;
    const std::string text = (const char *)err.text;
    EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << text;
    EXPECT_TRUE(fs::exists(Path("doomed") + iotest::kSep + "..\\victim"));
    EXPECT_FALSE(fs::exists(Path("doomed") + iotest::kSep + "plain"));
}
#endif

// ---- search ----

class FindTest : public iotest::TempDirTest {
protected:
    std::vector<std::string> FindAll(const char *pattern) {
        std::vector<std::string> names;
        cQV_String name("unchanged");
        void *s = osFileFindFirst(Path().c_str(), pattern, name);
        if (!s) {
            EXPECT_STREQ("unchanged", (const char *)name);
            return names;
        }
        do {
            names.push_back(std::string(name));
        } while (osFileFindNext(s, name));
        osFileFindEnd(s);
        EXPECT_EQ(nullptr, s);
        return names;
    }
};

TEST_F(FindTest, PatternsWithStarAndQuestionMark) {
    for (const char *n : {"a.txt", "b.txt", "c.log", "x[1].txt", "ab"})
        WriteFile(n, "x");
    fs::create_directories(Path("sub"));

    struct {
        const char *pattern;
        std::set<std::string> names;
    } cases[] = {
        {"*.txt", {"a.txt", "b.txt", "x[1].txt"}},
        {"?.log", {"c.log"}},
        {"a?", {"ab"}},
        {"x[1].txt", {"x[1].txt"}}, // brackets are plain bytes
        {"none*", {}},
        {"s*", {"sub"}},
        {"*.*", {".", "..", "a.txt", "b.txt", "c.log", "x[1].txt", "ab", "sub"}}, // every name
    };
    for (const auto &c : cases) {
        auto found = FindAll(c.pattern);
        EXPECT_EQ(c.names, std::set<std::string>(found.begin(), found.end())) << c.pattern;
        EXPECT_EQ(c.names.size(), found.size()) << c.pattern; // each once
    }

    // "*" reports "." and ".." like any other entry, before the rest.
    auto all = FindAll("*");
    ASSERT_EQ(8u, all.size());
    EXPECT_EQ(".", all[0]);
    EXPECT_EQ("..", all[1]);
}

TEST_F(FindTest, NullAndMissing) {
    cQV_String name("unchanged");
    EXPECT_FALSE(osFileFindNext(nullptr, name));
    void *none = nullptr;
    osFileFindEnd(none); // a null search is left alone
    EXPECT_EQ(nullptr, none);
    std::string missing = Path("missing");
    EXPECT_EQ(nullptr, osFileFindFirst(missing.c_str(), "*", name));
    EXPECT_STREQ("unchanged", (const char *)name);
}

TEST_F(DirTest, ExistenceQueries) {
    WriteFile("f", "x");
    EXPECT_TRUE(osFileIsExist(Path("f").c_str()));
    EXPECT_FALSE(osIsDirectory(Path("f").c_str()));
    EXPECT_TRUE(osFileIsExist(Path().c_str()));
    EXPECT_TRUE(osIsDirectory(Path().c_str()));
    EXPECT_FALSE(osFileIsExist(Path("none").c_str()));
    EXPECT_FALSE(osIsDirectory(Path("none").c_str()));
}

} // namespace
