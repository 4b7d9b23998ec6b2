#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "image_loading/spi_loader.h"
#include "loader_test_support.h"
#include "platform/errors.h"

namespace {

constexpr uint32_t BetaBit = 1u << 0;
constexpr uint32_t AlphaBit = 1u << 1;

// A Windows bitmap file with the given information-header size and a 1 x 1 picture; sizes
// other than 12 and 40 bytes are zero-padded.
std::vector<uint8_t> BmpWithHeaderSize(uint32_t headerSize)
{
    std::vector<uint8_t> out = {'B', 'M'};
    auto put = [&](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    put(14 + headerSize + 4, 4);
    put(0, 4);
    put(14 + headerSize, 4);
    put(headerSize, 4);
    put(1, 4);
    put(1, 4);
    put(1, 2);
    put(24, 2);
    out.resize(14 + headerSize, 0);
    put(0x00FF0000, 4);
    return out;
}

// 2 x 2, 24 bits: red, green on top; blue, white below.
Dib Rgb24()
{
    return MakeDib(2, 24, {}, {{0, 0, 255, 0, 255, 0}, {255, 0, 0, 255, 255, 255}});
}
const std::vector<std::vector<TColor>> Rgb24Colors = {{0x0000FF, 0x00FF00},
                                                      {0xFF0000, 0xFFFFFF}};

// 3 x 2, 8 bits through a three-colour table.
Dib Indexed8()
{
    return MakeDib(3, 8, {{0, 0, 0, 0}, {30, 20, 10, 0}, {50, 100, 200, 0}},
                   {{1, 2, 0}, {2, 0, 1}});
}
const std::vector<std::vector<TColor>> Indexed8Colors = {{0x1E140A, 0x3264C8, 0x000000},
                                                         {0x3264C8, 0x000000, 0x1E140A}};

class LoaderTest : public testing::Test {
protected:
    void LoadFixtureModules()
    {
        loader.LoadPlugins(KETTO_FIXTURE_MODULE_DIR "/");
        ASSERT_NE(Beta(), nullptr);
        ASSERT_NE(Alpha(), nullptr);
        Stats(Beta()) = {};
        Stats(Alpha()) = {};
    }
    TSpi_plugin *Beta() const { return loader.FFirstPlugin; }
    TSpi_plugin *Alpha() const
    {
        return loader.FFirstPlugin ? loader.FFirstPlugin->FNext : nullptr;
    }
    int32_t Calls(const TSpi_plugin *p) const
    {
        const FixtureStats &s = Stats(p);
        return s.is_supported_calls + s.info_calls + s.picture_calls;
    }

    std::string WriteBmp(const std::string &name, int width, int height)
    {
        TBitmap picture(width, height);
        const std::string path = dir / name;
        picture.SaveToFile(path);
        return path;
    }

    ScratchDir dir;
    TSpiload loader;
};

TEST_F(LoaderTest, KeepsOnlyLoadableModulesInByteOrderOfTheirNames)
{
    for (const std::string &folder :
         {std::string(KETTO_FIXTURE_MODULE_DIR), std::string(KETTO_FIXTURE_MODULE_DIR "/")}) {
        loader.LoadPlugins(folder.c_str());
        EXPECT_EQ(loader.FPluginDir, folder);
        // Beta.SPI sorts first by bytes; the refused modules and the text file are left out.
        ASSERT_NE(Beta(), nullptr);
        void *beta = dlopen(FixtureModule("Beta.SPI").c_str(), RTLD_NOW | RTLD_NOLOAD);
        void *alpha = dlopen(FixtureModule("alpha.spi").c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(Beta()->FModule, beta);
        ASSERT_NE(Alpha(), nullptr);
        EXPECT_EQ(Alpha()->FModule, alpha);
        EXPECT_EQ(Alpha()->FNext, nullptr);
        dlclose(beta);
        dlclose(alpha);
        for (const char *refused : {"required_only.spi", "no_picture.Spi", "archive_only.spi"})
            EXPECT_FALSE(IsLoaded(FixtureModule(refused))) << refused;
    }
}

TEST_F(LoaderTest, ASecondSearchReplacesTheListAndUnloadsTheOldModules)
{
    LoadFixtureModules();
    ASSERT_TRUE(loader.SetFile(dir.Write("a.kfx", FixturePicture(BetaBit).Bytes()).c_str()));
    loader.LoadPlugins(dir.Path().c_str());
    EXPECT_EQ(loader.FFirstPlugin, nullptr);
    EXPECT_EQ(loader.FPlugin, nullptr);
    EXPECT_FALSE(IsLoaded(FixtureModule("Beta.SPI")));
    EXPECT_FALSE(IsLoaded(FixtureModule("alpha.spi")));
}

TEST_F(LoaderTest, WithoutPluginsNativeKindsStillLoad)
{
    const std::string bmp = WriteBmp("photo.bmp", 3, 2);
    const std::string ico = WriteBmp("icon.ico", 4, 5);
    for (const std::string &folder : {dir.Path(), dir / "missing", std::string()}) {
        loader.LoadPlugins(folder.c_str());
        EXPECT_EQ(loader.FFirstPlugin, nullptr) << folder;
        ASSERT_TRUE(loader.SetFile(bmp.c_str()));
        ASSERT_TRUE(loader.LoadBitmap());
        EXPECT_EQ(loader.FBitmap->Width(), 3);
        EXPECT_EQ(loader.FBitmap->Height(), 2);
        ASSERT_TRUE(loader.SetFile(ico.c_str()));
        ASSERT_TRUE(loader.LoadBitmap());
        EXPECT_EQ(loader.FBitmap->Width(), 4);
        EXPECT_FALSE(loader.SetFile((dir / "photo.gif").c_str()));
    }
}

TEST_F(LoaderTest, ExtensionDecidesTheNativeKinds)
{
    loader.LoadPlugins(dir.Path().c_str());
    const std::string longExt(40, 'x');
    const std::string e14 = [] {
        std::string s;
        for (int i = 0; i < 20; ++i)
            s += "\xC3\xA9";
        return s;
    }();
    const struct {
        std::string name;
        std::string ext;
        bool native;
    } cases[] = {
        {"photo.bmp", ".BMP", true},
        {"PHOTO.Bmp", ".BMP", true},
        {"photo.BMP", ".BMP", true},
        {"archive.tar.bmp", ".BMP", true},
        {"x.ico", ".ICO", true},
        {"x.Wmf", ".WMF", true},
        {"x.emf", ".EMF", true},
        {"pics.d/noext", "", false},
        {"x.bmpx", ".BMPX", false},
        {"x.jpeg", ".JPEG", false},
        {"x.gif", ".GIF", false},
        {"x.bm", ".BM", false},
        // Too long for FExt: kept cut to 31 bytes, never equal to a native kind, and never cut
        // inside a character.
        {"x.bmp" + longExt, ".BMP" + std::string(27, 'X'), false},
        {"x.a" + e14, ".A" + e14.substr(0, 28), false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(loader.SetFile((dir / c.name).c_str()), c.native) << c.name;
        EXPECT_EQ(std::string(loader.FExt), c.ext) << c.name;
        EXPECT_EQ(loader.FFileName, dir / c.name);
        EXPECT_EQ(loader.FPlugin, nullptr);
    }
}

TEST_F(LoaderTest, NativeNamesAreNeitherOpenedNorOffered)
{
    LoadFixtureModules();
    // None of these exist: opening one to offer it would fail the check.
    for (const char *name : {"photo.bmp", "PHOTO.Bmp", "photo.BMP", "archive.tar.bmp"}) {
        EXPECT_TRUE(loader.SetFile((dir / name).c_str())) << name;
        EXPECT_EQ(loader.FPlugin, nullptr);
    }
    EXPECT_EQ(Calls(Beta()) + Calls(Alpha()), 0);
}

TEST_F(LoaderTest, FirstAcceptingPluginWinsAndEveryOneAskedGetsItsOwnHandle)
{
    LoadFixtureModules();
    const struct {
        uint32_t mask;
        int winner; // 0 Beta, 1 Alpha, -1 none
        int alphaAsked;
    } cases[] = {
        {BetaBit, 0, 0},
        {BetaBit | AlphaBit, 0, 0},
        {AlphaBit, 1, 1},
        {0, -1, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mask);
        Stats(Beta()) = {};
        Stats(Alpha()) = {};
        // No extension at all, in a folder whose name has a dot: the plug-ins are asked.
        const std::string file = dir.Write("pics.d/noext", FixturePicture(c.mask).Bytes());
        EXPECT_EQ(loader.SetFile(file.c_str()), c.winner >= 0);
        EXPECT_STREQ(loader.FExt, "");
        EXPECT_EQ(loader.FPlugin, c.winner == 0 ? Beta() : c.winner == 1 ? Alpha() : nullptr);

        EXPECT_EQ(Stats(Beta()).is_supported_calls, 1);
        EXPECT_EQ(Stats(Alpha()).is_supported_calls, c.alphaAsked);
        for (const TSpi_plugin *asked : {Beta(), Alpha()}) {
            const FixtureStats &s = Stats(asked);
            if (s.is_supported_calls == 0)
                continue;
            EXPECT_EQ(s.last_offset, 0);
            // Only the plug-in's own handle was open: the previous one was closed first.
            EXPECT_EQ(s.handles_open, 1);
            EXPECT_FALSE(DescriptorOpen(s.last_fd));
        }
    }
}

TEST_F(LoaderTest, FileThatCannotBeOpenedIsOfferedToNoPlugin)
{
    LoadFixtureModules();
    ASSERT_EQ(mkdir((dir / "folder.png").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    for (const char *name : {"missing.png", "folder.png", "pipe.png"}) {
        EXPECT_FALSE(loader.SetFile((dir / name).c_str())) << name;
        EXPECT_EQ(loader.FPlugin, nullptr);
    }
    EXPECT_EQ(Calls(Beta()) + Calls(Alpha()), 0);
}

TEST_F(LoaderTest, EmptyBmpFileLoadsNothingAndAsksNoPlugin)
{
    LoadFixtureModules();
    ASSERT_TRUE(loader.SetFile(dir.Write("a.kfx", FixturePicture(BetaBit).Bytes()).c_str()));
    Stats(Beta()) = {};
    ASSERT_TRUE(loader.SetFile(dir.Write("x.bmp", {}).c_str()));
    EXPECT_EQ(loader.FPlugin, nullptr);
    EXPECT_FALSE(loader.LoadBitmap());
    ASSERT_NE(loader.FBitmap, nullptr);
    EXPECT_TRUE(loader.FBitmap->Empty());
    EXPECT_EQ(Calls(Beta()) + Calls(Alpha()), 0);
}

TEST_F(LoaderTest, NativeReaderErrorsPassThroughAndLeaveAnEmptyBitmap)
{
    const std::string good = WriteBmp("good.bmp", 2, 2);
    const std::string v4 = dir.Write("v4.bmp", BmpWithHeaderSize(108));
    const std::string v5 = dir.Write("v5.bmp", BmpWithHeaderSize(124));
    const std::string missing = dir / "missing.bmp";
    const struct {
        std::string path;
        bool invalidGraphic; // otherwise the open error
    } cases[] = {{v4, true}, {v5, true}, {missing, false}};
    for (const auto &c : cases) {
        ASSERT_TRUE(loader.SetFile(good.c_str()));
        ASSERT_TRUE(loader.LoadBitmap());
        ASSERT_TRUE(loader.SetFile(c.path.c_str()));
        if (c.invalidGraphic)
            EXPECT_THROW(loader.LoadBitmap(), EInvalidGraphic) << c.path;
        else
            EXPECT_THROW(loader.LoadBitmap(), EFOpenError) << c.path;
        EXPECT_TRUE(loader.FBitmap->Empty()) << c.path;
    }
}

// One decode through a fixture module, after a good picture was decoded, so that every outcome
// also shows whether the previous picture is gone.
struct DecodeCase {
    const char *name;
    FixturePicture picture;
    bool result;
    int width, height;          // FBitmap afterwards; 0 x 0 is the empty bitmap
    int32_t colorDepth;         // FColorDepth afterwards (the good picture leaves 24)
    uint32_t lastError;         // FLastError afterwards
    int pictureCalls;
    std::vector<std::vector<TColor>> colors; // checked when not empty
};

void PrintTo(const DecodeCase &c, std::ostream *os) { *os << c.name; }

template <typename Change>
FixturePicture Picture(const Dib &dib, int16_t depth, Change change)
{
    FixturePicture p(BetaBit, dib, depth);
    change(p);
    return p;
}

void SetInfoField(Dib &dib, size_t offset, uint32_t value)
{
    std::memcpy(dib.info.data() + offset, &value, sizeof value);
}

std::vector<DecodeCase> DecodeCases()
{
    auto same = [](FixturePicture &) {};
    return {
        {"Decodes24Bit", Picture(Rgb24(), 24, same), true, 2, 2, 24, 0, 1, Rgb24Colors},
        {"Decodes8Bit", Picture(Indexed8(), 8, same), true, 3, 2, 8, 0, 1, Indexed8Colors},
        {"TextBlockIsFreed",
         Picture(Rgb24(), 24, [](FixturePicture &p) { p.header.text_info = 1; }), true, 2, 2, 24,
         0, 1, Rgb24Colors},
        {"InfoFails",
         Picture(Rgb24(), 16,
                 [](FixturePicture &p) {
                     p.header.info_result = SPI_UNKNOWN_FORMAT;
                     p.header.text_info = 1;
                 }),
         false, 0, 0, 24, 0, 0, {}},
        {"PictureFails",
         Picture(Indexed8(), 8,
                 [](FixturePicture &p) { p.header.picture_result = SPI_BROKEN_DATA; }),
         false, 3, 2, 8, 0, 1, {}},
        {"RecordBeyondLimits",
         Picture(Rgb24(), 32,
                 [](FixturePicture &p) { p.header.width = p.header.height = 100000; }),
         false, 0, 0, 32, 0, 0, {}},
        {"RecordWithoutArea",
         Picture(Rgb24(), 32, [](FixturePicture &p) { p.header.height = 0; }), false, 0, 0, 32,
         0, 0, {}},
        {"RecordNegativeHeight",
         Picture(Rgb24(), 32, [](FixturePicture &p) { p.header.height = -2; }), false, 0, 0, 32,
         0, 0, {}},
        {"InfoWidthNotRecordWidth",
         Picture(Rgb24(), 24, [](FixturePicture &p) { SetInfoField(p.dib, 4, 3); }), false, 2,
         2, 24, EINVAL, 1, {}},
        {"RecordTallerThanInfo",
         Picture(Rgb24(), 24, [](FixturePicture &p) { p.header.height = 3; }), false, 2, 3, 24,
         EINVAL, 1, {}},
        {"PixelBlockTooSmall",
         Picture(Rgb24(), 24, [](FixturePicture &p) { p.dib.bits.pop_back(); }), false, 2, 2, 24,
         EINVAL, 1, {}},
        {"ColourTableLargerThanBlock",
         Picture(Indexed8(), 8, [](FixturePicture &p) { SetInfoField(p.dib, 32, 256); }), false,
         3, 2, 8, EINVAL, 1, {}},
        {"InfoBlockShorterThanHeader",
         Picture(Rgb24(), 24, [](FixturePicture &p) { p.dib.info.resize(20); }), false, 2, 2, 24,
         EINVAL, 1, {}},
        {"NoBlocksButSuccess",
         Picture(Rgb24(), 24,
                 [](FixturePicture &p) { p.header.null_info = p.header.null_bits = 1; }),
         false, 2, 2, 24, EINVAL, 1, {}},
        {"NoPixelBlockButSuccess",
         Picture(Rgb24(), 24, [](FixturePicture &p) { p.header.null_bits = 1; }), false, 2, 2,
         24, EINVAL, 1, {}},
        {"NoInfoBlockButSuccess",
         Picture(Rgb24(), 24, [](FixturePicture &p) { p.header.null_info = 1; }), false, 2, 2,
         24, EINVAL, 1, {}},
    };
}

class PluginDecode : public LoaderTest, public testing::WithParamInterface<DecodeCase> {};

TEST_P(PluginDecode, FillsOrEmptiesTheBitmapAsTheModuleAnswers)
{
    const DecodeCase &c = GetParam();
    LoadFixtureModules();
    const std::string good = dir.Write("good.kfx", FixturePicture(BetaBit, Rgb24()).Bytes());
    ASSERT_TRUE(loader.SetFile(good.c_str()));
    ASSERT_TRUE(loader.LoadBitmap());
    ASSERT_EQ(loader.FBitmap->Width(), 2);
    Stats(Beta()) = {};

    ASSERT_TRUE(loader.SetFile(dir.Write("case.kfx", c.picture.Bytes()).c_str()));
    ASSERT_EQ(loader.FPlugin, Beta());
    EXPECT_EQ(loader.LoadBitmap(), c.result);
    ASSERT_NE(loader.FBitmap, nullptr);
    EXPECT_EQ(loader.FBitmap->Width(), c.width);
    EXPECT_EQ(loader.FBitmap->Height(), c.height);
    EXPECT_EQ(loader.FColorDepth, c.colorDepth);
    EXPECT_EQ(loader.FLastError, c.lastError);
    EXPECT_EQ(Stats(Beta()).info_calls, 1);
    EXPECT_EQ(Stats(Beta()).picture_calls, c.pictureCalls);
    EXPECT_EQ(Calls(Alpha()), 0);
    for (size_t y = 0; y < c.colors.size(); ++y)
        for (size_t x = 0; x < c.colors[y].size(); ++x)
            EXPECT_EQ(loader.FBitmap->Canvas().Pixels(int(x), int(y)), c.colors[y][x])
                << "at " << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Cases, PluginDecode, testing::ValuesIn(DecodeCases()),
                         [](const testing::TestParamInfo<DecodeCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
