#include <gtest/gtest.h>

#include <algorithm>

#include <png.h>
#include <zlib.h>

#include "plugin_test_support.h"

namespace plugin_test {
namespace {

// A PNG described by its samples, with what each pixel must look like once delivered.
struct PngImage {
    int width = 13, height = 11, bit_depth = 8, color_type = PNG_COLOR_TYPE_RGB;
    int interlaced = 0;
    std::vector<uint16_t> samples; // channels per pixel, top row first
    std::vector<uint8_t> palette;  // RGB triples
    std::vector<uint8_t> trns_alpha;
    std::vector<uint16_t> trns_color;
    double gamma = 0;

    int Channels() const
    {
        switch (color_type) {
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_PALETTE:
            return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB:
            return 3;
        default:
            return 4;
        }
    }
};

// Deterministic samples that cover the whole range of the bit depth. For 16 bits every value
// is an 8-bit level times 257 plus less than half a level, so it has one right 8-bit answer.
PngImage Patterned(int color_type, int bit_depth, int interlaced, int width = 13, int height = 11)
{
    PngImage image;
    image.width = width;
    image.height = height;
    image.color_type = color_type;
    image.bit_depth = bit_depth;
    image.interlaced = interlaced;
    uint32_t state = 12345u + uint32_t(color_type * 100 + bit_depth * 3 + interlaced);
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return (state >> 16) & 0x7FFF;
    };
    const int max = color_type == PNG_COLOR_TYPE_PALETTE ? (1 << bit_depth) - 1
                                                         : (1 << std::min(bit_depth, 8)) - 1;
    for (int i = 0; i < width * height * image.Channels(); i++) {
        uint16_t value = uint16_t(next() % (max + 1));
        // Alpha samples favour the fully transparent and fully opaque ends.
        bool alpha = (color_type & PNG_COLOR_MASK_ALPHA) && (i % image.Channels()) ==
                                                                image.Channels() - 1;
        if (alpha && i % 3 == 0)
            value = 0;
        if (alpha && i % 3 == 1)
            value = uint16_t(max);
        if (bit_depth == 16)
            value = uint16_t(value * 257 + next() % 100);
        image.samples.push_back(value);
    }
    if (color_type == PNG_COLOR_TYPE_PALETTE)
        for (int i = 0; i <= max; i++)
            for (int c = 0; c < 3; c++)
                image.palette.push_back(uint8_t(i * 37 + c * 101));
    return image;
}

Bytes Encode(const PngImage &image)
{
    const int channels = image.Channels();
    const size_t row_bytes = (size_t(image.width) * channels * image.bit_depth + 7) / 8;
    std::vector<uint8_t> rows(row_bytes * size_t(image.height), 0);
    for (int y = 0; y < image.height; y++) {
        uint8_t *row = rows.data() + size_t(y) * row_bytes;
        for (int i = 0; i < image.width * channels; i++) {
            uint16_t v = image.samples[size_t(y) * image.width * channels + i];
            if (image.bit_depth == 16) {
                row[2 * i] = uint8_t(v >> 8);
                row[2 * i + 1] = uint8_t(v);
            } else if (image.bit_depth == 8) {
                row[i] = uint8_t(v);
            } else {
                const int per_byte = 8 / image.bit_depth;
                const int shift = 8 - image.bit_depth * (i % per_byte + 1);
                row[i / per_byte] |= uint8_t(v << shift);
            }
        }
    }
    PngFixture fixture{};
    fixture.width = image.width;
    fixture.height = image.height;
    fixture.bit_depth = image.bit_depth;
    fixture.color_type = image.color_type;
    fixture.interlaced = image.interlaced;
    fixture.rows = rows.data();
    fixture.row_bytes = row_bytes;
    fixture.palette_rgb = image.palette.empty() ? nullptr : image.palette.data();
    fixture.palette_size = int(image.palette.size() / 3);
    fixture.trns_alpha = image.trns_alpha.empty() ? nullptr : image.trns_alpha.data();
    fixture.trns_count = int(image.trns_alpha.size());
    fixture.trns_color = image.trns_color.empty() ? nullptr : image.trns_color.data();
    fixture.gamma = image.gamma;
    EncodedFile file;
    int ok = EncodePng(&fixture, &file);
    return Take(file, ok);
}

uint8_t To8(uint16_t v, int bit_depth)
{
    if (bit_depth == 16)
        return uint8_t(v / 257);
    return uint8_t(v * 255 / ((1 << bit_depth) - 1));
}

// Each pixel as 8-bit colour and alpha, then over white.
std::vector<uint32_t> Expected(const PngImage &image)
{
    std::vector<uint32_t> pixels;
    const int channels = image.Channels();
    for (int i = 0; i < image.width * image.height; i++) {
        const uint16_t *s = &image.samples[size_t(i) * channels];
        int r, g, b, a = 255;
        if (image.color_type == PNG_COLOR_TYPE_PALETTE) {
            r = image.palette[3 * s[0]], g = image.palette[3 * s[0] + 1],
            b = image.palette[3 * s[0] + 2];
            if (s[0] < image.trns_alpha.size())
                a = image.trns_alpha[s[0]];
        } else if (channels <= 2) {
            r = g = b = To8(s[0], image.bit_depth);
            if (channels == 2)
                a = To8(s[1], image.bit_depth);
            if (!image.trns_color.empty() && s[0] == image.trns_color[0])
                a = 0;
        } else {
            r = To8(s[0], image.bit_depth), g = To8(s[1], image.bit_depth),
            b = To8(s[2], image.bit_depth);
            if (channels == 4)
                a = To8(s[3], image.bit_depth);
            if (!image.trns_color.empty() && s[0] == image.trns_color[0] &&
                s[1] == image.trns_color[1] && s[2] == image.trns_color[2])
                a = 0;
        }
        auto over_white = [a](int c) { return uint8_t((c * a + 255 * (255 - a) + 127) / 255); };
        pixels.push_back(Rgb(over_white(r), over_white(g), over_white(b)));
    }
    return pixels;
}

void ExpectDelivered(const PngImage &image)
{
    const Bytes png = Encode(image);
    const Info info = PictureInfo(PngModule(), png);
    ASSERT_EQ(info.result, SPI_OK);
    EXPECT_EQ(info.width, image.width);
    EXPECT_EQ(info.height, image.height);
    EXPECT_EQ(info.depth, 24);
    EXPECT_EQ(info.text, nullptr);

    const Picture picture = DecodeFile(PngModule(), png);
    ASSERT_EQ(picture.result, SPI_OK);
    ASSERT_EQ(picture.bit_count, 24);
    const std::vector<uint32_t> expected = Expected(image);
    ASSERT_EQ(picture.rgb.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++)
        // Compositing may round either way by one level.
        ASSERT_LE(ChannelDistance(picture.rgb[i], expected[i]), 1)
            << "pixel " << i % image.width << "," << i / image.width << std::hex
            << " got " << picture.rgb[i] << " want " << expected[i];
}

TEST(PngModule, DeliversEveryColourTypeAndDepth)
{
    const struct {
        int color_type;
        std::vector<int> depths;
    } kinds[] = {
        {PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}},   {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},
        {PNG_COLOR_TYPE_RGB, {8, 16}},             {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},
        {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}},
    };
    for (const auto &kind : kinds)
        for (int depth : kind.depths)
            for (int interlaced : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "colour type " << kind.color_type << ", "
                                                << depth << " bits, interlaced " << interlaced);
                ExpectDelivered(Patterned(kind.color_type, depth, interlaced));
            }
}

