#include "platform/widgets/image_control.h"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "platform/widgets/application.h"

TImage::TImage(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    // Where the picture does not cover the control, the window's background shows through.
    setAttribute(Qt::WA_NoSystemBackground);
}

TImage::~TImage() = default;

void TImage::SetWidth(int width) { resize(width, height()); }
void TImage::SetHeight(int height) { resize(width(), height); }

void TImage::SetPicture(const TBitmap &bitmap)
{
    picture_ = std::make_unique<TBitmap>(bitmap);
    update();
}

void TImage::RemovePicture()
{
    picture_.reset();
    update();
}

TCanvas &TImage::Canvas()
{
    if (!picture_)
        picture_ = std::make_unique<TBitmap>(width(), height());
    return picture_->Canvas();
}

void TImage::RepaintRect(int x, int y, int width, int height)
{
    const QRect area = QRect(x, y, width, height).intersected(rect());
    if (!area.isEmpty() && isVisible())
        repaint(area);
}

void TImage::paintEvent(QPaintEvent *event)
{
    const QRect pictureRect = picture_ && !picture_->Empty()
                                  ? QRect(0, 0, picture_->Width(), picture_->Height())
                                  : QRect();
    QPainter painter(this);
    // The part of the control that the picture does not cover (after a smaller picture is
    // pasted, say) shows the background; with no system background nothing else would paint
    // it, and the previous picture would stay visible there.
    const QRegion uncovered = event->region().subtracted(pictureRect);
    for (const QRect &rect : uncovered)
        painter.fillRect(rect, palette().window());
    const QRect area = event->rect().intersected(pictureRect);
    if (area.isEmpty())
        return;
    // A read-only view of the bitmap's own memory: nothing is copied, and only the exposed
    // rectangle is drawn, so a stamp costs the same on any size of canvas.
    const QImage view(reinterpret_cast<const uchar *>(picture_->Bits()), picture_->Width(),
                      picture_->Height(), qsizetype(picture_->Width()) * 4, QImage::Format_RGB32);
    painter.drawImage(area.topLeft(), view, area);
}

void TImage::mousePressEvent(QMouseEvent *event)
{
    if (OnMouseDown) {
        const QPoint p = event->position().toPoint();
        const auto button = event->button();
        const auto modifiers = event->modifiers();
        Guard([&] { OnMouseDown(button, modifiers, p.x(), p.y()); });
    }
}

void TImage::mouseMoveEvent(QMouseEvent *event)
{
    if (OnMouseMove) {
        const QPoint p = event->position().toPoint();
        const auto buttons = event->buttons();
        const auto modifiers = event->modifiers();
        Guard([&] { OnMouseMove(buttons, modifiers, p.x(), p.y()); });
    }
}
