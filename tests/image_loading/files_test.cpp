#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "loader_test_support.h"
#include "platform/files.h"

namespace {

struct WildcardCase {
    const char *name;
    const char *pattern;
    bool matches;
};

TEST(MatchesWildcard, StarQuestionMarkAndCase)
{
    const WildcardCase cases[] = {
        {"gif.spi", "*.spi", true},
        {"GIF.SPI", "*.spi", true},
        {"x.Spi", "*.SPI", true},
        {".spi", "*.spi", true},
        {"gif.spi.bak", "*.spi", false},
        {"gif.sp", "*.spi", false},
        {"a.spi.spi", "*.spi", true},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"\xC3\xA9.spi", "?.spi", true}, // one two-byte character
        {"ab", "?", false},
        {"", "*", true},
        {"", "?", false},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*c", false},
    };
    for (const WildcardCase &c : cases)
        EXPECT_EQ(MatchesWildcard(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

TEST(FindFiles, RegularFilesAndLinksToThemInByteOrder)
{
    ScratchDir dir;
    for (const char *name : {"b.spi", "A.SPI", "c.Spi.txt", ".hidden.spi", "notes.txt"})
        dir.Write(name, {1});
    ASSERT_EQ(mkdir((dir / "folder.spi").c_str(), 0755), 0);
    ASSERT_EQ(symlink("b.spi", (dir / "link.spi").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir / "dangling.spi").c_str()), 0);
    ASSERT_EQ(symlink("folder.spi", (dir / "dirlink.spi").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "pipe.spi").c_str(), 0600), 0);

    EXPECT_EQ(FindFiles(dir.Path(), "*.spi"),
              (std::vector<std::string>{".hidden.spi", "A.SPI", "b.spi", "link.spi"}));
}

TEST(FindFiles, UnreadableDirectoryGivesNothingAndRecordsWhy)
{
    SetLastError(0);
    EXPECT_TRUE(FindFiles("/no/such/folder", "*").empty());
    EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ENOENT));
}

TEST(Lopen, OnlyRegularFilesOpenForReadingAtTheStart)
{
    ScratchDir dir;
    const std::string file = dir.Write("picture.dat", {1, 2, 3});
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);

    const HFILE fd = _lopen(file.c_str(), OF_READ | OF_SHARE_DENY_NONE);
    ASSERT_NE(fd, HFILE_ERROR);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_EQ(_lclose(fd), 0);
    EXPECT_FALSE(DescriptorOpen(fd));

    const struct {
        std::string path;
        uint32_t error;
    } refused[] = {{dir / "missing", ENOENT}, {dir.Path(), EISDIR}, {dir / "pipe", EINVAL}};
    for (const auto &r : refused) {
        SetLastError(0);
        EXPECT_EQ(_lopen(r.path.c_str(), OF_READ), HFILE_ERROR) << r.path;
        EXPECT_EQ(GetLastError(), r.error) << r.path;
    }
}

TEST(GlobalBlocks, LockSizeAndFreeOnlyRealBlocks)
{
    HGLOBAL block = SpiBlockAlloc(24);
    EXPECT_EQ(GlobalSize(block), 24u);
    EXPECT_NE(GlobalLock(block), nullptr);
    EXPECT_FALSE(GlobalUnlock(block));
    EXPECT_EQ(GlobalFree(block), nullptr);

    SetLastError(0);
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(GlobalSize(nullptr), 0u);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

} // namespace
