#include "fixture_encoders.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

static int Append(EncodedFile *out, const void *bytes, size_t size)
{
    uint8_t *grown = (uint8_t *)realloc(out->data, out->size + size);
    if (!grown)
        return 0;
    memcpy(grown + out->size, bytes, size);
    out->data = grown;
    out->size += size;
    return 1;
}

static int GifWrite(GifFileType *gif, const GifByteType *bytes, int size)
{
    return Append((EncodedFile *)gif->UserData, bytes, (size_t)size) ? size : 0;
}

static ColorMapObject *GifMap(const uint8_t *rgb, int size)
{
    if (!rgb)
        return NULL;
    GifColorType colors[256];
    for (int i = 0; i < size && i < 256; i++) {
        colors[i].Red = rgb[3 * i];
        colors[i].Green = rgb[3 * i + 1];
        colors[i].Blue = rgb[3 * i + 2];
    }
    return GifMakeMapObject(size, colors);
}

static int GifPutFrame(GifFileType *gif, int gif89, const GifFrameFixture *frame)
{
    if (gif89 && frame->transparent >= 0) {
        GraphicsControlBlock control = {DISPOSAL_UNSPECIFIED, false, 10, frame->transparent};
        GifByteType extension[4];
        size_t length = EGifGCBToExtension(&control, extension);
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, (int)length, extension) == GIF_ERROR)
            return 0;
    }
    ColorMapObject *local = GifMap(frame->local_rgb, frame->local_size);
    int ok = EGifPutImageDesc(gif, frame->left, frame->top, frame->width, frame->height,
                              frame->interlaced != 0, local) != GIF_ERROR;
    GifFreeMapObject(local);
    static const int interlaced_start[] = {0, 4, 2, 1}, interlaced_step[] = {8, 8, 4, 2};
    static const int plain_start[] = {0}, plain_step[] = {1};
    int passes = frame->interlaced ? 4 : 1;
    const int *start = frame->interlaced ? interlaced_start : plain_start;
    const int *step = frame->interlaced ? interlaced_step : plain_step;
    for (int pass = 0; ok && pass < passes; pass++)
        for (int y = start[pass]; ok && y < frame->height; y += step[pass])
            ok = EGifPutLine(gif, (GifPixelType *)frame->pixels + (size_t)y * frame->width,
                             frame->width) != GIF_ERROR;
    return ok;
}

int EncodeGif(int screen_width, int screen_height, int gif89, const uint8_t *global_rgb,
              int global_size, int background, const GifFrameFixture *frames, int frame_count,
              EncodedFile *out)
{
    out->data = NULL;
    out->size = 0;
    int error;
    GifFileType *gif = EGifOpen(out, GifWrite, &error);
    if (!gif)
        return 0;
    EGifSetGifVersion(gif, gif89 != 0);
    ColorMapObject *global = GifMap(global_rgb, global_size);
    int ok = EGifPutScreenDesc(gif, screen_width, screen_height, 8, background, global) !=
             GIF_ERROR;
    GifFreeMapObject(global);
    for (int i = 0; ok && i < frame_count; i++)
        ok = GifPutFrame(gif, gif89, &frames[i]);
    ok = EGifCloseFile(gif, &error) != GIF_ERROR && ok;
    if (!ok) {
        free(out->data);
        out->data = NULL;
        out->size = 0;
    }
    return ok;
}

static void PngFail(png_structp png, png_const_charp message)
{
    (void)message;
    png_longjmp(png, 1);
}

static void PngQuiet(png_structp png, png_const_charp message)
{
    (void)png;
    (void)message;
}

static void PngWrite(png_structp png, png_bytep bytes, size_t size)
{
    if (!Append((EncodedFile *)png_get_io_ptr(png), bytes, size))
        png_error(png, "out of memory");
}

static void PngFlush(png_structp png)
{
    (void)png;
}