TEST(PngModule, AppliesTransparencyChunksAndIgnoresGamma)
{
    PngImage palette = Patterned(PNG_COLOR_TYPE_PALETTE, 4, 1);
    palette.trns_alpha = {0, 128, 255, 64};
    PngImage grey_key = Patterned(PNG_COLOR_TYPE_GRAY, 2, 0);
    grey_key.trns_color = {1};
    PngImage grey16_key = Patterned(PNG_COLOR_TYPE_GRAY, 16, 1);
    grey16_key.trns_color = {grey16_key.samples[5]};
    PngImage rgb_key = Patterned(PNG_COLOR_TYPE_RGB, 8, 0);
    rgb_key.trns_color = {rgb_key.samples[3], rgb_key.samples[4], rgb_key.samples[5]};
    PngImage with_gamma = Patterned(PNG_COLOR_TYPE_RGB_ALPHA, 8, 1);
    with_gamma.gamma = 0.45455;

    const struct {
        const char *name;
        const PngImage &image;
    } cases[] = {
        {"palette with partial alpha", palette}, {"grey colour key", grey_key},
        {"16-bit grey colour key", grey16_key},  {"RGB colour key", rgb_key},
        {"gamma chunk", with_gamma},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ExpectDelivered(c.image);
    }
}

TEST(PngModule, HandlesPicturesSmallerThanTheInterlacePattern)
{
    for (int width : {1, 2, 5})
        for (int height : {1, 3}) {
            SCOPED_TRACE(testing::Message() << width << "x" << height);
            ExpectDelivered(Patterned(PNG_COLOR_TYPE_RGB_ALPHA, 8, 1, width, height));
            ExpectDelivered(Patterned(PNG_COLOR_TYPE_RGB, 8, 1, width, height));
        }
}

// Rewrites the IHDR fields at the given offset and its CRC, so only the field is wrong.
Bytes WithHeader(Bytes png, size_t offset, std::vector<uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), png.begin() + long(offset));
    uLong crc = crc32(0, png.data() + 12, 17);
    for (int i = 0; i < 4; i++)
        png[29 + i] = uint8_t(crc >> (24 - 8 * i));
    return png;
}

TEST(PngModule, RefusesBadHeadersBeforeDecoding)
{
    const Bytes good = Encode(Patterned(PNG_COLOR_TYPE_RGB, 8, 0, 4, 4));
    Bytes bad_crc = good;
    bad_crc[20] ^= 1;
    const struct {
        const char *name;
        Bytes file;
    } cases[] = {
        {"width over the side limit", WithHeader(good, 16, {0, 0x10, 0, 1})},
        {"pixel count over the limit", WithHeader(good, 16, {0, 0, 0x80, 0, 0, 0, 0x80, 0})},
        {"width beyond what PNG allows", WithHeader(good, 16, {0x80, 0, 0, 0})},
        {"zero height", WithHeader(good, 20, {0, 0, 0, 0})},
        {"bit depth 3", WithHeader(good, 24, {3})},
        {"unknown colour type", WithHeader(good, 25, {5})},
        {"header CRC wrong", bad_crc},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(PictureInfo(PngModule(), c.file).result, SPI_OK);
        EXPECT_NE(DecodeFile(PngModule(), c.file).result, SPI_OK);
    }
}

} // namespace
} // namespace plugin_test
