#include "platform/bitmap.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "ketto_limits.h"
#include "platform/errors.h"

namespace {

std::shared_ptr<uint32_t[]> AllocatePixels(int width, int height)
{
    if (!KettoSizeAllowed(width, height))
        RaiseOutOfResources();
    try {
        return std::make_shared_for_overwrite<uint32_t[]>(static_cast<size_t>(width) * height);
    } catch (const std::bad_alloc &) {
        RaiseOutOfResources();
    }
}

// The part of a block that lies inside both bitmaps, shifted consistently in both.
struct Clip {
    int dx, dy, sx, sy, width, height;
};

bool ClipBlock(Clip &c, int destWidth, int destHeight, int sourceWidth, int sourceHeight)
{
    auto clipAxis = [](int &d, int &s, int &extent, int destLimit, int sourceLimit) {
        // 64-bit arithmetic: a far-away point plus an extent must not overflow.
        int64_t d0 = d, s0 = s, e = extent;
        int64_t shift = std::max<int64_t>({0, -d0, -s0});
        d0 += shift;
        s0 += shift;
        e -= shift;
        e = std::min<int64_t>({e, destLimit - d0, sourceLimit - s0});
        if (e <= 0)
            return false;
        d = static_cast<int>(d0);
        s = static_cast<int>(s0);
        extent = static_cast<int>(e);
        return true;
    };
    if (c.width <= 0 || c.height <= 0)
        return false;
    return clipAxis(c.dx, c.sx, c.width, destWidth, sourceWidth) &&
           clipAxis(c.dy, c.sy, c.height, destHeight, sourceHeight);
}

} // namespace

TBitmap::TBitmap() : canvas_(this) {}

TBitmap::TBitmap(int width, int height) : canvas_(this) { SetSize(width, height); }

TBitmap::TBitmap(const TBitmap &other)
    : width_(other.width_), height_(other.height_), pixels_(other.pixels_), canvas_(this)
{
    canvas_.Pen = other.canvas_.Pen;
    canvas_.Brush = other.canvas_.Brush;
}

TBitmap &TBitmap::operator=(const TBitmap &other)
{
    if (this != &other) {
        width_ = other.width_;
        height_ = other.height_;
        pixels_ = other.pixels_;
        canvas_.Pen = other.canvas_.Pen;
        canvas_.Brush = other.canvas_.Brush;
    }
    return *this;
}

TBitmap::~TBitmap() = default;

void TBitmap::SetWidth(int width) { SetSize(width, height_); }
void TBitmap::SetHeight(int height) { SetSize(width_, height); }

void TBitmap::SetSize(int width, int height)
{
    if (width < 0 || height < 0)
        RaiseOutOfResources();
    if (width == width_ && height == height_)
        return;
    if (width == 0 || height == 0) {
        // A bitmap with no area keeps its other side, as setting the width before the height
        // of a new bitmap passes through such a state.
        pixels_.reset();
        width_ = width;
        height_ = height;
        return;
    }
    auto fresh = AllocatePixels(width, height);
    const uint32_t white = PixelFromColor(clWhite);
    const int keepWidth = pixels_ ? std::min(width, width_) : 0;
    const int keepHeight = pixels_ ? std::min(height, height_) : 0;
    for (int y = 0; y < height; ++y) {
        uint32_t *row = fresh.get() + static_cast<size_t>(y) * width;
        int kept = 0;
        if (y < keepHeight) {
            std::memcpy(row, ScanLine(y), static_cast<size_t>(keepWidth) * 4);
            kept = keepWidth;
        }
        std::fill(row + kept, row + width, white);
    }
    pixels_ = std::move(fresh);
    width_ = width;
    height_ = height;
}

void TBitmap::Allocate(int width, int height)
{
    pixels_ = AllocatePixels(width, height);
    width_ = width;
    height_ = height;
}

uint32_t *TBitmap::MutableBits()
{
    Detach();
    return pixels_.get();
}

bool TBitmap::SharesPixelsWith(const TBitmap &other) const
{
    return pixels_ && pixels_ == other.pixels_;
}

void TBitmap::Detach()
{
    if (!pixels_ || pixels_.use_count() == 1)
        return;
    auto own = AllocatePixels(width_, height_);
    std::memcpy(own.get(), pixels_.get(), static_cast<size_t>(width_) * height_ * 4);
    pixels_ = std::move(own);
}

