// Windows bitmap files and device-independent pictures (DIBs).
//
// One decoder of DIB rows serves both the file reader and SetDIBits, the path by which a
// plug-in's decoded picture becomes a bitmap. Every size is checked against the program's
// limits before anything is allocated, and input is only read through bounds-checked views.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/bitmap.h"

// Reads a Windows bitmap file. A file of length 0 leaves the bitmap empty without an error.
// Throws EFOpenError (cannot open), EReadError (shorter than its 14-byte header),
// EInvalidGraphic (not "BM", an information header other than 12 or 40 bytes, or any other
// fault in the file) and EOutOfResources (a picture beyond the program's limits). On any error
// the bitmap is left empty.
void LoadBitmapFile(TBitmap &bitmap, const std::string &fileName);
void LoadBitmapBytes(TBitmap &bitmap, std::span<const uint8_t> file);

// The file image of a bitmap: 14-byte file header, 40-byte information header, 24 bits per
// pixel, rows bottom-up padded to 4 bytes.
std::vector<uint8_t> EncodeBitmapFile(const TBitmap &bitmap);

// Writes the bitmap as a Windows bitmap file without ever destroying the old file: the bytes go
// to a temporary file in the same folder, which is flushed and then renamed over the target, and
// the old file's permissions are kept. Throws EFCreateError when the file cannot be created and
// EWriteError when writing falls short; the old file and no temporary file remain then.
void SaveBitmapFile(const TBitmap &bitmap, const std::string &fileName);

// Writes rows [startScan, startScan + scanLines) of a DIB into the bitmap, which already has the
// picture's size. `info` is a BITMAPINFO block (header and colour table) of infoSize bytes and
// `bits` the pixel rows, bitsSize bytes. Returns the number of rows written, or 0 when the
// blocks do not describe a picture of the bitmap's size or are too small for what they claim.
int SetDIBits(TBitmap &bitmap, unsigned startScan, unsigned scanLines, const void *bits,
              size_t bitsSize, const void *info, size_t infoSize);
