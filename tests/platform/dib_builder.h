// Builds small BMP files and DIB blocks byte by byte, so a test can state exactly which header
// field is odd and what the pixels should become.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/bitmap.h"

struct DibLayout {
    uint32_t headerSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    std::vector<uint32_t> masks = {}; // written straight after the header
    std::vector<uint8_t> palette = {}; // raw colour table bytes
    std::vector<uint8_t> pixels = {}; // raw pixel bytes
    std::optional<uint32_t> offBits = {}; // default: straight after the colour table
};

inline void Put(std::vector<uint8_t> &out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The information block: header, masks and colour table. A header size other than 12 or 40
// gets a 40-byte body padded with zeros to the stated size.
inline std::vector<uint8_t> MakeInfo(const DibLayout &s)
{
    std::vector<uint8_t> out;
    Put(out, s.headerSize, 4);
    if (s.headerSize == 12) {
        Put(out, static_cast<uint16_t>(s.width), 2);
        Put(out, static_cast<uint16_t>(s.height), 2);
        Put(out, s.planes, 2);
        Put(out, s.bitCount, 2);
    } else {
        Put(out, static_cast<uint32_t>(s.width), 4);
        Put(out, static_cast<uint32_t>(s.height), 4);
        Put(out, s.planes, 2);
        Put(out, s.bitCount, 2);
        Put(out, s.compression, 4);
        Put(out, s.pixels.size(), 4);
        Put(out, 0, 8);
        Put(out, s.colorsUsed, 4);
        Put(out, 0, 4);
        while (out.size() < s.headerSize)
            out.push_back(0);
    }
    for (uint32_t m : s.masks)
        Put(out, m, 4);
    out.insert(out.end(), s.palette.begin(), s.palette.end());
    return out;
}

inline std::vector<uint8_t> MakeBmp(const DibLayout &s)
{
    const std::vector<uint8_t> info = MakeInfo(s);
    const uint32_t offBits = s.offBits.value_or(static_cast<uint32_t>(14 + info.size()));
    std::vector<uint8_t> out{'B', 'M'};
    Put(out, 14 + info.size() + s.pixels.size(), 4);
    Put(out, 0, 4);
    Put(out, offBits, 4);
    out.insert(out.end(), info.begin(), info.end());
    while (out.size() < offBits)
        out.push_back(0);
    out.insert(out.end(), s.pixels.begin(), s.pixels.end());
    return out;
}

// Colour table entries in file order (blue, green, red, reserved) from 0xRRGGBB values.
inline std::vector<uint8_t> Palette(std::initializer_list<uint32_t> rgb, int entrySize = 4)
{
    std::vector<uint8_t> out;
    for (uint32_t c : rgb) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
        out.push_back(static_cast<uint8_t>(c >> 16));
        if (entrySize == 4)
            out.push_back(0);
    }
    return out;
}

// The bitmap's pixels top row first, without the always-set alpha byte (0xRRGGBB).
inline std::vector<uint32_t> Rgb(const TBitmap &b)
{
    std::vector<uint32_t> out;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            out.push_back(b.ScanLine(y)[x] & 0xFFFFFFu);
    return out;
}
