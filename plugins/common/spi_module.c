#define _GNU_SOURCE
#include "spi_module.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

int32_t SpiInputOpen(SpiInput *input, const char *path, intptr_t offset, uint32_t flags)
{
    memset(input, 0, sizeof *input);
    input->fd = -1;
    if (!path || offset < 0)
        return SPI_READ_ERROR;

    if (flags == SPI_INPUT_MEMORY) {
        input->next = (const uint8_t *)path;
        input->avail = (size_t)offset;
        input->at_end = 1;
        return SPI_OK;
    }
    if (flags != SPI_INPUT_FILE)
        return SPI_NOT_IMPLEMENTED;

    /* O_NONBLOCK keeps the open itself from waiting on a FIFO; only regular files are read,
     * since a device or a pipe could feed the decoder for ever. */
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return SPI_READ_ERROR;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        (offset > 0 && lseek(fd, (off_t)offset, SEEK_SET) != (off_t)offset)) {
        close(fd);
        return SPI_READ_ERROR;
    }
    /* A small file needs no more buffer than it has bytes; the one spare byte lets the first
     * read take the whole file even when it has just grown a little. */
    size_t chunk = SPI_READ_CHUNK;
    if (st.st_size >= offset && (uint64_t)(st.st_size - offset) < (uint64_t)chunk)
        chunk = (size_t)(st.st_size - offset) + 1;
    input->buffer = (uint8_t *)malloc(chunk);
    if (!input->buffer) {
        close(fd);
        return SPI_NO_MEMORY;
    }
    input->chunk = chunk;
    input->fd = fd;
    return SPI_OK;
}

void SpiInputClose(SpiInput *input)
{
    if (input->fd >= 0)
        close(input->fd);
    free(input->buffer);
    memset(input, 0, sizeof *input);
    input->fd = -1;
}

static void SpiInputRefill(SpiInput *input)
{
    ssize_t got;
    do
        got = read(input->fd, input->buffer, input->chunk);
    while (got < 0 && errno == EINTR);
    /* Even an empty read leaves next on the buffer, so callers never step a null pointer. */
    input->next = input->buffer;
    /* A read error ends the input like the end of the file does: the decoder then reports a
     * truncated picture, which is the truth as far as it can tell. */
    if (got <= 0) {
        input->at_end = 1;
        return;
    }
    input->avail = (size_t)got;
}

size_t SpiInputNext(SpiInput *input, const uint8_t **data, size_t max)
{
    if (input->avail == 0 && !input->at_end)
        SpiInputRefill(input);
    size_t n = input->avail < max ? input->avail : max;
    *data = input->next;
    input->next += n;
    input->avail -= n;
    return n;
}

size_t SpiInputRead(SpiInput *input, void *dest, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const uint8_t *data;
        size_t n = SpiInputNext(input, &data, size - done);
        if (n == 0)
            break;
        memcpy((uint8_t *)dest + done, data, n);
        done += n;
    }
    return done;
}

size_t SpiInputSkip(SpiInput *input, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const uint8_t *data;
        size_t n = SpiInputNext(input, &data, size - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

int SpiReadSignature(intptr_t fd, uint8_t *dest, size_t size)
{
    if (fd < 0 || fd > INT_MAX)
        return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t got = pread((int)fd, dest + done, size - done, (off_t)done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return 0;
        done += (size_t)got;
    }
    return 1;
}

int SpiPictureSizeAllowed(int64_t width, int64_t height)
{
#ifdef KETTO_SPI_FUZZ_MAX_PIXELS
    /* Fuzzing looks for faults, not for pictures that are merely large. */
    if (width > 0 && height > 0 && width * height > (int64_t)KETTO_SPI_FUZZ_MAX_PIXELS)
        return 0;
#endif
    return KettoSizeAllowed(width, height);
}

void SpiSetPictureInfo(SpiPictureInfo *info, int32_t width, int32_t height, int16_t depth)
{
    memset(info, 0, sizeof *info);
    info->width = width;
    info->height = height;
    info->colorDepth = depth;
    info->hInfo = NULL;
}

int32_t SpiDibCreate(SpiDib *dib, int32_t width, int32_t height, uint16_t bit_count,
                     uint32_t color_count)
{
    memset(dib, 0, sizeof *dib);
    if (!SpiPictureSizeAllowed(width, height) || color_count > 256)
        return SPI_NO_MEMORY;
    size_t row_bytes = SpiDibRowBytes((uint32_t)width, bit_count);
    if (row_bytes == 0 || row_bytes > UINT32_MAX / (uint32_t)height)
        return SPI_NO_MEMORY;
    size_t image_size = row_bytes * (size_t)height;

    dib->info = SpiBlockAlloc(sizeof(SpiBitmapInfoHeader) + color_count * sizeof(SpiRgbQuad));
    dib->bits = SpiBlockAlloc(image_size);
    if (!dib->info || !dib->bits) {
        SpiDibDiscard(dib);
        return SPI_NO_MEMORY;
    }
    dib->header = (SpiBitmapInfoHeader *)SpiBlockLock(dib->info);
    dib->colors = color_count ? (SpiRgbQuad *)(dib->header + 1) : NULL;
    dib->pixels = (uint8_t *)SpiBlockLock(dib->bits);
    dib->row_bytes = row_bytes;
    dib->height = height;

    SpiBitmapInfoHeader *h = dib->header;
    h->biSize = sizeof(SpiBitmapInfoHeader);
    h->biWidth = width;
    h->biHeight = height;
    h->biPlanes = 1;
    h->biBitCount = bit_count;
    h->biCompression = SPI_BI_RGB;
    h->biSizeImage = (uint32_t)image_size;
    h->biClrUsed = color_count;
    return SPI_OK;
}

void SpiDibHandOver(SpiDib *dib, SpiHandle *info, SpiHandle *bits)
{
    SpiBlockUnlock(dib->info);
    SpiBlockUnlock(dib->bits);
    *info = dib->info;
    *bits = dib->bits;
    memset(dib, 0, sizeof *dib);
}

void SpiDibDiscard(SpiDib *dib)
{
    SpiBlockFree(dib->info);
    SpiBlockFree(dib->bits);
    memset(dib, 0, sizeof *dib);
}

void SpiDibSetGreyPalette(SpiDib *dib)
{
    for (int i = 0; i < 256; i++) {
        dib->colors[i].rgbBlue = dib->colors[i].rgbGreen = dib->colors[i].rgbRed = (uint8_t)i;
        dib->colors[i].rgbReserved = 0;
    }
}
