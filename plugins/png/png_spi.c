/*
 * png.spi: PNG pictures through libpng.
 *
 * Every colour type and bit depth is delivered as 24-bit BGR: palettes and grey levels are
 * expanded, 16-bit samples scaled to 8 bits, and alpha (an alpha channel or a tRNS chunk)
 * composited over white in the file's own colour values, without gamma correction.
 *
 * libpng reports errors by calling the error function, which must not return; it jumps back
 * to the decoding function here, whose frame holds nothing that needs cleaning up, and the
 * caller then releases everything. A file is complete only when it reaches its IEND chunk.
 */
#include <png.h>
#include <zlib.h>

#include "spi_module.h"

static const uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

static void PngFail(png_structp png, png_const_charp message)
{
    (void)message;
    png_longjmp(png, 1);
}

static void PngWarn(png_structp png, png_const_charp message)
{
    (void)png;
    (void)message;
}

static void PngSource(png_structp png, png_bytep dest, size_t size)
{
    if (SpiInputRead((SpiInput *)png_get_io_ptr(png), dest, size) != size)
        png_error(png, "truncated");
}

/* Everything one decoding needs, kept outside the frame that calls setjmp so that its values
 * are intact after a jump. */
typedef struct PngJob {
    png_structp png;
    png_infop info;
    SpiInput input;
    png_uint_32 width, height;
    SpiDib dib;
    uint8_t *scratch;
} PngJob;

/* Where the seven Adam7 passes take their pixels from. A file that is not interlaced is one
 * pass over every pixel. */
static const int adam7_x0[] = {0, 4, 0, 2, 0, 1, 0}, adam7_dx[] = {8, 8, 4, 4, 2, 2, 1};
static const int adam7_y0[] = {0, 0, 4, 0, 2, 0, 1}, adam7_dy[] = {8, 8, 8, 4, 4, 2, 2};

static int PngPassHasRow(int interlaced, int pass, png_uint_32 y)
{
    return !interlaced ||
           (y >= (png_uint_32)adam7_y0[pass] && (y - adam7_y0[pass]) % adam7_dy[pass] == 0);
}

/* Puts the BGRA pixels that this pass delivered onto white in the BGR row. */
static void PngComposite(const uint8_t *bgra, uint8_t *bgr, png_uint_32 width, int x0, int dx)
{
    for (png_uint_32 x = (png_uint_32)x0; x < width; x += (png_uint_32)dx) {
        const uint8_t *in = bgra + (size_t)x * 4;
        uint8_t *out = bgr + (size_t)x * 3;
        unsigned alpha = in[3], white = 255 * (255 - alpha) + 127;
        out[0] = (uint8_t)((in[0] * alpha + white) / 255);
        out[1] = (uint8_t)((in[1] * alpha + white) / 255);
        out[2] = (uint8_t)((in[2] * alpha + white) / 255);
    }
}

/* Decodes the picture. Every libpng error comes back here through longjmp; nothing in this
 * frame needs to survive it. */
