#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dib_builder.h"
#include "platform/bmp.h"
#include "platform/errors.h"

namespace fs = std::filesystem;

namespace {

uint32_t U16At(const std::vector<uint8_t> &b, size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t U32At(const std::vector<uint8_t> &b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// A picture in which every pixel has its own colour, and the alpha byte varies too, so a
// writer that mixes up rows, columns or channels, or writes alpha, shows it.
TBitmap Pattern(int width, int height)
{
    TBitmap b(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.ScanLine(y)[x] = (uint32_t(x * 7 + y) << 24) | (uint32_t(x & 0xFF) << 16) |
                               (uint32_t(y & 0xFF) << 8) | uint32_t((x + y) & 0xFF);
    return b;
}

std::vector<uint8_t> ReadBytes(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
}

// A private folder per test, so "no temporary file is left" can be checked by listing it.
class SaveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() /
                  ("ketto-save-test-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::vector<std::string> Listing() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
};

TEST(BmpWriter, FileLayoutFollowsTheSavedFormat)
{
    struct Case {
        int width, height;
        uint32_t rowBytes;
    } cases[] = {{400, 400, 1200}, {401, 3, 1204}, {1, 1, 4}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const TBitmap picture = Pattern(c.width, c.height);
        const std::vector<uint8_t> file = EncodeBitmapFile(picture);
        const uint32_t imageSize = c.rowBytes * c.height;
        ASSERT_EQ(file.size(), 54 + imageSize);

        EXPECT_EQ(U16At(file, 0), 0x4D42u);
        EXPECT_EQ(U32At(file, 2), file.size());
        EXPECT_EQ(U32At(file, 6), 0u);
        EXPECT_EQ(U32At(file, 10), 54u);
        const uint32_t info[] = {U32At(file, 14), U32At(file, 18), U32At(file, 22),
                                 U16At(file, 26), U16At(file, 28), U32At(file, 30),
                                 U32At(file, 34), U32At(file, 38), U32At(file, 42),
                                 U32At(file, 46), U32At(file, 50)};
        EXPECT_THAT(info, ::testing::ElementsAre(40u, uint32_t(c.width), uint32_t(c.height), 1u,
                                                 24u, 0u, imageSize, 0u, 0u, 0u, 0u));

        // Rows run from the bottom up, blue, green, red, and their padding is zero.
        for (int scan = 0; scan < c.height; ++scan) {
            const size_t row = 54 + size_t(scan) * c.rowBytes;
            const int y = c.height - 1 - scan;
            for (int x : {0, c.width - 1}) {
                const uint32_t p = picture.ScanLine(y)[x];
                EXPECT_EQ(file[row + 3 * x], p & 0xFF);
                EXPECT_EQ(file[row + 3 * x + 1], (p >> 8) & 0xFF);
                EXPECT_EQ(file[row + 3 * x + 2], (p >> 16) & 0xFF);
            }
            for (size_t pad = 3 * size_t(c.width); pad < c.rowBytes; ++pad)
                EXPECT_EQ(file[row + pad], 0) << "padding of row " << scan;
        }
    }
}

TEST(BmpWriter, EncodedFileReadsBackToTheSamePicture)
{
    for (int width : {1, 2, 3, 4, 5, 401}) {
        const TBitmap picture = Pattern(width, 7);
        TBitmap back;
        LoadBitmapBytes(back, EncodeBitmapFile(picture));
        ASSERT_EQ(back.Width(), width);
        EXPECT_EQ(Rgb(back), Rgb(picture)) << "width " << width;
    }
}

TEST_F(SaveTest, SaveReplacesTheFileAndLeavesNothingElse)
{
    const fs::path file = folder_ / "canvas.bmp";
    SaveBitmapFile(Pattern(5, 4), file.string());
    Pattern(3, 9).SaveToFile(file.string());

    TBitmap back;
    back.LoadFromFile(file.string());
    EXPECT_EQ(back.Width(), 3);
    EXPECT_EQ(Rgb(back), Rgb(Pattern(3, 9)));
    EXPECT_THAT(Listing(), ::testing::ElementsAre("canvas.bmp"));
}

TEST_F(SaveTest, KeepsTheOldFilesPermissionsAndGivesANewFileTheUsualOnes)
{
    const fs::path old = folder_ / "old.bmp", fresh = folder_ / "new.bmp";
    WriteBytes(old, {1, 2, 3});
    ::chmod(old.c_str(), 0604);
    const mode_t mask = ::umask(027);
    SaveBitmapFile(Pattern(2, 2), old.string());
    SaveBitmapFile(Pattern(2, 2), fresh.string());
    ::umask(mask);

    struct stat st;
    ASSERT_EQ(::stat(old.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(SaveTest, SavingThroughALinkReplacesTheFileItNames)
{
    const fs::path real = folder_ / "real.bmp", link = folder_ / "link.bmp";
    WriteBytes(real, {1, 2, 3});
    fs::create_symlink("real.bmp", link);
    SaveBitmapFile(Pattern(2, 3), link.string());

    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(real), EncodeBitmapFile(Pattern(2, 3)));
    EXPECT_THAT(Listing(), ::testing::ElementsAre("link.bmp", "real.bmp"));
}

TEST_F(SaveTest, FileThatCannotBeCreatedRaisesTheCreateError)
{
    const std::string names[] = {
        "/nonexistent-ketto-folder/canvas.bmp",
        "/proc/ketto-canvas.bmp", // refused even to root
        folder_.string(),         // a folder, not a file
        "",
    };
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        try {
            SaveBitmapFile(Pattern(2, 2), name);
            ADD_FAILURE() << "no error";
        } catch (const EFCreateError &e) {
            EXPECT_EQ(e.Message(), "ﾌｧｲﾙ " + name + " を作成できません");
        }
    }
    EXPECT_THAT(Listing(), ::testing::IsEmpty());
}

// A save that the file size limit cuts short. The limit is set in a child process, where the
// write also raises SIGXFSZ, which would end the child if the writer did not hold it off; the
// child reports by its exit code what it caught.
TEST_F(SaveTest, WriteCutShortKeepsTheOldFileWholeAndLeavesNoTemporary)
{
    const fs::path file = folder_ / "canvas.bmp";
    std::vector<uint8_t> old(3000);
    for (size_t i = 0; i < old.size(); ++i)
        old[i] = static_cast<uint8_t>(i * 31 + 7);
    WriteBytes(file, old);

    enum { WriteErrorCaught = 10, OtherError = 11, NoError = 12, WrongMessage = 13 };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int code = NoError;
        try {
            SaveBitmapFile(Pattern(100, 100), file.string()); // 30054 bytes
        } catch (const EWriteError &e) {
            code = e.Message() == "ｽﾄﾘｰﾑへの書き込みｴﾗｰ" ? WriteErrorCaught : WrongMessage;
        } catch (...) {
            code = OtherError;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), WriteErrorCaught);
    EXPECT_EQ(ReadBytes(file), old);
    EXPECT_THAT(Listing(), ::testing::ElementsAre("canvas.bmp"));
}

} // namespace
