// Classifying an entry looked at without following it, from its attribute bits and reparse tag.
#include "io/entry_kind.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

using namespace Quorvel::detail;

namespace {

struct EntryCase {
    const char *what;
    uint32_t attributes;
    bool tagRead;
    uint32_t tag;
    IoEntry expected;
};

// Tags as the system defines them: symbolic link, junction (mount point), a name surrogate that is
// neither (a projected or container link), and data-only tags (deduplicated, cloud file).
constexpr uint32_t kSymlink = 0xA000000Cu;
constexpr uint32_t kMountPoint = 0xA0000003u;
constexpr uint32_t kOtherSurrogate = 0xA0000019u;
constexpr uint32_t kDedup = 0x80000013u;
constexpr uint32_t kCloud = 0x9000001Au;
constexpr uint32_t kNormal = 0x80u;
constexpr uint32_t kReparse = kIoAttrReparsePoint;
constexpr uint32_t kDir = kIoAttrDirectory;

class ClassifyEntry : public testing::TestWithParam<EntryCase> {};

TEST_P(ClassifyEntry, LinksAreNeverEntered) {
    const EntryCase &c = GetParam();
    EXPECT_EQ(IoClassifyEntry(c.attributes, c.tagRead, c.tag), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClassifyEntry,
    testing::Values(
        EntryCase{"unreadable attributes", kIoAttrInvalid, false, 0, IoEntry::Missing},
        EntryCase{"plain file", kNormal, false, 0, IoEntry::File},
        EntryCase{"plain folder", kDir, false, 0, IoEntry::Directory},
        EntryCase{"folder with a stale tag but no reparse bit", kDir, true, kMountPoint,
                  IoEntry::Directory},
        EntryCase{"folder symbolic link", kDir | kReparse, true, kSymlink, IoEntry::Link},
        EntryCase{"file symbolic link", kReparse, true, kSymlink, IoEntry::Link},
        EntryCase{"junction", kDir | kReparse, true, kMountPoint, IoEntry::Link},
        EntryCase{"other name surrogate on a folder", kDir | kReparse, true, kOtherSurrogate,
                  IoEntry::Link},
        EntryCase{"folder reparse point whose tag cannot be read", kDir | kReparse, false, 0,
                  IoEntry::Link},
        EntryCase{"file reparse point whose tag cannot be read", kReparse, false, 0, IoEntry::Link},
        EntryCase{"deduplicated file", kReparse, true, kDedup, IoEntry::File},
        EntryCase{"cloud folder placeholder", kDir | kReparse, true, kCloud, IoEntry::Directory}));

} // namespace