TColor TCanvas::Pixels(int x, int y) const
{
    const TBitmap &b = *bitmap_;
    if (x < 0 || y < 0 || x >= b.Width() || y >= b.Height())
        return CLR_INVALID;
    return ColorFromPixel(b.ScanLine(y)[x]);
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2)
{
    TBitmap &b = *bitmap_;
    if (b.Empty() || x2 <= x1 || y2 <= y1)
        return;
    const uint32_t pen = PixelFromColor(Pen.Color);
    const uint32_t brush = PixelFromColor(Brush.Color);
    const int64_t left = std::max<int64_t>(x1, 0), right = std::min<int64_t>(x2, b.Width());
    const int64_t top = std::max<int64_t>(y1, 0), bottom = std::min<int64_t>(y2, b.Height());
    for (int64_t y = top; y < bottom; ++y) {
        uint32_t *row = b.ScanLine(static_cast<int>(y));
        const bool edgeRow = y == y1 || y == int64_t(y2) - 1;
        for (int64_t x = left; x < right; ++x)
            row[x] = (edgeRow || x == x1 || x == int64_t(x2) - 1) ? pen : brush;
    }
}

void TCanvas::BrushCopy(const TRect &dest, const TBitmap &source, const TRect &sourceRect, TColor key)
{
    Clip c{dest.Left, dest.Top, sourceRect.Left, sourceRect.Top,
           std::min(dest.Width(), sourceRect.Width()), std::min(dest.Height(), sourceRect.Height())};
    TBitmap &b = *bitmap_;
    if (!ClipBlock(c, b.Width(), b.Height(), source.Width(), source.Height()))
        return;
    // Without a palette the palette-relative marker means the plain colour.
    const uint32_t keyPixel = PixelFromColor(key & 0x00FFFFFFu);
    const uint32_t brush = PixelFromColor(Brush.Color);
    for (int y = 0; y < c.height; ++y) {
        const uint32_t *from = source.ScanLine(c.sy + y) + c.sx;
        uint32_t *to = b.ScanLine(c.dy + y) + c.dx;
        for (int x = 0; x < c.width; ++x)
            to[x] = from[x] == keyPixel ? brush : from[x];
    }
}

bool PatBlt(TCanvas &dest, int x, int y, int width, int height, uint32_t rop)
{
    if (rop != BLACKNESS)
        return false;
    TBitmap &b = dest.Bitmap();
    Clip c{x, y, x, y, width, height};
    if (!ClipBlock(c, b.Width(), b.Height(), b.Width(), b.Height()))
        return true;
    const uint32_t black = PixelFromColor(clBlack);
    for (int row = 0; row < c.height; ++row) {
        uint32_t *p = b.ScanLine(c.dy + row) + c.dx;
        std::fill(p, p + c.width, black);
    }
    return true;
}

bool BitBlt(TCanvas &dest, int dx, int dy, int width, int height, const TCanvas &source, int sx,
            int sy, uint32_t rop)
{
    if (rop != SRCCOPY && rop != SRCAND && rop != SRCPAINT)
        return false;
    TBitmap &to = dest.Bitmap();
    const TBitmap &from = source.Bitmap();
    Clip c{dx, dy, sx, sy, width, height};
    if (!ClipBlock(c, to.Width(), to.Height(), from.Width(), from.Height()))
        return true;

    // A copy within one bitmap may overlap itself; read the source block out first.
    std::vector<uint32_t> staged;
    const bool sameMemory = to.Bits() == from.Bits();
    if (sameMemory) {
        staged.resize(static_cast<size_t>(c.width) * c.height);
        for (int y = 0; y < c.height; ++y)
            std::memcpy(&staged[static_cast<size_t>(y) * c.width], from.ScanLine(c.sy + y) + c.sx,
                        static_cast<size_t>(c.width) * 4);
    }
    for (int y = 0; y < c.height; ++y) {
        const uint32_t *s = sameMemory ? &staged[static_cast<size_t>(y) * c.width]
                                       : from.ScanLine(c.sy + y) + c.sx;
        uint32_t *d = to.ScanLine(c.dy + y) + c.dx;
        switch (rop) {
        case SRCCOPY:
            std::memcpy(d, s, static_cast<size_t>(c.width) * 4);
            break;
        case SRCAND:
            for (int x = 0; x < c.width; ++x)
                d[x] &= s[x];
            break;
        default:
            for (int x = 0; x < c.width; ++x)
                d[x] |= s[x];
            break;
        }
    }
    return true;
}
