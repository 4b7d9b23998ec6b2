/*
 * jpeg.spi: JPEG pictures through libjpeg-turbo.
 *
 * Greyscale pictures are delivered with 8 bits per pixel and a grey colour table, every other
 * kind with 24 bits. CMYK and YCCK pictures are converted to RGB here, since the library only
 * delivers them as CMYK. The EXIF orientation is not applied.
 *
 * libjpeg reports errors by calling error_exit, which must not return; it jumps back to the
 * decoding function here, whose frame holds nothing that needs cleaning up, and the caller
 * then releases everything. A truncated file is an error rather than the library's default
 * grey fill, and so is entropy data corrupt enough to lose pixels.
 */
#include <setjmp.h>
#include <stdio.h>

/* jerror.h numbers its messages by the configuration that jpeglib.h brings in, so it comes
 * second. */
#include <jpeglib.h>
#include <jerror.h>

#include "spi_module.h"

/* A progressive file can hold any number of scans, each of which costs a pass over the whole
 * picture; this bounds the work a small hostile file can cause. */
enum { JPEG_MAX_SCANS = 500 };

typedef struct JpegErrors {
    struct jpeg_error_mgr base;
    jmp_buf jump;
} JpegErrors;

static void JpegFail(j_common_ptr cinfo)
{
    longjmp(((JpegErrors *)cinfo->err)->jump, 1);
}

static void JpegOutputMessage(j_common_ptr cinfo)
{
    (void)cinfo;
}

static void JpegEmitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    switch (cinfo->err->msg_code) {
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_JPEG_EOF:
        JpegFail(cinfo);
        break;
    default:
        /* Harmless irregularities, such as stray bytes between markers, are common in
         * files that otherwise decode completely. */
        cinfo->err->num_warnings++;
        break;
    }
}

static void JpegCheckScans(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor &&
        ((j_decompress_ptr)cinfo)->input_scan_number > JPEG_MAX_SCANS)
        JpegFail(cinfo);
}

typedef struct JpegSource {
    struct jpeg_source_mgr base;
    SpiInput *input;
} JpegSource;

static void JpegSourceInit(j_decompress_ptr cinfo)
{
    (void)cinfo;
}

static boolean JpegSourceFill(j_decompress_ptr cinfo)
{
    JpegSource *source = (JpegSource *)cinfo->src;
    const uint8_t *data;
    size_t n = SpiInputNext(source->input, &data, SIZE_MAX);
    if (n == 0)
        ERREXIT(cinfo, JERR_INPUT_EOF);
    source->base.next_input_byte = data;
    source->base.bytes_in_buffer = n;
    return TRUE;
}

static void JpegSourceSkip(j_decompress_ptr cinfo, long count)
{
    struct jpeg_source_mgr *source = cinfo->src;
    while (count > 0) {
        if (source->bytes_in_buffer == 0)
            JpegSourceFill(cinfo);
        size_t n = source->bytes_in_buffer < (unsigned long)count ? source->bytes_in_buffer
                                                                  : (size_t)count;
        source->next_input_byte += n;
        source->bytes_in_buffer -= n;
        count -= (long)n;
    }
}

static void JpegSourceTerm(j_decompress_ptr cinfo)
{
    (void)cinfo;
}

enum JpegKind { JPEG_UNSUPPORTED, JPEG_GREY, JPEG_COLOUR, JPEG_CMYK };

/* Everything one decoding needs, kept outside the frame that calls setjmp so that its values
 * are intact after a jump. */
typedef struct JpegJob {
    struct jpeg_decompress_struct cinfo;
    JpegErrors errors;
    JpegSource source;
    struct jpeg_progress_mgr progress;
    SpiInput input;
    enum JpegKind kind;
    SpiDib dib;
    uint8_t *cmyk_row;
} JpegJob;

static enum JpegKind JpegKindOf(const struct jpeg_decompress_struct *cinfo)
{
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        return JPEG_GREY;
    case JCS_YCbCr:
    case JCS_RGB:
        return JPEG_COLOUR;
    case JCS_CMYK:
    case JCS_YCCK:
        return JPEG_CMYK;
    default:
        return JPEG_UNSUPPORTED;
    }
}

/* Adobe applications store CMYK inverted (0 is full ink) and mark such files with their APP14
 * segment; a file without that mark is taken to hold plain ink amounts. */
static void JpegCmykToBgr(const uint8_t *cmyk, uint8_t *bgr, JDIMENSION width, int inverted)
{
    for (JDIMENSION x = 0; x < width; x++, cmyk += 4, bgr += 3) {
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[0] = (uint8_t)((y * k + 127) / 255);
        bgr[1] = (uint8_t)((m * k + 127) / 255);
        bgr[2] = (uint8_t)((c * k + 127) / 255);
    }
}

/* Decodes the picture. Every libjpeg error comes back here through longjmp; nothing in this
 * frame needs to survive it. */
