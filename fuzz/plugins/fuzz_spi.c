/*
 * Drives one plug-in module's three entry points with an arbitrary file, as the program
 * would: IsSupported on a descriptor, GetPictureInfo from memory, GetPicture from a file
 * name. A success must hand back blocks that agree with each other and with the record.
 */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "spi_module.h"

int32_t IsSupported(const char *path, intptr_t fd);
int32_t GetPictureInfo(const char *path, intptr_t offset, uint32_t flags, SpiPictureInfo *info);
int32_t GetPicture(const char *path, intptr_t offset, uint32_t flags, SpiHandle *bitmap_info,
                   SpiHandle *bitmap_bits, SpiProgressCallback progress, intptr_t data);

static void Require(int condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "broken promise: %s\n", what);
        abort();
    }
}

static void CheckPicture(SpiHandle info_block, SpiHandle bits_block, int have_record,
                         int32_t width, int32_t height)
{
    Require(SpiBlockValid(info_block) && SpiBlockValid(bits_block), "both blocks made");
    const SpiBitmapInfoHeader *h = (const SpiBitmapInfoHeader *)SpiBlockLock(info_block);
    Require(SpiBlockSize(info_block) == sizeof *h + h->biClrUsed * sizeof(SpiRgbQuad),
            "colour table fills the information block");
    Require(h->biWidth > 0 && h->biHeight > 0, "positive size");
    Require(h->biBitCount == 8 || h->biBitCount == 24, "8 or 24 bits");
    Require(h->biBitCount != 8 || h->biClrUsed == 256, "full colour table");
    Require((size_t)h->biSizeImage ==
                SpiDibRowBytes((uint32_t)h->biWidth, h->biBitCount) * (size_t)h->biHeight,
            "image size");
    Require(SpiBlockSize(bits_block) == h->biSizeImage, "pixel block size");
    Require(!have_record || (h->biWidth == width && h->biHeight == height),
            "record and picture agree");
    SpiBlockUnlock(info_block);
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int fd = memfd_create("spi-fuzz", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += (size_t)n;
    }
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    IsSupported(path, fd);

    SpiPictureInfo record;
    int have_record = GetPictureInfo((const char *)data, (intptr_t)size, SPI_INPUT_MEMORY,
                                     &record) == SPI_OK;
    int32_t width = 0, height = 0;
    if (have_record) {
        width = record.width;
        height = record.height;
        SpiBlockFree(record.hInfo);
    }

    SpiHandle info_block = NULL, bits_block = NULL;
    if (GetPicture(path, 0, SPI_INPUT_FILE, &info_block, &bits_block, NULL, 0) == SPI_OK) {
        CheckPicture(info_block, bits_block, have_record, width, height);
        SpiBlockFree(info_block);
        SpiBlockFree(bits_block);
    } else {
        Require(!info_block && !bits_block, "failure leaves no blocks");
    }
    close(fd);
    return 0;
}
