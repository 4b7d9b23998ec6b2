#include "platform/widgets/clipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QMimeData>

#include <cstdint>
#include <optional>

#include "ketto_limits.h"
#include "platform/errors.h"

namespace {

const QMimeData *Offered()
{
    return QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
}

// The offered types that Qt has a reader for, in the order the owner lists them.
QStringList ReadableImageTypes(const QMimeData &data)
{
    const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    QStringList types;
    for (const QString &type : data.formats())
        if (readable.contains(type.toLatin1()))
            types << type;
    return types;
}

// Qt's own cap on decoded pictures is below ours, and it is one setting for the whole
// program; it is raised only while the clipboard's picture is read.
class AllocationLimit {
public:
    explicit AllocationLimit(int megabytes) : saved_(QImageReader::allocationLimit())
    {
        QImageReader::setAllocationLimit(megabytes);
    }
    ~AllocationLimit() { QImageReader::setAllocationLimit(saved_); }

private:
    int saved_;
};

// Decodes one encoded type, checking the size its header claims before any pixel is decoded.
std::optional<QImage> Decode(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && !KettoSizeAllowed(size.width(), size.height()))
        RaiseOutOfResources();
    AllocationLimit limit(int(KETTO_MAX_PIXELS * 4 / (1024 * 1024)) + 1);
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace

TClipboard &Clipboard()
{
    static TClipboard clipboard;
    return clipboard;
}

bool TClipboard::HasFormat(unsigned format) const
{
    if (format != CF_BITMAP)
        return false;
    const QMimeData *data = Offered();
    return data && (data->hasImage() || !ReadableImageTypes(*data).isEmpty());
}

void TClipboard::Assign(const TBitmap &bitmap)
{
    // The clipboard keeps its own pixels: the canvas may change or go away while the picture
    // is still offered to other programs.
    QImage image;
    if (!bitmap.Empty())
        image = QImage(reinterpret_cast<const uchar *>(bitmap.Bits()), bitmap.Width(),
                       bitmap.Height(), qsizetype(bitmap.Width()) * 4, QImage::Format_RGB32)
                    .copy();
    QGuiApplication::clipboard()->setImage(image, QClipboard::Clipboard);
}

void TClipboard::AssignTo(TBitmap &bitmap) const
{
    const QMimeData *data = Offered();
    if (!data)
        throw EClipboardException(Msg::UnknownClipboardFormat);

    std::optional<QImage> image;
    // Encoded types first, so that a huge picture from another program is refused from its
    // header before Qt decodes it.
    for (const QString &type : ReadableImageTypes(*data)) {
        image = Decode(data->data(type));
        if (image)
            break;
    }
    // A picture this program put there itself is offered as an image, not as encoded bytes.
    if (!image && data->hasImage()) {
        QImage offered = qvariant_cast<QImage>(data->imageData());
        if (!offered.isNull())
            image = std::move(offered);
    }
    if (!image || image->isNull())
        throw EClipboardException(Msg::UnknownClipboardFormat);
    if (!KettoSizeAllowed(image->width(), image->height()))
        RaiseOutOfResources();

    // The clipboard's bitmap has no transparency: any alpha is dropped, as the format requires.
    const QImage rgb = image->convertToFormat(QImage::Format_RGB32);
    if (rgb.isNull())
        RaiseOutOfResources();
    TBitmap copy(rgb.width(), rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *from = reinterpret_cast<const uint32_t *>(rgb.constScanLine(y));
        uint32_t *to = copy.ScanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            to[x] = from[x] | 0xFF000000u;
    }
    bitmap = copy;
}
