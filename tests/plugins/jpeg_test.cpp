#include <gtest/gtest.h>

#include <cstdlib>

#include "plugin_test_support.h"

namespace plugin_test {
namespace {

// Smooth ramps with a little texture, so that every channel differs and chroma subsampling has
// something to smooth.
std::vector<uint8_t> Samples(int width, int height, int components)
{
    std::vector<uint8_t> samples;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            for (int c = 0; c < components; c++)
                samples.push_back(
                    uint8_t((x * 255 / width + y * 37 + c * 90 + (x * y) % 7) & 0xFF));
    return samples;
}

Bytes Jpeg(JpegFixture fixture, const std::vector<uint8_t> &pixels)
{
    fixture.pixels = pixels.data();
    if (fixture.quality == 0)
        fixture.quality = 90;
    EncodedFile file;
    int ok = EncodeJpeg(&fixture, &file);
    return Take(file, ok);
}

// The module must deliver exactly what libjpeg itself decodes, in the DIB's layout.
void ExpectMatchesReference(const Bytes &jpeg)
{
    int width = 0, height = 0, components = 0;
    uint8_t *reference = nullptr;
    ASSERT_TRUE(DecodeJpegReference(jpeg.data(), jpeg.size(), &width, &height, &components,
                                    &reference));
    std::vector<uint32_t> expected;
    for (int i = 0; i < width * height; i++) {
        const uint8_t *p = reference + size_t(i) * size_t(components);
        expected.push_back(components == 1 ? Rgb(p[0], p[0], p[0]) : Rgb(p[0], p[1], p[2]));
    }
    free(reference);

    const Info info = PictureInfo(JpegModule(), jpeg);
    ASSERT_EQ(info.result, SPI_OK);
    EXPECT_EQ(info.width, width);
    EXPECT_EQ(info.height, height);
    EXPECT_EQ(info.depth, components == 1 ? 8 : 24);
    EXPECT_EQ(info.text, nullptr);

    const Picture picture = DecodeFile(JpegModule(), jpeg);
    ASSERT_EQ(picture.result, SPI_OK);
    EXPECT_EQ(picture.width, width);
    EXPECT_EQ(picture.height, height);
    EXPECT_EQ(picture.bit_count, components == 1 ? 8 : 24);
    if (components == 1) {
        for (int i = 0; i < 256; i++)
            ASSERT_EQ(picture.palette[size_t(i)], Rgb(uint8_t(i), uint8_t(i), uint8_t(i)));
    }
    EXPECT_EQ(picture.rgb, expected);
}

TEST(JpegModule, DecodesLikeTheReference)
{
    // Odd sizes leave partial MCUs and padded rows.
    const struct {
        const char *name;
        int width, height, components, progressive, arithmetic;
    } cases[] = {
        {"grey baseline", 17, 9, 1, 0, 0},
        {"colour baseline", 17, 9, 3, 0, 0},
        {"grey progressive", 8, 8, 1, 1, 0},
        {"colour progressive", 33, 20, 3, 1, 0},
        {"colour arithmetic-coded", 10, 6, 3, 0, 1},
        {"one pixel", 1, 1, 3, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        JpegFixture fixture{};
        fixture.width = c.width;
        fixture.height = c.height;
        fixture.components = c.components;
        fixture.progressive = c.progressive;
        fixture.arithmetic = c.arithmetic;
        ExpectMatchesReference(Jpeg(fixture, Samples(c.width, c.height, c.components)));
    }
}

TEST(JpegModule, IgnoresExifOrientation)
{
    // An EXIF block whose only entry says "rotate 90 degrees" (orientation 6).
    const uint8_t exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,
                            0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
    JpegFixture fixture{};
    fixture.width = 12;
    fixture.height = 5;
    fixture.components = 3;
    fixture.app1 = exif;
    fixture.app1_size = sizeof exif;
    ExpectMatchesReference(Jpeg(fixture, Samples(12, 5, 3)));
}

TEST(JpegModule, ConvertsCmykToRgb)
{
    // Left half red ink (magenta and yellow), right half blue ink (cyan and magenta), each
    // flat over whole blocks so that compression barely touches them.
    const int width = 32, height = 16;
    const uint8_t red_ink[] = {0, 255, 255, 0}, blue_ink[] = {255, 255, 0, 0};
    for (int marker : {0, 1, 2}) {
        SCOPED_TRACE(marker == 0 ? "CMYK" : marker == 1 ? "Adobe CMYK" : "Adobe YCCK");
        std::vector<uint8_t> samples;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                for (int c = 0; c < 4; c++) {
                    uint8_t ink = x < width / 2 ? red_ink[c] : blue_ink[c];
                    // Adobe files store the complement of the ink amount.
                    samples.push_back(marker ? uint8_t(255 - ink) : ink);
                }
        JpegFixture fixture{};
        fixture.width = width;
        fixture.height = height;
        fixture.components = 4;
        fixture.adobe_marker = marker;
        fixture.quality = 100;
        const Bytes jpeg = Jpeg(fixture, samples);

        const Info info = PictureInfo(JpegModule(), jpeg);
        ASSERT_EQ(info.result, SPI_OK);
        EXPECT_EQ(info.depth, 24);
        const Picture picture = DecodeFile(JpegModule(), jpeg);
        ASSERT_EQ(picture.result, SPI_OK);
        ASSERT_EQ(picture.bit_count, 24);
        EXPECT_LE(ChannelDistance(picture.rgb[8 * width + 4], Rgb(255, 0, 0)), 4);
        EXPECT_LE(ChannelDistance(picture.rgb[8 * width + 27], Rgb(0, 0, 255)), 4);
    }
}

TEST(JpegModule, BoundsTheNumberOfProgressiveScans)
{
    const std::vector<uint8_t> grey = Samples(16, 16, 1);
    JpegFixture fixture{};
    fixture.width = 16;
    fixture.height = 16;
    fixture.components = 1;

    fixture.refinements = 3; // 253 scans: an unusual but honest file
    ExpectMatchesReference(Jpeg(fixture, grey));

    fixture.refinements = 8; // 568 scans
    const Bytes excessive = Jpeg(fixture, grey);
    EXPECT_NE(DecodeFile(JpegModule(), excessive).result, SPI_OK);
}

} // namespace
} // namespace plugin_test