typedef struct PngWriteJob {
    png_structp png;
    png_infop info;
    png_bytepp rows;
} PngWriteJob;

static int PngWriteAll(PngWriteJob *job, const PngFixture *fixture, EncodedFile *out)
{
    if (setjmp(png_jmpbuf(job->png)))
        return 0;
    png_set_write_fn(job->png, out, PngWrite, PngFlush);
    png_set_IHDR(job->png, job->info, (png_uint_32)fixture->width, (png_uint_32)fixture->height,
                 fixture->bit_depth, fixture->color_type,
                 fixture->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (fixture->palette_rgb) {
        png_color palette[256];
        for (int i = 0; i < fixture->palette_size; i++) {
            palette[i].red = fixture->palette_rgb[3 * i];
            palette[i].green = fixture->palette_rgb[3 * i + 1];
            palette[i].blue = fixture->palette_rgb[3 * i + 2];
        }
        png_set_PLTE(job->png, job->info, palette, fixture->palette_size);
    }
    if (fixture->trns_alpha)
        png_set_tRNS(job->png, job->info, fixture->trns_alpha, fixture->trns_count, NULL);
    if (fixture->trns_color) {
        png_color_16 key;
        memset(&key, 0, sizeof key);
        key.gray = fixture->trns_color[0];
        key.red = fixture->trns_color[0];
        if (fixture->color_type == PNG_COLOR_TYPE_RGB) {
            key.green = fixture->trns_color[1];
            key.blue = fixture->trns_color[2];
        }
        png_set_tRNS(job->png, job->info, NULL, 0, &key);
    }
    if (fixture->gamma > 0)
        png_set_gAMA(job->png, job->info, fixture->gamma);
    png_write_info(job->png, job->info);
    png_write_image(job->png, job->rows);
    png_write_end(job->png, NULL);
    return 1;
}

int EncodePng(const PngFixture *fixture, EncodedFile *out)
{
    out->data = NULL;
    out->size = 0;
    PngWriteJob job = {NULL, NULL, NULL};
    job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, PngFail, PngQuiet);
    if (job.png)
        job.info = png_create_info_struct(job.png);
    job.rows = (png_bytepp)malloc(sizeof(png_bytep) * (size_t)fixture->height);
    int ok = job.info && job.rows;
    for (int y = 0; ok && y < fixture->height; y++)
        job.rows[y] = (png_bytep)fixture->rows + (size_t)y * fixture->row_bytes;
    ok = ok && PngWriteAll(&job, fixture, out);
    png_destroy_write_struct(&job.png, &job.info);
    free(job.rows);
    if (!ok) {
        free(out->data);
        out->data = NULL;
        out->size = 0;
    }
    return ok;
}

typedef struct JpegErrors {
    struct jpeg_error_mgr base;
    jmp_buf jump;
} JpegErrors;

static void JpegFail(j_common_ptr cinfo)
{
    longjmp(((JpegErrors *)cinfo->err)->jump, 1);
}

static void JpegQuiet(j_common_ptr cinfo)
{
    (void)cinfo;
}

typedef struct JpegWriteJob {
    struct jpeg_compress_struct cinfo;
    JpegErrors errors;
    jpeg_scan_info scans[1 + 63 * 11];
    unsigned char *buffer;
    unsigned long size;
} JpegWriteJob;

