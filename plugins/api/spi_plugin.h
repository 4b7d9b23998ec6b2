/*
 * The image plug-in interface between Ketto and its picture decoders.
 *
 * A plug-in module is a shared object whose file name ends in ".spi" (any letter case),
 * kept in the program's own folder. It exports, with C linkage, at least IsSupported and
 * GetPicture, and normally GetPictureInfo; GetPreview, GetArchiveInfo and GetFile are
 * optional and never called by Ketto.
 *
 * Memory blocks that cross the interface are made and released with the inline functions
 * below, so the host and a module agree on them without a shared library between them.
 * Every block records its own size, so the host never reads beyond a block whatever the
 * module claims elsewhere.
 */
#ifndef KETTO_SPI_PLUGIN_H
#define KETTO_SPI_PLUGIN_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A movable memory block, as handed out by SpiBlockAlloc. Null means "no block". */
typedef void *SpiHandle;

/* Results of GetPictureInfo and GetPicture. Only SPI_OK means success to the host. */
enum {
    SPI_OK = 0,
    SPI_NOT_IMPLEMENTED = -1,
    SPI_ABORTED = 1,
    SPI_UNKNOWN_FORMAT = 2,
    SPI_BROKEN_DATA = 3,
    SPI_NO_MEMORY = 4,
    SPI_MEMORY_ERROR = 5,
    SPI_READ_ERROR = 6,
    SPI_INTERNAL_ERROR = 8
};

/* Input flags: the low bits say where the picture comes from. Ketto always names a file. */
enum { SPI_INPUT_FILE = 0, SPI_INPUT_MEMORY = 1 };

#pragma pack(push, 1)
/* The picture-information record: fields in this order without gaps. The text handle is
 * pointer-sized, so the record is 30 bytes on a 64-bit system. */
typedef struct SpiPictureInfo {
    int32_t left;        /* position of the picture, offset 0 */
    int32_t top;         /* offset 4 */
    int32_t width;       /* width in pixels, offset 8 */
    int32_t height;      /* height in pixels, offset 12 */
    int16_t x_density;   /* offset 16 */
    int16_t y_density;   /* offset 18 */
    int16_t colorDepth;  /* bits per pixel, offset 20 */
    SpiHandle hInfo;     /* block of text information, or null; offset 22 */
} SpiPictureInfo;

/* The device-independent picture header at the start of a BITMAPINFO block, followed by
 * its colour table of SpiRgbQuad entries. */
typedef struct SpiBitmapInfoHeader {
    uint32_t biSize;          /* 40 */
    int32_t biWidth;
    int32_t biHeight;         /* positive: rows bottom-up; negative: top-down */
    uint16_t biPlanes;        /* 1 */
    uint16_t biBitCount;      /* 1, 4, 8, 16, 24 or 32 */
    uint32_t biCompression;   /* SPI_BI_RGB or SPI_BI_BITFIELDS */
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;       /* colour table entries; 0 means 2^biBitCount at <= 8 bits */
    uint32_t biClrImportant;
} SpiBitmapInfoHeader;

typedef struct SpiRgbQuad {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
} SpiRgbQuad;
#pragma pack(pop)

enum { SPI_BI_RGB = 0, SPI_BI_RLE8 = 1, SPI_BI_RLE4 = 2, SPI_BI_BITFIELDS = 3 };

/* Bytes in one pixel row of a DIB: rows are padded to a multiple of 4 bytes. Returns 0 when
 * the size does not fit in a size_t. */
static inline size_t SpiDibRowBytes(uint32_t width, uint32_t bits_per_pixel)
{
    uint64_t bits = (uint64_t)width * bits_per_pixel;
    uint64_t bytes = ((bits + 31u) / 32u) * 4u;
    return bytes > (uint64_t)SIZE_MAX ? 0 : (size_t)bytes;
}

/* Progress callback: return non-zero to abort. Ketto passes none. */
typedef int32_t (*SpiProgressCallback)(int32_t num, int32_t denom, intptr_t data);

