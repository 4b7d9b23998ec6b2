#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

#include "ketto_limits.h"
#include "platform/bitmap.h"
#include "platform/errors.h"

namespace {

// Every pixel different, in the stored 0xFFRRGGBB form, with bit patterns that make AND and
// OR give results unlike either input.
TBitmap Pattern(int width, int height, uint32_t seed)
{
    TBitmap b(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.ScanLine(y)[x] = 0xFF000000u | ((seed * 2654435761u + uint32_t(y * width + x) * 40503u) & 0xFFFFFFu);
    return b;
}

std::vector<uint32_t> Pixels(const TBitmap &b)
{
    return std::vector<uint32_t>(b.Bits(), b.Bits() + size_t(b.Width()) * b.Height());
}

// The reference for every block operation: walk the destination pixel by pixel, find the block
// offset that lands there, and apply `op` when that offset lies inside the block (and, for a
// copy, its source pixel inside the source).
template <typename Op>
std::vector<uint32_t> Reference(const TBitmap &dest, int64_t dx, int64_t dy, int64_t w, int64_t h, Op op)
{
    std::vector<uint32_t> out = Pixels(dest);
    for (int64_t y = 0; y < dest.Height(); ++y)
        for (int64_t x = 0; x < dest.Width(); ++x) {
            const int64_t i = x - dx, j = y - dy;
            if (i >= 0 && i < w && j >= 0 && j < h)
                op(out[size_t(y * dest.Width() + x)], i, j);
        }
    return out;
}

struct Block {
    int dx, dy, w, h, sx, sy;
};

// Blocks against a 7 x 5 destination and a 4 x 6 source: inside, cut at each edge of either
// bitmap, wholly outside on each side, empty or negative, and at the ends of the int range.
const Block Blocks[] = {
    {1, 1, 3, 2, 0, 0},   {0, 0, 4, 6, 0, 0},     {-2, 1, 4, 3, 0, 0},   {1, -2, 3, 4, 0, 0},
    {5, 1, 4, 3, 0, 0},   {1, 3, 3, 4, 0, 0},     {1, 1, 3, 3, -1, -1},  {1, 1, 3, 3, 2, 4},
    {7, 0, 3, 3, 0, 0},   {-3, 0, 3, 3, 0, 0},    {0, -3, 3, 3, 0, 0},   {0, 5, 3, 3, 0, 0},
    {0, 0, 3, 3, 4, 0},   {0, 0, 3, 3, 0, 6},     {0, 0, 3, 3, -3, 0},   {1, 1, 0, 3, 0, 0},
    {1, 1, 3, 0, 0, 0},   {1, 1, -2, 3, 0, 0},    {1, 1, 3, -1, 0, 0},   {INT_MAX, 0, 10, 3, 0, 0},
    {INT_MIN, 0, INT_MAX, 3, 0, 0}, {0, 0, INT_MAX, INT_MAX, 0, 0}, {2, 2, INT_MAX, INT_MAX, INT_MIN, INT_MIN},
    {-1, -1, INT_MAX, INT_MAX, 0, 0},
};

std::string Describe(const Block &b)
{
    return "block " + std::to_string(b.dx) + "," + std::to_string(b.dy) + " " + std::to_string(b.w) +
           "x" + std::to_string(b.h) + " from " + std::to_string(b.sx) + "," + std::to_string(b.sy);
}

TEST(BitBlt, EachOperationMatchesThePixelReference)
{
    const TBitmap source = Pattern(4, 6, 2);
    const struct {
        uint32_t rop;
        uint32_t (*apply)(uint32_t d, uint32_t s);
    } rops[] = {{SRCCOPY, [](uint32_t, uint32_t s) { return s; }},
                {SRCAND, [](uint32_t d, uint32_t s) { return d & s; }},
                {SRCPAINT, [](uint32_t d, uint32_t s) { return d | s; }}};
    for (const auto &rop : rops)
        for (const Block &k : Blocks) {
            SCOPED_TRACE(Describe(k) + " rop " + std::to_string(rop.rop));
            TBitmap dest = Pattern(7, 5, 1);
            const auto want = Reference(dest, k.dx, k.dy, k.w, k.h, [&](uint32_t &d, int64_t i, int64_t j) {
                const int64_t x = k.sx + i, y = k.sy + j;
                if (x >= 0 && y >= 0 && x < source.Width() && y < source.Height())
                    d = rop.apply(d, source.ScanLine(int(y))[x]);
            });
            EXPECT_TRUE(BitBlt(dest.Canvas(), k.dx, k.dy, k.w, k.h, source.Canvas(), k.sx, k.sy, rop.rop));
            EXPECT_EQ(Pixels(dest), want);
        }
}

TEST(BitBlt, CopyWithinOneBitmapReadsTheSourceBeforeWriting)
{
    for (const Block &k : {Block{1, 1, 4, 3, 0, 0}, Block{0, 0, 4, 3, 1, 1}, Block{2, 0, 5, 5, 0, 0}}) {
        SCOPED_TRACE(Describe(k));
        TBitmap b = Pattern(7, 5, 3);
        const TBitmap before = Pattern(7, 5, 3);
        const auto want = Reference(b, k.dx, k.dy, k.w, k.h, [&](uint32_t &d, int64_t i, int64_t j) {
            const int64_t x = k.sx + i, y = k.sy + j;
            if (x < before.Width() && y < before.Height())
                d = before.ScanLine(int(y))[x];
        });
        BitBlt(b.Canvas(), k.dx, k.dy, k.w, k.h, b.Canvas(), k.sx, k.sy, SRCCOPY);
        EXPECT_EQ(Pixels(b), want);
    }
}

TEST(BitBlt, CopyFromASharingCopyLeavesTheSourceAlone)
{
    TBitmap dest = Pattern(5, 5, 4);
    const TBitmap source = dest;
    const auto before = Pixels(source);
    BitBlt(dest.Canvas(), 1, 0, 4, 5, source.Canvas(), 0, 0, SRCCOPY);
    EXPECT_EQ(Pixels(source), before);
    EXPECT_EQ(dest.ScanLine(2)[1], before[2 * 5 + 0]);
}

TEST(PatBlt, BlacknessMatchesThePixelReference)
{
    for (const Block &k : Blocks) {
        SCOPED_TRACE(Describe(k));
        TBitmap dest = Pattern(7, 5, 5);
        const auto want = Reference(dest, k.dx, k.dy, k.w, k.h,
                                    [](uint32_t &d, int64_t, int64_t) { d = 0xFF000000u; });
        EXPECT_TRUE(PatBlt(dest.Canvas(), k.dx, k.dy, k.w, k.h, BLACKNESS));
        EXPECT_EQ(Pixels(dest), want);
    }
}

TEST(RasterOperations, UnknownOperationsAreRefusedAndWriteNothing)
{
    TBitmap dest = Pattern(4, 4, 6);
    const TBitmap source = Pattern(4, 4, 7);
    const auto before = Pixels(dest);
    EXPECT_FALSE(BitBlt(dest.Canvas(), 0, 0, 4, 4, source.Canvas(), 0, 0, BLACKNESS));
    EXPECT_FALSE(BitBlt(dest.Canvas(), 0, 0, 4, 4, source.Canvas(), 0, 0, 0x00660046)); // SRCINVERT
    EXPECT_FALSE(PatBlt(dest.Canvas(), 0, 0, 4, 4, SRCCOPY));
    EXPECT_EQ(Pixels(dest), before);
}

TEST(Rectangle, OutlineAndFillMatchThePixelReference)
{
    const int cases[][4] = {
        {1, 1, 5, 4},     {2, 0, 3, 5},   {1, 1, 3, 3},     {-1, -1, 3, 3},   {4, 2, 9, 8},
        {-1, -1, 8, 6},   {0, 0, 7, 5},   {3, 1, 3, 4},     {5, 1, 2, 4},     {8, 0, 10, 3},
        {0, 5, 3, 9},     {-4, -4, 0, 0}, {6, 4, 7, 5},     {INT_MIN, INT_MIN, INT_MAX, INT_MAX},
        {INT_MAX - 1, 0, INT_MAX, 3},
    };
    for (const auto &r : cases) {
        SCOPED_TRACE(std::to_string(r[0]) + "," + std::to_string(r[1]) + " - " +
                     std::to_string(r[2]) + "," + std::to_string(r[3]));
        TBitmap b = Pattern(7, 5, 8);
        b.Canvas().Pen.Color = clYellow;
        b.Canvas().Brush.Color = clTeal;
        const int64_t x1 = r[0], y1 = r[1], x2 = r[2], y2 = r[3];
        const auto want = Reference(b, x1, y1, x2 - x1, y2 - y1, [&](uint32_t &d, int64_t i, int64_t j) {
            const bool edge = i == 0 || j == 0 || i == x2 - x1 - 1 || j == y2 - y1 - 1;
            d = edge ? 0xFFFFFF00u : 0xFF008080u;
        });
        b.Canvas().Rectangle(r[0], r[1], r[2], r[3]);
        EXPECT_EQ(Pixels(b), want);
    }
}

TEST(BrushCopy, ReplacesTheKeyColourByTheBrushAndClips)
{
    TBitmap source(4, 3);
    const uint32_t key = PixelFromColor(0x00123456), other = PixelFromColor(0x00ABCDEF);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            source.ScanLine(y)[x] = (x + y) % 2 ? key : other + uint32_t(x);
    const struct {
        TRect dest, from;
        TColor keyColour;
    } cases[] = {
        {{0, 0, 4, 3}, {0, 0, 4, 3}, 0x00123456},
        {{0, 0, 4, 3}, {0, 0, 4, 3}, 0x00123456 + PaletteRelative},
        {{3, 2, 7, 5}, {0, 0, 4, 3}, 0x00123456},
        {{-2, -1, 2, 2}, {0, 0, 4, 3}, 0x00123456},
        {{1, 1, 5, 4}, {1, 1, 5, 4}, 0x00123456},
        {{1, 1, 5, 4}, {-1, 0, 3, 3}, 0x00ABCDEF},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.dest.Left) + "," + std::to_string(c.dest.Top) + " from " +
                     std::to_string(c.from.Left) + "," + std::to_string(c.from.Top));
        TBitmap dest = Pattern(5, 4, 9);
        dest.Canvas().Brush.Color = clBlack;
        const uint32_t keyPixel = PixelFromColor(c.keyColour & 0xFFFFFF);
        const int64_t w = std::min(c.dest.Width(), c.from.Width());
        const int64_t h = std::min(c.dest.Height(), c.from.Height());
        const auto want = Reference(dest, c.dest.Left, c.dest.Top, w, h, [&](uint32_t &d, int64_t i, int64_t j) {
            const int64_t x = c.from.Left + i, y = c.from.Top + j;
            if (x < 0 || y < 0 || x >= source.Width() || y >= source.Height())
                return;
            const uint32_t s = source.ScanLine(int(y))[x];
            d = s == keyPixel ? 0xFF000000u : s;
        });
        dest.Canvas().BrushCopy(c.dest, source, c.from, c.keyColour);
        EXPECT_EQ(Pixels(dest), want);
    }
}