static int JpegWriteAll(JpegWriteJob *job, const JpegFixture *fixture)
{
    j_compress_ptr cinfo = &job->cinfo;
    if (setjmp(job->errors.jump))
        return 0;
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, &job->buffer, &job->size);
    cinfo->image_width = (JDIMENSION)fixture->width;
    cinfo->image_height = (JDIMENSION)fixture->height;
    cinfo->input_components = fixture->components;
    cinfo->in_color_space =
        fixture->components == 1 ? JCS_GRAYSCALE : fixture->components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, fixture->quality, TRUE);
    if (fixture->components == 4) {
        jpeg_set_colorspace(cinfo, fixture->adobe_marker == 2 ? JCS_YCCK : JCS_CMYK);
        cinfo->write_Adobe_marker = fixture->adobe_marker != 0;
    }
    if (fixture->progressive)
        jpeg_simple_progression(cinfo);
    cinfo->arith_code = fixture->arithmetic != 0;
    if (fixture->refinements > 0 && fixture->refinements <= 10 && fixture->components == 1) {
        int n = 0;
        job->scans[n++] = (jpeg_scan_info){1, {0}, 0, 0, 0, 0};
        for (int k = 1; k < 64; k++) {
            job->scans[n++] = (jpeg_scan_info){1, {0}, k, k, 0, fixture->refinements};
            for (int al = fixture->refinements - 1; al >= 0; al--)
                job->scans[n++] = (jpeg_scan_info){1, {0}, k, k, al + 1, al};
        }
        cinfo->scan_info = job->scans;
        cinfo->num_scans = n;
    }
    jpeg_start_compress(cinfo, TRUE);
    if (fixture->app1)
        jpeg_write_marker(cinfo, JPEG_APP0 + 1, fixture->app1, (unsigned int)fixture->app1_size);
    size_t stride = (size_t)fixture->width * (size_t)fixture->components;
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = (JSAMPROW)fixture->pixels + cinfo->next_scanline * stride;
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return 1;
}

int EncodeJpeg(const JpegFixture *fixture, EncodedFile *out)
{
    out->data = NULL;
    out->size = 0;
    JpegWriteJob *job = (JpegWriteJob *)calloc(1, sizeof *job);
    if (!job)
        return 0;
    job->cinfo.err = jpeg_std_error(&job->errors.base);
    job->errors.base.error_exit = JpegFail;
    job->errors.base.output_message = JpegQuiet;
    int ok = JpegWriteAll(job, fixture);
    jpeg_destroy_compress(&job->cinfo);
    if (ok) {
        out->data = (uint8_t *)malloc(job->size);
        ok = out->data != NULL;
        if (ok) {
            memcpy(out->data, job->buffer, job->size);
            out->size = job->size;
        }
    }
    free(job->buffer);
    free(job);
    return ok;
}

typedef struct JpegReadJob {
    struct jpeg_decompress_struct cinfo;
    JpegErrors errors;
    uint8_t *pixels;
} JpegReadJob;

static int JpegReadAll(JpegReadJob *job, const uint8_t *data, size_t size)
{
    j_decompress_ptr cinfo = &job->cinfo;
    if (setjmp(job->errors.jump))
        return 0;
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, data, (unsigned long)size);
    jpeg_read_header(cinfo, TRUE);
    if (cinfo->num_components == 3)
        cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    size_t stride = (size_t)cinfo->output_width * (size_t)cinfo->output_components;
    job->pixels = (uint8_t *)malloc(stride * cinfo->output_height);
    if (!job->pixels)
        return 0;
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = job->pixels + cinfo->output_scanline * stride;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return 1;
}

int DecodeJpegReference(const uint8_t *data, size_t size, int *width, int *height,
                        int *components, uint8_t **pixels)
{
    *pixels = NULL;
    JpegReadJob *job = (JpegReadJob *)calloc(1, sizeof *job);
    if (!job)
        return 0;
    job->cinfo.err = jpeg_std_error(&job->errors.base);
    job->errors.base.error_exit = JpegFail;
    job->errors.base.output_message = JpegQuiet;
    int ok = JpegReadAll(job, data, size);
    if (ok) {
        *width = (int)job->cinfo.output_width;
        *height = (int)job->cinfo.output_height;
        *components = job->cinfo.output_components;
        *pixels = job->pixels;
    } else {
        free(job->pixels);
    }
    jpeg_destroy_decompress(&job->cinfo);
    free(job);
    return ok;
}
