#include "platform/bmp.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <optional>
#include <random>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ketto_limits.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "spi_plugin.h"

namespace {

constexpr size_t FileHeaderSize = 14;
constexpr uint32_t CoreHeaderSize = 12;
constexpr uint32_t InfoHeaderSize = 40;
constexpr size_t MaskBlockSize = 12;

// The largest file worth reading: the headers, masks and a full colour table in front of the
// largest picture the program holds, at 32 bits per pixel. Anything beyond it cannot belong
// to a picture we would accept, so a huge file costs no more memory than a huge picture.
constexpr uint64_t MaxUsefulFileSize =
    FileHeaderSize + InfoHeaderSize + MaskBlockSize + 256 * 4 + KETTO_MAX_PIXELS * 4;

// Little-endian reads over a span whose every access is checked. A read past the end yields 0
// and marks the reader as failed, so a header can be read field by field and judged once.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes, size_t pos = 0) : bytes_(bytes), pos_(pos) {}

    bool Ok() const { return ok_; }
    size_t Pos() const { return pos_; }

    uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
    int32_t I32() { return static_cast<int32_t>(U32()); }

private:
    uint64_t Take(size_t n)
    {
        if (!ok_ || pos_ > bytes_.size() || bytes_.size() - pos_ < n) {
            ok_ = false;
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < n; ++i)
            value |= uint64_t(bytes_[pos_ + i]) << (8 * i);
        pos_ += n;
        return value;
    }

    std::span<const uint8_t> bytes_;
    size_t pos_;
    bool ok_ = true;
};

// The sub-span [offset, offset + length), or nothing when it does not lie inside `bytes`.
std::optional<std::span<const uint8_t>> Slice(std::span<const uint8_t> bytes, uint64_t offset,
                                              uint64_t length)
{
    if (offset > bytes.size() || length > bytes.size() - offset)
        return std::nullopt;
    return bytes.subspan(static_cast<size_t>(offset), static_cast<size_t>(length));
}

enum class DibFault { None, Invalid, TooLarge };

// One colour channel of a 16- or 32-bit pixel: where it sits and how wide it is. A channel
// narrower than 8 bits is shifted up (31 of 5 bits becomes 248), as the platform's own
// conversion does; a wider one keeps its top 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0; // from the mask's lowest set bit to its highest

    explicit Channel(uint32_t m = 0) : mask(m)
    {
        if (m != 0) {
            shift = std::countr_zero(m);
            bits = 32 - std::countl_zero(m) - shift;
        }
    }
    uint32_t Scale(uint32_t pixel) const
    {
        const uint32_t v = (pixel & mask) >> shift;
        return bits <= 8 ? (v << (8 - bits)) & 0xFF : v >> (bits - 8);
    }
};

// Everything the row decoder needs to know about a DIB's pixels.
struct DibFormat {
    uint32_t headerSize = 0;
    int width = 0;
    int height = 0; // always positive; topDown gives the order of the rows
    bool topDown = false;
    uint16_t bitCount = 0;
    uint32_t compression = SPI_BI_RGB;
    uint32_t colorsUsed = 0;
    size_t rowBytes = 0;

    // The colour table converted to pixels. Indices that the file's table does not cover
    // stay opaque black, so a stray index can never read outside it.
    std::array<uint32_t, 256> palette = [] {
        std::array<uint32_t, 256> black;
        black.fill(0xFF000000u);
        return black;
    }();
    // Channels for 16- and 32-bit pixels (the defaults when the file gives no masks).
    Channel red, green, blue;
    bool plain8888 = false; // the 32-bit masks are the usual ones, so no scaling is needed

    bool Indexed() const { return bitCount <= 8; }
    bool Rle() const { return compression == SPI_BI_RLE8 || compression == SPI_BI_RLE4; }
    bool HasMasks() const { return headerSize == InfoHeaderSize && compression == SPI_BI_BITFIELDS; }
    size_t PaletteEntrySize() const { return headerSize == CoreHeaderSize ? 3 : 4; }
    uint32_t MaxColors() const { return Indexed() ? (1u << bitCount) : 0; }
    // The colour table size the header claims: an indexed picture has one whether or not
    // biClrUsed says so, and the core header has no biClrUsed at all.
    uint64_t ClaimedColors() const
    {
        if (headerSize == CoreHeaderSize)
            return MaxColors();
        if (colorsUsed != 0)
            return colorsUsed;
        return MaxColors();
    }
};

