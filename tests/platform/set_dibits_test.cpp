#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "dib_builder.h"
#include "platform/bmp.h"

namespace {

const uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, W = 0xFFFFFF, K = 0x000000;

// A call of SetDIBits on a white bitmap of the record's size.
struct Call {
    DibLayout layout;
    int bitmapWidth = 3, bitmapHeight = 2;
    unsigned start = 0, lines = 2;
    std::optional<size_t> bitsSize = {}, infoSize = {};

    int Run(TBitmap &b) const
    {
        b.SetSize(bitmapWidth, bitmapHeight);
        const std::vector<uint8_t> info = MakeInfo(layout);
        return SetDIBits(b, start, lines, layout.pixels.data(), bitsSize.value_or(layout.pixels.size()),
                         info.data(), infoSize.value_or(info.size()));
    }
};

// 3 x 2 at 8 bits per pixel with a four-colour table: bottom row R G B, top row B K G.
Call Valid8()
{
    return {.layout = {.width = 3, .height = 2, .bitCount = 8, .colorsUsed = 4,
                     .palette = Palette({K, R, G, B}), .pixels = {1, 2, 3, 0, 3, 0, 2, 0}}};
}

TEST(SetDIBits, WritesPicturesOfEachLayout)
{
    struct Case {
        const char *name;
        Call call;
        std::vector<uint32_t> want;
    } cases[] = {
        {"8 bpp with a colour table", Valid8(), {B, K, G, R, G, B}},
        {"24 bpp", {.layout = {.width = 3, .height = 2,
                             .pixels = {0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0, 0,
                                        1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}}},
         {0x030201, 0x060504, 0x090807, R, G, B}},
        {"top-down", [] { Call c = Valid8(); c.layout.height = -2; return c; }(), {R, G, B, B, K, G}},
        {"core header", {.layout = {.headerSize = 12, .width = 3, .height = 2,
                                  .pixels = std::vector<uint8_t>(24, 0)}},
         {K, K, K, K, K, K}},
        {"only scan line 1, the top row of a bottom-up picture",
         [] { Call c = Valid8(); c.start = 1, c.lines = 1; c.layout.pixels = {1, 1, 1, 0}; return c; }(),
         {R, R, R, W, W, W}},
        {"only scan line 1 of a top-down picture",
         [] { Call c = Valid8(); c.layout.height = -2, c.start = 1, c.lines = 1; c.layout.pixels = {2, 2, 2, 0}; return c; }(),
         {W, W, W, G, G, G}},
        {"16 bpp with 5-6-5 masks", {.layout = {.width = 3, .height = 2, .bitCount = 16, .compression = 3,
                                              .masks = {0xF800, 0x07E0, 0x001F},
                                              .pixels = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0,
                                                         0, 0, 0, 0, 0, 0, 0, 0}}},
         {K, K, K, 0xF80000, 0x00FC00, 0x0000F8}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap b;
        EXPECT_EQ(c.call.Run(b), int(c.call.lines));
        EXPECT_THAT(Rgb(b), ::testing::ElementsAreArray(c.want));
    }
}

TEST(SetDIBits, RefusesBlocksThatDoNotFitTheBitmapOrTheirOwnClaims)
{
    auto valid8 = [](std::function<void(Call &)> change) {
        Call c = Valid8();
        change(c);
        return c;
    };
    struct Case {
        const char *name;
        Call call;
    } cases[] = {
        {"header of 108 bytes", valid8([](Call &c) { c.layout.headerSize = 108; })},
        {"header cut short", valid8([](Call &c) { c.infoSize = 20; })},
        {"two planes", valid8([](Call &c) { c.layout.planes = 2; })},
        {"width differs", valid8([](Call &c) { c.bitmapWidth = 4; })},
        {"height differs", valid8([](Call &c) { c.bitmapHeight = 3; })},
        {"negative height differs", valid8([](Call &c) { c.layout.height = -3; })},
        {"rows past the picture", valid8([](Call &c) { c.start = 1; })},
        {"start far beyond", valid8([](Call &c) { c.start = UINT_MAX, c.lines = 2; })},
        {"no rows", valid8([](Call &c) { c.lines = 0; })},
        {"table cut short", valid8([](Call &c) { c.infoSize = 40 + 15; })},
        {"full table claimed, four given", valid8([](Call &c) { c.layout.colorsUsed = 0; })},
        {"absurd colour count", valid8([](Call &c) { c.layout.colorsUsed = UINT32_MAX; })},
        {"masks missing",
         {.layout = {.width = 3, .height = 2, .bitCount = 32, .compression = 3,
                   .pixels = std::vector<uint8_t>(24)}}},
        {"pixels one byte short", valid8([](Call &c) { c.bitsSize = 7; })},
        {"run-length encoded", valid8([](Call &c) { c.layout.compression = 1; })},
        {"3 bits per pixel", valid8([](Call &c) { c.layout.bitCount = 3; })},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap b;
        EXPECT_EQ(c.call.Run(b), 0);
        EXPECT_THAT(Rgb(b), ::testing::Each(W)) << "a refused call writes nothing";
    }
}

TEST(SetDIBits, RefusesMissingBlocksAndAnEmptyBitmap)
{
    const std::vector<uint8_t> info = MakeInfo(Valid8().layout);
    const std::vector<uint8_t> bits(8);
    TBitmap b(3, 2), empty;
    EXPECT_EQ(SetDIBits(b, 0, 2, nullptr, 8, info.data(), info.size()), 0);
    EXPECT_EQ(SetDIBits(b, 0, 2, bits.data(), 8, nullptr, 0), 0);
    EXPECT_EQ(SetDIBits(empty, 0, 2, bits.data(), 8, info.data(), info.size()), 0);
}

} // namespace
