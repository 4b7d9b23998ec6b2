// What all three modules share: recognising their own kind, the forms of input, and refusing
// broken files cleanly.
#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include <png.h>

#include "plugin_test_support.h"

namespace plugin_test {
namespace {

std::vector<uint8_t> Noise(size_t count, uint32_t seed)
{
    std::vector<uint8_t> bytes(count);
    for (auto &b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return bytes;
}

Bytes MakeGif(int side)
{
    std::vector<uint8_t> table(256 * 3), pixels = Noise(size_t(side) * side, 1);
    for (size_t i = 0; i < table.size(); i++)
        table[i] = uint8_t(i * 7);
    GifFrameFixture frame{0, 0, side, side, 1, nullptr, 0, pixels.data(), -1};
    EncodedFile file;
    int ok = EncodeGif(side, side, 1, table.data(), 256, 0, &frame, 1, &file);
    return Take(file, ok);
}

Bytes MakeJpeg(int side)
{
    const std::vector<uint8_t> pixels = Noise(size_t(side) * side * 3, 2);
    JpegFixture fixture{};
    fixture.width = side;
    fixture.height = side;
    fixture.components = 3;
    fixture.pixels = pixels.data();
    fixture.quality = 95;
    EncodedFile file;
    int ok = EncodeJpeg(&fixture, &file);
    return Take(file, ok);
}

Bytes MakePng(int side)
{
    const std::vector<uint8_t> pixels = Noise(size_t(side) * side * 4, 3);
    PngFixture fixture{};
    fixture.width = side;
    fixture.height = side;
    fixture.bit_depth = 8;
    fixture.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
    fixture.interlaced = 1;
    fixture.rows = pixels.data();
    fixture.row_bytes = size_t(side) * 4;
    EncodedFile file;
    int ok = EncodePng(&fixture, &file);
    return Take(file, ok);
}

struct Kind {
    const char *name;
    const SpiModule &(*module)();
    Bytes (*make)(int side);
};

const Kind kKinds[] = {
    {"gif", GifModule, MakeGif},
    {"jpeg", JpegModule, MakeJpeg},
    {"png", PngModule, MakePng},
};

Bytes Prefix(const Bytes &bytes, size_t size)
{
    return Bytes(bytes.begin(), bytes.begin() + long(std::min(size, bytes.size())));
}

Bytes Text(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

TEST(SpiModules, IsSupportedAcceptsOnlyItsOwnKindFromTheFirstBytes)
{
    const Bytes gif = MakeGif(4), jpeg = MakeJpeg(8), png = MakePng(4);
    Bytes gif87 = gif;
    gif87[4] = '7';
    const struct {
        const char *name;
        Bytes bytes;
        const char *kind; // the module that must accept it, or null
    } cases[] = {
        {"GIF89a", gif, "gif"},
        {"GIF87a", gif87, "gif"},
        {"GIF87a signature alone", Text("GIF87a"), "gif"},
        {"other GIF version", Text("GIF88a and more"), nullptr},
        {"JPEG", jpeg, "jpeg"},
        {"JPEG start marker alone", Prefix(jpeg, 3), "jpeg"},
        {"PNG", png, "png"},
        {"short GIF signature", Text("GIF8"), nullptr},
        {"short JPEG signature", Prefix(jpeg, 2), nullptr},
        {"short PNG signature", Prefix(png, 7), nullptr},
        {"empty file", Bytes(), nullptr},
        {"bitmap", Text("BM6\0\0\0\0\0\0\0006\0\0\0("), nullptr},
    };
    for (const auto &c : cases) {
        TempFile file(c.bytes);
        for (const Kind &kind : kKinds) {
            SCOPED_TRACE(testing::Message() << c.name << ", asked " << kind.name);
            int fd = open(file.path(), O_RDONLY);
            ASSERT_GE(fd, 0);
            // A descriptor moved away from the start still has its file judged from byte 0,
            // and keeps its offset.
            const off_t moved = c.bytes.size() >= 2 ? 2 : 0;
            ASSERT_EQ(lseek(fd, moved, SEEK_SET), moved);
            const bool own = c.kind && std::string(c.kind) == kind.name;
            EXPECT_EQ(kind.module().IsSupported(file.path(), fd) != 0, own);
            EXPECT_EQ(lseek(fd, 0, SEEK_CUR), moved);
            EXPECT_EQ(close(fd), 0) << "the module must not close the descriptor";
        }
    }
}

TEST(SpiModules, IsSupportedRefusesUnusableDescriptors)
{
    const Bytes gif = MakeGif(4);
    TempFile file(gif);
    int fd = open(file.path(), O_RDONLY);
    ASSERT_GE(fd, 0);
    close(fd); // now a number with no file behind it
    for (const Kind &kind : kKinds) {
        SCOPED_TRACE(kind.name);
        EXPECT_EQ(kind.module().IsSupported(file.path(), -1), 0);
        EXPECT_EQ(kind.module().IsSupported(file.path(), fd), 0);
        EXPECT_EQ(kind.module().IsSupported(file.path(), intptr_t(1) << 40), 0);
    }
}

TEST(SpiModules, FileMemoryAndOffsetInputGiveTheSamePicture)
{
    for (const Kind &kind : kKinds) {
        // The larger picture crosses the boundaries of the chunks a file is read in.
        for (int side : {8, 256}) {
            SCOPED_TRACE(testing::Message() << kind.name << " " << side);
            const Bytes bytes = kind.make(side);
            if (side == 256) {
                ASSERT_GT(bytes.size(), size_t(65536));
            }
            const Picture from_file = DecodeFile(kind.module(), bytes);
            ASSERT_EQ(from_file.result, SPI_OK);
            EXPECT_EQ(from_file.width, side);

            const Picture from_memory =
                Decode(kind.module(), reinterpret_cast<const char *>(bytes.data()),
                       intptr_t(bytes.size()), SPI_INPUT_MEMORY);
            ASSERT_EQ(from_memory.result, SPI_OK);
            EXPECT_EQ(from_memory.rgb, from_file.rgb);

            Bytes shifted = Noise(100, 4);
            shifted.insert(shifted.end(), bytes.begin(), bytes.end());
            TempFile file(shifted);
            const Picture from_offset = Decode(kind.module(), file.path(), 100, SPI_INPUT_FILE);
            ASSERT_EQ(from_offset.result, SPI_OK);
            EXPECT_EQ(from_offset.rgb, from_file.rgb);

            const Info in_memory =
                PictureInfo(kind.module(), reinterpret_cast<const char *>(bytes.data()),
                            intptr_t(bytes.size()), SPI_INPUT_MEMORY);
            ASSERT_EQ(in_memory.result, SPI_OK);
            EXPECT_EQ(in_memory.width, side);
            const Info at_offset = PictureInfo(kind.module(), file.path(), 100, SPI_INPUT_FILE);
            ASSERT_EQ(at_offset.result, SPI_OK);
            EXPECT_EQ(at_offset.height, side);
        }
    }
}

TEST(SpiModules, RefusesInputItCannotRead)
{
    char folder_template[] = "/tmp/ketto-spi-dir-XXXXXX";
    ASSERT_NE(mkdtemp(folder_template), nullptr);
    const std::string folder = folder_template;
    const std::string fifo = folder + "/pipe.gif";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    for (const Kind &kind : kKinds) {
        const Bytes bytes = kind.make(8);
        TempFile file(bytes);
        const struct {
            const char *name;
            const char *path;
            intptr_t offset;
            uint32_t flags;
        } cases[] = {
            {"missing file", "/nonexistent/picture", 0, SPI_INPUT_FILE},
            {"folder", folder.c_str(), 0, SPI_INPUT_FILE},
            // Opening a pipe with no writer would wait for ever.
            {"pipe", fifo.c_str(), 0, SPI_INPUT_FILE},
            {"null path", nullptr, 0, SPI_INPUT_FILE},
            {"negative offset", file.path(), -1, SPI_INPUT_FILE},
            {"offset past the end", file.path(), 1 << 20, SPI_INPUT_FILE},
            {"unknown input kind", file.path(), 0, 2},
            {"flags beyond the input kind", file.path(), 0, 0x100},
            {"empty memory", reinterpret_cast<const char *>(bytes.data()), 0,
             SPI_INPUT_MEMORY},
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << kind.name << ": " << c.name);
            EXPECT_NE(PictureInfo(kind.module(), c.path, c.offset, c.flags).result, SPI_OK);
            EXPECT_NE(Decode(kind.module(), c.path, c.offset, c.flags).result, SPI_OK);
        }

        SCOPED_TRACE(kind.name);
        SpiHandle handle = nullptr;
        EXPECT_NE(kind.module().GetPictureInfo(file.path(), 0, SPI_INPUT_FILE, nullptr), SPI_OK);
        EXPECT_NE(kind.module().GetPicture(file.path(), 0, SPI_INPUT_FILE, nullptr, &handle,
                                           nullptr, 0),
                  SPI_OK);
        EXPECT_NE(kind.module().GetPicture(file.path(), 0, SPI_INPUT_FILE, &handle, nullptr,
                                           nullptr, 0),
                  SPI_OK);
    }
    unlink(fifo.c_str());
    rmdir(folder.c_str());
}

size_t Find(const Bytes &bytes, const std::string &text)
{
    const Bytes needle = Text(text);
    auto at = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
    EXPECT_NE(at, bytes.end()) << "no " << text;
    return size_t(at - bytes.begin());
}

struct Damage {
    const char *name;
    std::function<void(Bytes &)> apply;
};

std::vector<Damage> DamageFor(const std::string &kind)
{
    std::vector<Damage> damage = {
        {"garbage after the signature",
         [](Bytes &b) {
             const Bytes noise = Noise(200, 5);
             std::copy(noise.begin(), noise.end(), b.begin() + 8);
         }},
    };
    // Cuts that lose part of the first picture. A GIF's last byte is the trailer after its
    // frames, which the first frame does not need, so a GIF is cut one byte earlier.
    const size_t tail = kind == "gif" ? 2 : 1;
    for (double fraction : {0.0, 0.002, 0.02, 0.1, 0.5, 0.9})
        damage.push_back({"cut short", [fraction](Bytes &b) {
                              b.resize(size_t(double(b.size()) * fraction));
                          }});
    damage.push_back({"cut short by the last bytes",
                      [tail](Bytes &b) { b.resize(b.size() - tail); }});

    if (kind == "gif") {
        damage.push_back({"LZW code size too large", [](Bytes &b) {
                              const size_t descriptor = 13 + 256 * 3;
                              ASSERT_EQ(b[descriptor], ',');
                              b[descriptor + 10] = 12;
                          }});
        damage.push_back({"unknown record", [](Bytes &b) { b[13 + 256 * 3] = 'x'; }});
    } else if (kind == "jpeg") {
        damage.push_back({"end marker in the middle of the scan", [](Bytes &b) {
                              const size_t scan = Find(b, "\xFF\xDA");
                              const size_t at = scan + (b.size() - scan) / 2;
                              b[at] = 0xFF;
                              b[at + 1] = 0xD9;
                          }});
        damage.push_back({"frame header with two components", [](Bytes &b) {
                              b[Find(b, "\xFF\xC0") + 9] = 2;
                          }});
        damage.push_back({"no frame header", [](Bytes &b) { b[Find(b, "\xFF\xC0") + 1] = 0xEF; }});
    } else {
        damage.push_back(
            {"image data CRC wrong", [](Bytes &b) { b[Find(b, "IDAT") + 10] ^= 0x40; }});
        damage.push_back({"no end chunk", [](Bytes &b) { b.resize(Find(b, "IEND") - 4); }});
    }
    return damage;
}

TEST(SpiModules, BrokenFilesFailCleanly)
{
    for (const Kind &kind : kKinds) {
        const Bytes good = kind.make(24);
        ASSERT_EQ(DecodeFile(kind.module(), good).result, SPI_OK) << kind.name;
        for (const Damage &d : DamageFor(kind.name)) {
            SCOPED_TRACE(testing::Message() << kind.name << ": " << d.name);
            Bytes broken = good;
            d.apply(broken);
            // Decode checks that a failure leaves both handles empty; the sanitizer build
            // checks that nothing leaks.
            EXPECT_NE(DecodeFile(kind.module(), broken).result, SPI_OK)
                << broken.size() << " bytes";
            PictureInfo(kind.module(), broken);
        }
    }
}

} // namespace
} // namespace plugin_test
