// Loading the built modules and calling them the way the program does, with every returned
// block checked for the shape the program relies on.
#ifndef KETTO_TESTS_PLUGINS_PLUGIN_TEST_SUPPORT_H
#define KETTO_TESTS_PLUGINS_PLUGIN_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "fixture_encoders.h"
#include "spi_plugin.h"

namespace plugin_test {

using Bytes = std::vector<uint8_t>;

struct SpiModule {
    std::string name;
    SpiIsSupportedProc IsSupported = nullptr;
    SpiGetPictureInfoProc GetPictureInfo = nullptr;
    SpiGetPictureProc GetPicture = nullptr;
};

const SpiModule &GifModule();
const SpiModule &JpegModule();
const SpiModule &PngModule();

// Takes over a file made by one of the encoders; an encoder failure is a test failure.
Bytes Take(EncodedFile file, int encoded_ok);

// A file in the temporary folder, removed with the object.
class TempFile {
public:
    explicit TempFile(const Bytes &bytes);
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const char *path() const { return path_.c_str(); }

private:
    std::string path_;
};

// A decoded picture, top row first.
struct Picture {
    int32_t result = -1;
    int32_t width = 0, height = 0;
    uint16_t bit_count = 0;
    std::vector<uint32_t> palette; // 0xRRGGBB per colour table entry
    std::vector<uint8_t> indices;  // 8-bit pictures: the index of every pixel
    std::vector<uint32_t> rgb;     // every pixel as 0xRRGGBB
};

// Calls GetPicture with the given input, checks the blocks and releases them.
Picture Decode(const SpiModule &module, const char *path, intptr_t offset, uint32_t flags);
// Decodes the bytes from a file, the way the program calls a module.
Picture DecodeFile(const SpiModule &module, const Bytes &bytes);

// The fields of a picture-information record, copied out of the packed record so that tests
// can compare them without taking misaligned references.
struct Info {
    int32_t result = -1;
    int32_t width = 0, height = 0;
    int16_t depth = 0;
    SpiHandle text = nullptr;
};

// Calls GetPictureInfo with the given input, and frees any text block it returns.
Info PictureInfo(const SpiModule &module, const char *path, intptr_t offset, uint32_t flags);
// Calls GetPictureInfo on the bytes written to a file.
Info PictureInfo(const SpiModule &module, const Bytes &bytes);

inline uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b)
{
    return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}

// The largest difference between two pixels' channels.
int ChannelDistance(uint32_t a, uint32_t b);

} // namespace plugin_test

#endif