constexpr uint32_t Opaque = 0xFF000000u;

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return Opaque | (r << 16) | (g << 8) | b; }

// Reads a 12- or 40-byte information header and checks every field that decides the size of
// what follows, before anything is allocated.
DibFault ParseInfoHeader(std::span<const uint8_t> info, DibFormat &f)
{
    ByteReader r(info);
    f.headerSize = r.U32();
    if (!r.Ok() || (f.headerSize != CoreHeaderSize && f.headerSize != InfoHeaderSize))
        return DibFault::Invalid;

    int64_t width, height;
    uint16_t planes;
    if (f.headerSize == CoreHeaderSize) {
        width = r.U16();
        height = r.U16();
        planes = r.U16();
        f.bitCount = r.U16();
        f.compression = SPI_BI_RGB;
        if (f.bitCount != 1 && f.bitCount != 4 && f.bitCount != 8 && f.bitCount != 24)
            return DibFault::Invalid;
    } else {
        width = r.I32();
        height = r.I32();
        planes = r.U16();
        f.bitCount = r.U16();
        f.compression = r.U32();
        r.U32(); // biSizeImage: often 0 or wrong, and never needed to find the rows
        r.I32();
        r.I32();
        f.colorsUsed = r.U32();
        r.U32();
        switch (f.bitCount) {
        case 1: case 4: case 8: case 16: case 24: case 32:
            break;
        default:
            return DibFault::Invalid;
        }
        const bool compressionFits =
            f.compression == SPI_BI_RGB ||
            (f.compression == SPI_BI_RLE8 && f.bitCount == 8) ||
            (f.compression == SPI_BI_RLE4 && f.bitCount == 4) ||
            (f.compression == SPI_BI_BITFIELDS && (f.bitCount == 16 || f.bitCount == 32));
        if (!compressionFits)
            return DibFault::Invalid;
    }
    if (!r.Ok() || planes != 1 || width <= 0 || height == 0)
        return DibFault::Invalid;
    f.topDown = height < 0;
    height = height < 0 ? -height : height;
    // A compressed picture is stored from the bottom up by definition.
    if (f.topDown && f.Rle())
        return DibFault::Invalid;
    if (!KettoSizeAllowed(width, height))
        return DibFault::TooLarge;
    f.width = static_cast<int>(width);
    f.height = static_cast<int>(height);
    f.rowBytes = SpiDibRowBytes(static_cast<uint32_t>(f.width), f.bitCount);

    if (f.bitCount == 16) {
        f.red = Channel(0x7C00);
        f.green = Channel(0x03E0);
        f.blue = Channel(0x001F);
    } else {
        f.red = Channel(0x00FF0000);
        f.green = Channel(0x0000FF00);
        f.blue = Channel(0x000000FF);
    }
    return DibFault::None;
}

// Reads the masks of a BI_BITFIELDS picture from the start of `table` and then up to
// `entries` colour-table entries after them. False when they are not all there.
bool ReadColours(std::span<const uint8_t> table, uint64_t entries, DibFormat &f)
{
    ByteReader r(table);
    if (f.HasMasks()) {
        f.red = Channel(r.U32());
        f.green = Channel(r.U32());
        f.blue = Channel(r.U32());
    }
    f.plain8888 = f.bitCount == 32 && f.red.mask == 0x00FF0000 && f.green.mask == 0x0000FF00 &&
                  f.blue.mask == 0x000000FF;
    entries = std::min<uint64_t>(entries, f.MaxColors());
    for (uint64_t i = 0; i < entries; ++i) {
        const uint32_t b = r.U8(), g = r.U8(), red = r.U8();
        if (f.PaletteEntrySize() == 4)
            r.U8();
        f.palette[i] = Rgb(red, g, b);
    }
    return r.Ok();
}

