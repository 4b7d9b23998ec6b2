#include <gtest/gtest.h>

#include <map>
#include <string>

#include "plugin_test_support.h"

namespace plugin_test {
namespace {

// Global table: 0 red, 1 green, 2 blue, 3 grey.
const uint8_t kGlobal[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 128, 128, 128};
// Local table: 0 yellow, 1 cyan.
const uint8_t kLocal[] = {255, 255, 0, 0, 255, 255};

const std::map<char, uint32_t> kColours = {
    {'r', Rgb(255, 0, 0)},   {'g', Rgb(0, 255, 0)},     {'b', Rgb(0, 0, 255)},
    {'.', Rgb(128, 128, 128)}, {'y', Rgb(255, 255, 0)}, {'c', Rgb(0, 255, 255)},
    {'k', Rgb(0, 0, 0)},     {'w', Rgb(255, 255, 255)},
};

// A picture drawn as rows of colour letters separated by '/'.
std::vector<uint32_t> Drawn(const std::string &rows)
{
    std::vector<uint32_t> pixels;
    for (char c : rows)
        if (c != '/')
            pixels.push_back(kColours.at(c));
    return pixels;
}

std::vector<uint8_t> Pattern(int width, int height, int colours)
{
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            pixels.push_back(uint8_t((x + 3 * y) % colours));
    return pixels;
}

GifFrameFixture Frame(int left, int top, int width, int height, const std::vector<uint8_t> &pixels)
{
    return GifFrameFixture{left, top, width, height, 0, nullptr, 0, pixels.data(), -1};
}

Bytes Gif(int width, int height, const std::vector<GifFrameFixture> &frames, int background = 3,
          int gif89 = 1, const uint8_t *global = kGlobal, int global_size = 4)
{
    EncodedFile file;
    int ok = EncodeGif(width, height, gif89, global, global_size, background, frames.data(),
                       int(frames.size()), &file);
    return Take(file, ok);
}

void SetScreenSize(Bytes &gif, int width, int height)
{
    gif[6] = uint8_t(width);
    gif[7] = uint8_t(width >> 8);
    gif[8] = uint8_t(height);
    gif[9] = uint8_t(height >> 8);
}

void DropGlobalTable(Bytes &gif)
{
    ASSERT_TRUE(gif[10] & 0x80);
    size_t size = 3u << ((gif[10] & 7) + 1);
    gif.erase(gif.begin() + 13, gif.begin() + 13 + long(size));
    gif[10] &= 0x7F;
}

TEST(GifModule, DecodesBothVersionsAsEightBitPictureOfTheScreen)
{
    const auto pixels = Pattern(5, 3, 4);
    for (int gif89 : {0, 1}) {
        SCOPED_TRACE(gif89 ? "GIF89a" : "GIF87a");
        const Bytes gif = Gif(5, 3, {Frame(0, 0, 5, 3, pixels)}, 3, gif89);
        ASSERT_EQ(std::string(gif.begin(), gif.begin() + 6), gif89 ? "GIF89a" : "GIF87a");

        const Info info = PictureInfo(GifModule(), gif);
        ASSERT_EQ(info.result, SPI_OK);
        EXPECT_EQ(info.width, 5);
        EXPECT_EQ(info.height, 3);
        EXPECT_EQ(info.depth, 8);
        EXPECT_EQ(info.text, nullptr);

        const Picture picture = DecodeFile(GifModule(), gif);
        ASSERT_EQ(picture.result, SPI_OK);
        EXPECT_EQ(picture.bit_count, 8);
        EXPECT_EQ(picture.indices, pixels);
        EXPECT_EQ(picture.rgb, Drawn("rgb.r/.rgb./b.rgb"));
        // Entries past the file's table are black, so no index can show stray colours.
        EXPECT_EQ(picture.palette[4], 0u);
        EXPECT_EQ(picture.palette[255], 0u);
    }
}

TEST(GifModule, DeinterlacesEveryPass)
{
    // Thirteen rows give each of the four passes some rows, the last ones partly filled.
    const auto pixels = Pattern(3, 13, 4);
    GifFrameFixture frame = Frame(0, 0, 3, 13, pixels);
    frame.interlaced = 1;
    const Picture picture = DecodeFile(GifModule(), Gif(3, 13, {frame}));
    ASSERT_EQ(picture.result, SPI_OK);
    EXPECT_EQ(picture.indices, pixels);
}

TEST(GifModule, TakesTheFirstFrameOfAnAnimation)
{
    const auto first = Pattern(4, 2, 4);
    const std::vector<uint8_t> second(8, 2);
    const Picture picture =
        DecodeFile(GifModule(), Gif(4, 2, {Frame(0, 0, 4, 2, first), Frame(0, 0, 4, 2, second)}));
    ASSERT_EQ(picture.result, SPI_OK);
    EXPECT_EQ(picture.indices, first);
}

TEST(GifModule, TransparentIndexKeepsItsPaletteColour)
{
    const auto pixels = Pattern(4, 2, 4);
    GifFrameFixture frame = Frame(0, 0, 4, 2, pixels);
    frame.transparent = 0;
    const Picture picture = DecodeFile(GifModule(), Gif(4, 2, {frame}));
    ASSERT_EQ(picture.result, SPI_OK);
    EXPECT_EQ(picture.indices, pixels);
    EXPECT_EQ(picture.rgb, Drawn("rgb./.rgb"));
}

struct Composition {
    const char *name;
    Bytes file;
    std::vector<uint32_t> expected;
};

std::vector<Composition> Compositions()
{
    const std::vector<uint8_t> blue(4, 2), cyan(4, 1), corner = {0, 1, 2, 3},
                               bilevel = {0, 1, 1, 0}, big = Pattern(4, 4, 4);
    std::vector<Composition> cases;

    cases.push_back({"frame inside the screen, background from the global table",
                     Gif(4, 3, {Frame(1, 1, 2, 2, blue)}), Drawn("..../.bb./.bb.")});

    GifFrameFixture local = Frame(2, 0, 2, 2, cyan);
    local.local_rgb = kLocal;
    local.local_size = 2;
    cases.push_back({"frame with a local table gets the background colour added",
                     Gif(4, 2, {local}, 1), Drawn("ggcc/ggcc")});

    // A full local table without the background colour (red): its nearest entry stands in.
    std::vector<uint8_t> full_table(256 * 3, 250);
    full_table[0] = 200, full_table[1] = 0, full_table[2] = 0;
    GifFrameFixture crowded = Frame(0, 0, 1, 1, cyan);
    crowded.local_rgb = full_table.data();
    crowded.local_size = 256;
    cases.push_back({"full local table uses the nearest colour", Gif(2, 1, {crowded}, 0),
                     {Rgb(250, 250, 250), Rgb(200, 0, 0)}});

    cases.push_back({"background index past the global table is black",
                     Gif(3, 1, {Frame(0, 0, 1, 1, blue)}, 7), Drawn("bkk")});

    Bytes clipped = Gif(6, 6, {Frame(2, 2, 4, 4, big)});
    SetScreenSize(clipped, 4, 3);
    cases.push_back(
        {"frame reaching past the screen is clipped", clipped, Drawn("..../..../..rg")});

    Bytes outside = Gif(6, 6, {Frame(4, 4, 2, 2, corner)});
    SetScreenSize(outside, 4, 2);
    cases.push_back(
        {"frame outside the screen leaves only background", outside, Drawn("..../....")});

    Bytes bare = Gif(4, 1, {Frame(0, 0, 4, 1, bilevel)}, 0, 1, kGlobal, 2);
    DropGlobalTable(bare);
    cases.push_back({"no colour table at all: black and white", bare, Drawn("kwwk")});

    Bytes bare_partial = Gif(3, 1, {Frame(1, 0, 2, 1, bilevel)}, 1, 1, kGlobal, 2);
    DropGlobalTable(bare_partial);
    cases.push_back({"no colour table: the background is black", bare_partial, Drawn("kkw")});
    return cases;
}

TEST(GifModule, ComposesTheFirstFrameOnTheScreen)
{
    for (const Composition &c : Compositions()) {
        SCOPED_TRACE(c.name);
        const Picture picture = DecodeFile(GifModule(), c.file);
        ASSERT_EQ(picture.result, SPI_OK);
        EXPECT_EQ(picture.rgb, c.expected);
    }
}

TEST(GifModule, RefusesFilesWithoutAPicture)
{
    const auto pixels = Pattern(2, 2, 4);
    Bytes no_frame = Gif(2, 2, {});
    Bytes empty_screen = Gif(2, 2, {Frame(0, 0, 2, 2, pixels)});
    SetScreenSize(empty_screen, 0, 0);
    Bytes huge_screen = Gif(2, 2, {Frame(0, 0, 2, 2, pixels)});
    SetScreenSize(huge_screen, 65535, 65535);
    Bytes huge_frame = Gif(2, 2, {Frame(0, 0, 2, 2, pixels)});
    // The image descriptor follows the 13-byte header, the table and the control extension.
    const size_t descriptor = 13 + sizeof kGlobal;
    ASSERT_EQ(huge_frame[descriptor], ',');
    for (size_t i : {descriptor + 5, descriptor + 6, descriptor + 7, descriptor + 8})
        huge_frame[i] = 0xFF;
    Bytes not_gif = Gif(2, 2, {Frame(0, 0, 2, 2, pixels)});
    not_gif[4] = '8'; // "GIF88a"

    const struct {
        const char *name;
        const Bytes &file;
        bool info_fails;
    } cases[] = {
        {"no frame", no_frame, false},
        {"screen of zero size", empty_screen, true},
        {"screen beyond the size limit", huge_screen, true},
        {"frame beyond the size limit", huge_frame, false},
        {"unknown version", not_gif, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PictureInfo(GifModule(), c.file).result != SPI_OK, c.info_fails);
        EXPECT_NE(DecodeFile(GifModule(), c.file).result, SPI_OK);
    }
}

} // namespace
} // namespace plugin_test
