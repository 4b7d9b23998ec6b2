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

/* Reads the header, and the pixels too when the job wants them. Every libjpeg error comes back
 * here through longjmp; nothing in this frame needs to survive it. */
static int32_t JpegRun(JpegJob *job, int want_pixels)
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
    if (!want_pixels)
        return SPI_OK;

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
    JpegJob *job = (JpegJob *)malloc(sizeof *job);
    if (!job)
        return SPI_NO_MEMORY;
    int32_t result = JpegStart(job, path, offset, flags);
    if (result == SPI_OK) {
        result = JpegRun(job, 0);
        if (result == SPI_OK)
            SpiSetPictureInfo(info, (int32_t)job->cinfo.image_width,
                              (int32_t)job->cinfo.image_height,
                              job->kind == JPEG_GREY ? 8 : 24);
        JpegFinish(job);
    }
    free(job);
    return result;
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
        result = JpegRun(job, 1);
        if (result == SPI_OK)
            SpiDibHandOver(&job->dib, bitmap_info, bitmap_bits);
        JpegFinish(job);
    }
    free(job);
    return result;
}