static int32_t JpegRun(JpegJob *job)
{
    j_decompress_ptr cinfo = &job->cinfo;
    if (setjmp(job->errors.jump))
        return SPI_BROKEN_DATA;

    jpeg_create_decompress(cinfo);
    job->source.base.init_source = JpegSourceInit;
    job->source.base.fill_input_buffer = JpegSourceFill;
    job->source.base.skip_input_data = JpegSourceSkip;
    job->source.base.resync_to_restart = jpeg_resync_to_restart;
    job->source.base.term_source = JpegSourceTerm;
    job->source.input = &job->input;
    cinfo->src = &job->source.base;
    job->progress.progress_monitor = JpegCheckScans;
    cinfo->progress = &job->progress;
    /* A progressive picture keeps every coefficient in memory until its last scan, which for
     * the largest allowed picture can exceed the pixels themselves. Past this cap the library
     * asks for backing store, which this build lacks, and so fails cleanly instead. */
    cinfo->mem->max_memory_to_use = (long)(KETTO_MAX_PIXELS * 4);

    jpeg_read_header(cinfo, TRUE);
    job->kind = JpegKindOf(cinfo);
    if (job->kind == JPEG_UNSUPPORTED)
        return SPI_UNKNOWN_FORMAT;
    if (!SpiPictureSizeAllowed(cinfo->image_width, cinfo->image_height))
        return SPI_NO_MEMORY;

    static const J_COLOR_SPACE output_space[] = {JCS_UNKNOWN, JCS_GRAYSCALE, JCS_EXT_BGR,
                                                 JCS_CMYK};
    static const int output_components[] = {0, 1, 3, 4};
    cinfo->out_color_space = output_space[job->kind];
    jpeg_start_decompress(cinfo);
    if (cinfo->output_width != cinfo->image_width ||
        cinfo->output_height != cinfo->image_height ||
        cinfo->output_components != output_components[job->kind])
        return SPI_BROKEN_DATA;

    const int32_t width = (int32_t)cinfo->output_width, height = (int32_t)cinfo->output_height;
    int32_t result = job->kind == JPEG_GREY ? SpiDibCreate(&job->dib, width, height, 8, 256)
                                            : SpiDibCreate(&job->dib, width, height, 24, 0);
    if (result != SPI_OK)
        return result;
    if (job->kind == JPEG_GREY)
        SpiDibSetGreyPalette(&job->dib);
    if (job->kind == JPEG_CMYK) {
        job->cmyk_row = (uint8_t *)malloc((size_t)width * 4);
        if (!job->cmyk_row)
            return SPI_NO_MEMORY;
    }

    while (cinfo->output_scanline < cinfo->output_height) {
        int32_t y = (int32_t)cinfo->output_scanline;
        JSAMPROW row = job->cmyk_row ? job->cmyk_row : SpiDibRow(&job->dib, y);
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            return SPI_BROKEN_DATA;
        if (job->cmyk_row)
            JpegCmykToBgr(job->cmyk_row, SpiDibRow(&job->dib, y), cinfo->output_width,
                          cinfo->saw_Adobe_marker);
    }
    /* Reading on to the end marker is what tells a complete file from a truncated one. */
    jpeg_finish_decompress(cinfo);
    return SPI_OK;
}

static int32_t JpegStart(JpegJob *job, const char *path, intptr_t offset, uint32_t flags)
{
    memset(job, 0, sizeof *job);
    job->cinfo.err = jpeg_std_error(&job->errors.base);
    job->errors.base.error_exit = JpegFail;
    job->errors.base.output_message = JpegOutputMessage;
    job->errors.base.emit_message = JpegEmitMessage;
    return SpiInputOpen(&job->input, path, offset, flags);
}

static void JpegFinish(JpegJob *job)
{
    jpeg_destroy_decompress(&job->cinfo);
    free(job->cmyk_row);
    SpiDibDiscard(&job->dib);
    SpiInputClose(&job->input);
}

/*
 * The picture's size and kind straight from its markers, without setting up the library:
 * for a small picture that set-up costs more than the scan. The scan walks the markers up
 * to the first scan as the library's own header reader does and refuses what it refuses
 * there: a missing start of image, frame or scan, markers it does not know, frame types it
 * cannot decode, and frame headers it would reject. The tables are not checked here;
 * decoding the picture does that.
 */
typedef struct JpegHeader {
    uint32_t width, height;
    int components;
} JpegHeader;

enum {
    JPEG_MARKER_SOI = 0xD8,
    JPEG_MARKER_EOI = 0xD9,
    JPEG_MARKER_SOS = 0xDA,
    /* The library's bounds on a frame, past which it refuses the file. */
    JPEG_MAX_SIDE = 65500,
    JPEG_MAX_COMPONENTS = 10,
    JPEG_MAX_SAMPLING = 4,
};

static int JpegByte(SpiInput *input, int *byte)
{
    const uint8_t *data;
    if (SpiInputNext(input, &data, 1) != 1)
        return 0;
    *byte = data[0];
    return 1;
}

static int JpegWord(SpiInput *input, unsigned *word)
{
    uint8_t bytes[2];
    if (SpiInputRead(input, bytes, 2) != 2)
        return 0;
    *word = (unsigned)bytes[0] << 8 | bytes[1];
    return 1;
}

