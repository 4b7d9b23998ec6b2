#include "plugin_test_support.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include <gtest/gtest.h>

namespace plugin_test {
namespace {

// Modules stay loaded for the whole run, so that leak reports can still name their code.
SpiModule Load(const char *name, const char *path)
{
    SpiModule module;
    module.name = name;
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        ADD_FAILURE() << "cannot load " << path << ": " << dlerror();
        return module;
    }
    module.IsSupported = reinterpret_cast<SpiIsSupportedProc>(dlsym(handle, "IsSupported"));
    module.GetPictureInfo =
        reinterpret_cast<SpiGetPictureInfoProc>(dlsym(handle, "GetPictureInfo"));
    module.GetPicture = reinterpret_cast<SpiGetPictureProc>(dlsym(handle, "GetPicture"));
    EXPECT_TRUE(module.IsSupported && module.GetPictureInfo && module.GetPicture) << path;
    return module;
}

void CheckBlocks(const SpiHandle info_block, const SpiHandle bits_block, Picture &picture)
{
    ASSERT_TRUE(SpiBlockValid(info_block));
    ASSERT_TRUE(SpiBlockValid(bits_block));
    // The module hands its blocks over unlocked.
    SpiBlockLock(info_block);
    EXPECT_FALSE(SpiBlockUnlock(info_block));
    SpiBlockLock(bits_block);
    EXPECT_FALSE(SpiBlockUnlock(bits_block));

    const size_t info_size = SpiBlockSize(info_block);
    ASSERT_GE(info_size, sizeof(SpiBitmapInfoHeader));
    const auto *header = static_cast<const SpiBitmapInfoHeader *>(SpiBlockLock(info_block));
    EXPECT_EQ(header->biSize, 40u);
    EXPECT_EQ(header->biPlanes, 1);
    EXPECT_EQ(header->biCompression, uint32_t(SPI_BI_RGB));
    ASSERT_GT(header->biWidth, 0);
    ASSERT_GT(header->biHeight, 0) << "rows must be bottom-up";
    ASSERT_TRUE(header->biBitCount == 8 || header->biBitCount == 24) << header->biBitCount;
    ASSERT_EQ(info_size, sizeof(SpiBitmapInfoHeader) + header->biClrUsed * sizeof(SpiRgbQuad));
    if (header->biBitCount == 8)
        EXPECT_EQ(header->biClrUsed, 256u) << "every index must have a colour";
    else
        EXPECT_EQ(header->biClrUsed, 0u);
    const size_t row_bytes = SpiDibRowBytes(uint32_t(header->biWidth), header->biBitCount);
    ASSERT_EQ(header->biSizeImage, row_bytes * size_t(header->biHeight));
    ASSERT_EQ(SpiBlockSize(bits_block), size_t(header->biSizeImage));

    picture.width = header->biWidth;
    picture.height = header->biHeight;
    picture.bit_count = header->biBitCount;
    const auto *colors = reinterpret_cast<const SpiRgbQuad *>(header + 1);
    for (uint32_t i = 0; i < header->biClrUsed; i++)
        picture.palette.push_back(Rgb(colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue));

    const auto *bits = static_cast<const uint8_t *>(SpiBlockLock(bits_block));
    const size_t used = size_t(picture.width) * (picture.bit_count / 8);
    for (int32_t y = 0; y < picture.height; y++) {
        const uint8_t *row = bits + size_t(picture.height - 1 - y) * row_bytes;
        for (size_t pad = used; pad < row_bytes; pad++)
            ASSERT_EQ(row[pad], 0) << "row padding must stay clear, row " << y;
        for (int32_t x = 0; x < picture.width; x++) {
            if (picture.bit_count == 8) {
                picture.indices.push_back(row[x]);
                picture.rgb.push_back(picture.palette[row[x]]);
            } else {
                const uint8_t *bgr = row + 3 * x;
                picture.rgb.push_back(Rgb(bgr[2], bgr[1], bgr[0]));
            }
        }
    }
    SpiBlockUnlock(bits_block);
    SpiBlockUnlock(info_block);
}

} // namespace

const SpiModule &GifModule()
{
    static const SpiModule module = Load("gif", GIF_SPI_PATH);
    return module;
}

const SpiModule &JpegModule()
{
    static const SpiModule module = Load("jpeg", JPEG_SPI_PATH);
    return module;
}

const SpiModule &PngModule()
{
    static const SpiModule module = Load("png", PNG_SPI_PATH);
    return module;
}

Bytes Take(EncodedFile file, int encoded_ok)
{
    EXPECT_TRUE(encoded_ok) << "the fixture could not be encoded";
    Bytes bytes(file.data, file.data + file.size);
    free(file.data);
    return bytes;
}

TempFile::TempFile(const Bytes &bytes)
{
    const char *folder = getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/ketto-spi-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) {
        ADD_FAILURE() << "cannot create " << pattern;
        return;
    }
    path_ = pattern;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ADD_FAILURE() << "cannot write " << path_;
            break;
        }
        done += size_t(n);
    }
    close(fd);
}

TempFile::~TempFile()
{
    if (!path_.empty())
        unlink(path_.c_str());
}

Picture Decode(const SpiModule &module, const char *path, intptr_t offset, uint32_t flags)
{
    Picture picture;
    // Poisoned out-handles show whether a failing module clears them.
    SpiHandle info_block = reinterpret_cast<SpiHandle>(1);
    SpiHandle bits_block = reinterpret_cast<SpiHandle>(1);
    picture.result =
        module.GetPicture(path, offset, flags, &info_block, &bits_block, nullptr, 0);
    if (picture.result != SPI_OK) {
        EXPECT_EQ(info_block, nullptr) << module.name << ": failure must leave no block";
        EXPECT_EQ(bits_block, nullptr) << module.name << ": failure must leave no block";
        return picture;
    }
    CheckBlocks(info_block, bits_block, picture);
    SpiBlockFree(info_block);
    SpiBlockFree(bits_block);
    return picture;
}

Picture DecodeFile(const SpiModule &module, const Bytes &bytes)
{
    TempFile file(bytes);
    return Decode(module, file.path(), 0, SPI_INPUT_FILE);
}

Info PictureInfo(const SpiModule &module, const char *path, intptr_t offset, uint32_t flags)
{
    SpiPictureInfo record;
    memset(&record, 0xAB, sizeof record);
    Info info;
    info.result = module.GetPictureInfo(path, offset, flags, &record);
    if (info.result == SPI_OK) {
        info.width = record.width;
        info.height = record.height;
        info.depth = record.colorDepth;
        info.text = record.hInfo;
        SpiBlockFree(record.hInfo);
    }
    return info;
}

Info PictureInfo(const SpiModule &module, const Bytes &bytes)
{
    TempFile file(bytes);
    return PictureInfo(module, file.path(), 0, SPI_INPUT_FILE);
}

int ChannelDistance(uint32_t a, uint32_t b)
{
    int worst = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int d = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
        worst = d > worst ? d : worst;
    }
    return worst;
}

} // namespace plugin_test
