// The raster image behind the canvas and the staging image.
//
// Pixels are 32-bit values in the order 0xFFRRGGBB, so the image control can show a bitmap
// through a QImage over the same memory without a copy. Colours (TColor) are 0x00BBGGRR and
// are converted at the edges. Copies of a bitmap share their pixels until one of them writes,
// so handing a decoded picture to the staging image costs no second full copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

using TColor = uint32_t;

inline constexpr TColor clBlack = 0x00000000;
inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr TColor clYellow = 0x0000FFFF;
inline constexpr TColor clTeal = 0x00808000;
inline constexpr TColor clMaroon = 0x00000080;
inline constexpr TColor clOlive = 0x00008080;
// Added to a colour to ask for the nearest palette colour; without a palette it changes nothing.
inline constexpr TColor PaletteRelative = 0x02000000;
// What Pixels answers for a point outside the bitmap.
inline constexpr TColor CLR_INVALID = 0xFFFFFFFF;

inline constexpr uint32_t SRCCOPY = 0x00CC0020;
inline constexpr uint32_t SRCAND = 0x008800C6;
inline constexpr uint32_t SRCPAINT = 0x00EE0086;
inline constexpr uint32_t BLACKNESS = 0x00000042;

constexpr uint32_t PixelFromColor(TColor c)
{
    return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
constexpr TColor ColorFromPixel(uint32_t p)
{
    return ((p & 0xFFu) << 16) | (p & 0xFF00u) | ((p >> 16) & 0xFFu);
}

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

class TBitmap;

// The drawing surface of one bitmap, with its pen and brush.
class TCanvas {
public:
    struct TPen {
        TColor Color = clBlack;
    } Pen;
    struct TBrush {
        TColor Color = clWhite;
    } Brush;

    TBitmap &Bitmap() const { return *bitmap_; }

    // The colour of one pixel, or CLR_INVALID outside the bitmap.
    TColor Pixels(int x, int y) const;
    // Outline on the first and last columns and rows of [x1, x2) x [y1, y2) in the pen colour,
    // the inside filled with the brush colour; nothing is written outside the bitmap.
    void Rectangle(int x1, int y1, int x2, int y2);
    // Copies the source block into dest of this canvas, replacing every pixel of the key colour
    // (its palette-relative marker ignored) by the brush colour. Blocks of equal size only.
    void BrushCopy(const TRect &dest, const TBitmap &source, const TRect &sourceRect, TColor key);

private:
    friend class TBitmap;
    explicit TCanvas(TBitmap *bitmap) : bitmap_(bitmap) {}
    TBitmap *bitmap_;
};

class TBitmap {
public:
    TBitmap();
    // A white bitmap of the given size; throws EOutOfResources beyond the program's limits.
    TBitmap(int width, int height);
    TBitmap(const TBitmap &other);
    TBitmap &operator=(const TBitmap &other);
    ~TBitmap();

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    // Resizing keeps the pixels that stay inside and makes new ones white. A size of 0 empties
    // the bitmap; a negative size or one beyond the program's limits throws EOutOfResources and
    // leaves the bitmap as it was.
    void SetWidth(int width);
    void SetHeight(int height);
    void SetSize(int width, int height);
    // Makes this a new picture of the given size, both sides at least 1, whose every pixel the
    // caller writes next; until then their values are unspecified. Decoders use it to skip
    // whitening memory they overwrite at once. Throws EOutOfResources as SetSize does.
    void Allocate(int width, int height);

    // Row y, 0 at the top. The writable forms give this bitmap its own pixels first.
    const uint32_t *ScanLine(int y) const { return pixels_.get() + static_cast<size_t>(y) * width_; }
    uint32_t *ScanLine(int y) { return MutableBits() + static_cast<size_t>(y) * width_; }
    const uint32_t *Bits() const { return pixels_.get(); }
    uint32_t *MutableBits();

    // True when both bitmaps read the same pixel memory (a copy not yet written to).
    bool SharesPixelsWith(const TBitmap &other) const;

    // The Windows bitmap file reader and writer (bmp.h has the details and the errors).
    void LoadFromFile(const std::string &fileName);
    void SaveToFile(const std::string &fileName) const;

    TCanvas &Canvas() { return canvas_; }
    const TCanvas &Canvas() const { return canvas_; }

private:
    void Detach();

    int width_ = 0;
    int height_ = 0;
    std::shared_ptr<uint32_t[]> pixels_;
    TCanvas canvas_;
};

// Fills the rectangle with black (the only raster operation the program uses here, BLACKNESS),
// clipped to the bitmap. Returns false for another operation.
bool PatBlt(TCanvas &dest, int x, int y, int width, int height, uint32_t rop);

// Combines the source block at (sx, sy) into dest at (dx, dy) with SRCCOPY, SRCAND or SRCPAINT,
// bitwise on the stored pixel values. Pixels outside either bitmap are left out, and a block
// whose width or height is 0 or less does nothing. Returns false for another operation.
bool BitBlt(TCanvas &dest, int dx, int dy, int width, int height, const TCanvas &source, int sx,
            int sy, uint32_t rop);