static int32_t PngRun(PngJob *job)
{
    png_structp png = job->png;
    png_infop info = job->info;
    if (setjmp(png_jmpbuf(png)))
        return SPI_BROKEN_DATA;

    png_set_read_fn(png, &job->input, PngSource);
    /* The program's own limit decides which sizes are too large, not libpng's default. */
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    /* Only the chunks that make up the pixels matter; the rest (text, colour profiles) are
     * skipped unread, which also keeps their decompression out of reach of hostile files. */
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, NULL, -1);

    png_read_info(png, info);
    int bit_depth, color_type, interlace;
    png_get_IHDR(png, info, &job->width, &job->height, &bit_depth, &color_type, &interlace,
                 NULL, NULL);
    if (!SpiPictureSizeAllowed(job->width, job->height))
        return SPI_NO_MEMORY;

    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    const int interlaced = interlace != PNG_INTERLACE_NONE;
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int channels = png_get_channels(png, info);
    if (png_get_bit_depth(png, info) != 8 || (channels != 3 && channels != 4) ||
        png_get_rowbytes(png, info) != (size_t)job->width * (size_t)channels)
        return SPI_INTERNAL_ERROR;
    int32_t result = SpiDibCreate(&job->dib, (int32_t)job->width, (int32_t)job->height, 24, 0);
    if (result != SPI_OK)
        return result;

    /* Opaque rows are decoded straight into the picture, where libpng fills in each pass's
     * pixels. Rows with alpha go through one scratch row and only the pixels of the current
     * pass are composited, so an interlaced picture never needs a whole-image buffer. */
    if (channels == 4) {
        job->scratch = (uint8_t *)malloc((size_t)job->width * 4);
        if (!job->scratch)
            return SPI_NO_MEMORY;
    }
    for (int pass = 0; pass < passes; pass++) {
        for (png_uint_32 y = 0; y < job->height; y++) {
            uint8_t *row = SpiDibRow(&job->dib, (int32_t)y);
            if (!job->scratch) {
                png_read_row(png, row, NULL);
                continue;
            }
            png_read_row(png, job->scratch, NULL);
            if (PngPassHasRow(interlaced, pass, y))
                PngComposite(job->scratch, row, job->width, interlaced ? adam7_x0[pass] : 0,
                             interlaced ? adam7_dx[pass] : 1);
        }
    }
    png_read_end(png, NULL);
    return SPI_OK;
}

static int32_t PngStart(PngJob *job, const char *path, intptr_t offset, uint32_t flags)
{
    memset(job, 0, sizeof *job);
    int32_t result = SpiInputOpen(&job->input, path, offset, flags);
    if (result != SPI_OK)
        return result;
    job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, PngFail, PngWarn);
    if (job->png)
        job->info = png_create_info_struct(job->png);
    if (!job->info) {
        png_destroy_read_struct(job->png ? &job->png : NULL, NULL, NULL);
        SpiInputClose(&job->input);
        return SPI_NO_MEMORY;
    }
    return SPI_OK;
}

static void PngFinish(PngJob *job)
{
    png_destroy_read_struct(&job->png, &job->info, NULL);
    free(job->scratch);
    SpiDibDiscard(&job->dib);
    SpiInputClose(&job->input);
}

/*
 * The picture's size from its chunks, without setting up the library: for a small picture
 * that set-up costs more than the walk. The walk goes up to the first image data chunk as the
 * library's header reader does and refuses what it refuses there: a wrong signature, a header
 * chunk that is missing, damaged or holds values PNG does not allow, a damaged or unknown
 * critical chunk, an early end chunk, and a palette picture without its palette. Ancillary
 * chunks are passed over; decoding the picture checks everything else.
 */
static uint32_t PngBigEndian(const uint8_t *bytes)
{
    return (uint32_t)bytes[0] << 24 | (uint32_t)bytes[1] << 16 | (uint32_t)bytes[2] << 8 |
           bytes[3];
}

static int PngHeaderValid(const uint8_t *ihdr)
{
    const uint32_t width = PngBigEndian(ihdr), height = PngBigEndian(ihdr + 4);
    const int depth = ihdr[8], colour = ihdr[9];
    if (width == 0 || height == 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX)
        return 0;
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16)
        return 0;
    switch (colour) {
    case PNG_COLOR_TYPE_GRAY:
        break;
    case PNG_COLOR_TYPE_PALETTE:
        if (depth > 8)
            return 0;
        break;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
    case PNG_COLOR_TYPE_RGB_ALPHA:
        if (depth < 8)
            return 0;
        break;
    default:
        return 0;
    }
    /* Compression, filter method and interlacing. */
    return ihdr[10] == 0 && ihdr[11] == 0 && ihdr[12] <= 1;
}

/* Reads a critical chunk's data of the given length and checks its CRC. */
static int PngCriticalChunkIntact(SpiInput *input, const uint8_t *type, uint32_t length)
{
    uLong crc = crc32(0, type, 4);
    while (length > 0) {
        const uint8_t *data;
        size_t n = SpiInputNext(input, &data, length);
        if (n == 0)
            return 0;
        crc = crc32(crc, data, (uInt)n);
        length -= (uint32_t)n;
    }
    uint8_t stored[4];
    return SpiInputRead(input, stored, 4) == 4 && PngBigEndian(stored) == (uint32_t)crc;
}

