/*
 * Helpers shared by the image plug-in modules: reading the picture's bytes, checking sizes,
 * and building the memory blocks a module hands back. Every module compiles its own copy, and
 * modules are built with hidden visibility, so none of this is exported.
 */
#ifndef KETTO_SPI_MODULE_H
#define KETTO_SPI_MODULE_H

#include "ketto_limits.h"
#include "spi_plugin.h"

#ifdef __cplusplus
extern "C" {
#endif

/* How many bytes are read from a file at a time. A fuzzing build makes it tiny so that the
 * decoders meet chunk boundaries in every input. */
#ifndef SPI_READ_CHUNK
#define SPI_READ_CHUNK 65536
#endif

/*
 * The picture's bytes, from a file or from the caller's memory. File input is read in chunks
 * as the decoder asks for them, so that reading a picture's size stops after its header and a
 * whole picture needs no second copy of the file in memory.
 */
typedef struct SpiInput {
    const uint8_t *next; /* the bytes of the current chunk not yet handed out */
    size_t avail;
    int fd;              /* -1 for memory input */
    int at_end;
    uint8_t *buffer;     /* the chunk buffer of file input */
    size_t chunk;        /* its size */
} SpiInput;

/* Opens the input that an entry point's first three arguments describe: with flags
 * SPI_INPUT_FILE, the file named by path, starting offset bytes in; with SPI_INPUT_MEMORY,
 * offset bytes at the address path. Returns SPI_OK, or an error with nothing to close. */
int32_t SpiInputOpen(SpiInput *input, const char *path, intptr_t offset, uint32_t flags);
void SpiInputClose(SpiInput *input);

/* Points *data at the next bytes of the input, at most max of them, and returns how many;
 * 0 at the end of the input or when the file cannot be read. The bytes stay valid until the
 * next call. */
size_t SpiInputNext(SpiInput *input, const uint8_t **data, size_t max);

/* Copies the next size bytes into dest; returns fewer only at the end of the input. */
size_t SpiInputRead(SpiInput *input, void *dest, size_t size);

/* Passes over the next size bytes; returns fewer only at the end of the input. */
size_t SpiInputSkip(SpiInput *input, size_t size);

/* Reads the first size bytes of the file behind a descriptor without moving its offset.
 * Non-zero when all of them were there. */
int SpiReadSignature(intptr_t fd, uint8_t *dest, size_t size);

/* Non-zero when a picture of this size may be decoded. */
int SpiPictureSizeAllowed(int64_t width, int64_t height);

/* Fills the picture-information record; the position, densities and text are left empty. */
void SpiSetPictureInfo(SpiPictureInfo *info, int32_t width, int32_t height, int16_t depth);

/* A picture being built: its two blocks, locked while the decoder writes into them. */
typedef struct SpiDib {
    SpiHandle info;
    SpiHandle bits;
    SpiBitmapInfoHeader *header;
    SpiRgbQuad *colors;  /* the colour table, or null without one */
    uint8_t *pixels;
    size_t row_bytes;
    int32_t height;
} SpiDib;

/* Makes zero-filled blocks for a bottom-up picture with the given colour table size. Returns
 * SPI_OK, or SPI_NO_MEMORY with nothing allocated. */
int32_t SpiDibCreate(SpiDib *dib, int32_t width, int32_t height, uint16_t bit_count,
                     uint32_t color_count);

/* The pixel row y counted from the top of the picture. */
static inline uint8_t *SpiDibRow(const SpiDib *dib, int32_t y)
{
    return dib->pixels + (size_t)(dib->height - 1 - y) * dib->row_bytes;
}

/* Unlocks the finished picture's blocks and passes them to the caller. */
void SpiDibHandOver(SpiDib *dib, SpiHandle *info, SpiHandle *bits);

/* Frees whatever blocks were made; safe on a picture that was never created. */
void SpiDibDiscard(SpiDib *dib);

/* A 256-entry grey ramp, for pictures delivered as 8-bit grey levels. */
void SpiDibSetGreyPalette(SpiDib *dib);

#ifdef __cplusplus
}
#endif

#endif