// Decodes one uncompressed row. `src` holds at least the bytes that `width` pixels take, which
// the caller checks once per row, so the loops below run without per-pixel checks.
void DecodeRow(const DibFormat &f, const uint8_t *src, uint32_t *dst)
{
    const int w = f.width;
    switch (f.bitCount) {
    case 1:
        for (int x = 0; x < w; ++x)
            dst[x] = f.palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
        break;
    case 4:
        for (int x = 0; x < w; ++x)
            dst[x] = f.palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
        break;
    case 8:
        for (int x = 0; x < w; ++x)
            dst[x] = f.palette[src[x]];
        break;
    case 16:
        for (int x = 0; x < w; ++x) {
            const uint32_t v = uint32_t(src[2 * x]) | (uint32_t(src[2 * x + 1]) << 8);
            dst[x] = Rgb(f.red.Scale(v), f.green.Scale(v), f.blue.Scale(v));
        }
        break;
    case 24: {
        // Blue, green, red in memory is the low three bytes of a little-endian word, so one
        // four-byte load per pixel does; the last pixel is read byte by byte, as its fourth
        // byte may lie beyond the row.
        static_assert(std::endian::native == std::endian::little);
        int x = 0;
        for (; x < w - 1; ++x, src += 3) {
            uint32_t v;
            std::memcpy(&v, src, 4);
            dst[x] = Opaque | v;
        }
        dst[x] = Opaque | (uint32_t(src[2]) << 16) | (uint32_t(src[1]) << 8) | src[0];
        break;
    }
    case 32:
        if (f.plain8888) {
            for (int x = 0; x < w; ++x, src += 4)
                dst[x] = Opaque | (uint32_t(src[2]) << 16) | (uint32_t(src[1]) << 8) | src[0];
        } else {
            for (int x = 0; x < w; ++x, src += 4) {
                const uint32_t v = uint32_t(src[0]) | (uint32_t(src[1]) << 8) |
                                   (uint32_t(src[2]) << 16) | (uint32_t(src[3]) << 24);
                dst[x] = Rgb(f.red.Scale(v), f.green.Scale(v), f.blue.Scale(v));
            }
        }
        break;
    }
}

// The bytes that the pixels of one row take, without the row's padding.
size_t RowPixelBytes(const DibFormat &f)
{
    return static_cast<size_t>((uint64_t(f.width) * f.bitCount + 7) / 8);
}

// Top-to-bottom index of the DIB's row `scan`, counted in the order the rows are stored.
int RowFromScan(const DibFormat &f, uint64_t scan)
{
    return f.topDown ? static_cast<int>(scan) : f.height - 1 - static_cast<int>(scan);
}

// Makes `bitmap` a picture of the format's size, for a decoder that writes every pixel.
uint32_t *PreparePicture(TBitmap &bitmap, const DibFormat &f)
{
    bitmap.SetSize(0, 0);
    bitmap.Allocate(f.width, f.height);
    return bitmap.MutableBits();
}

// Run-length-encoded pictures. The stream is read up to its end-of-picture mark or the end of
// the file, whichever comes first; pixels it never sets keep colour 0 of the table. Runs that
// go past the end of a row are cut at the row's end, and anything aimed above the top row
// ends the picture. Each step consumes at least two bytes, so a stream of any content ends.
void DecodeRle(const DibFormat &f, std::span<const uint8_t> stream, uint32_t *pixels)
{
    std::fill(pixels, pixels + static_cast<size_t>(f.width) * f.height, f.palette[0]);
    const bool four = f.compression == SPI_BI_RLE4;
    size_t pos = 0;
    int64_t x = 0, y = 0; // y counts rows from the bottom
    auto put = [&](uint8_t index) {
        if (x < f.width && y < f.height)
            pixels[static_cast<size_t>(f.height - 1 - y) * f.width + x] = f.palette[index];
        ++x;
    };
    while (y < f.height && stream.size() - pos >= 2) {
        const uint8_t count = stream[pos], value = stream[pos + 1];
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < f.width; ++i)
                put(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of row
            x = 0;
            ++y;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // move right and up
            if (stream.size() - pos < 2)
                break;
            x += stream[pos];
            y += stream[pos + 1];
            pos += 2;
        } else { // a literal run of `value` pixels, padded to a 16-bit boundary
            const size_t bytes = four ? (value + 1u) / 2 : value;
            const size_t padded = (bytes + 1) & ~size_t(1);
            const size_t available = std::min(padded, stream.size() - pos);
            for (int i = 0; i < value && x < f.width; ++i) {
                const size_t at = four ? size_t(i) / 2 : size_t(i);
                if (at >= available)
                    break;
                const uint8_t b = stream[pos + at];
                put(four ? ((i & 1) ? b & 0x0F : b >> 4) : b);
            }
            pos += available;
        }
    }
}

