/*
 * gif.spi: GIF pictures through giflib.
 *
 * The picture is the first frame composed on the logical screen, delivered with 8 bits per
 * pixel and the frame's colours in a 256-entry colour table. The transparent index is not
 * applied: its pixels keep their palette colour, because the program makes GIF stamps
 * transparent by the colour of their top-left pixel instead.
 *
 * Choices where a file leaves the picture open:
 *  - Without any colour table, index 0 is black and index 1 white, as only two-colour pictures
 *    are seen without one.
 *  - Indices beyond the frame's colour table show black; the table is padded to 256 entries so
 *    that no pixel refers outside it.
 *  - Screen pixels the frame does not cover take the background colour: the global table's
 *    entry at the background index, or black when there is no such entry. A frame with a
 *    local table gets the background colour added to its table, or the nearest entry when
 *    the table is full.
 *  - A frame reaching past the screen is clipped to it.
 *  - A file with no frame at all, or a screen of zero width or height, has no picture.
 */
#include <gif_lib.h>

#include "spi_module.h"

enum { GIF_SIGNATURE_SIZE = 6 };

static int IsGifSignature(const uint8_t *bytes)
{
    return memcmp(bytes, "GIF87a", GIF_SIGNATURE_SIZE) == 0 ||
           memcmp(bytes, "GIF89a", GIF_SIGNATURE_SIZE) == 0;
}

/* giflib accepts any version after "GIF"; the signature is checked here first so that every
 * entry point agrees with IsSupported, and its bytes are then replayed to giflib. */
typedef struct GifSource {
    SpiInput input;
    uint8_t signature[GIF_SIGNATURE_SIZE];
    size_t replayed;
} GifSource;

static int GifRead(GifFileType *gif, GifByteType *dest, int size)
{
    GifSource *source = (GifSource *)gif->UserData;
    if (size <= 0)
        return 0;
    size_t done = 0;
    while (source->replayed < GIF_SIGNATURE_SIZE && done < (size_t)size)
        dest[done++] = source->signature[source->replayed++];
    return (int)(done + SpiInputRead(&source->input, dest + done, (size_t)size - done));
}

static int32_t GifOpen(GifSource *source, const char *path, intptr_t offset, uint32_t flags,
                       GifFileType **gif)
{
    *gif = NULL;
    int32_t result = SpiInputOpen(&source->input, path, offset, flags);
    if (result != SPI_OK)
        return result;
    source->replayed = 0;
    if (SpiInputRead(&source->input, source->signature, GIF_SIGNATURE_SIZE) !=
            GIF_SIGNATURE_SIZE ||
        !IsGifSignature(source->signature)) {
        SpiInputClose(&source->input);
        return SPI_UNKNOWN_FORMAT;
    }
    int error = 0;
    *gif = DGifOpen(source, GifRead, &error);
    if (!*gif) {
        SpiInputClose(&source->input);
        return error == D_GIF_ERR_NOT_ENOUGH_MEM ? SPI_NO_MEMORY : SPI_BROKEN_DATA;
    }
    if (!SpiPictureSizeAllowed((*gif)->SWidth, (*gif)->SHeight)) {
        DGifCloseFile(*gif, &error);
        *gif = NULL;
        SpiInputClose(&source->input);
        return SPI_NO_MEMORY;
    }
    return SPI_OK;
}

static void GifClose(GifSource *source, GifFileType *gif)
{
    int error;
    DGifCloseFile(gif, &error);
    SpiInputClose(&source->input);
}

/* Reads the records before the first frame and that frame's descriptor. */
static int32_t GifFindFirstFrame(GifFileType *gif)
{
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            return SPI_BROKEN_DATA;
        if (type == IMAGE_DESC_RECORD_TYPE)
            return DGifGetImageDesc(gif) == GIF_ERROR ? SPI_BROKEN_DATA : SPI_OK;
        if (type != EXTENSION_RECORD_TYPE)
            return SPI_BROKEN_DATA;
        int code;
        GifByteType *block;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
            return SPI_BROKEN_DATA;
        while (block)
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                return SPI_BROKEN_DATA;
    }
}

static void GifSetColor(SpiRgbQuad *quad, uint8_t red, uint8_t green, uint8_t blue)
{
    quad->rgbRed = red;
    quad->rgbGreen = green;
    quad->rgbBlue = blue;
    quad->rgbReserved = 0;
}