TEST(TBitmap, CopiesSharePixelsUntilOneIsWritten)
{
    const TBitmap original = Pattern(3, 3, 10);
    const auto before = Pixels(original);

    // Each way of writing, applied to a fresh copy.
    const std::pair<const char *, void (*)(TBitmap &)> writes[] = {
        {"ScanLine", [](TBitmap &b) { b.ScanLine(1)[1] = 0xFF000000u; }},
        {"MutableBits", [](TBitmap &b) { b.MutableBits()[0] = 0xFF000000u; }},
        {"Rectangle", [](TBitmap &b) { b.Canvas().Rectangle(0, 0, 2, 2); }},
        {"PatBlt", [](TBitmap &b) { PatBlt(b.Canvas(), 0, 0, 1, 1, BLACKNESS); }},
        {"BitBlt", [](TBitmap &b) {
             const TBitmap white(1, 1);
             BitBlt(b.Canvas(), 0, 0, 1, 1, white.Canvas(), 0, 0, SRCCOPY);
         }},
        {"SetSize", [](TBitmap &b) { b.SetSize(4, 3); }},
    };
    for (const auto &[name, write] : writes) {
        SCOPED_TRACE(name);
        TBitmap copy = original;
        TBitmap assigned;
        assigned = original;
        EXPECT_TRUE(copy.SharesPixelsWith(original));
        EXPECT_TRUE(assigned.SharesPixelsWith(original));
        const TBitmap &reader = copy;
        EXPECT_EQ(reader.ScanLine(1)[1], before[4]);
        EXPECT_TRUE(copy.SharesPixelsWith(original)) << "reading must not unshare";

        write(copy);
        EXPECT_FALSE(copy.SharesPixelsWith(original));
        EXPECT_NE(Pixels(copy), before);
        EXPECT_EQ(Pixels(original), before);
        EXPECT_TRUE(assigned.SharesPixelsWith(original));
    }
}