void DecodeFile(TBitmap &bitmap, std::span<const uint8_t> file)
{
    if (file.size() < FileHeaderSize)
        RaiseReadError();
    ByteReader header(file);
    const uint16_t type = header.U16();
    header.U32(); // bfSize: frequently wrong, and the file's real length is known
    header.U32();
    const uint32_t offBits = header.U32();
    if (type != 0x4D42)
        RaiseInvalidBitmap();

    DibFormat f;
    switch (ParseInfoHeader(file.subspan(FileHeaderSize), f)) {
    case DibFault::None:
        break;
    case DibFault::Invalid:
        RaiseInvalidBitmap();
    case DibFault::TooLarge:
        RaiseOutOfResources();
    }

    // The colour table runs from the end of the headers up to the pixels. When the file says
    // where its pixels are, a shorter table than the header claims is taken as it stands;
    // when the offset points into the headers, the pixels are taken to follow the full table.
    const uint64_t tableStart = FileHeaderSize + f.headerSize;
    const uint64_t paletteStart = tableStart + (f.HasMasks() ? MaskBlockSize : 0);
    uint64_t entries = std::min<uint64_t>(f.ClaimedColors(), f.MaxColors());
    uint64_t pixelStart;
    if (offBits >= paletteStart) {
        entries = std::min<uint64_t>(entries, (offBits - paletteStart) / f.PaletteEntrySize());
        pixelStart = offBits;
    } else {
        pixelStart = paletteStart + entries * f.PaletteEntrySize();
    }
    auto table = Slice(file, tableStart, pixelStart - tableStart);
    if (!table || !ReadColours(*table, entries, f) || pixelStart >= file.size())
        RaiseInvalidBitmap();
    const auto pixelData = file.subspan(static_cast<size_t>(pixelStart));

    if (f.Rle()) {
        DecodeRle(f, pixelData, PreparePicture(bitmap, f));
        return;
    }
    // Every row must be there; only the last row's padding may be missing, as some writers
    // leave it out. Checking this first keeps a lying header from costing an allocation.
    const uint64_t needed = uint64_t(f.rowBytes) * (f.height - 1) + RowPixelBytes(f);
    if (needed > pixelData.size())
        RaiseInvalidBitmap();
    uint32_t *pixels = PreparePicture(bitmap, f);
    for (int scan = 0; scan < f.height; ++scan)
        DecodeRow(f, pixelData.data() + static_cast<size_t>(scan) * f.rowBytes,
                  pixels + static_cast<size_t>(RowFromScan(f, scan)) * f.width);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int Get() const { return fd_; }
    void Reset(int fd)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now, reporting whether the close succeeded (some file systems report a failed
    // write only here).
    bool Close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

std::vector<uint8_t> ReadWholeFile(const std::string &fileName)
{
    // Non-blocking, so that opening a named pipe given by mistake cannot hang; only regular
    // files are read.
    FileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        RaiseFOpenError(fileName);
    const uint64_t want = std::min<uint64_t>(static_cast<uint64_t>(st.st_size), MaxUsefulFileSize);
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(want));
    } catch (const std::bad_alloc &) {
        RaiseOutOfResources();
    }
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.Get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            RaiseReadError();
        if (n == 0)
            break; // the file shrank while being read
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

void PutU16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr size_t SavedHeadersSize = FileHeaderSize + InfoHeaderSize;

size_t SavedRowBytes(const TBitmap &bitmap)
{
    return SpiDibRowBytes(static_cast<uint32_t>(bitmap.Width()), 24);
}

void EncodeHeaders(const TBitmap &bitmap, uint8_t *out)
{
    // The limits keep a picture's rows well inside 32 bits (at most 3 GiB and a little).
    const uint32_t imageSize =
        static_cast<uint32_t>(SavedRowBytes(bitmap) * static_cast<size_t>(bitmap.Height()));
    std::memset(out, 0, SavedHeadersSize);
    PutU16(out, 0x4D42);
    PutU32(out + 2, static_cast<uint32_t>(SavedHeadersSize) + imageSize);
    PutU32(out + 10, static_cast<uint32_t>(SavedHeadersSize));
    uint8_t *info = out + FileHeaderSize;
    PutU32(info, InfoHeaderSize);
    PutU32(info + 4, static_cast<uint32_t>(bitmap.Width()));
    PutU32(info + 8, static_cast<uint32_t>(bitmap.Height()));
    PutU16(info + 12, 1);
    PutU16(info + 14, 24);
    PutU32(info + 16, SPI_BI_RGB);
    PutU32(info + 20, imageSize);
    // Resolution, colours used and important colours stay 0.
}

// Writes stored row `scan` (0 is the bottom row) as blue, green, red triples plus padding.
void EncodeRow(const TBitmap &bitmap, int scan, uint8_t *out)
{
    const uint32_t *src = bitmap.ScanLine(bitmap.Height() - 1 - scan);
    const int w = bitmap.Width();
    for (int x = 0; x < w; ++x, out += 3) {
        const uint32_t p = src[x];
        out[0] = static_cast<uint8_t>(p);
        out[1] = static_cast<uint8_t>(p >> 8);
        out[2] = static_cast<uint8_t>(p >> 16);
    }
    std::memset(out, 0, SavedRowBytes(bitmap) - static_cast<size_t>(w) * 3);
}

// A write past RLIMIT_FSIZE raises SIGXFSZ, whose default action ends the process. While this
// guard lives the signal is blocked for the calling thread, so such a write simply fails with
// EFBIG; any signal it left pending is taken away before the old mask returns.
class BlockFileSizeSignal {
public:
    BlockFileSizeSignal()
    {
        sigemptyset(&set_);
        sigaddset(&set_, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    ~BlockFileSizeSignal()
    {
        const timespec now{0, 0};
        while (sigtimedwait(&set_, nullptr, &now) == SIGXFSZ) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t set_, old_;
};

bool WriteAll(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A temporary file beside the target, created with the permissions a new file gets (0666
// less the umask), which is what a first save should leave.
std::string CreateTemporary(const std::string &folder, FileDescriptor &fd)
{
    std::random_device seed;
    std::mt19937_64 random(seed() ^ (uint64_t(::getpid()) << 32));
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + ".ketto-save-";
        for (int i = 0; i < 10; ++i)
            name += digits[random() % (sizeof digits - 1)];
        name += ".tmp";
        const int f = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (f >= 0) {
            fd.Reset(f);
            return name;
        }
        if (errno != EEXIST)
            break;
    }
    return {};
}

} // namespace

void LoadBitmapBytes(TBitmap &bitmap, std::span<const uint8_t> file)
{
    bitmap.SetSize(0, 0);
    if (file.empty())
        return;
    try {
        DecodeFile(bitmap, file);
    } catch (...) {
        bitmap.SetSize(0, 0);
        throw;
    }
}

void LoadBitmapFile(TBitmap &bitmap, const std::string &fileName)
{
    bitmap.SetSize(0, 0);
    const std::vector<uint8_t> bytes = ReadWholeFile(fileName);
    LoadBitmapBytes(bitmap, bytes);
}

std::vector<uint8_t> EncodeBitmapFile(const TBitmap &bitmap)
{
    const size_t rowBytes = SavedRowBytes(bitmap);
    const int height = bitmap.Empty() ? 0 : bitmap.Height();
    std::vector<uint8_t> out(SavedHeadersSize + rowBytes * static_cast<size_t>(height));
    EncodeHeaders(bitmap, out.data());
    for (int scan = 0; scan < height; ++scan)
        EncodeRow(bitmap, scan, out.data() + SavedHeadersSize + rowBytes * static_cast<size_t>(scan));
    return out;
}

void SaveBitmapFile(const TBitmap &bitmap, const std::string &fileName)
{
    // Saving through a symbolic link replaces the file it names and keeps the link.
    std::string target = fileName;
    struct stat st;
    if (::lstat(fileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char *real = ::realpath(fileName.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (fileName.empty() || (exists && !S_ISREG(st.st_mode)))
        RaiseFCreateError(fileName);

    FileDescriptor fd;
    const std::string temporary = CreateTemporary(ExtractFilePath(target), fd);
    if (temporary.empty())
        RaiseFCreateError(fileName);

    bool written = false;
    {
        BlockFileSizeSignal blockSignal;
        uint8_t headers[SavedHeadersSize];
        EncodeHeaders(bitmap, headers);
        written = WriteAll(fd.Get(), headers, sizeof headers);

        // Rows go out in batches of about a megabyte, so a large picture never needs its whole
        // file image in memory.
        const size_t rowBytes = SavedRowBytes(bitmap);
        const int height = bitmap.Empty() ? 0 : bitmap.Height();
        const int batch = static_cast<int>(std::max<size_t>(1, (size_t(1) << 20) / std::max<size_t>(rowBytes, 1)));
        std::vector<uint8_t> buffer;
        for (int scan = 0; written && scan < height; scan += batch) {
            const int rows = std::min(batch, height - scan);
            buffer.resize(rowBytes * static_cast<size_t>(rows));
            for (int i = 0; i < rows; ++i)
                EncodeRow(bitmap, scan + i, buffer.data() + rowBytes * static_cast<size_t>(i));
            written = WriteAll(fd.Get(), buffer.data(), buffer.size());
        }
        if (written && exists) {
            // Keep what the old file had; a file system that cannot hold them is no reason
            // to refuse the save.
            (void)!::fchown(fd.Get(), st.st_uid, st.st_gid);
            (void)!::fchmod(fd.Get(), st.st_mode & 07777);
        }
        written = written && (::fsync(fd.Get()) == 0 || errno == EINVAL);
        written = fd.Close() && written;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        RaiseWriteError();
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        RaiseFCreateError(fileName);
    }
    // Make the rename itself durable; a folder that cannot be synced changes nothing above.
    const std::string folder = ExtractFilePath(target);
    FileDescriptor dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        (void)::fsync(dir.Get());
}

int SetDIBits(TBitmap &bitmap, unsigned startScan, unsigned scanLines, const void *bits,
              size_t bitsSize, const void *info, size_t infoSize)
{
    if (!info || bitmap.Empty() || scanLines == 0)
        return 0;
    const std::span<const uint8_t> infoBytes(static_cast<const uint8_t *>(info), infoSize);
    DibFormat f;
    if (ParseInfoHeader(infoBytes, f) != DibFault::None || f.Rle())
        return 0;
    if (f.width != bitmap.Width() || f.height != bitmap.Height())
        return 0;
    if (uint64_t(startScan) + scanLines > uint64_t(f.height))
        return 0;
    // The masks and the whole colour table the header claims must lie inside the block; the
    // table of a picture of more than 8 bits per pixel is never read, so it is not required.
    const uint64_t masks = f.HasMasks() ? MaskBlockSize : 0;
    const uint64_t entries = f.Indexed() ? f.ClaimedColors() : 0;
    auto table = Slice(infoBytes, f.headerSize, masks + entries * f.PaletteEntrySize());
    if (!table || !ReadColours(*table, entries, f))
        return 0;
    if (!bits || uint64_t(f.rowBytes) * scanLines > bitsSize)
        return 0;

    const auto *rows = static_cast<const uint8_t *>(bits);
    uint32_t *pixels = bitmap.MutableBits();
    for (unsigned i = 0; i < scanLines; ++i)
        DecodeRow(f, rows + static_cast<size_t>(i) * f.rowBytes,
                  pixels + static_cast<size_t>(RowFromScan(f, uint64_t(startScan) + i)) * f.width);
    return static_cast<int>(scanLines);
}

void TBitmap::LoadFromFile(const std::string &fileName) { LoadBitmapFile(*this, fileName); }

void TBitmap::SaveToFile(const std::string &fileName) const { SaveBitmapFile(*this, fileName); }