/* Fills the colour table from the frame's colours; returns how many entries they take. */
static int GifFillPalette(SpiRgbQuad *colors, const ColorMapObject *map)
{
    if (!map) {
        GifSetColor(&colors[1], 255, 255, 255);
        return 2;
    }
    int count = map->ColorCount < 256 ? map->ColorCount : 256;
    for (int i = 0; i < count; i++)
        GifSetColor(&colors[i], map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
    return count;
}

/* The index that shows the background colour in the delivered colour table. */
static uint8_t GifBackgroundIndex(const GifFileType *gif, const ColorMapObject *frame_map,
                                  SpiRgbQuad *colors, int used)
{
    const ColorMapObject *global = gif->SColorMap;
    int background = gif->SBackGroundColor;
    if (frame_map == global && global)
        return (uint8_t)background; /* past the table it is black padding */

    SpiRgbQuad want = {0, 0, 0, 0};
    if (global && background >= 0 && background < global->ColorCount)
        GifSetColor(&want, global->Colors[background].Red, global->Colors[background].Green,
                    global->Colors[background].Blue);
    int best = 0;
    long best_distance = -1;
    for (int i = 0; i < used; i++) {
        long dr = colors[i].rgbRed - want.rgbRed, dg = colors[i].rgbGreen - want.rgbGreen,
             db = colors[i].rgbBlue - want.rgbBlue;
        long distance = dr * dr + dg * dg + db * db;
        if (best_distance < 0 || distance < best_distance) {
            best = i;
            best_distance = distance;
        }
    }
    if (best_distance == 0 || used >= 256)
        return (uint8_t)best;
    colors[used] = want;
    return (uint8_t)used;
}

static int32_t GifDecodeFrame(GifFileType *gif, SpiDib *dib)
{
    const GifImageDesc *frame = &gif->Image;
    const int32_t screen_width = gif->SWidth, screen_height = gif->SHeight;
    const ColorMapObject *map = frame->ColorMap ? frame->ColorMap : gif->SColorMap;

    int32_t result = SpiDibCreate(dib, screen_width, screen_height, 8, 256);
    if (result != SPI_OK)
        return result;
    int used = GifFillPalette(dib->colors, map);

    /* giflib reads the frame's position and size as unsigned 16-bit numbers. */
    const int32_t left = frame->Left, top = frame->Top;
    const int32_t width = frame->Width, height = frame->Height;
    const int covers_screen =
        left == 0 && top == 0 && width >= screen_width && height >= screen_height;
    if (!covers_screen) {
        uint8_t background = GifBackgroundIndex(gif, map, dib->colors, used);
        for (int32_t y = 0; y < screen_height; y++)
            memset(SpiDibRow(dib, y), background, (size_t)screen_width);
    }
    if (width <= 0 || height <= 0 || left >= screen_width || top >= screen_height)
        return SPI_OK;
    if (!SpiPictureSizeAllowed(width, height))
        return SPI_NO_MEMORY;

    GifPixelType *line = (GifPixelType *)malloc((size_t)width);
    if (!line)
        return SPI_NO_MEMORY;
    const int32_t visible_rows =
        height < screen_height - top ? height : screen_height - top;
    const size_t visible_columns =
        (size_t)(width < screen_width - left ? width : screen_width - left);

    /* Interlaced frames store every eighth row from row 0, then every eighth from row 4,
     * every fourth from row 2 and every second from row 1. */
    static const int32_t interlaced_start[] = {0, 4, 2, 1}, interlaced_step[] = {8, 8, 4, 2};
    static const int32_t plain_start[] = {0}, plain_step[] = {1};
    const int passes = frame->Interlace ? 4 : 1;
    const int32_t *start = frame->Interlace ? interlaced_start : plain_start;
    const int32_t *step = frame->Interlace ? interlaced_step : plain_step;

    /* Rows below the screen are never shown, so decoding stops once every visible row is
     * in place rather than inflating the rest of an oversized frame. */
    int32_t placed = 0;
    for (int pass = 0; pass < passes && placed < visible_rows; pass++) {
        for (int32_t y = start[pass]; y < height && placed < visible_rows; y += step[pass]) {
            if (DGifGetLine(gif, line, width) == GIF_ERROR) {
                free(line);
                return SPI_BROKEN_DATA;
            }
            if (y < visible_rows) {
                memcpy(SpiDibRow(dib, top + y) + left, line, visible_columns);
                placed++;
            }
        }
    }
    free(line);
    return SPI_OK;
}

SPI_EXPORT int32_t IsSupported(const char *path, intptr_t fd)
{
    (void)path;
    uint8_t signature[GIF_SIGNATURE_SIZE];
    return SpiReadSignature(fd, signature, sizeof signature) && IsGifSignature(signature);
}

SPI_EXPORT int32_t GetPictureInfo(const char *path, intptr_t offset, uint32_t flags,
                                  SpiPictureInfo *info)
{
    if (!info)
        return SPI_INTERNAL_ERROR;
    GifSource source;
    GifFileType *gif;
    int32_t result = GifOpen(&source, path, offset, flags, &gif);
    if (result != SPI_OK)
        return result;
    SpiSetPictureInfo(info, gif->SWidth, gif->SHeight, 8);
    GifClose(&source, gif);
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

    GifSource source;
    GifFileType *gif;
    int32_t result = GifOpen(&source, path, offset, flags, &gif);
    if (result != SPI_OK)
        return result;
    SpiDib dib;
    memset(&dib, 0, sizeof dib);
    result = GifFindFirstFrame(gif);
    if (result == SPI_OK)
        result = GifDecodeFrame(gif, &dib);
    GifClose(&source, gif);
    if (result != SPI_OK) {
        SpiDibDiscard(&dib);
        return result;
    }
    SpiDibHandOver(&dib, bitmap_info, bitmap_bits);
    return SPI_OK;
}