static int32_t PngReadHeader(SpiInput *input, png_uint_32 *width, png_uint_32 *height)
{
    uint8_t start[sizeof png_signature + 8 + 13 + 4];
    if (SpiInputRead(input, start, sizeof start) != sizeof start ||
        memcmp(start, png_signature, sizeof png_signature) != 0)
        return SPI_BROKEN_DATA;
    const uint8_t *ihdr = start + sizeof png_signature + 8;
    if (PngBigEndian(start + 8) != 13 || memcmp(start + 12, "IHDR", 4) != 0 ||
        PngBigEndian(ihdr + 13) != (uint32_t)crc32(0, start + 12, 17) || !PngHeaderValid(ihdr))
        return SPI_BROKEN_DATA;
    *width = PngBigEndian(ihdr);
    *height = PngBigEndian(ihdr + 4);
    int have_palette = 0;
    for (;;) {
        uint8_t chunk[8];
        if (SpiInputRead(input, chunk, 8) != 8)
            return SPI_BROKEN_DATA;
        const uint32_t length = PngBigEndian(chunk);
        const uint8_t *type = chunk + 4;
        if (length > PNG_UINT_31_MAX)
            return SPI_BROKEN_DATA;
        for (int i = 0; i < 4; i++)
            if (!((type[i] >= 'A' && type[i] <= 'Z') || (type[i] >= 'a' && type[i] <= 'z')))
                return SPI_BROKEN_DATA;
        if (memcmp(type, "IDAT", 4) == 0)
            return ihdr[9] == PNG_COLOR_TYPE_PALETTE && !have_palette ? SPI_BROKEN_DATA
                                                                       : SPI_OK;
        if (type[0] & 0x20) {
            if (SpiInputSkip(input, (size_t)length + 4) != (size_t)length + 4)
                return SPI_BROKEN_DATA;
            continue;
        }
        /* A grey picture has no use for a palette, and the library refuses one. */
        if (memcmp(type, "PLTE", 4) != 0 || have_palette || !(ihdr[9] & PNG_COLOR_MASK_COLOR) ||
            !PngCriticalChunkIntact(input, type, length))
            return SPI_BROKEN_DATA;
        if (ihdr[9] == PNG_COLOR_TYPE_PALETTE &&
            (length == 0 || length % 3 != 0 || length / 3 > 256))
            return SPI_BROKEN_DATA;
        have_palette = 1;
    }
}

SPI_EXPORT int32_t IsSupported(const char *path, intptr_t fd)
{
    (void)path;
    uint8_t signature[sizeof png_signature];
    return SpiReadSignature(fd, signature, sizeof signature) &&
           memcmp(signature, png_signature, sizeof signature) == 0;
}

SPI_EXPORT int32_t GetPictureInfo(const char *path, intptr_t offset, uint32_t flags,
                                  SpiPictureInfo *info)
{
    if (!info)
        return SPI_INTERNAL_ERROR;
    SpiInput input;
    int32_t result = SpiInputOpen(&input, path, offset, flags);
    if (result != SPI_OK)
        return result;
    png_uint_32 width = 0, height = 0;
    result = PngReadHeader(&input, &width, &height);
    SpiInputClose(&input);
    if (result != SPI_OK)
        return result;
    if (!SpiPictureSizeAllowed(width, height))
        return SPI_NO_MEMORY;
    SpiSetPictureInfo(info, (int32_t)width, (int32_t)height, 24);
    return SPI_OK;
}

SPI_EXPORT int32_t GetPicture(const char *path, intptr_t offset, uint32_t flags,
                              SpiHandle *bitmap_info, SpiHandle *bitmap_bits,
                              SpiProgressCallback progress, intptr_t data)
{
    (void)progress;
    (void)data;
    if (!bitmap_info || !bitmap_bits)
        return SPI_INTERNAL_ERROR;
    *bitmap_info = *bitmap_bits = NULL;
    PngJob job;
    int32_t result = PngStart(&job, path, offset, flags);
    if (result != SPI_OK)
        return result;
    result = PngRun(&job);
    if (result == SPI_OK)
        SpiDibHandOver(&job.dib, bitmap_info, bitmap_bits);
    PngFinish(&job);
    return result;
}
