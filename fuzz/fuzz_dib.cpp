// Feeds arbitrary DIBs to SetDIBits, the path by which a plug-in's picture becomes a bitmap.
//
// Input: width and height of the picture record (two little-endian 32-bit integers), the
// length of the BITMAPINFO block (16 bits), the first scan line and the number of scan lines
// (16 bits each), the BITMAPINFO block, and the pixel rows (the rest). An input that begins
// with "BM" is instead taken as a BMP file, split at its pixel offset, with the record's size
// from its header, so the conformance pictures seed this target as they are.
//
// The two blocks are copied into allocations of exactly their own size, so reading past either
// of them is caught. SetDIBits must answer 0 or the number of rows asked for, and write only
// inside the bitmap.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ketto_limits.h"
#include "platform/bmp.h"

namespace {

uint32_t U32(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t U16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct Input {
    int64_t width = 0, height = 0;
    unsigned start = 0, lines = 0;
    std::vector<uint8_t> info, rows;
};

bool Split(const uint8_t *data, size_t size, Input &in)
{
    if (size >= 30 && data[0] == 'B' && data[1] == 'M') {
        const size_t offset = std::min<size_t>(std::max<uint32_t>(U32(data + 10), 14), size);
        in.info.assign(data + 14, data + offset);
        in.rows.assign(data + offset, data + size);
        if (U32(data + 14) == 12) {
            in.width = U16(data + 18);
            in.height = U16(data + 20);
        } else {
            in.width = int32_t(U32(data + 18));
            in.height = int32_t(U32(data + 22));
        }
        in.height = in.height < 0 ? -in.height : in.height;
        in.start = 0;
        in.lines = static_cast<unsigned>(in.height);
        return true;
    }
    if (size < 14)
        return false;
    in.width = int32_t(U32(data));
    in.height = int32_t(U32(data + 4));
    const size_t infoSize = std::min<size_t>(U16(data + 8), size - 14);
    in.start = U16(data + 10);
    in.lines = U16(data + 12);
    in.info.assign(data + 14, data + 14 + infoSize);
    in.rows.assign(data + 14 + infoSize, data + size);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in;
    if (!Split(data, size, in))
        return 0;
    if (!KettoSizeAllowed(in.width, in.height) || in.width * in.height > (4 << 20))
        return 0;
    TBitmap bitmap(static_cast<int>(in.width), static_cast<int>(in.height));
    // Empty vectors have no storage; hand over null then, which SetDIBits must also take.
    const int written = SetDIBits(bitmap, in.start, in.lines, in.rows.empty() ? nullptr : in.rows.data(),
                                  in.rows.size(), in.info.empty() ? nullptr : in.info.data(),
                                  in.info.size());
    if (written != 0 && written != static_cast<int>(in.lines))
        std::abort();
    if (bitmap.Width() != in.width || bitmap.Height() != in.height)
        std::abort();
    return 0;
}
