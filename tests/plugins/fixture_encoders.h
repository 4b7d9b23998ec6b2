// Small in-memory encoders and one reference decoder, built on the same libraries the modules
// use, so that each test makes exactly the file it needs and knows every pixel in it.
#ifndef KETTO_TESTS_PLUGINS_FIXTURE_ENCODERS_H
#define KETTO_TESTS_PLUGINS_FIXTURE_ENCODERS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// A file made in memory; release it with free(data).
typedef struct EncodedFile {
    uint8_t *data;
    size_t size;
} EncodedFile;

// One GIF frame. Pixels are colour indices, width * height of them, top row first; the
// encoder writes them in interlaced order itself when the frame is interlaced.
typedef struct GifFrameFixture {
    int left, top, width, height;
    int interlaced;
    const uint8_t *local_rgb; // local colour table as RGB triples, or null
    int local_size;           // a power of two from 2 to 256
    const uint8_t *pixels;
    int transparent;          // transparent index in a graphic control extension, or -1
} GifFrameFixture;

// Returns non-zero on success. global_rgb may be null for a file without a global table.
int EncodeGif(int screen_width, int screen_height, int gif89, const uint8_t *global_rgb,
              int global_size, int background, const GifFrameFixture *frames, int frame_count,
              EncodedFile *out);

// A PNG with the rows already packed as the format stores them (bit_depth below 8 packs
// several pixels per byte, 16 is big-endian).
typedef struct PngFixture {
    int width, height, bit_depth, color_type, interlaced;
    const uint8_t *rows;
    size_t row_bytes;
    const uint8_t *palette_rgb; // colour type 3: RGB triples
    int palette_size;
    const uint8_t *trns_alpha;  // colour type 3: alpha of the first entries, or null
    int trns_count;
    const uint16_t *trns_color; // colour types 0 and 2: the transparent grey or RGB, or null
    double gamma;               // written as a gAMA chunk when non-zero
} PngFixture;

int EncodePng(const PngFixture *fixture, EncodedFile *out);

// components 1 (grey), 3 (RGB) or 4 (CMYK samples, stored as CMYK without the Adobe marker
// when adobe_marker is 0, as CMYK with it when 1, and as YCCK with it when 2).
typedef struct JpegFixture {
    int width, height, components;
    const uint8_t *pixels;
    int progressive;
    int quality;
    int adobe_marker;
    int arithmetic;             // arithmetic coding instead of Huffman
    // Greyscale only: a progressive script that sends each AC coefficient on its own with
    // this many refinement scans, 1 + 63 * (refinements + 1) scans in all.
    int refinements;
    const uint8_t *app1;        // an APP1 segment to write after the header, or null
    size_t app1_size;
} JpegFixture;

int EncodeJpeg(const JpegFixture *fixture, EncodedFile *out);

// Decodes with libjpeg's default settings into grey, RGB or raw CMYK samples, top row first.
// Returns non-zero on success; release *pixels with free().
int DecodeJpegReference(const uint8_t *data, size_t size, int *width, int *height,
                        int *components, uint8_t **pixels);

#ifdef __cplusplus
}
#endif

#endif