TEST(TBitmap, ResizingKeepsPixelsAndWhitensNewOnes)
{
    const TBitmap original = Pattern(3, 2, 11);
    const uint32_t white = 0xFFFFFFFFu;
    TBitmap b = original;
    b.SetSize(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(b.ScanLine(y)[x], x < 3 && y < 2 ? original.ScanLine(y)[x] : white) << x << "," << y;

    b.SetWidth(2);
    b.SetHeight(1);
    EXPECT_EQ(Pixels(b), (std::vector<uint32_t>{original.ScanLine(0)[0], original.ScanLine(0)[1]}));

    b.SetSize(0, 7);
    EXPECT_TRUE(b.Empty());
    b.SetSize(2, 2);
    EXPECT_THAT(Pixels(b), ::testing::Each(white));
    EXPECT_THAT(Pixels(TBitmap(3, 1)), ::testing::Each(white));
}

TEST(TBitmap, SizesBeyondTheLimitsThrowAndChangeNothing)
{
    const std::pair<int, int> sizes[] = {
        {-1, 5}, {5, -1}, {KETTO_MAX_SIDE + 1, 1}, {1, KETTO_MAX_SIDE + 1}, {1 << 15, 1 << 14}, {INT_MAX, INT_MAX},
    };
    for (const auto &[w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        TBitmap b = Pattern(3, 2, 12);
        const auto before = Pixels(b);
        try {
            b.SetSize(w, h);
            ADD_FAILURE() << "no error";
        } catch (const EOutOfResources &e) {
            EXPECT_EQ(e.Message(), "ｼｽﾃﾑ ﾘｿｰｽが足りません");
        }
        EXPECT_EQ(b.Width(), 3);
        EXPECT_EQ(b.Height(), 2);
        EXPECT_EQ(Pixels(b), before);
        EXPECT_THROW(TBitmap(w, h), EOutOfResources);
    }
    EXPECT_NO_THROW(TBitmap(KETTO_MAX_SIDE, 1));
}

TEST(TCanvas, PixelsConvertsToColoursAndAnswersInvalidOutside)
{
    TBitmap b(2, 2);
    b.ScanLine(1)[0] = 0xFF123456u;
    EXPECT_EQ(b.Canvas().Pixels(0, 1), 0x00563412u);
    EXPECT_EQ(b.Canvas().Pixels(1, 1), clWhite);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {2, 0}, {0, 2}, {INT_MIN, INT_MAX}})
        EXPECT_EQ(b.Canvas().Pixels(x, y), CLR_INVALID);
    EXPECT_EQ(TBitmap().Canvas().Pixels(0, 0), CLR_INVALID);
}

} // namespace