/* The entry points, as the host calls them. */
typedef int32_t (*SpiIsSupportedProc)(const char *path, intptr_t fd);
typedef int32_t (*SpiGetPictureInfoProc)(const char *path, intptr_t offset, uint32_t flags,
                                          SpiPictureInfo *info);
typedef int32_t (*SpiGetPictureProc)(const char *path, intptr_t offset, uint32_t flags,
                                      SpiHandle *bitmap_info, SpiHandle *bitmap_bits,
                                      SpiProgressCallback progress, intptr_t data);
typedef int32_t (*SpiGetPreviewProc)(const char *path, intptr_t offset, uint32_t flags,
                                      SpiHandle *bitmap_info, SpiHandle *bitmap_bits,
                                      SpiProgressCallback progress, intptr_t data);
typedef int32_t (*SpiGetArchiveInfoProc)(const char *path, intptr_t offset, uint32_t flags,
                                          SpiHandle *entries);
typedef int32_t (*SpiGetFileProc)(const char *path, intptr_t offset, char *dest,
                                   uint32_t flags, SpiProgressCallback progress, intptr_t data);

/* Memory blocks. A block is a header that records its size, followed by the caller's bytes,
 * aligned for any type. The magic value lets the host refuse a pointer that is not a block. */
typedef union SpiBlockHeader {
    struct {
        uint64_t magic;
        size_t size;
        int32_t locks;
    } h;
    max_align_t align;
} SpiBlockHeader;

#define SPI_BLOCK_MAGIC UINT64_C(0x4B6574746F426C6B)

/* A new zero-filled block of the given size, or null when it cannot be had. */
static inline SpiHandle SpiBlockAlloc(size_t size)
{
    if (size > SIZE_MAX - sizeof(SpiBlockHeader))
        return NULL;
    SpiBlockHeader *block = (SpiBlockHeader *)calloc(1, sizeof(SpiBlockHeader) + size);
    if (!block)
        return NULL;
    block->h.magic = SPI_BLOCK_MAGIC;
    block->h.size = size;
    block->h.locks = 0;
    return block;
}

static inline int SpiBlockValid(SpiHandle handle)
{
    return handle && ((const SpiBlockHeader *)handle)->h.magic == SPI_BLOCK_MAGIC;
}

/* The block's bytes, or null for a handle that is not a block. */
static inline void *SpiBlockLock(SpiHandle handle)
{
    if (!SpiBlockValid(handle))
        return NULL;
    SpiBlockHeader *block = (SpiBlockHeader *)handle;
    block->h.locks++;
    return block + 1;
}

static inline int SpiBlockUnlock(SpiHandle handle)
{
    if (!SpiBlockValid(handle))
        return 0;
    SpiBlockHeader *block = (SpiBlockHeader *)handle;
    if (block->h.locks > 0)
        block->h.locks--;
    return block->h.locks > 0;
}

/* The size the block was made with; 0 for a handle that is not a block. */
static inline size_t SpiBlockSize(SpiHandle handle)
{
    return SpiBlockValid(handle) ? ((const SpiBlockHeader *)handle)->h.size : 0;
}

/* Frees the block. Null, and anything that is not a block, is left alone. */
static inline void SpiBlockFree(SpiHandle handle)
{
    if (!SpiBlockValid(handle))
        return;
    SpiBlockHeader *block = (SpiBlockHeader *)handle;
    block->h.magic = 0;
    free(block);
}

/* Modules mark their entry points with this so that only they are exported. */
#if defined(__GNUC__)
#define SPI_EXPORT __attribute__((visibility("default")))
#else
#define SPI_EXPORT
#endif

#ifdef __cplusplus
}

static_assert(sizeof(SpiPictureInfo) == 22 + sizeof(void *), "record must be packed");
static_assert(offsetof(SpiPictureInfo, width) == 8 && offsetof(SpiPictureInfo, height) == 12 &&
                  offsetof(SpiPictureInfo, colorDepth) == 20 &&
                  offsetof(SpiPictureInfo, hInfo) == 22,
              "record fields at their offsets");
static_assert(sizeof(SpiBitmapInfoHeader) == 40, "information header is 40 bytes");
#endif

#endif
