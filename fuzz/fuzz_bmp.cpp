// Feeds arbitrary bytes to the BMP file reader. Whatever the bytes, the reader must end in one
// of the platform's errors or a picture; a picture must be opaque and must survive a trip
// through the writer and back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/bmp.h"
#include "platform/errors.h"

namespace {

uint32_t U32(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t U16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Pictures beyond a few megapixels are legal, but filling them costs the fuzzer more time than
// they teach it, so inputs that claim one are skipped before decoding.
bool Oversized(const uint8_t *data, size_t size)
{
    constexpr int64_t Limit = 4 << 20;
    if (size < 26)
        return false;
    int64_t width, height;
    if (U32(data + 14) == 12) {
        width = U16(data + 18);
        height = U16(data + 20);
    } else {
        width = int32_t(U32(data + 18));
        height = int32_t(U32(data + 22));
    }
    return std::llabs(width) * std::llabs(height) > Limit;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (Oversized(data, size))
        return 0;
    TBitmap picture;
    try {
        LoadBitmapBytes(picture, std::span(data, size));
    } catch (const EPlatformError &) {
        if (!picture.Empty())
            std::abort(); // a failed read must leave the bitmap empty
        return 0;
    }
    if (size == 0) {
        if (!picture.Empty())
            std::abort();
        return 0;
    }
    if (picture.Empty())
        std::abort(); // success means a picture
    const size_t count = size_t(picture.Width()) * picture.Height();
    for (size_t i = 0; i < count; ++i)
        if ((picture.Bits()[i] >> 24) != 0xFF)
            std::abort();

    if (count <= (1u << 16)) {
        TBitmap back;
        LoadBitmapBytes(back, EncodeBitmapFile(picture));
        if (back.Width() != picture.Width() || back.Height() != picture.Height())
            std::abort();
        for (size_t i = 0; i < count; ++i)
            if (back.Bits()[i] != picture.Bits()[i])
                std::abort();
    }
    return 0;
}