/* The next marker code, passing over stray bytes and fill bytes as the library does; -1 at
 * the end of the input. */
static int JpegNextMarker(SpiInput *input)
{
    int byte;
    for (;;) {
        do
            if (!JpegByte(input, &byte))
                return -1;
        while (byte != 0xFF);
        do
            if (!JpegByte(input, &byte))
                return -1;
        while (byte == 0xFF);
        /* A zero after 0xFF is a stuffed byte, not a marker. */
        if (byte != 0)
            return byte;
    }
}

static int32_t JpegReadFrame(SpiInput *input, JpegHeader *header)
{
    uint8_t frame[6];
    unsigned length;
    if (!JpegWord(input, &length) || SpiInputRead(input, frame, sizeof frame) != sizeof frame)
        return SPI_BROKEN_DATA;
    const int precision = frame[0];
    header->height = (uint32_t)frame[1] << 8 | frame[2];
    header->width = (uint32_t)frame[3] << 8 | frame[4];
    header->components = frame[5];
    if (header->width == 0 || header->height == 0 || header->components == 0 ||
        length != 8u + 3u * (unsigned)header->components || precision != 8 ||
        header->width > JPEG_MAX_SIDE || header->height > JPEG_MAX_SIDE ||
        header->components > JPEG_MAX_COMPONENTS)
        return SPI_BROKEN_DATA;
    for (int i = 0; i < header->components; i++) {
        uint8_t component[3];
        if (SpiInputRead(input, component, sizeof component) != sizeof component)
            return SPI_BROKEN_DATA;
        const int h = component[1] >> 4, v = component[1] & 15;
        if (h < 1 || h > JPEG_MAX_SAMPLING || v < 1 || v > JPEG_MAX_SAMPLING)
            return SPI_BROKEN_DATA;
    }
    return SPI_OK;
}

static int32_t JpegReadHeader(SpiInput *input, JpegHeader *header)
{
    uint8_t start[2];
    if (SpiInputRead(input, start, 2) != 2 || start[0] != 0xFF || start[1] != JPEG_MARKER_SOI)
        return SPI_BROKEN_DATA;
    int have_frame = 0;
    for (;;) {
        const int marker = JpegNextMarker(input);
        if (marker < 0)
            return SPI_BROKEN_DATA;
        if (marker == JPEG_MARKER_SOS)
            return have_frame ? SPI_OK : SPI_BROKEN_DATA;
        /* Baseline, extended, progressive, and their arithmetic-coded forms. */
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC9 ||
            marker == 0xCA) {
            if (have_frame)
                return SPI_BROKEN_DATA;
            int32_t result = JpegReadFrame(input, header);
            if (result != SPI_OK)
                return result;
            have_frame = 1;
            continue;
        }
        /* The restart markers and TEM stand alone. */
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01)
            continue;
        /* Tables (DHT, DAC, DQT, DRI), DNL, application segments and comments carry a
         * length and are passed over. Everything else is a frame type the library cannot
         * decode, a second start or an early end of image, or a marker it does not know. */
        if (!(marker == 0xC4 || marker == 0xCC || marker == 0xDB || marker == 0xDD ||
              marker == 0xDC || (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE))
            return SPI_BROKEN_DATA;
        unsigned length;
        if (!JpegWord(input, &length))
            return SPI_BROKEN_DATA;
        if (length > 2 && SpiInputSkip(input, length - 2) != length - 2)
            return SPI_BROKEN_DATA;
    }
}

static enum JpegKind JpegKindOfComponents(int components)
{
    switch (components) {
    case 1:
        return JPEG_GREY;
    case 3:
        return JPEG_COLOUR;
    case 4:
        return JPEG_CMYK;
    default:
        return JPEG_UNSUPPORTED;
    }
}

SPI_EXPORT int32_t IsSupported(const char *path, intptr_t fd)
{
    (void)path;
    /* The start-of-image marker, and the first byte of the marker after it. */
    uint8_t signature[3];
    return SpiReadSignature(fd, signature, sizeof signature) && signature[0] == 0xFF &&
           signature[1] == 0xD8 && signature[2] == 0xFF;
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
    JpegHeader header = {0, 0, 0};
    result = JpegReadHeader(&input, &header);
    SpiInputClose(&input);
    if (result != SPI_OK)
        return result;
    const enum JpegKind kind = JpegKindOfComponents(header.components);
    if (kind == JPEG_UNSUPPORTED)
        return SPI_UNKNOWN_FORMAT;
    if (!SpiPictureSizeAllowed(header.width, header.height))
        return SPI_NO_MEMORY;
    SpiSetPictureInfo(info, (int32_t)header.width, (int32_t)header.height,
                      kind == JPEG_GREY ? 8 : 24);
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
    JpegJob *job = (JpegJob *)malloc(sizeof *job);
    if (!job)
        return SPI_NO_MEMORY;
    int32_t result = JpegStart(job, path, offset, flags);
    if (result == SPI_OK) {
        result = JpegRun(job);
        if (result == SPI_OK)
            SpiDibHandOver(&job->dib, bitmap_info, bitmap_bits);
        JpegFinish(job);
    }
    free(job);
    return result;
}
