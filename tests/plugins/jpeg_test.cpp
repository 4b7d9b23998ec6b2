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
                samples.push_back(uint8_t((x * 255 / width + y * 37 + c * 90 + (x * y) % 7) & 0xFF));
    return samples;
}

Bytes Jpeg(JpegSpec spec, const std::vector<uint8_t> &pixels)
{
    spec.pixels = pixels.data();
    if (spec.quality == 0)
        spec.quality = 90;
    EncodedFile file;
    int ok = EncodeJpeg(&spec, &file);
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
        JpegSpec spec{};
        spec.width = c.width;
        spec.height = c.height;
        spec.components = c.components;
        spec.progressive = c.progressive;
        spec.arithmetic = c.arithmetic;
        ExpectMatchesReference(Jpeg(spec, Samples(c.width, c.height, c.components)));
    }
}

TEST(JpegModule, IgnoresExifOrientation)
{
    // An EXIF block whose only entry says "rotate 90 degrees" (orientation 6).
    const uint8_t exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,
                            0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
    JpegSpec spec{};
    spec.width = 12;
    spec.height = 5;
    spec.components = 3;
    spec.app1 = exif;
    spec.app1_size = sizeof exif;
    ExpectMatchesReference(Jpeg(spec, Samples(12, 5, 3)));
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
        JpegSpec spec{};
        spec.width = width;
        spec.height = height;
        spec.components = 4;
        spec.adobe_marker = marker;
        spec.quality = 100;
        const Bytes jpeg = Jpeg(spec, samples);

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
    JpegSpec spec{};
    spec.width = 16;
    spec.height = 16;
    spec.components = 1;

    spec.refinements = 3; // 253 scans: an unusual but honest file
    ExpectMatchesReference(Jpeg(spec, grey));

    spec.refinements = 8; // 568 scans
    const Bytes excessive = Jpeg(spec, grey);
    EXPECT_NE(DecodeFile(JpegModule(), excessive).result, SPI_OK);
}

} // namespace
} // namespace plugin_test
